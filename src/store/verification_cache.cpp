#include "store/verification_cache.hpp"

#include "cord/check.hpp"
#include "core/domain_hash.hpp"
#include "store/bounded_read.hpp"
#include "store/state_dir.hpp"
#include "store/state_file.hpp"

namespace morvik::store {

namespace {

// The file's form as read: a VerificationCacheV1 whose signed part keeps the
// bytes it was read from.
struct VerificationCacheFileV1 {
  cord::WithEncoding<VerificationCacheMessageV1> message;
  cord::Bytes signer_public_key;
  cord::Bytes signature;

  static constexpr auto cord_fields() {
    return std::tuple{&VerificationCacheFileV1::message, &VerificationCacheFileV1::signer_public_key,
                      &VerificationCacheFileV1::signature};
  }
};
using VerificationCacheFileStore = std::variant<cord::Tagged<verification_cache_store::V1Tag, VerificationCacheFileV1>>;

// A cache whose hashes are listed in their canonical order: what a user
// writes, and the form a written file is checked in, with no set built.
using OrderedCacheV1 = cord::Tagged<verification_cache_store::V1Tag, VerificationCache<OrderedHashes>>;
using OrderedCacheStore = std::variant<OrderedCacheV1>;

// At least the size of the signed part's encoding: lengths, counts and the
// version take no more than this beside the hashes' bytes.
std::size_t message_size_bound(const core::HashValue& root, const OrderedHashes& hashes) {
  std::size_t size = 32 + root.bytes.size();
  for (const core::HashValue& hash : hashes.elements) size += 4 + hash.bytes.size();
  return size;
}

std::optional<cord::Bytes> read_cache_file(const WorkspacePaths& paths, const core::HashValue& root,
                                           const core::UserId& user) {
  if (!prepare_state_dir(paths)) return std::nullopt;
  auto bytes = read_file_bounded(verification_cache_path(paths, root, user), kMaxVerificationCacheBytes);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

}  // namespace

StoreResult<cord::Bytes> verification_cache_message(const VerificationCacheMessageV1& message) {
  auto bytes = cord::serialize(message);
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

StoreResult<cord::Bytes> verification_cache_message(const core::HashValue& root, std::uint64_t version,
                                                    const cord::Set<core::HashValue>& verified_hashes) {
  return verification_cache_message(VerificationCacheMessageV1{root, version, verified_hashes});
}

StoreResult<cord::Bytes> verification_cache_message(const VerificationCacheMessage<OrderedHashes>& message) {
  // Sized once, with room to become the transcript signed: the hashes can
  // fill megabytes.
  cord::Bytes bytes;
  bytes.reserve(message_size_bound(message.root, message.verified_hashes) +
                core::signature_transcript_head_size(core::kVerificationCacheLabel));
  if (auto written = cord::write(cord::CordSerializer(bytes), message); !written) {
    return fail(StoreError{StoreError::Cord{std::move(written.error())}});
  }
  return bytes;
}

std::optional<VerificationCacheV1> decode_verification_cache(cord::ByteView file) {
  auto signed_cache = decode_signed_verification_cache(file);
  if (!signed_cache) return std::nullopt;
  return std::move(signed_cache->cache);
}

std::optional<SignedVerificationCache> decode_signed_verification_cache(cord::ByteView file) {
  const auto encoded = after_magic(kVerificationCacheMagic, file);
  if (!encoded) return std::nullopt;
  auto store = cord::deserialize<VerificationCacheFileStore>(*encoded);
  if (!store) return std::nullopt;
  auto& read = std::get<0>(*store).value;
  VerificationCacheMessageV1& message = read.message.value;
  return SignedVerificationCache{
      VerificationCacheV1{std::move(message.root), message.version, std::move(message.verified_hashes),
                          std::move(read.signer_public_key), std::move(read.signature)},
      cord::Bytes(read.message.encoding.begin(), read.message.encoding.end())};
}

StoreResult<cord::Bytes> encode_verification_cache(VerificationCacheV1 cache) {
  auto bytes =
      encode_with_magic(kVerificationCacheMagic, VerificationCacheStore{verification_cache_store::V1{std::move(cache)}});
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return std::move(*bytes);
}

std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const core::HashValue& root,
                                                           const core::UserId& user) {
  auto bytes = read_cache_file(paths, root, user);
  if (!bytes) return std::nullopt;
  return decode_verification_cache(*bytes);
}

std::optional<SignedVerificationCache> read_signed_verification_cache(const WorkspacePaths& paths,
                                                                      const core::HashValue& root,
                                                                      const core::UserId& user) {
  auto bytes = read_cache_file(paths, root, user);
  if (!bytes) return std::nullopt;
  return decode_signed_verification_cache(*bytes);
}

namespace {

// Writes a cache file's bytes unless the file holds them already, then
// reads them back and decodes them.
StoreResult<void> write_cache_file(const WorkspacePaths& paths, const Path& path, const cord::Bytes& bytes) {
  if (bytes.size() > kMaxVerificationCacheBytes) {
    return fail(invalid_data_at(path, "verification cache is " + std::to_string(bytes.size()) +
                                          " bytes, above the supported maximum of " +
                                          std::to_string(kMaxVerificationCacheBytes)));
  }
  // Signatures are deterministic: a load that took its hashes from this
  // very cache makes the same file again, which is then left as it is.
  if (auto same = file_holds(path, bytes); same && *same) return {};
  auto written = write_state_file_verified(
      paths, path, bytes, kMaxVerificationCacheBytes,
      invalid_data_at(path, "verification cache bytes differed immediately after atomic write"),
      WriterLock::NotHeld);
  if (!written) return fail(std::move(written.error()));
  // The file holds exactly these bytes, which begin with the magic. Checked
  // in place: the hashes, megabytes of them, are not built again.
  auto checked = cord::check_whole<OrderedCacheStore>(*after_magic(kVerificationCacheMagic, bytes));
  if (!checked) return fail(StoreError{StoreError::Cord{std::move(checked.error())}});
  return {};
}

}  // namespace

StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  VerificationCacheV1 cache) {
  const Path path = verification_cache_path(paths, cache.root, user);
  auto bytes = encode_verification_cache(std::move(cache));
  if (!bytes) return fail(std::move(bytes.error()));
  return write_cache_file(paths, path, *bytes);
}

StoreResult<void> write_verification_cache_atomic(const WorkspacePaths& paths, const core::UserId& user,
                                                  VerificationCache<OrderedHashes> cache) {
  const Path path = verification_cache_path(paths, cache.root, user);
  const std::size_t size = message_size_bound(cache.root, cache.verified_hashes) + 8 +
                           cache.signer_public_key.size() + cache.signature.size();
  auto bytes = encode_with_magic(kVerificationCacheMagic, OrderedCacheStore{OrderedCacheV1{std::move(cache)}}, size);
  if (!bytes) return fail(StoreError{StoreError::Cord{std::move(bytes.error())}});
  return write_cache_file(paths, path, *bytes);
}

}  // namespace morvik::store
