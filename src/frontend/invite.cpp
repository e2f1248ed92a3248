#include "frontend/invite.hpp"

#include <algorithm>
#include <cstdlib>

#include "cord/cord.hpp"
#include "crypto/secret.hpp"
#include "frontend/bundle.hpp"
#include "keychain/unlock.hpp"
#include "store/bounded_read.hpp"

namespace morvik::frontend {
namespace {

// The canonical encoding of an Invite, taken whole.
FrontendResult<core::InvitationMaterial> decode_invite_body(cord::ByteView body) {
  auto invite = cord::deserialize<core::Invite>(body);
  if (!invite) return fail(std::move(invite.error()));
  return core::InvitationMaterial::from_invite(std::move(*invite));
}

}  // namespace

FrontendResult<core::InvitationMaterial> decode_invite_bytes(cord::ByteView bytes) {
  if (bytes.size() < kInviteMagic.size() || !std::equal(kInviteMagic.begin(), kInviteMagic.end(), bytes.begin())) {
    return fail(FrontendError::MalformedInvitation{});
  }
  return decode_invite_body(bytes.subspan(kInviteMagic.size()));
}

FrontendResult<core::InvitationMaterial> read_invite(std::optional<std::string_view> text,
                                                     const std::optional<store::Path>& path) {
  if (text.has_value() == path.has_value()) return fail(FrontendError::InviteFormConflict{});
  if (text) {
    auto payload = bundle::decode(*text);
    if (!payload) return fail(std::move(payload.error()));
    return decode_invite_body(*payload);
  }
  auto bytes = store::read_file_bounded(*path, kMaxInviteFileBytes);
  if (!bytes) return fail(FrontendError::IoAt{*path, std::move(bytes.error())});
  auto material = decode_invite_bytes(*bytes);
  crypto::wipe(bytes->data(), bytes->size());  // it holds the master seed
  return material;
}

FrontendResult<std::optional<core::InvitationMaterial>> ci_invite() {
  const char* text = std::getenv(kInviteEnv);
  if (text && !cord::is_valid_utf8(text)) return fail(FrontendError::EnvNotUtf8{kInviteEnv});
  const char* file = std::getenv(kInviteFileEnv);
  if (!text && !file) return std::nullopt;
  std::optional<std::string_view> given_text;
  if (text) given_text = text;
  std::optional<store::Path> given_path;
  if (file) given_path = store::Path(file);
  auto material = read_invite(given_text, given_path);
  if (!material) return fail(std::move(material.error()));
  return std::move(*material);
}

FrontendResult<std::optional<core::UserId>> ci_identity_user(const crypto::Crypto& crypto) {
  auto material = ci_invite();
  if (!material) return fail(std::move(material.error()));
  if (!*material) return std::nullopt;
  auto provider = keychain::FixedIdentityProvider::from_master_seed(crypto, (*material)->master_seed);
  if (!provider) return fail(std::move(provider.error()));
  return core::UserId{core::HashValue{provider->user_id()}};
}

}  // namespace morvik::frontend
