#pragma once

#include "core/records.hpp"
#include "cord/wire.hpp"
#include "store/decoded.hpp"
#include "store/error.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::store {

// The bytes of the vault file, within the vault file limit.
StoreResult<cord::Bytes> read_vault_bytes(const WorkspacePaths& paths);
// Whether the vault file still holds `bytes` (a reading of it), compared
// without reading it into memory again.
StoreResult<bool> vault_file_holds(const WorkspacePaths& paths, cord::ByteView bytes);
// The decoded vault file.
StoreResult<core::VaultStore> read_vault(const WorkspacePaths& paths);
// Replaces the vault file with `bytes` (an encoded vault), then reads it back
// and checks it. Unlike state files the vault is not private: it is created
// with the default mode, 0666 before the umask. Called with the workspace
// lock held; first removes the temporaries that killed writers left beside
// the vault file. With Decoded::Yes the caller decoded `bytes` already, and
// the read-back is only compared.
StoreResult<void> write_vault_bytes_atomic(const WorkspacePaths& paths, cord::ByteView bytes,
                                           Decoded decoded = Decoded::No);

}  // namespace morvik::store
