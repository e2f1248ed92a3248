#pragma once

// Validation of a whole record set against a trusted root and a ratchet:
// what the vault means, what the ratchet should remember, what is wrong
// with it. Pure: no I/O, no locks, no threads; the inputs are only read.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "core/derivations.hpp"
#include "core/domain_hash.hpp"
#include "core/errors.hpp"
#include "core/provider.hpp"
#include "core/ratchet/ratchet.hpp"
#include "core/records.hpp"
#include "core/validate/issues.hpp"
#include "core/validate/state.hpp"
#include "core/validate/structure.hpp"
#include "core/vault_file/record_set.hpp"

namespace morvik::core::validate {

// The vault format version this validator reads.
inline constexpr std::uint64_t kFormatVersion = 1;

struct ValidationReport {
  EffectiveState state;
  ratchet::RatchetUpdate ratchet_update;
  // In the order found.
  std::vector<ValidationIssue> issues;
  std::vector<ValidationWarning> warnings;
};

// The hashes a validation takes as verified, as one sorted block of digests:
// a lookup touches a few neighbouring cache lines instead of a tree of
// separately allocated keys, and they take a fraction of a tree's memory.
// Only domain hashes (32 bytes) can match a record's hash.
class VerifiedDigests {
 public:
  VerifiedDigests() = default;
  // Implicit, so that a caller hands over the set it holds.
  VerifiedDigests(const std::set<HashValue>& hashes);
  // Takes the set, each element freed once its digest is made.
  explicit VerifiedDigests(cord::Set<HashValue> hashes);
  bool contains(const HashValue& hash) const;

 private:
  void add(const HashValue& hash);

  std::vector<std::array<std::uint8_t, 32>> digests_;
};

// The report of a fatal finding: the empty state and that single issue.
ValidationReport fatal_report(ValidationIssue issue);

// What the checks of single records leave to the rest of the run.
struct CheckedRecords {
  SelectedRoot root;
  std::vector<VerifiedRecord> verified;
  std::vector<ValidationIssue> issues;
  std::uint64_t unknown_count = 0;
  // Key hashes of the signing keys left without one user, in key order.
  std::vector<HashValue> ambiguous_key_hashes;
};

// Everything after the per-record checks: authority with deletions,
// rollback floors, conflicts, the ratchet update and the warnings.
ValidationReport resolve_checked_records(CheckedRecords checked, const ratchet::Ratchet& ratchet);

namespace detail {

struct ListedRecord {
  const HeldRecord* held;
  HashValue hash;
  // In the caller's verified set: its signature is not checked.
  bool trusted = false;
  // What its signature covers; empty when trusted.
  cord::ByteView message;

  const VaultRecordV1& record() const { return *held->record; }
};

// The records to validate, each once, in record-set order.
struct Listing {
  std::vector<ListedRecord> records;
};

// Keeps the first record of each hash, in list order. Sorting rather than
// hashing: record hashes are the input's to choose (an unsigned record's
// signature bytes are free), so no table keyed by them can be trusted to
// spread them.
void drop_repeated_hashes(std::vector<ListedRecord>& records);

// Signature checks of one run: a record checked once is not checked again.
template <CryptoProvider P>
class SignatureChecks {
 public:
  SignatureChecks(const P& crypto, const Listing& listing)
      : crypto_(crypto), listing_(listing), outcome_(listing.records.size(), Outcome::Unchecked) {}

  // Whether record `i` counts as signed by its envelope's key: trusted, or
  // verified under that key.
  bool verifies(std::size_t i) {
    const ListedRecord& entry = listing_.records[i];
    if (entry.trusted) return true;
    if (outcome_[i] == Outcome::Unchecked) {
      const bool good = crypto_.verify_signature(kSignedRecordLabel, entry.record().signing_public_key, entry.message,
                                                 entry.record().signature);
      outcome_[i] = good ? Outcome::Good : Outcome::Bad;
    }
    return outcome_[i] == Outcome::Good;
  }

