#pragma once

// Splitting the two older keychain layouts into one identity file per user
// and one current-user file per root. Both expect the root's keychain lock to
// be held, and both are restartable: a split file equal to its source record
// is accepted as already done.

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "keychain/error.hpp"
#include "store/lock.hpp"
#include "store/path.hpp"

namespace morvik::keychain {

// {base}/{root}/keychain.cord: split and removed.
KeychainResult<void> migrate_root_combined_locked(const store::Path& base, const core::HashValue& root);

// The per-user keychain at `legacy_path`, shared by all the user's roots: the
// identities of `root` are split out, the rest is written back (or the file
// removed when nothing remains), under the lock of its own directory.
KeychainResult<void> migrate_legacy_user_locked(const store::Path& base, const core::HashValue& root,
                                                const core::UserId& user, const store::Path& legacy_path,
                                                store::LockRetry retry = {});

}  // namespace morvik::keychain
