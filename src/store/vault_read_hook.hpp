#pragma once

#include <functional>

#include "store/path.hpp"

namespace morvik::store {

// A test seam: while a hook is installed, every read of a vault file calls it
// first with the vault path, so that a test can change the file between two
// reads of one operation. Production code never installs one.
using VaultReadHook = std::function<void(const Path&)>;

class ScopedVaultReadHook {
 public:
  explicit ScopedVaultReadHook(VaultReadHook hook);
  ~ScopedVaultReadHook();
  ScopedVaultReadHook(const ScopedVaultReadHook&) = delete;
  ScopedVaultReadHook& operator=(const ScopedVaultReadHook&) = delete;

 private:
  VaultReadHook previous_;
};

// Calls the installed hook, if any.
void before_vault_read(const Path& path);

}  // namespace morvik::store