 private:
  enum class Outcome : std::uint8_t { Unchecked, Good, Bad };
  const P& crypto_;
  const Listing& listing_;
  std::vector<Outcome> outcome_;
};

template <class T>
const T* body_as(const ListedRecord& entry) {
  const RecordBodyV1* body = entry.record().body.known();
  return body ? std::get_if<T>(body) : nullptr;
}

// Hashes every record whose hash the set does not hold yet, and drops
// repeats. A record's encoding begins with its body's, which is what its
// signature covers, so the signed messages are views into the encodings.
template <CryptoProvider P>
Listing list_records(const RecordSet& source, const P& crypto, const VerifiedDigests& verified) {
  Listing listing;
  listing.records.reserve(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    const HeldRecord& held = source.records()[i];
    const VaultRecordV1& record = *held.record;
    const auto known = source.hash(i);
    HashValue hash = known ? RecordSet::hash_of(*known) : crypto.hash(kRecordHashLabel, held.encoding);
    const bool trusted = verified.contains(hash);
    // The body, then the key and the signature, each a u32 length and bytes.
    const std::size_t message_size =
        trusted ? 0 : held.encoding.size() - (4 + record.signing_public_key.size()) - (4 + record.signature.size());
    listing.records.push_back(ListedRecord{&held, std::move(hash), trusted, held.encoding.first(message_size)});
  }
  drop_repeated_hashes(listing.records);
  return listing;
}

// The one self-signed root record whose key hash is the trusted root, or the
// fatal issue.
template <CryptoProvider P>
CoreResult<std::expected<SelectedRoot, ValidationIssue>> select_root(const std::vector<ListedRecord>& list,
                                                                    const HashValue& trusted_root,
                                                                    SignatureChecks<P>& checks, const P& crypto) {
  std::vector<SelectedRoot> candidates;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto* root = body_as<VaultRootRecordV1>(list[i]);
    if (!root) continue;
    const VaultRecordV1& record = list[i].record();
    auto user_id = derive_user_id(crypto, record.signing_public_key, root->root_encryption_public_key);
    if (!user_id) return fail(std::move(user_id.error()));
    if (*user_id != root->root_user_id) continue;
    if (!checks.verifies(i)) continue;
    auto hash = key_hash(crypto, record.signing_public_key);
    if (!hash) return fail(std::move(hash.error()));
    if (*hash != trusted_root) continue;
    candidates.push_back(
        SelectedRoot{root->root_user_id, root->root_encryption_public_key, record.signing_public_key, *hash});
  }
  using Selection = std::expected<SelectedRoot, ValidationIssue>;
  if (candidates.empty()) return Selection(std::unexpect, ValidationIssue::RootNotTrusted{});
  if (candidates.size() > 1) return Selection(std::unexpect, ValidationIssue::AmbiguousRoot{});
  return Selection(std::move(candidates.front()));
}

// Which signing key belongs to which user, following user records signed by
// the root or by users already trusted, with entry points to break ties.
struct SignerAssignment {
  std::map<cord::CompactBytes, UserId> signers;
  std::set<cord::CompactBytes> ambiguous_keys;
  std::vector<HashValue> ambiguous_key_hashes;
};

template <CryptoProvider P>
CoreResult<SignerAssignment> assign_signers(const std::vector<ListedRecord>& list, const SelectedRoot& root,
                                            SignatureChecks<P>& checks, const P& crypto) {
  std::vector<std::size_t> users;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto* user = body_as<UserRecordV1>(list[i]);
    if (user && structurally_valid_user(*user, crypto)) users.push_back(i);
  }

