// A binary invitation (a file, or bytes given to Auth.from_invite): one that
// decodes holds an Invite that encodes back to the same bytes.

#include <algorithm>

#include "check.hpp"
#include "frontend/invite.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto material = frontend::decode_invite_bytes(bytes);
  if (!material) return 0;
  const auto body = bytes.subspan(frontend::kInviteMagic.size());
  auto invite = cord::deserialize<core::Invite>(body);
  fuzz::check(invite.has_value(), "the body of an invitation that decodes decodes");
  auto encoded = cord::serialize(*invite);
  fuzz::check(encoded && std::ranges::equal(*encoded, body), "a decoded invitation encodes as it came");
  fuzz::check(core::InvitationMaterial::from_invite(std::move(*invite)) == *material,
              "the material is the invitation's");
  return 0;
}
