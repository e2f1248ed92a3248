#include "frontend/cli_user.hpp"

#include "frontend/invite.hpp"
#include "frontend/render.hpp"
#include "frontend/user.hpp"

namespace morvik::frontend {
namespace {

constexpr std::size_t kUserIdDigits = 64;

// The one live user whose id begins with `prefix` (lowercase digits).
FrontendResult<ops::UserRef> user_by_prefix(const core::validate::EffectiveState& state, std::string_view prefix,
                                            std::string_view text) {
  const core::UserId* found = nullptr;
  for (const auto& [id, record] : state.users) {
    if (!render::hex_bytes(id.hash.bytes).starts_with(prefix)) continue;
    if (found) return fail(FrontendError::AmbiguousUser{std::string(text)});
    found = &id;
  }
  if (!found) return fail(FrontendError::NoUserMatches{std::string(text)});
  return ops::user_ref::Id{cord::Bytes(found->hash.bytes.begin(), found->hash.bytes.end())};
}

FrontendResult<ops::UserRef> user_ref_in_state(const core::validate::EffectiveState& state, std::string_view text) {
  if (!text.starts_with('@')) {
    if (auto prefix = normalize_hex_prefix(text); prefix && prefix->size() < kUserIdDigits) {
      return user_by_prefix(state, *prefix, text);
    }
  }
  return parse_user_ref(text);
}

// The reference of the user to take when the caller names none.
FrontendResult<std::string> default_user_text(const core::HashValue& root, const crypto::Crypto& crypto) {
  auto stored = stored_default_user(root);
  if (!stored) return fail(std::move(stored.error()));
  if (*stored) return std::move(**stored);
  auto invited = ci_identity_user(crypto);
  if (!invited) return fail(std::move(invited.error()));
  if (*invited) return render::hex_bytes((*invited)->hash.bytes);
  return fail(FrontendError::NoDefaultIdentity{});
}

}  // namespace

FrontendResult<ops::ResolvedUserRef> resolve_cli_user_ref_in_report(const core::validate::EffectiveState& state,
                                                                    const crypto::Crypto& crypto,
                                                                    std::string_view text) {
  auto ref = user_ref_in_state(state, text);
  if (!ref) return fail(std::move(ref.error()));
  auto resolved = ops::resolve_user_ref(state, crypto, std::move(*ref));
  if (!resolved) return fail(std::move(resolved.error()));
  return std::move(*resolved);
}

FrontendResult<CliUser> resolve_cli_user_ref_with_report(const core::validate::ValidationReport& report,
                                                         const crypto::Crypto& crypto,
                                                         std::optional<std::string_view> text) {
  const auto& state = report.state;
  std::string reference;
  if (text) {
    reference = *text;
  } else {
    if (!state.trusted_root) return fail(ops::OpsError(ops::OpsError::MissingEffectiveRoot{}));
    auto fallback = default_user_text(*state.trusted_root, crypto);
    if (!fallback) return fail(std::move(fallback.error()));
    reference = std::move(*fallback);
  }
  auto resolved = resolve_cli_user_ref_in_report(state, crypto, reference);
  if (!resolved) return fail(std::move(resolved.error()));
  // Tested again after resolution, which matters when a user text was given.
  if (!state.trusted_root) return fail(ops::OpsError(ops::OpsError::MissingEffectiveRoot{}));
  return CliUser{std::move(*resolved), *state.trusted_root, text.has_value()};
}

}  // namespace morvik::frontend