  // A user is trusted when a chain of user records, each signed by the root
  // or by a user already trusted, leads to it. The records are taken in the
  // order that repeated passes over the list would take them (pass, then
  // position), but each is looked at once: a record waits under its signing
  // key until that key is trusted. Passes themselves would cost a pass per
  // link of a chain listed backwards.
  std::set<UserId> trusted_users{root.user_id};
  std::map<cord::CompactBytes, std::set<UserId>> key_claims;
  std::map<cord::CompactBytes, std::vector<std::size_t>> waiting;  // positions in `users`, ascending
  std::set<std::pair<std::size_t, std::size_t>> due;               // (pass, position in `users`)
  for (std::size_t at = 0; at < users.size(); ++at) {
    const auto& signing_key = list[users[at]].record().signing_public_key;
    if (signing_key == root.signing_public_key) {
      due.emplace(0, at);
    } else {
      waiting[signing_key].push_back(at);
    }
  }
  while (!due.empty()) {
    const auto [pass, at] = *due.begin();
    due.erase(due.begin());
    const std::size_t i = users[at];
    const auto& user = *body_as<UserRecordV1>(list[i]);
    if (trusted_users.contains(user.user_id)) continue;
    if (!checks.verifies(i)) continue;
    key_claims[user.signing_public_key].insert(user.user_id);
    trusted_users.insert(user.user_id);
    // Records under the newly trusted key: later in this pass, or in the next.
    if (auto released = waiting.extract(user.signing_public_key)) {
      for (auto later : released.mapped()) due.emplace(later > at ? pass : pass + 1, later);
    }
  }

  std::set<UserId> entry_point_users;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto* entry = body_as<EntryPointRecordV1>(list[i]);
    if (!entry || entry->user_id != root.user_id) continue;
    if (!checks.verifies(i)) continue;
    auto user_id = derive_user_id(crypto, list[i].record().signing_public_key, entry->encryption_public_key);
    if (!user_id) return fail(std::move(user_id.error()));
    entry_point_users.insert(std::move(*user_id));
  }

  SignerAssignment assignment;
  assignment.signers.emplace(root.signing_public_key, root.user_id);
  for (const auto& [key, claimants] : key_claims) {
    // The root's key stays the root's, whoever else declares it.
    if (key == root.signing_public_key) continue;
    if (claimants.size() == 1) {
      assignment.signers.emplace(key, *claimants.begin());
      continue;
    }
    std::vector<UserId> entered;
    for (const auto& user_id : claimants) {
      if (entry_point_users.contains(user_id)) entered.push_back(user_id);
    }
    if (entered.size() == 1) {
      assignment.signers.emplace(key, entered.front());
      continue;
    }
    auto hash = key_hash(crypto, key);
    if (!hash) return fail(std::move(hash.error()));
    assignment.ambiguous_keys.insert(key);
    assignment.ambiguous_key_hashes.push_back(std::move(*hash));
  }
  return assignment;
}

// Structure, signer and signature of every record; the records that pass
// become verified records, in list order.
template <CryptoProvider P>
CoreResult<CheckedRecords> check_records(const RecordSet& source, const std::vector<ListedRecord>& list,
                                         SelectedRoot root, SignerAssignment assignment, SignatureChecks<P>& checks,
                                         const P& crypto) {
  CheckedRecords checked{std::move(root), {}, {}, 0, std::move(assignment.ambiguous_key_hashes)};
  checked.verified.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const VaultRecordV1& record = list[i].record();
    const RecordBodyV1* body = record.body.known();
    if (!body) {
      ++checked.unknown_count;
      continue;
    }
    if (auto structure = structurally_validate_record(record, *body, checked.root.user_id, crypto); !structure) {
      checked.issues.push_back(std::move(structure.error()));
      continue;
    }
    if (assignment.ambiguous_keys.contains(record.signing_public_key)) continue;
    auto signer = assignment.signers.find(record.signing_public_key);
    if (signer == assignment.signers.end()) {
      auto hash = key_hash(crypto, record.signing_public_key);
      if (!hash) return fail(std::move(hash.error()));
      checked.issues.push_back(ValidationIssue::UnknownSignerKey{std::move(*hash)});
      continue;
    }
    RecordKey key = record_key_for(*body, signer->second);
    if (!checks.verifies(i)) {
      checked.issues.push_back(ValidationIssue::InvalidSignature{std::move(key)});
      continue;
    }
    checked.verified.push_back(VerifiedRecord::shared(source.share(*list[i].held), std::move(key), list[i].hash,
                                                      signer->second));
  }
  return checked;
}

