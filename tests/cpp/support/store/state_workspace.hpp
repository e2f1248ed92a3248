#pragma once

#include <gtest/gtest.h>

#include "store/workspace_paths.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::store::testing {

// A workspace in a fresh directory whose state directory lies beside it,
// for tests of the per-root state files and locks.
class StateWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("MORVIK_STATE_DIR", (dir_ / "state").bytes());
    paths_ = WorkspacePaths::from_vault_path(dir_ / ".morvik" / "vault.cord");
  }

  TempDir dir_;
  ScopedEnv env_;
  WorkspacePaths paths_;
  core::HashValue root_ = hash_of(0xAA);
};

}  // namespace morvik::store::testing
