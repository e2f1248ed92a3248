#include "keychain/unlock.hpp"

namespace morvik::keychain {

KeychainResult<SealedIdentityV1> read_sealed_identity(const store::Path& base, const core::HashValue& root,
                                                      const core::UserId& user) {
  auto lock = acquire_keychain_lock(base, root);
  if (!lock) return fail(std::move(lock.error()));
  if (auto migrated = migrate_root_combined_locked(base, root); !migrated) return fail(std::move(migrated.error()));
  const store::Path path = identity_path(base, root, user);
  auto sealed = read_identity_at(path, root, user);
  if (!sealed) return fail(std::move(sealed.error()));
  if (!*sealed) {
    if (auto migrated = migrate_legacy_user_locked(base, root, user, legacy_keychain_path(base, user)); !migrated) {
      return fail(std::move(migrated.error()));
    }
    sealed = read_identity_at(path, root, user);
    if (!sealed) return fail(std::move(sealed.error()));
    if (!*sealed) return fail(KeychainError::NoSafeKeychain{user});
  }
  return std::move(**sealed);
}  // the lock is released on every way out

KeychainResult<std::optional<CurrentUserV1>> read_current_user(const store::Path& base, const core::HashValue& root) {
  auto lock = acquire_keychain_lock(base, root);
  if (!lock) return fail(std::move(lock.error()));
  if (auto migrated = migrate_root_combined_locked(base, root); !migrated) return fail(std::move(migrated.error()));
  return read_current_user_at(current_user_path(base, root));
}

}  // namespace morvik::keychain
