#pragma once

// The vault file as sessions read it: its exact bytes, which a commit
// compares against, and their decoding.

#include "core/records.hpp"
#include "cord/wire.hpp"
#include "ops/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

struct DecodedVault {
  cord::Bytes bytes;
  core::VaultStore records;
};

// The record set in the vault file's bytes; a failure is StoreError::InvalidVault
// naming the vault file.
OpsResult<core::VaultStore> decode_vault_file(const store::WorkspacePaths& paths, cord::ByteView bytes);

// Reads the vault file within its limit and decodes it.
OpsResult<DecodedVault> read_decoded_vault(const store::WorkspacePaths& paths);

}  // namespace morvik::ops
