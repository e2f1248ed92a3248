#include "frontend/bundle.hpp"

#include "core/white_space.hpp"
#include "frontend/bech32.hpp"

namespace morvik::frontend::bundle {

FrontendResult<crypto::SecretBytes> decode(std::string_view text) {
  const std::string_view trimmed = core::trim_white_space(text);
  if (trimmed.size() > kMaxInviteTextLength) return fail(FrontendError::MalformedInvitation{});
  auto decoded = bech32::decode(trimmed);
  if (!decoded) return fail(FrontendError::MalformedInvitation{});
  if (decoded->prefix != kInvitePrefix) return fail(FrontendError::WrongInvitationPrefix{std::move(decoded->prefix)});
  return bech32::to_bytes(decoded->data);
}

}  // namespace morvik::frontend::bundle
