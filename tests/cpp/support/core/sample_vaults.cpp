#include "support/core/sample_vaults.hpp"

#include <algorithm>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "core/domain_hash.hpp"

namespace morvik::testing {
namespace {

std::size_t record_count(const TestVault& vault) { return core::vault_records(vault.store()).size(); }

// An identifier seed of any number, beyond the 256 of `id_seed`.
core::IdSeed numbered_seed(std::uint32_t n, std::uint8_t fill) {
  cord::Bytes bytes(32, fill);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(n >> (8 * i));
  return core::IdSeed{std::move(bytes)};
}

TestVault ordinary(std::size_t total) {
  TestVault vault;
  // The factory's identities come from one seed byte, which caps the users.
  const std::size_t user_count = std::clamp<std::size_t>(total / 50, 4, 250);
  std::vector<const crypto::Identity*> users;
  for (std::size_t i = 0; i < user_count; ++i) users.push_back(&vault.add_user(static_cast<std::uint8_t>(2 + i), 1));
  std::uint8_t seed = 1;
  for (std::size_t i = 0; i < users.size(); ++i, ++seed) {
    const auto keyspace = prefix({"team" + std::to_string(i)});
    vault.add(vault.root(), grant_body(id_seed(seed), user_ref(*users[i]), write_permission(keyspace), 2));
  }
  const auto group = id_seed(255);
  vault.add(vault.root(), group_body(group, "everyone", 2));
  for (const auto* user : users) vault.add(vault.root(), group_member_body(group_id_of(group), user_ref(*user), 2));
  const core::PrincipalRefV1 everyone = core::principal_ref::Group{group_id_of(group)};
  vault.add(vault.root(), grant_body(id_seed(254), everyone, read_permission(prefix({"shared"})), 2));
  // A few deletions: a grant, a user, secrets.
  vault.add(vault.root(), grant_deleted_body(grant_id_of(id_seed(1)), write_permission(prefix({"team0"})), 3));
  vault.add(vault.root(), user_deleted_body(users.back()->user_id, 3));

  for (std::size_t i = 0; record_count(vault) < total; ++i) {
    const std::size_t owner = 1 + i % (users.size() - 2);
    const auto selector = secret({"team" + std::to_string(owner), "s" + std::to_string(i)});
    if (i % 997 == 5) {
      vault.add(*users[owner], secret_deleted_body(selector, 10));
    } else {
      const auto& reader = *users[(owner + 1) % users.size()];
      vault.add(*users[owner],
                secret_body(selector, payload_for({users[owner]->user_id, reader.user_id, vault.root_user_id()}),
                            4 + i % 5));
    }
  }
  return vault;
}

// The bucket a table of record hashes sized for `count` records would put
// `hash` in: its first eight bytes, big-endian, modulo the bucket count.
std::uint64_t leading_word(const core::HashValue& hash) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < 8; ++i) word = (word << 8) | hash.bytes[i];
  return word;
}

// Varies the first eight signature bytes until the record hash lands in
// bucket 0 of `buckets`.
core::VaultRecordV1 ground(core::VaultRecordV1 record, std::uint64_t buckets) {
  cord::Bytes encoding = cord::serialize(record).value();
  const std::size_t at = encoding.size() - record.signature.size();
  for (std::uint64_t attempt = 0;; ++attempt) {
    for (int i = 0; i < 8; ++i) encoding[at + i] = static_cast<std::uint8_t>(attempt >> (8 * i));
    if (leading_word(kCrypto.hash(core::kRecordHashLabel, encoding)) % buckets == 0) break;
  }
  record.signature = cord::CompactBytes(encoding.begin() + static_cast<std::ptrdiff_t>(at), encoding.end());
  return record;
}

TestVault ground_hash_bucket(std::size_t total) {
  TestVault vault;
  const std::size_t count = std::max<std::size_t>(total, 2) - 1;
  std::unordered_set<int> sized;
  sized.reserve(count + 1);
  const std::uint64_t buckets = sized.bucket_count();
  // Signed by a key no user of the vault holds: nothing checks them before
  // they are hashed.
  const auto stranger = identity(200);
  std::vector<core::VaultRecordV1> records;
  for (std::size_t i = 0; i < count; ++i) records.push_back(sign(stranger, vault_handle_body("h" + std::to_string(i), 1)));
  // Grinding costs about `buckets` hashes a record: spread it.
  const std::size_t workers = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (std::size_t i = w; i < records.size(); i += workers) records[i] = ground(std::move(records[i]), buckets);
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto& record : records) vault.add(std::move(record));
  return vault;
}

