#pragma once

#include <optional>
#include <variant>
#include <vector>

#include "core/hash_value.hpp"
#include "core/ratchet_records.hpp"
#include "core/secret.hpp"
#include "cord/cord.hpp"

namespace morvik::core {

// The ratchet facts an invitation seeds a new client with. Records stand
// bare here: an unknown variant anywhere fails the whole invitation.
struct RatchetBaselineV1 {
  std::vector<RatchetRecordV1> records;

  static constexpr auto cord_fields() { return std::tuple{&RatchetBaselineV1::records}; }
  auto operator<=>(const RatchetBaselineV1&) const = default;
};

struct InviteV1 {
  SecretBytes master_seed;
  HashValue trusted_root;
  RatchetBaselineV1 baseline;

  static constexpr auto cord_fields() {
    return std::tuple{&InviteV1::master_seed, &InviteV1::trusted_root, &InviteV1::baseline};
  }
  auto operator<=>(const InviteV1&) const = default;
};

// Differs from version 1 only in that the baseline may be absent.
struct InviteV2 {
  SecretBytes master_seed;
  HashValue trusted_root;
  std::optional<RatchetBaselineV1> baseline;

  static constexpr auto cord_fields() {
    return std::tuple{&InviteV2::master_seed, &InviteV2::trusted_root, &InviteV2::baseline};
  }
  auto operator<=>(const InviteV2&) const = default;
};

// The payload of an invitation. Only ever decoded; the master seed's length
// is checked when the identity is derived from it.
namespace invite {
using V1 = InviteV1;
using V2 = InviteV2;
}  // namespace invite
using Invite = std::variant<invite::V1, invite::V2>;

// An invitation independent of its version.
struct InvitationMaterial {
  SecretBytes master_seed;
  HashValue trusted_root;
  std::optional<std::vector<RatchetRecordV1>> baseline;

  // Field by field; a version 1 baseline is always present, even when empty.
  static InvitationMaterial from_invite(Invite invite);

  auto operator<=>(const InvitationMaterial&) const = default;
};

}  // namespace morvik::core

// Compiled once, in codecs.cpp.
MORVIK_CORD_EXTERN_CODEC(morvik::core::Invite);
