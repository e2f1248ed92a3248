#pragma once

// The vault file as sessions read it: its exact bytes, which a commit
// compares against, and their decoding.

#include <memory>
#include <vector>

#include "core/records.hpp"
#include "core/validate/pipeline.hpp"
#include "cord/wire.hpp"
#include "ops/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

// Moved, never copied: `encodings` are views into `bytes`.
struct DecodedVault {
  cord::Bytes bytes;
  std::shared_ptr<const core::VaultStore> records;
  // Each record's own bytes, in the order of `records`.
  std::vector<cord::ByteView> encodings;

  DecodedVault(cord::Bytes bytes, std::shared_ptr<const core::VaultStore> records,
               std::vector<cord::ByteView> encodings)
      : bytes(std::move(bytes)), records(std::move(records)), encodings(std::move(encodings)) {}
  DecodedVault(DecodedVault&&) = default;
  DecodedVault& operator=(DecodedVault&&) = default;

  core::validate::RecordSource source() const { return {records, encodings}; }
};

// The record set in the vault file's bytes; a failure is StoreError::InvalidVault
// naming the vault file.
OpsResult<DecodedVault> decode_vault_file(const store::WorkspacePaths& paths, cord::Bytes bytes);

// Reads the vault file within its limit and decodes it.
OpsResult<DecodedVault> read_decoded_vault(const store::WorkspacePaths& paths);

}  // namespace morvik::ops