TestVault revoked_grants(std::size_t total) {
  TestVault vault;
  const auto& manager = vault.add_user(2, 1);
  const auto& reader = vault.add_user(3, 1);
  vault.add(vault.root(), grant_body(id_seed(1), user_ref(manager), manage_permission(prefix({"app"}), {kRead}), 2));
  for (std::uint32_t n = 0; record_count(vault) + 1 < total; ++n) {
    const auto permission = read_permission(prefix({"app", std::to_string(n)}));
    const auto seed = numbered_seed(n, 0xA1);
    vault.add(manager, grant_body(seed, user_ref(reader), permission, 3 + 2 * std::uint64_t{n}));
    vault.add(manager, grant_deleted_body(grant_id_of(seed), permission, 4 + 2 * std::uint64_t{n}));
  }
  return vault;
}

TestVault delegation_chain_deletions(std::size_t total) {
  constexpr std::uint8_t kDepth = 60;
  TestVault vault;
  const crypto::Identity* appointer = &vault.root();
  for (std::uint8_t level = 0; level < kDepth; ++level) {
    const auto& admin = vault.add_user(static_cast<std::uint8_t>(2 + level), 1);
    vault.add(*appointer, grant_body(id_seed(level), user_ref(admin), admin_permission(), 2));
    appointer = &admin;
  }
  const auto& reader = vault.add_user(100, 1);
  for (std::uint32_t n = 0; record_count(vault) + 1 < total; ++n) {
    const auto permission = read_permission(prefix({"app", std::to_string(n)}));
    const auto seed = numbered_seed(n, 0xB2);
    vault.add(*appointer, grant_body(seed, user_ref(reader), permission, 3));
    vault.add(*appointer, grant_deleted_body(grant_id_of(seed), permission, 4));
  }
  return vault;
}

// Grants `count` appointments of one administrator, each written `times`
// times, then has it revoke all but the last, lowest in last-writer-wins
// order first.
TestVault revoked_appointments(std::size_t total, std::uint32_t times) {
  TestVault vault;
  const auto& admin = vault.add_user(2, 1);
  const std::size_t each = times + 1;
  const std::uint32_t count = static_cast<std::uint32_t>(std::max<std::size_t>(total, 3 * each) / each - 1);
  for (std::uint32_t n = 0; n < count; ++n) {
    for (std::uint32_t written = 1; written <= times; ++written) {
      vault.add(vault.root(), grant_body(numbered_seed(n, 0xD5), user_ref(admin), admin_permission(), written));
    }
  }
  for (std::uint32_t n = 0; record_count(vault) < total && n + 1 < count; ++n) {
    vault.add(admin, grant_deleted_body(grant_id_of(numbered_seed(n, 0xD5)), admin_permission(), times + 1 + n));
  }
  return vault;
}

// Administrator X, appointed by the root, signs read grants to Z. At each
// flip, X revokes its own appointment (X holds it until then) and the root
// deletes the user V blocking W's appointment, letting W in, whose
// appointment of X has a higher counter than X's revocation. The flips
// alternate in last-writer-wins order, so each deletion is applied under
// the state the previous one left. Identities cap the flips at 100.
TestVault flip_flop(std::size_t total) {
  TestVault vault;
  const auto& x = vault.add_user(2, 1);
  const auto& z = vault.add_user(3, 1);
  const std::uint32_t flips = static_cast<std::uint32_t>(std::clamp<std::size_t>(total / 20, 1, 100));
  const auto appointment = numbered_seed(0, 0xF1);
  vault.add(vault.root(), grant_body(appointment, user_ref(x), admin_permission(), 1));
  for (std::uint32_t i = 1; i <= flips; ++i) {
    const auto& v = vault.add_user(static_cast<std::uint8_t>(2 + 2 * i), 1);
    const auto& w = vault.add_user(static_cast<std::uint8_t>(3 + 2 * i), 1);
    const auto w_seed = numbered_seed(i, 0xF4);
    vault.add(vault.root(), grant_body(numbered_seed(i, 0xF3), user_ref(v), admin_permission(), 1));
    vault.add(vault.root(), grant_body(w_seed, user_ref(w), admin_permission(), 1));
    // Outranks W's appointment for as long as V stands.
    vault.add(v, grant_body(w_seed, user_ref(w), read_permission(prefix({"w"})), 2));
    vault.add(w, grant_body(appointment, user_ref(x), admin_permission(), 2 * std::uint64_t{i} + 1));
    vault.add(x, grant_deleted_body(grant_id_of(appointment), admin_permission(), 2 * std::uint64_t{i}));
    vault.add(vault.root(), user_deleted_body(v.user_id, 2 * std::uint64_t{i} + 1));
  }
  for (std::uint32_t n = 0; record_count(vault) < total; ++n) {
    vault.add(x, grant_body(numbered_seed(n, 0xF2), user_ref(z), read_permission(prefix({"app", std::to_string(n)})), 1));
  }
  return vault;
}

