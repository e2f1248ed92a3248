#include "keychain/lock.hpp"

#include "keychain/files.hpp"

namespace morvik::keychain {

KeychainResult<KeychainLock> acquire_lock_at(const store::Path& lock_path, store::LockRetry retry) {
  // The keychain's lock keeps its fixed rhythm to the end: the first failed
  // attempt at or after the limit gives up.
  retry.last_sleep = store::LastSleep::WholeInterval;
  auto lock = store::acquire_advisory_lock(lock_path, /*exclusive=*/true, /*private_parent=*/true, retry);
  if (lock) return KeychainLock(std::move(*lock));
  // The store's lock failures, told in the keychain's own words.
  if (const auto* io = lock.error().as<store::StoreError::Io>()) return fail(KeychainError::Io{io->path, io->error});
  if (const auto* held = lock.error().as<store::StoreError::WorkspaceLocked>()) {
    return fail(KeychainError::LockTimeout{held->path});
  }
  return fail(from_store(std::move(lock.error())));
}

KeychainResult<KeychainLock> acquire_keychain_lock(const store::Path& base, const core::HashValue& root,
                                                   store::LockRetry retry) {
  return acquire_lock_at(base.join(hex_bytes(root.bytes)).join("keychain.lock"), retry);
}

}  // namespace morvik::keychain
