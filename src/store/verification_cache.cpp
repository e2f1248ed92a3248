#include "store/verification_cache.hpp"

#include <algorithm>

#include "store/atomic_write.hpp"
#include "store/state_dir.hpp"
#include "store/bounded_read.hpp"

namespace morvik::store {

namespace {

bool has_magic(cord::ByteView bytes) {
  return bytes.size() >= kVerificationCacheMagic.size() &&
         std::equal(kVerificationCacheMagic.begin(), kVerificationCacheMagic.end(), bytes.begin());
}

StoreError invalid_data(const Path& path, std::string text) {
  return io_error_at(path, IoError::with_message(IoErrorKind::InvalidData, std::move(text)));
}

}  // namespace

StoreResult<cord::Bytes> verification_cache_message(const core::HashValue& root, std::uint64_t version,
                                                    const cord::Set<core::HashValue>& verified_hashes) {
  auto bytes = cord::serialize(VerificationCacheMessageV1{root, version, verified_hashes});
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const core::HashValue& root,
                                                           const core::UserId& user) {
  if (!prepare_state_dir(paths)) return std::nullopt;
  auto bytes = read_file_bounded(verification_cache_path(paths, root, user), kMaxVerificationCacheBytes);
  if (!bytes || !has_magic(*bytes)) return std::nullopt;
  auto store = cord::deserialize<VerificationCacheStore>(cord::ByteView(*bytes).subspan(kVerificationCacheMagic.size()));
  if (!store) return std::nullopt;
  return std::move(std::get<verification_cache_store::V1>(*store).value);
}

StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  const VerificationCacheV1& cache) {
  auto encoded = cord::serialize(VerificationCacheStore{verification_cache_store::V1{cache}});
  if (!encoded) return fail(StoreError{StoreError::Cord{std::move(encoded.error())}});
  cord::Bytes bytes(kVerificationCacheMagic.begin(), kVerificationCacheMagic.end());
  bytes.insert(bytes.end(), encoded->begin(), encoded->end());

  const Path path = verification_cache_path(paths, cache.root, user);
  if (bytes.size() > kMaxVerificationCacheBytes) {
    return fail(invalid_data(path, "verification cache is " + std::to_string(bytes.size()) +
                                       " bytes, above the supported maximum of " +
                                       std::to_string(kMaxVerificationCacheBytes)));
  }
  if (auto prepared = prepare_state_dir(paths); !prepared) return prepared;
  if (auto written = write_private_atomic_inner(path, bytes); !written) return written;

  auto read = read_back(path, kMaxVerificationCacheBytes);
  if (!read) return fail(io_error_at(path, std::move(read.error())));
  if (*read != bytes) return fail(invalid_data(path, "verification cache bytes differed immediately after atomic write"));
  auto store = cord::deserialize<VerificationCacheStore>(cord::ByteView(*read).subspan(kVerificationCacheMagic.size()));
  if (!store) return fail(StoreError{StoreError::Cord{std::move(store.error())}});
  return {};
}

}  // namespace morvik::store