TestVault groups_times_grants(std::size_t total) {
  TestVault vault;
  const std::uint32_t each = static_cast<std::uint32_t>(std::max<std::size_t>(total / 3, 1));
  const auto top = numbered_seed(0, 0xC3);
  vault.add(vault.root(), group_body(top, "top", 1));
  const core::PrincipalRefV1 top_ref = core::principal_ref::Group{group_id_of(top)};
  for (std::uint32_t n = 0; n < each; ++n) {
    vault.add(vault.root(), grant_body(numbered_seed(n, 0xC4), top_ref,
                                       read_permission(prefix({"app", std::to_string(n)})), 2));
  }
  for (std::uint32_t n = 1; record_count(vault) + 1 < total; ++n) {
    const auto group = numbered_seed(n, 0xC3);
    vault.add(vault.root(), group_body(group, "g" + std::to_string(n), 1));
    vault.add(vault.root(), group_member_body(group_id_of(top), core::principal_ref::Group{group_id_of(group)}, 2));
  }
  return vault;
}

std::string numbered(const char* stem, std::uint32_t n) { return stem + std::to_string(n); }

// The `n`th of four kinds of narrow write keyspace, and a secret close to it
// that it does not admit.
core::KeyspaceSelectorV1 narrow_keyspace(std::uint32_t n) {
  switch (n % 4) {
    case 0: return exact({"svc", numbered("p", n)}, {in("env", {numbered("a", n), numbered("b", n), numbered("c", n)})});
    case 1: return prefix({"svc", numbered("q", n)}, {equals("tier", numbered("t", n))});
    case 2: return exact({"svc", "db"}, {equals("env", numbered("e", n)), present("owner")});
    default: {
      Segments path{"deep"};
      for (int level = 0; level < 24; ++level) path.push_back(numbered("level", static_cast<std::uint32_t>(level)));
      path.push_back(numbered("r", n));
      return prefix(std::move(path));
    }
  }
}

core::SecretSelectorV1 missed_secret(std::uint32_t n) {
  switch (n % 4) {
    case 0: return secret({"svc", numbered("p", n)}, {{"env", numbered("z", n)}});
    case 1: return secret({"svc", numbered("q", n), "x"}, {{"tier", "none"}});
    case 2: return secret({"svc", "db"}, {{"env", numbered("e", n)}, {"zone", "z"}});
    default: {
      Segments path{"deep"};
      for (int level = 0; level < 24; ++level) path.push_back(numbered("level", static_cast<std::uint32_t>(level)));
      path.push_back(numbered("s", n));
      return secret(std::move(path));
    }
  }
}

TestVault narrow_write_grants(std::size_t total) {
  TestVault vault;
  const auto& service = vault.add_user(2, 1);
  const std::uint32_t each = static_cast<std::uint32_t>(std::max<std::size_t>(total / 2, 4));
  for (std::uint32_t n = 0; n < each; ++n) {
    vault.add(vault.root(), grant_body(numbered_seed(n, 0xE1), user_ref(service), write_permission(narrow_keyspace(n)), 2));
  }
  for (std::uint32_t n = 0; record_count(vault) < total; ++n) {
    const auto selector = missed_secret(n);
    if (n % 5 == 4) {
      vault.add(service, secret_deleted_body(selector, 3));
    } else {
      vault.add(service, secret_body(selector, payload_for({service.user_id}), 3));
    }
  }
  return vault;
}

TestVault manage_grants_times_grants(std::size_t total) {
  TestVault vault;
  const auto& manager = vault.add_user(2, 1);
  const auto& reader = vault.add_user(3, 1);
  const std::uint32_t each = static_cast<std::uint32_t>(std::max<std::size_t>(total / 2, 4));
  for (std::uint32_t n = 0; n < each; ++n) {
    const auto keyspace = prefix({"app", numbered("m", n)}, {in("env", {"dev", "prod"})});
    vault.add(vault.root(), grant_body(numbered_seed(n, 0xE2), user_ref(manager), manage_permission(keyspace, {kRead}), 2));
  }
  for (std::uint32_t n = 0; record_count(vault) < total; ++n) {
    // Odd ones fall within the manage grant of the same number, even ones
    // within none.
    const auto keyspace = n % 2 ? prefix({"app", numbered("m", n), "sub"}, {equals("env", "prod")})
                                : prefix({"app", numbered("x", n)}, {equals("env", "prod")});
    vault.add(manager, grant_body(numbered_seed(n, 0xE3), user_ref(reader), read_permission(keyspace), 3));
  }
  return vault;
}

