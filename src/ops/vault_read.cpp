#include "ops/vault_read.hpp"

#include "core/vault_file/vault_file.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

OpsResult<core::VaultStore> decode_vault_file(const store::WorkspacePaths& paths, cord::ByteView bytes) {
  auto records = core::validate::decode_vault(bytes);
  if (!records) return fail(store::StoreError{store::StoreError::InvalidVault{paths.vault_path, std::move(records.error())}});
  return std::move(*records);
}

OpsResult<DecodedVault> read_decoded_vault(const store::WorkspacePaths& paths) {
  auto bytes = store::read_vault_bytes(paths);
  if (!bytes) return fail(std::move(bytes.error()));
  auto records = decode_vault_file(paths, *bytes);
  if (!records) return fail(std::move(records.error()));
  return DecodedVault{std::move(*bytes), std::move(*records)};
}

}  // namespace morvik::ops
