#pragma once

// Whole vaults of a chosen shape and size, for the benchmarks and for the
// vault generator tool: an ordinary vault, and shapes that once made
// validation slow or hungry for memory out of proportion to their size.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "support/core/vault_factory.hpp"

namespace morvik::testing {

enum class VaultShape {
  // Users with entry points, a write grant each, a group with a shared read
  // grant, secrets written by their owners, a few deletions.
  Ordinary,
  // Records under a key no user holds whose signature bytes are ground so
  // that their record hashes agree modulo the bucket count a hash table
  // sized by the record count would use.
  GroundHashBucket,
  // A user who may only manage read grants, granting and revoking one read
  // grant after another.
  RevokedGrants,
  // Administrators each appointed by the one before, about 60 deep, so that
  // authority takes nearly every round the fixpoint allows; the last one
  // grants and revokes read grants.
  DelegationChainDeletions,
  // An administrator appointed many times over by the root, revoking all its
  // appointments but one, one after another.
  RepeatedAppointments,
  // The same with each appointment written twice: for all the records alone
  // tell, each deletion can change the authority of the signer of the next,
  // so each is applied after a computation of its own.
  DependentDeletions,
  // An administrator who gives up its appointment, is appointed again by
  // another administrator that a deletion lets in, gives it up again, and
  // so on: each deletion switches on or off the many grants it signed, so
  // the state changes by all of them at every step.
  FlipFlop,
  // Groups that are all members of one group holding many grants.
  GroupsTimesGrants,
  // The smallest records there are: 16 bytes, of a kind no reader knows.
  TinyRecords,
  // A service user holding thousands of narrow write grants (exact paths
  // with `In` labels, one path told apart by label values, long prefixes)
  // that writes and deletes thousands of secrets none of them admits.
  NarrowWriteGrants,
  // A manager holding thousands of narrow manage grants who signs thousands
  // of read grants, half of them within one of its keyspaces.
  ManageGrantsTimesGrants,
  // A user in thousands of groups, each holding a write grant, writing
  // thousands of secrets none of them admits.
  FlatGroupsTimesSecrets,
  // The same with the groups nested in one long chain above the user.
  NestedGroupsTimesSecrets,
};

inline constexpr std::array kVaultShapes{VaultShape::Ordinary,
                                         VaultShape::GroundHashBucket,
                                         VaultShape::RevokedGrants,
                                         VaultShape::DelegationChainDeletions,
                                         VaultShape::RepeatedAppointments,
                                         VaultShape::DependentDeletions,
                                         VaultShape::FlipFlop,
                                         VaultShape::GroupsTimesGrants,
                                         VaultShape::TinyRecords,
                                         VaultShape::NarrowWriteGrants,
                                         VaultShape::ManageGrantsTimesGrants,
                                         VaultShape::FlatGroupsTimesSecrets,
                                         VaultShape::NestedGroupsTimesSecrets};

std::string_view shape_name(VaultShape shape);
std::optional<VaultShape> shape_named(std::string_view name);

// A vault of that shape with about `records` records.
TestVault sample_vault(VaultShape shape, std::size_t records);

}  // namespace morvik::testing
