#include "store/vault_file.hpp"

#include "core/vault_file/vault_file.hpp"
#include "store/atomic_write.hpp"
#include "store/bounded_read.hpp"
#include "store/stale_temporaries.hpp"
#include "store/vault_read_hook.hpp"

namespace morvik::store {

namespace {

using core::validate::kMaxVaultFileBytes;

StoreError invalid_vault(const Path& path, core::CoreError error) {
  return StoreError{StoreError::InvalidVault{path, std::move(error)}};
}

// Absence and oversize are the vault's own errors; everything else is I/O.
template <class T>
StoreResult<T> vault_bytes_or_error(const Path& path, IoResult<T> bytes) {
  if (bytes) return std::move(*bytes);
  switch (bytes.error().kind) {
    case IoErrorKind::NotFound: return fail(StoreError{StoreError::VaultMissing{path}});
    case IoErrorKind::InvalidData: return fail(invalid_vault(path, core::CoreError::validation(bytes.error().text)));
    default: return fail(io_error_at(path, std::move(bytes.error())));
  }
}

// The check after a write: the file now holds `bytes` and they decode.
StoreResult<void> verify_vault(const WorkspacePaths& paths, cord::ByteView bytes, Decoded decoded) {
  auto holds = vault_bytes_or_error(paths.vault_path, read_back(paths.vault_path, bytes, kMaxVaultFileBytes));
  if (!holds) return fail(std::move(holds.error()));
  if (!*holds) {
    return fail(invalid_vault(paths.vault_path,
                              core::CoreError::validation("vault bytes differed immediately after atomic write")));
  }
  if (decoded == Decoded::Yes) return {};
  // The file holds exactly `bytes`: decoding them decodes what was read.
  if (auto checked = core::validate::check_vault_file(bytes); !checked) {
    return fail(invalid_vault(paths.vault_path, std::move(checked.error())));
  }
  return {};
}

}  // namespace

StoreResult<cord::Bytes> read_vault_bytes(const WorkspacePaths& paths) {
  before_vault_read(paths.vault_path);
  return vault_bytes_or_error(paths.vault_path, read_file_bounded(paths.vault_path, kMaxVaultFileBytes));
}

StoreResult<bool> vault_file_holds(const WorkspacePaths& paths, cord::ByteView bytes) {
  before_vault_read(paths.vault_path);
  return vault_bytes_or_error(paths.vault_path, file_holds(paths.vault_path, bytes, kMaxVaultFileBytes));
}

StoreResult<core::VaultStore> read_vault(const WorkspacePaths& paths) {
  auto bytes = read_vault_bytes(paths);
  if (!bytes) return fail(std::move(bytes.error()));
  auto vault = core::validate::decode_vault(*bytes);
  if (!vault) return fail(invalid_vault(paths.vault_path, std::move(vault.error())));
  return std::move(*vault);
}

StoreResult<void> write_vault_bytes_atomic(const WorkspacePaths& paths, cord::ByteView bytes, Decoded decoded) {
  if (bytes.size() > kMaxVaultFileBytes) {
    return fail(invalid_vault(paths.vault_path,
                              core::CoreError::validation("vault is " + std::to_string(bytes.size()) +
                                                          " bytes, above the supported maximum of " +
                                                          std::to_string(kMaxVaultFileBytes))));
  }
  if (auto made = create_dir_all(paths.morvik_dir); !made) return made;
  if (auto made = create_dir_all(paths.vault_path.parent().value_or(Path())); !made) return made;
  remove_stale_temporaries(paths.vault_path);
  if (auto replaced = write_temporary_and_replace(paths.vault_path, bytes, 0666); !replaced) return replaced;
  if (auto synced = sync_parent_directory(paths.vault_path); !synced) return synced;
  return verify_vault(paths, bytes, decoded);
}

}  // namespace morvik::store