// Steps up to the per-record checks: the verified hashes, and the listing
// with the signed messages it keeps, are released before the resolution
// starts.
template <CryptoProvider P>
CoreResult<std::expected<CheckedRecords, ValidationIssue>> check_record_set(const RecordSet& source,
                                                                           const HashValue& trusted_root,
                                                                           const P& crypto, VerifiedDigests verified) {
  using Checked = std::expected<CheckedRecords, ValidationIssue>;
  const Listing listing = list_records(source, crypto, verified);
  verified = {};  // marked in the listing; not held through the resolution
  const auto& list = listing.records;
  if (list.empty()) return Checked(std::unexpect, ValidationIssue::RootNotTrusted{});

  SignatureChecks<P> checks(crypto, listing);
  auto root = select_root(list, trusted_root, checks, crypto);
  if (!root) return fail(std::move(root.error()));
  if (!*root) return Checked(std::unexpect, std::move(root->error()));

  auto assignment = assign_signers(list, **root, checks, crypto);
  if (!assignment) return fail(std::move(assignment.error()));
  auto checked = check_records(source, list, std::move(**root), std::move(*assignment), checks, crypto);
  if (!checked) return fail(std::move(checked.error()));
  return Checked(std::move(*checked));
}

}  // namespace detail

// The version-1 pipeline.
template <CryptoProvider P>
CoreResult<ValidationReport> validate_v1(const RecordSet& source, const ratchet::Ratchet& ratchet, const P& crypto,
                                         VerifiedDigests verified) {
  auto checked = detail::check_record_set(source, ratchet.trusted_root, crypto, std::move(verified));
  if (!checked) return fail(std::move(checked.error()));
  if (!*checked) return fatal_report(std::move(checked->error()));
  return resolve_checked_records(std::move(**checked), ratchet);
}

// Validates the record set, skipping the signature check of records whose
// hash is in `verified` (signatures an earlier validation checked).
// An allocation that fails on the way is reported as such, never thrown.
template <CryptoProvider P>
CoreResult<ValidationReport> validate_vault_with_verified(const RecordSet& source, const ratchet::Ratchet& ratchet,
                                                          const P& crypto, VerifiedDigests verified) {
  try {
    // A vault of a newer format is not read at all.
    if (ratchet.format_version > kFormatVersion) {
      return fatal_report(ValidationIssue::FormatVersionRegression{ratchet.format_version, kFormatVersion});
    }
    auto report = validate_v1(source, ratchet, crypto, std::move(verified));
    if (report && ratchet.format_version == 0 && report->issues.empty()) {
      report->ratchet_update.format_version = kFormatVersion;
    }
    return report;
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

// The same for a record set the caller keeps: the report holds a copy.
template <CryptoProvider P>
CoreResult<ValidationReport> validate_vault_with_verified(const VaultStore& store, const ratchet::Ratchet& ratchet,
                                                          const P& crypto, VerifiedDigests verified) {
  try {
    // Encoding a record is part of reading it, which a newer format skips.
    if (ratchet.format_version > kFormatVersion) {
      return fatal_report(ValidationIssue::FormatVersionRegression{ratchet.format_version, kFormatVersion});
    }
    auto records = RecordSet::of(store);
    if (!records) return fail(std::move(records.error()));
    return validate_vault_with_verified(*records, ratchet, crypto, std::move(verified));
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

template <CryptoProvider P>
CoreResult<ValidationReport> validate_vault(const VaultStore& store, const ratchet::Ratchet& ratchet, const P& crypto) {
  return validate_vault_with_verified(store, ratchet, crypto, {});
}

}  // namespace morvik::core::validate
