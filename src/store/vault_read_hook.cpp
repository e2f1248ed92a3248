#include "store/vault_read_hook.hpp"

#include <utility>

namespace morvik::store {

namespace {

VaultReadHook& installed_hook() {
  static VaultReadHook hook;
  return hook;
}

}  // namespace

ScopedVaultReadHook::ScopedVaultReadHook(VaultReadHook hook)
    : previous_(std::exchange(installed_hook(), std::move(hook))) {}

ScopedVaultReadHook::~ScopedVaultReadHook() { installed_hook() = std::move(previous_); }

void before_vault_read(const Path& path) {
  if (const VaultReadHook& hook = installed_hook()) hook(path);
}

}  // namespace morvik::store
