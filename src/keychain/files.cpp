#include "keychain/files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "store/atomic_write.hpp"
#include "store/bounded_read.hpp"
#include "store/file_descriptor.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::keychain {

namespace {

// Each file starts with its magic text and one zero byte.
constexpr std::string_view kIdentityMagic{"morvik-identity\0", 16};
constexpr std::string_view kCurrentUserMagic{"morvik-current-user\0", 20};
constexpr std::string_view kKeychainMagic{"morvik-keychain\0", 16};

store::Path root_dir(const store::Path& base, const core::HashValue& root) {
  return base.join(hex_bytes(root.bytes));
}

KeychainError io_at(const store::Path& path, store::IoError error) {
  return KeychainError{KeychainError::Io{path, std::move(error)}};
}

bool starts_with_magic(cord::ByteView bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

// The file's bytes, none when it is absent.
KeychainResult<std::optional<cord::Bytes>> read_optional(const store::Path& path, std::uint64_t max) {
  auto bytes = store::read_file_bounded(path, max);
  if (bytes) return std::optional<cord::Bytes>(std::move(*bytes));
  if (bytes.error().kind == store::IoErrorKind::NotFound) return std::optional<cord::Bytes>();
  return fail(io_at(path, std::move(bytes.error())));
}

// Decodes the single-variant store after the magic and returns its content.
template <class Store>
KeychainResult<std::variant_alternative_t<0, Store>> decode_store(cord::ByteView body) {
  auto decoded = cord::deserialize<Store>(body);
  if (!decoded) return fail(KeychainError::Cord{std::move(decoded.error())});
  return std::get<0>(std::move(*decoded));
}

template <class Store, class Content>
KeychainResult<cord::Bytes> encode_store(std::string_view magic, Content content) {
  auto encoded = cord::serialize(Store(std::in_place_index<0>, std::move(content)));
  if (!encoded) return fail(KeychainError::Cord{std::move(encoded.error())});
  cord::Bytes bytes(magic.begin(), magic.end());
  bytes.insert(bytes.end(), encoded->begin(), encoded->end());
  return bytes;
}

}  // namespace

KeychainResult<store::Path> default_keychain_dir() {
  if (const char* dir = std::getenv("MORVIK_KEYCHAIN_DIR")) return store::Path(dir);
  if (const char* data = std::getenv("XDG_DATA_HOME")) return store::Path(data).join("morvik");
  if (const char* home = std::getenv("HOME")) return store::Path(home).join(".local").join("share").join("morvik");
  return fail(KeychainError::BackendUnavailable{"passphrase",
                                                "MORVIK_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and HOME are unset"});
}

std::string hex_bytes(cord::ByteView bytes) { return store::hex_hash(bytes); }

store::Path identity_path(const store::Path& base, const core::HashValue& root, const core::UserId& user) {
  return root_dir(base, root).join("identities").join(hex_bytes(user.hash.bytes) + ".cord");
}

store::Path current_user_path(const store::Path& base, const core::HashValue& root) {
  return root_dir(base, root).join("current-user.cord");
}

store::Path keychain_path(const store::Path& base, const core::HashValue& root) {
  return root_dir(base, root).join("keychain.cord");
}

store::Path legacy_keychain_path(const store::Path& base, const core::UserId& user) {
  return base.join(hex_bytes(user.hash.bytes)).join("keychain.cord");
}

KeychainResult<bool> path_present_no_follow(const store::Path& path) {
  auto name = store::system_path(path);
  if (!name) return fail(io_at(path, std::move(name.error())));
  struct stat status {};
  if (::lstat(*name, &status) == 0) return true;
  if (errno == ENOENT) return false;
  return fail(io_at(path, store::IoError::from_errno(errno)));
}

KeychainResult<SealedIdentityV1> decode_identity_file(const store::Path& path, cord::ByteView bytes) {
  if (!starts_with_magic(bytes, kIdentityMagic)) return fail(invalid_file(path, reason::kMissingIdentityMagic));
  auto sealed = decode_store<IdentityStore>(bytes.subspan(kIdentityMagic.size()));
  if (!sealed) return fail(std::move(sealed.error()));
  return std::move(sealed->value);
}

KeychainResult<cord::Bytes> encode_identity_file(const SealedIdentityV1& sealed) {
  return encode_store<IdentityStore>(kIdentityMagic, cord::Tagged<IdentityStoreV1Tag, SealedIdentityV1>{sealed});
}

KeychainResult<CurrentUserV1> decode_current_user_file(const store::Path& path, cord::ByteView bytes) {
  if (!starts_with_magic(bytes, kCurrentUserMagic)) return fail(invalid_file(path, reason::kMissingCurrentUserMagic));
  auto current = decode_store<CurrentUserStore>(bytes.subspan(kCurrentUserMagic.size()));
  if (!current) return fail(std::move(current.error()));
  return std::move(current->value);
}

KeychainResult<cord::Bytes> encode_current_user_file(const CurrentUserV1& current) {
  return encode_store<CurrentUserStore>(kCurrentUserMagic, cord::Tagged<CurrentUserStoreV1Tag, CurrentUserV1>{current});
}

KeychainResult<KeychainRecords> decode_keychain_file(cord::ByteView bytes) {
  if (!starts_with_magic(bytes, kKeychainMagic)) {
    return fail(KeychainError::Cord{cord::CordError::validation("not a morvik keychain file (missing magic prefix)")});
  }
  auto records = decode_store<KeychainStore>(bytes.subspan(kKeychainMagic.size()));
  if (!records) return fail(std::move(records.error()));
  return std::move(records->value);
}

KeychainResult<std::optional<SealedIdentityV1>> read_identity_at(const store::Path& path, const core::HashValue& root,
                                                                  const core::UserId& user) {
  auto bytes = read_optional(path, kMaxIdentityFileBytes);
  if (!bytes) return fail(std::move(bytes.error()));
  if (!*bytes) return std::optional<SealedIdentityV1>();
  auto sealed = decode_identity_file(path, **bytes);
  if (!sealed) return fail(std::move(sealed.error()));
  if (sealed->root != root || sealed->user != user) return fail(invalid_file(path, reason::kIdentityPathMismatch));
  return std::optional<SealedIdentityV1>(std::move(*sealed));
}

KeychainResult<std::optional<CurrentUserV1>> read_current_user_at(const store::Path& path) {
  auto bytes = read_optional(path, kMaxCurrentUserFileBytes);
  if (!bytes) return fail(std::move(bytes.error()));
  if (!*bytes) return std::optional<CurrentUserV1>();
  auto current = decode_current_user_file(path, **bytes);
  if (!current) return fail(std::move(current.error()));
  return std::optional<CurrentUserV1>(std::move(*current));
}

KeychainResult<KeychainRecords> read_keychain_records_at(const store::Path& path) {
  auto bytes = read_optional(path, kMaxKeychainFileBytes);
  if (!bytes) return fail(std::move(bytes.error()));
  if (!*bytes) return KeychainRecords{};
  return decode_keychain_file(**bytes);
}

KeychainResult<cord::Bytes> encode_keychain_records(KeychainRecords records) {
  return encode_store<KeychainStore>(kKeychainMagic, cord::Tagged<KeychainStoreV1Tag, KeychainRecords>{std::move(records)});
}

KeychainResult<void> write_identity_exact(const store::Path& path, const core::HashValue& root,
                                          const core::UserId& user, const SealedIdentityV1& sealed) {
  if (sealed.root != root || sealed.user != user) return fail(invalid_file(path, reason::kIdentityPathMismatch));
  auto bytes = encode_identity_file(sealed);
  if (!bytes) return fail(std::move(bytes.error()));
  if (bytes->size() > kMaxIdentityFileBytes) return fail(invalid_file(path, reason::kIdentityTooLarge));
  if (auto written = store::write_private_atomic_inner(path, *bytes); !written) {
    return fail(from_store(std::move(written.error())));
  }
  auto back = read_identity_at(path, root, user);
  if (!back) return fail(std::move(back.error()));
  if (!*back || **back != sealed) return fail(invalid_file(path, reason::kIdentityWriteVerification));
  return {};
}

KeychainResult<void> write_current_user_exact(const store::Path& path, const CurrentUserV1& current) {
  auto bytes = encode_current_user_file(current);
  if (!bytes) return fail(std::move(bytes.error()));
  if (bytes->size() > kMaxCurrentUserFileBytes) return fail(invalid_file(path, reason::kCurrentUserTooLarge));
  if (auto written = store::write_private_atomic_inner(path, *bytes); !written) {
    return fail(from_store(std::move(written.error())));
  }
  auto back = read_current_user_at(path);
  if (!back) return fail(std::move(back.error()));
  if (!*back || **back != current) return fail(invalid_file(path, reason::kCurrentUserWriteVerification));
  return {};
}

std::vector<SealedIdentityV1> identities_of_root(const KeychainRecords& records, const core::HashValue& root) {
  std::vector<SealedIdentityV1> out;
  for (const auto& record : records) {
    const KeychainRecordV1* known = record.known();
    if (known == nullptr) continue;
    if (const auto* identity = std::get_if<keychain_record::Identity>(known); identity && identity->value.root == root) {
      out.push_back(identity->value);
    }
  }
  return out;
}

}  // namespace morvik::keychain
