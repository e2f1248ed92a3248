#include "ops/vault_read.hpp"

#include "core/vault_file/vault_file.hpp"
#include "store/vault_file.hpp"

namespace morvik::ops {

OpsResult<DecodedVault> decode_vault_file(const store::WorkspacePaths& paths, cord::Bytes bytes) {
  // The views stay valid when `bytes` moves into the result: its buffer does not move.
  auto decoded = core::validate::decode_vault_records(bytes);
  // Memory running out says nothing about the file.
  if (!decoded && std::holds_alternative<core::CoreError::OutOfMemory>(decoded.error().value)) {
    return fail(std::move(decoded.error()));
  }
  if (!decoded) {
    return fail(store::StoreError{store::StoreError::InvalidVault{paths.vault_path, std::move(decoded.error())}});
  }
  return DecodedVault{std::move(bytes), std::make_shared<const core::VaultStore>(std::move(decoded->store)),
                      std::move(decoded->encodings)};
}

OpsResult<DecodedVault> read_decoded_vault(const store::WorkspacePaths& paths) {
  auto bytes = store::read_vault_bytes(paths);
  if (!bytes) return fail(std::move(bytes.error()));
  return decode_vault_file(paths, std::move(*bytes));
}

}  // namespace morvik::ops
