// An invitation string (Auth.from_invite with a str, MORVIK_UNSAFE_INVITE):
// one that decodes carries an Invite that encodes back to the payload the
// string held.

#include <algorithm>

#include "check.hpp"
#include "frontend/bundle.hpp"
#include "frontend/invite.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = fuzz::text(data, size);
  auto material = frontend::read_invite(text, std::nullopt);
  if (!material) return 0;
  auto payload = frontend::bundle::decode(text);
  fuzz::check(payload.has_value(), "an invitation string that reads decodes");
  auto invite = cord::deserialize<core::Invite>(*payload);
  fuzz::check(invite.has_value(), "the payload of an invitation string decodes");
  auto encoded = cord::serialize(*invite);
  fuzz::check(encoded && std::ranges::equal(*encoded, *payload), "a decoded invitation encodes as it came");
  fuzz::check(core::InvitationMaterial::from_invite(std::move(*invite)) == *material,
              "the material is the invitation's");
  return 0;
}
