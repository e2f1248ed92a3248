#pragma once

// Interrupted commits: a load first completes a commit journal this vault
// file left behind (or a join-commit journal), leaves a journal of another
// vault path alone, and then validates against the strongest ratchet, which
// a journal still present raises to its after-image.

#include <cstdint>
#include <optional>

#include "core/hash_value.hpp"
#include "core/ratchet/ratchet.hpp"
#include "crypto/provider.hpp"
#include "ops/error.hpp"
#include "ops/transaction.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

enum class RecoveryOutcome : std::uint8_t {
  // No commit journal, and no join-commit journal completed.
  Nothing = 0,
  // A journal of this vault path was completed (or was gone by the time the
  // write locks were held), or a join-commit journal was completed.
  Completed = 1,
  // The journal names another vault path (a copy of the vault elsewhere) and
  // was left untouched.
  OtherVaultPath = 2,
};

// Brings the vault of `paths` past an interrupted commit of `root`. Called
// with no lock held: reads under the shared per-root state lock and takes
// the exclusive per-root state lock and then the workspace lock only to
// complete a journal of this vault path.
OpsResult<RecoveryOutcome> recover_for_root(const store::WorkspacePaths& paths, const core::HashValue& root,
                                            const crypto::Crypto& crypto);

struct StrongestRatchet {
  core::ratchet::Ratchet ratchet;
  // The journal whose after-image raised it, still waiting to be applied.
  std::optional<PendingTransaction> pending;
  // The ratchet file's bytes, when asked for and the file exists.
  std::optional<cord::Bytes> file;
};

// Whether read_strongest_ratchet_locked hands back the ratchet file's bytes:
// before a write they are the commit's before-image, read once.
enum class RatchetFileBytes : std::uint8_t { Dropped, Kept };

// The root's ratchet file raised by the after-image of a commit journal that
// is still present, with that journal. Without a journal the ratchet file
// must exist (MissingRatchetState); with one it may be absent. Expects the
// per-root state lock held: shared at load, exclusive (with the workspace
// lock) before a write.
OpsResult<StrongestRatchet> read_strongest_ratchet_locked(const store::WorkspacePaths& paths,
                                                          const core::HashValue& root, const crypto::Crypto& crypto,
                                                          RatchetFileBytes bytes = RatchetFileBytes::Dropped);

// Raises `into` by everything `from` remembers; lowers nothing. Ratchets of
// different roots are TransactionStateMismatch, `into` unchanged.
OpsResult<void> merge_ratchet(core::ratchet::Ratchet& into, const core::ratchet::Ratchet& from);

}  // namespace morvik::ops
