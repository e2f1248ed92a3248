#pragma once

// The vault file as sessions read it: its exact bytes, which a commit
// compares against, and their decoding, which shares them.

#include "core/vault_file/record_set.hpp"
#include "cord/wire.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

// The record set in the vault file's bytes, each record hashed; the set
// holds the bytes (`file()`). A failure is StoreError::InvalidVault naming
// the vault file.
OpsResult<core::validate::RecordSet> decode_vault_file(const store::WorkspacePaths& paths, cord::Bytes bytes,
                                                       const crypto::Crypto& crypto);

// Reads the vault file within its limit and decodes it.
OpsResult<core::validate::RecordSet> read_decoded_vault(const store::WorkspacePaths& paths,
                                                        const crypto::Crypto& crypto);

}  // namespace morvik::ops
