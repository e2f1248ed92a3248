#pragma once

// What a vault means once validated, and the questions the rest of the
// system asks of it. The queries only read the state.

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string_view>
#include <vector>

#include "core/authz/authority_set.hpp"
#include "core/derivations.hpp"
#include "core/errors.hpp"
#include "core/merge/conflicts.hpp"
#include "core/validate/authority_graph.hpp"
#include "core/validate/verified_record.hpp"

namespace morvik::core::validate {

// How a secret stands for one user.
enum class SecretAccess : std::uint8_t {
  ActiveDecryptable,
  NotEncryptedForReader,
  Unauthorized,
  Missing,
  Conflicted,
  Invalid,
};
std::string_view debug_string(SecretAccess access);
inline std::ostream& operator<<(std::ostream& out, SecretAccess access) { return out << debug_string(access); }

// One live secret, owned independently of the state it came from.
struct ActiveSecretV1 {
  VaultRecordV1 record;
  SecretRecordV1 secret;

  bool operator==(const ActiveSecretV1&) const = default;
};

// Per record of a list, whether it is a secret value or deletion whose
// signer may write its selector: asked once of a state, and read by every
// step that needs the answer.
using SecretWrites = std::vector<bool>;

// Positions in `EffectiveState::records`: the current record of a secret,
// and its first record whose signer may write it.
struct SecretWinner {
  std::size_t current = 0;
  std::size_t first = 0;

  bool operator==(const SecretWinner&) const = default;
};

struct EffectiveState {
  // The highest admitted counter, not the highest of every verified record.
  std::optional<std::uint64_t> max_counter;
  // In verification order; `secret_winners` holds positions in it.
  std::vector<VerifiedRecord> records;
  std::optional<UserId> root_user_id;
  std::optional<HashValue> trusted_root;
  // Live principals; the root user is always among the users.
  std::map<UserId, UserRecordV1> users;
  std::map<UserHandleId, UserHandleRecordV1> user_handles;
  std::map<VaultHandleId, VaultHandleRecordV1> vault_handles;
  std::map<GroupId, GroupRecordV1> groups;
  std::map<GroupMemberId, GroupMemberRecordV1> members;
  std::map<GrantId, GrantRecordV1> grants;
  // Keyed by the user each entry point belongs to (its signer).
  std::map<UserId, EntryPointRecordV1> entry_points;
  std::set<UserId> deleted_users;
  std::set<GroupId> deleted_groups;
  std::set<GrantId> deleted_grants;
  AuthorityGraph authorities;
  std::map<RecordKey, merge::ConflictReport> conflicts;
  std::map<SecretId, SecretWinner> secret_winners;
  // Set in the empty state that comes with a fatal finding, and when the
  // authority fixpoint ran out of rounds.
  bool did_not_converge = true;

  // Installs the verified records and the highest admitted counter, and
  // picks every secret's current record among those its signer may write.
  void attach_verified_records(std::vector<VerifiedRecord> verified, std::optional<std::uint64_t> highest);
  // The same, with `writes` answered for `verified` by this state.
  void attach_verified_records(std::vector<VerifiedRecord> verified, std::optional<std::uint64_t> highest,
                               const SecretWrites& writes);

  // The answers for `list`, under this state's authority.
  SecretWrites secret_writes(const std::vector<VerifiedRecord>& list) const;

  // A copy of the user's authority; the empty set when it holds none.
  authz::AuthoritySet authority_for_user(const UserId& user_id) const;
  // The same questions answered without writing the authority out, for the
  // hot paths.
  AuthorityView authority_of(const UserId& user_id) const;

  // The lowest counter above every counter a rollback conflict remembers.
  std::uint64_t rollback_counter_floor() const;
  std::set<HashValue> verified_record_hashes() const;
  // Every live, unconflicted secret, in the order of each one's first
  // authorised record.
  std::vector<ActiveSecretV1> secret_records() const;
  // The live users who may read the selector, ascending.
  std::vector<UserId> current_reader_entries(const SecretSelectorV1& selector) const;
  bool secret_record_is_current(const HashValue& hash) const;
  // The current record of the secret, value or deletion; conflicts are not
  // consulted.
  const VerifiedRecord* latest_authorized_secret_record(const SecretId& secret_id) const;

  // The current record when it is a value (not a deletion); conflicts are
  // not consulted.
  template <CryptoProvider P>
  CoreResult<const VerifiedRecord*> live_secret_winner(const SecretSelectorV1& selector, const P& crypto) const {
    auto id = derive_secret_id(crypto, selector);
    if (!id) return fail(std::move(id.error()));
    return live_value(*id);
  }

  // The live value's record, only when the secret is not conflicted; null
  // otherwise.
  template <CryptoProvider P>
  CoreResult<const VerifiedRecord*> unconflicted_live_secret(const SecretSelectorV1& selector, const P& crypto) const {
    auto id = derive_secret_id(crypto, selector);
    if (!id) return fail(std::move(id.error()));
    if (conflicts.contains(RecordKey(record_key::Secret{*id}))) return nullptr;
    return live_value(*id);
  }

  // A copy of the live value, only when the secret is not conflicted.
  template <CryptoProvider P>
  CoreResult<std::optional<ActiveSecretV1>> secret_record(const SecretSelectorV1& selector, const P& crypto) const {
    auto live = unconflicted_live_secret(selector, crypto);
    if (!live) return fail(std::move(live.error()));
    return active_secret(*live);
  }

  template <CryptoProvider P>
  SecretAccess classify_secret_for_user(const SecretSelectorV1& selector, const UserId& user_id,
                                        const P& crypto) const {
    if (did_not_converge) return SecretAccess::Invalid;
    auto id = derive_secret_id(crypto, selector);
    if (!id) return SecretAccess::Invalid;
    return classify(*id, user_id);
  }

 private:
  const VerifiedRecord* live_value(const SecretId& secret_id) const;
  static std::optional<ActiveSecretV1> active_secret(const VerifiedRecord* live);
  SecretAccess classify(const SecretId& secret_id, const UserId& user_id) const;
};

// The counter after the highest admitted one (0 when none), saturating.
std::uint64_t next_counter(const EffectiveState& state);

}  // namespace morvik::core::validate
