#include "store/verification_cache.hpp"

#include "store/bounded_read.hpp"
#include "store/state_dir.hpp"
#include "store/state_file.hpp"

namespace morvik::store {

StoreResult<cord::Bytes> verification_cache_message(const core::HashValue& root, std::uint64_t version,
                                                    const cord::Set<core::HashValue>& verified_hashes) {
  auto bytes = cord::serialize(VerificationCacheMessageV1{root, version, verified_hashes});
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

std::optional<VerificationCacheV1> decode_verification_cache(cord::ByteView file) {
  const auto encoded = after_magic(kVerificationCacheMagic, file);
  if (!encoded) return std::nullopt;
  auto store = cord::deserialize<VerificationCacheStore>(*encoded);
  if (!store) return std::nullopt;
  return std::move(std::get<verification_cache_store::V1>(*store).value);
}

StoreResult<cord::Bytes> encode_verification_cache(const VerificationCacheV1& cache) {
  auto bytes = encode_with_magic(kVerificationCacheMagic, VerificationCacheStore{verification_cache_store::V1{cache}});
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const core::HashValue& root,
                                                           const core::UserId& user) {
  if (!prepare_state_dir(paths)) return std::nullopt;
  auto bytes = read_file_bounded(verification_cache_path(paths, root, user), kMaxVerificationCacheBytes);
  if (!bytes) return std::nullopt;
  return decode_verification_cache(*bytes);
}

StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  const VerificationCacheV1& cache) {
  auto bytes = encode_verification_cache(cache);
  if (!bytes) return fail(std::move(bytes.error()));

  const Path path = verification_cache_path(paths, cache.root, user);
  if (bytes->size() > kMaxVerificationCacheBytes) {
    return fail(invalid_data_at(path, "verification cache is " + std::to_string(bytes->size()) +
                                          " bytes, above the supported maximum of " +
                                          std::to_string(kMaxVerificationCacheBytes)));
  }
  auto read = write_state_file_verified(
      paths, path, *bytes, kMaxVerificationCacheBytes,
      invalid_data_at(path, "verification cache bytes differed immediately after atomic write"),
      WriterLock::NotHeld);
  if (!read) return fail(std::move(read.error()));
  // The bytes read equal those written, so the magic is there.
  auto store = cord::deserialize<VerificationCacheStore>(*after_magic(kVerificationCacheMagic, *read));
  if (!store) return fail(StoreError{StoreError::Cord{std::move(store.error())}});
  return {};
}

}  // namespace morvik::store
