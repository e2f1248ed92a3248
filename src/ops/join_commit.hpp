#pragma once

// The join-commit journal "join-commit.cord": the older recovery journal of a
// prepared enrollment, holding the before-state hashes of the vault file and
// of the ratchet of one trusted root, and both after-images. This system
// never writes one; it refuses commits while one exists and completes one it
// finds at load.

#include <cstdint>
#include <string_view>
#include <tuple>
#include <variant>

#include "core/hash_value.hpp"
#include "cord/cord.hpp"
#include "ops/error.hpp"
#include "store/path.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::ops {

inline constexpr std::string_view kJoinCommitMagic{"morvik-join-commit\0", 19};
inline constexpr std::uint64_t kMaxJoinCommitBytes = 269'484'032;

struct JoinCommitJournalV1 {
  core::HashValue root;
  // Join-commit hashes of the vault file's bytes and of the canonical
  // encoding of the ratchet, before the enrollment.
  core::HashValue vault_before;
  core::HashValue ratchet_before;
  cord::Bytes next_vault_bytes;
  cord::Bytes next_ratchet_bytes;

  static constexpr auto cord_fields() {
    return std::tuple{&JoinCommitJournalV1::root, &JoinCommitJournalV1::vault_before,
                      &JoinCommitJournalV1::ratchet_before, &JoinCommitJournalV1::next_vault_bytes,
                      &JoinCommitJournalV1::next_ratchet_bytes};
  }
  bool operator==(const JoinCommitJournalV1&) const = default;
};

namespace join_commit_journal {
struct V1Tag;
using V1 = cord::Tagged<V1Tag, JoinCommitJournalV1>;
}  // namespace join_commit_journal
using JoinCommitJournal = std::variant<join_commit_journal::V1>;

// The journal's bytes: a missing magic is JoinCommitConflict, an encoding
// that does not decode strictly is OpsError::Cord.
OpsResult<JoinCommitJournalV1> decode_join_commit(cord::ByteView file);

// Beside the root's ratchet file. Pure.
store::Path join_commit_path(const store::WorkspacePaths& paths, const core::HashValue& root);

// Whether the root has a join-commit journal. Takes no lock; callers hold
// the per-root state lock.
OpsResult<bool> join_commit_present(const store::WorkspacePaths& paths, const core::HashValue& root);

// Completes the root's join-commit journal, if there is one; true when it
// completed one. Called with no lock held: reads and checks the journal
// without one, then takes the exclusive per-root state lock and the
// workspace lock for the completion.
OpsResult<bool> recover_join_commit(const store::WorkspacePaths& paths, const core::HashValue& root);

// Writes both after-images (the ratchet first), checks them and removes the
// journal. Expects the exclusive per-root state lock and the workspace lock.
OpsResult<void> complete_join_commit(const store::WorkspacePaths& paths, const JoinCommitJournalV1& journal);

}  // namespace morvik::ops