// A user in a quarter as many groups as records, each group holding a write
// grant; nested, each group is a member of the next and the user of the
// first. The user then writes secrets no grant admits.
TestVault groups_times_secrets(std::size_t total, bool nested) {
  TestVault vault;
  const auto& user = vault.add_user(2, 1);
  const std::uint32_t count = static_cast<std::uint32_t>(std::max<std::size_t>(total / 4, 2));
  for (std::uint32_t n = 0; n < count; ++n) {
    const auto group = numbered_seed(n, 0xE4);
    const core::PrincipalRefV1 group_ref = core::principal_ref::Group{group_id_of(group)};
    vault.add(vault.root(), group_body(group, numbered("g", n), 1));
    vault.add(vault.root(), grant_body(numbered_seed(n, 0xE5), group_ref, write_permission(prefix({numbered("g", n)})), 2));
    const core::PrincipalRefV1 member =
        !nested ? user_ref(user)
        : n == 0 ? user_ref(user)
                 : core::PrincipalRefV1(core::principal_ref::Group{group_id_of(numbered_seed(n - 1, 0xE4))});
    vault.add(vault.root(), group_member_body(group_id_of(group), member, 2));
  }
  for (std::uint32_t n = 0; record_count(vault) < total; ++n) {
    vault.add(user, secret_body(secret({"other", numbered("s", n)}), payload_for({user.user_id}), 3));
  }
  return vault;
}

TestVault tiny_records(std::size_t total) {
  TestVault vault;
  for (std::uint32_t n = 0; record_count(vault) < total; ++n) {
    // A variant index of 14 or more: a kind this version does not know.
    const std::uint32_t kind = 14 + n;
    cord::Bytes body{0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) body[i] = static_cast<std::uint8_t>(kind >> (24 - 8 * i));
    vault.add(core::VaultRecordV1{cord::UnknownPayload{std::move(body)}, {}, {}});
  }
  return vault;
}

}  // namespace

std::string_view shape_name(VaultShape shape) {
  switch (shape) {
    case VaultShape::Ordinary: return "ordinary";
    case VaultShape::GroundHashBucket: return "ground-hash-bucket";
    case VaultShape::RevokedGrants: return "revoked-grants";
    case VaultShape::DelegationChainDeletions: return "delegation-chain-deletions";
    case VaultShape::RepeatedAppointments: return "repeated-appointments";
    case VaultShape::DependentDeletions: return "dependent-deletions";
    case VaultShape::FlipFlop: return "flip-flop";
    case VaultShape::GroupsTimesGrants: return "groups-times-grants";
    case VaultShape::TinyRecords: return "tiny-records";
    case VaultShape::NarrowWriteGrants: return "narrow-write-grants";
    case VaultShape::ManageGrantsTimesGrants: return "manage-grants-times-grants";
    case VaultShape::FlatGroupsTimesSecrets: return "flat-groups-times-secrets";
    case VaultShape::NestedGroupsTimesSecrets: return "nested-groups-times-secrets";
  }
  return "?";
}

std::optional<VaultShape> shape_named(std::string_view name) {
  for (VaultShape shape : kVaultShapes) {
    if (shape_name(shape) == name) return shape;
  }
  return std::nullopt;
}

TestVault sample_vault(VaultShape shape, std::size_t records) {
  switch (shape) {
    case VaultShape::Ordinary: return ordinary(records);
    case VaultShape::GroundHashBucket: return ground_hash_bucket(records);
    case VaultShape::RevokedGrants: return revoked_grants(records);
    case VaultShape::DelegationChainDeletions: return delegation_chain_deletions(records);
    case VaultShape::RepeatedAppointments: return revoked_appointments(records, 1);
    case VaultShape::DependentDeletions: return revoked_appointments(records, 2);
    case VaultShape::FlipFlop: return flip_flop(records);
    case VaultShape::GroupsTimesGrants: return groups_times_grants(records);
    case VaultShape::TinyRecords: return tiny_records(records);
    case VaultShape::NarrowWriteGrants: return narrow_write_grants(records);
    case VaultShape::ManageGrantsTimesGrants: return manage_grants_times_grants(records);
    case VaultShape::FlatGroupsTimesSecrets: return groups_times_secrets(records, false);
    case VaultShape::NestedGroupsTimesSecrets: return groups_times_secrets(records, true);
  }
  return TestVault{};
}

}  // namespace morvik::testing
