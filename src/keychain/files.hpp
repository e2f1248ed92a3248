#pragma once

// Where the keychain files lie, and their readers and writers. None of these
// takes a lock: callers hold the keychain lock of the root.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "keychain/error.hpp"
#include "keychain/records.hpp"
#include "store/path.hpp"

namespace morvik::keychain {

inline constexpr std::uint64_t kMaxIdentityFileBytes = 1'048'576;
inline constexpr std::uint64_t kMaxCurrentUserFileBytes = 65'536;
inline constexpr std::uint64_t kMaxKeychainFileBytes = 67'108'864;

// MORVIK_KEYCHAIN_DIR, else XDG_DATA_HOME/morvik, else HOME/.local/share/morvik
// (a variable counts as set even when empty); with none of them the keychain
// is unavailable. Neither made absolute nor created.
KeychainResult<store::Path> default_keychain_dir();

// Names below the base: every byte as two lowercase hexadecimal digits.
std::string hex_bytes(cord::ByteView bytes);

// {base}/{root}/identities/{user}.cord
store::Path identity_path(const store::Path& base, const core::HashValue& root, const core::UserId& user);
// {base}/{root}/current-user.cord
store::Path current_user_path(const store::Path& base, const core::HashValue& root);
// {base}/{root}/keychain.cord: the older combined keychain of a root.
store::Path keychain_path(const store::Path& base, const core::HashValue& root);
// {base}/{user}/keychain.cord: the older keychain of one user, all roots.
store::Path legacy_keychain_path(const store::Path& base, const core::UserId& user);

// Whether anything (a dangling symbolic link included) is at `path`.
KeychainResult<bool> path_present_no_follow(const store::Path& path);

// Whole files, magic included, as bytes. `path` only names the file in
// errors; the decoders check the magic and the encoding, nothing else.
KeychainResult<SealedIdentityV1> decode_identity_file(const store::Path& path, cord::ByteView bytes);
KeychainResult<cord::Bytes> encode_identity_file(const SealedIdentityV1& sealed);
KeychainResult<CurrentUserV1> decode_current_user_file(const store::Path& path, cord::ByteView bytes);
KeychainResult<cord::Bytes> encode_current_user_file(const CurrentUserV1& current);
KeychainResult<KeychainRecords> decode_keychain_file(cord::ByteView bytes);

// None when the file is absent. The record must name the root and user its
// path names.
KeychainResult<std::optional<SealedIdentityV1>> read_identity_at(const store::Path& path, const core::HashValue& root,
                                                                  const core::UserId& user);
KeychainResult<std::optional<CurrentUserV1>> read_current_user_at(const store::Path& path);
// An absent file holds no records.
KeychainResult<KeychainRecords> read_keychain_records_at(const store::Path& path);
KeychainResult<cord::Bytes> encode_keychain_records(KeychainRecords records);

// Write, then read back and compare decoded values.
KeychainResult<void> write_identity_exact(const store::Path& path, const core::HashValue& root,
                                          const core::UserId& user, const SealedIdentityV1& sealed);
KeychainResult<void> write_current_user_exact(const store::Path& path, const CurrentUserV1& current);

// Copies of the known identity records of `root`, in the set's order.
std::vector<SealedIdentityV1> identities_of_root(const KeychainRecords& records, const core::HashValue& root);

}  // namespace morvik::keychain
