#pragma once

#include "core/hash_value.hpp"
#include "keychain/error.hpp"
#include "store/lock.hpp"
#include "store/path.hpp"

namespace morvik::keychain {

// An exclusive advisory lock on a keychain lock file, released when dropped.
class KeychainLock {
 public:
  explicit KeychainLock(store::AdvisoryLock lock) : lock_(std::move(lock)) {}

 private:
  store::AdvisoryLock lock_;
};

// Makes the lock file's directory (narrowed to 0700) and the empty lock file,
// then takes the exclusive lock, retrying every 100 ms for 10 s; every sleep
// lasts the whole interval, whatever `retry.last_sleep` says.
KeychainResult<KeychainLock> acquire_lock_at(const store::Path& lock_path, store::LockRetry retry = {});

// The lock of a root's keychain: {base}/{root}/keychain.lock.
KeychainResult<KeychainLock> acquire_keychain_lock(const store::Path& base, const core::HashValue& root,
                                                   store::LockRetry retry = {});

}  // namespace morvik::keychain
