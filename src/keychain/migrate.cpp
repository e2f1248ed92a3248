#include "keychain/migrate.hpp"

#include <optional>
#include <string_view>
#include <vector>

#include "keychain/files.hpp"
#include "keychain/lock.hpp"
#include "store/atomic_write.hpp"

namespace morvik::keychain {

namespace {

// Writes the identity to its own file unless an equal one is already there.
KeychainResult<void> split_identity(const store::Path& base, const core::HashValue& root,
                                    const SealedIdentityV1& identity, std::string_view conflict_reason) {
  const store::Path path = identity_path(base, root, identity.user);
  auto existing = read_identity_at(path, root, identity.user);
  if (!existing) return fail(std::move(existing.error()));
  if (!*existing) return write_identity_exact(path, root, identity.user, identity);
  if (**existing != identity) return fail(invalid_file(path, conflict_reason));
  return {};
}

struct CombinedContent {
  std::vector<SealedIdentityV1> identities;
  std::optional<CurrentUserV1> current_user;
};

// Refuses, before anything is written, a combined keychain that cannot be
// split without losing or misplacing a record.
KeychainResult<CombinedContent> classify_combined(const store::Path& path, const KeychainRecords& records,
                                                  const core::HashValue& root) {
  for (const auto& record : records) {
    if (record.unknown() != nullptr) return fail(invalid_file(path, reason::kCombinedUnknownRecords));
  }
  CombinedContent content;
  for (const auto& record : records) {
    const KeychainRecordV1& known = *record.known();
    if (const auto* current = std::get_if<keychain_record::CurrentUser>(&known)) {
      if (content.current_user) return fail(invalid_file(path, reason::kCombinedMultipleCurrentUsers));
      content.current_user = current->value;
    } else {
      const SealedIdentityV1& identity = std::get<keychain_record::Identity>(known).value;
      if (identity.root != root) return fail(invalid_file(path, reason::kCombinedForeignRoot));
      content.identities.push_back(identity);
    }
  }
  return content;
}

KeychainResult<void> verify_combined_split(const store::Path& base, const core::HashValue& root,
                                           const CombinedContent& content) {
  for (const SealedIdentityV1& identity : content.identities) {
    const store::Path path = identity_path(base, root, identity.user);
    auto written = read_identity_at(path, root, identity.user);
    if (!written) return fail(std::move(written.error()));
    if (!*written || **written != identity) return fail(invalid_file(path, reason::kSplitIdentityVerification));
  }
  if (content.current_user) {
    const store::Path path = current_user_path(base, root);
    auto written = read_current_user_at(path);
    if (!written) return fail(std::move(written.error()));
    if (!*written || **written != *content.current_user) {
      return fail(invalid_file(path, reason::kSplitCurrentUserVerification));
    }
  }
  return {};
}

KeychainResult<void> remove_durably(const store::Path& path) {
  if (auto removed = store::remove_file_durable(path); !removed) return fail(from_store(std::move(removed.error())));
  return {};
}

}  // namespace

KeychainResult<void> migrate_root_combined_locked(const store::Path& base, const core::HashValue& root) {
  const store::Path combined = keychain_path(base, root);
  auto present = path_present_no_follow(combined);
  if (!present) return fail(std::move(present.error()));
  if (!*present) return {};

  auto records = read_keychain_records_at(combined);
  if (!records) return fail(std::move(records.error()));
  auto content = classify_combined(combined, *records, root);
  if (!content) return fail(std::move(content.error()));

  for (const SealedIdentityV1& identity : content->identities) {
    if (auto split = split_identity(base, root, identity, reason::kSplitIdentityConflictsCombined); !split) {
      return split;
    }
  }
  if (content->current_user) {
    const store::Path path = current_user_path(base, root);
    auto existing = read_current_user_at(path);
    if (!existing) return fail(std::move(existing.error()));
    if (!*existing) {
      if (auto written = write_current_user_exact(path, *content->current_user); !written) return written;
    } else if (**existing != *content->current_user) {
      return fail(invalid_file(path, reason::kSplitCurrentUserConflictsCombined));
    }
  }
  // The source goes only once every record taken from it reads back in place.
  if (auto verified = verify_combined_split(base, root, *content); !verified) return verified;
  return remove_durably(combined);
}

KeychainResult<void> migrate_legacy_user_locked(const store::Path& base, const core::HashValue& root,
                                                const core::UserId& /*user*/, const store::Path& legacy_path,
                                                store::LockRetry retry) {
  auto present = path_present_no_follow(legacy_path);
  if (!present) return fail(std::move(present.error()));
  if (!*present) return {};

  // The legacy file is shared by all the user's roots, each under its own
  // root lock: its directory's lock keeps their migrations apart.
  auto legacy_lock = acquire_lock_at(legacy_path.parent().value_or(store::Path(".")).join("keychain.lock"), retry);
  if (!legacy_lock) return fail(std::move(legacy_lock.error()));

  auto records = read_keychain_records_at(legacy_path);
  if (!records) return fail(std::move(records.error()));
  const std::vector<SealedIdentityV1> identities = identities_of_root(*records, root);
  if (identities.empty()) return {};

  for (const SealedIdentityV1& identity : identities) {
    if (auto split = split_identity(base, root, identity, reason::kSplitIdentityConflictsLegacy); !split) return split;
  }

  KeychainRecords remaining = *records;
  for (const SealedIdentityV1& identity : identities) {
    remaining.erase(cord::Evolving<KeychainRecordV1>(KeychainRecordV1(keychain_record::Identity{identity})));
  }
  if (remaining.empty()) return remove_durably(legacy_path);

  auto bytes = encode_keychain_records(remaining);
  if (!bytes) return fail(std::move(bytes.error()));
  if (auto written = store::write_private_atomic_inner(legacy_path, *bytes); !written) {
    return fail(from_store(std::move(written.error())));
  }
  auto back = read_keychain_records_at(legacy_path);
  if (!back) return fail(std::move(back.error()));
  if (*back != remaining) return fail(invalid_file(legacy_path, reason::kLegacyRewriteVerification));
  return {};
}

}  // namespace morvik::keychain
