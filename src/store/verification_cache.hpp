#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <variant>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "cord/cord.hpp"
#include "store/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

inline constexpr std::string_view kVerificationCacheMagic{"morvik-cache\0", 13};
// The whole file, magic included.
inline constexpr std::uint64_t kMaxVerificationCacheBytes = 33'554'432;

// Record hashes whose signatures one user has verified for one root, signed
// by that user so that a later load may skip checking them again. `Hashes`
// holds them as a set, or, for the user writing the cache, as a list
// already in the set's canonical order, which is written as it stands.
template <class Hashes>
struct VerificationCache {
  core::HashValue root;
  std::uint64_t version = 0;
  Hashes verified_hashes;
  cord::Bytes signer_public_key;
  cord::Bytes signature;

  static constexpr auto cord_fields() {
    return std::tuple{&VerificationCache::root, &VerificationCache::version, &VerificationCache::verified_hashes,
                      &VerificationCache::signer_public_key, &VerificationCache::signature};
  }
  bool operator==(const VerificationCache&) const = default;
};
using VerificationCacheV1 = VerificationCache<cord::Set<core::HashValue>>;
// The hashes ascending by their encodings, as a cache file holds them.
using OrderedHashes = cord::SetInWireOrder<core::HashValue>;

// The signed part of a cache: its first three fields.
template <class Hashes>
struct VerificationCacheMessage {
  core::HashValue root;
  std::uint64_t version = 0;
  Hashes verified_hashes;

  static constexpr auto cord_fields() {
    return std::tuple{&VerificationCacheMessage::root, &VerificationCacheMessage::version,
                      &VerificationCacheMessage::verified_hashes};
  }
};
using VerificationCacheMessageV1 = VerificationCacheMessage<cord::Set<core::HashValue>>;

namespace verification_cache_store {
struct V1Tag;
using V1 = cord::Tagged<V1Tag, VerificationCacheV1>;
}  // namespace verification_cache_store
using VerificationCacheStore = std::variant<verification_cache_store::V1>;

// The bytes a cache's signature covers.
StoreResult<cord::Bytes> verification_cache_message(const VerificationCacheMessageV1& message);
// The same of a message made from copies of these.
StoreResult<cord::Bytes> verification_cache_message(const core::HashValue& root, std::uint64_t version,
                                                    const cord::Set<core::HashValue>& verified_hashes);
// The same of hashes in their canonical order, in one buffer of its size
// with room to become the signature transcript in place; refused when they
// are not in that order.
StoreResult<cord::Bytes> verification_cache_message(const VerificationCacheMessage<OrderedHashes>& message);

// A cache with the bytes its signature covers, taken from its file: the
// signed part as the file holds it is that part's encoding.
struct SignedVerificationCache {
  VerificationCacheV1 cache;
  cord::Bytes message;
};

// A whole cache file, magic included: none when it is not one.
std::optional<VerificationCacheV1> decode_verification_cache(cord::ByteView file);
std::optional<SignedVerificationCache> decode_signed_verification_cache(cord::ByteView file);
// Takes the cache rather than a copy: it can hold a great many hashes.
StoreResult<cord::Bytes> encode_verification_cache(VerificationCacheV1 cache);

// The cache of `root` and `user`. A cache is only a hint: anything unusable
// (absent, unreadable, malformed) reads as none. Its signature is the
// caller's to check.
std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const core::HashValue& root,
                                                           const core::UserId& user);
std::optional<SignedVerificationCache> read_signed_verification_cache(const WorkspacePaths& paths,
                                                                      const core::HashValue& root,
                                                                      const core::UserId& user);

// Writes `cache` for `user` under the cache's own root, then reads it back
// and checks it. A file that already holds exactly that cache is kept.
StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  VerificationCacheV1 cache);
// The same of a cache whose hashes are in their canonical order: its file is
// encoded from them in one buffer of the file's size.
StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  VerificationCache<OrderedHashes> cache);

}  // namespace morvik::store
