#include "ops/vault_read.hpp"

#include "core/vault_file/vault_file.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

OpsResult<core::validate::RecordSet> decode_vault_file(const store::WorkspacePaths& paths, cord::Bytes bytes,
                                                       const crypto::Crypto& crypto) {
  auto decoded = core::validate::decode_vault_records(std::move(bytes));
  // Memory running out says nothing about the file.
  if (!decoded && std::holds_alternative<core::CoreError::OutOfMemory>(decoded.error().value)) {
    return fail(std::move(decoded.error()));
  }
  if (!decoded) {
    return fail(store::StoreError{store::StoreError::InvalidVault{paths.vault_path, std::move(decoded.error())}});
  }
  // Every validation of the session reads the hashes computed here.
  if (auto hashed = decoded->hash_records(crypto); !hashed) return fail(std::move(hashed.error()));
  return std::move(*decoded);
}

OpsResult<core::validate::RecordSet> read_decoded_vault(const store::WorkspacePaths& paths,
                                                        const crypto::Crypto& crypto) {
  auto bytes = store::read_vault_bytes(paths);
  if (!bytes) return fail(std::move(bytes.error()));
  return decode_vault_file(paths, std::move(*bytes), crypto);
}

}  // namespace morvik::ops
