#include <gtest/gtest.h>

#include "store/error.hpp"

namespace morvik::store {
namespace {

TEST(StoreErrorTest, EveryCaseHasItsText) {
  const Path path(std::string("/s/\xff/f"));
  const std::string shown = "/s/\xEF\xBF\xBD/f";
  const std::pair<StoreError, std::string> cases[] = {
      {StoreError{StoreError::Io{path, IoError::from_errno(2)}},
       "I/O error at " + shown + ": No such file or directory (os error 2)"},
      {StoreError{StoreError::Io{path, IoError::with_message(IoErrorKind::InvalidInput, "not a regular file")}},
       "I/O error at " + shown + ": not a regular file"},
      {StoreError{StoreError::VaultMissing{path}}, "vault file is missing at " + shown},
      {StoreError{StoreError::InvalidVault{path, core::CoreError::validation("x")}},
       "vault file " + shown + " is invalid: validation failed: x"},
      {StoreError{StoreError::InvalidVault{path, core::CoreError::cord(cord::CordError::of(cord::CordErrorKind::TrailingBytes))}},
       "vault file " + shown + " is invalid: cord error: Trailing bytes after deserialization"},
      {StoreError{StoreError::Cord{cord::CordError::of(cord::CordErrorKind::WidthOverflow)}},
       "Cord error: Value overflow for encoding width"},
      {StoreError{StoreError::WorkspaceLocked{path}}, "workspace lock is already held at " + shown},
      {StoreError{StoreError::InvalidRatchet{path, cord::CordError::validation("y")}},
       "ratchet file " + shown + " is invalid: Cord could not validate: y"},
      {held_by(StoreError{StoreError::InvalidVault{path, core::CoreError::validation("x")}},
               StoreError::Holder::TransactionJournal),
       "vault after-image in transaction file " + shown + " is invalid: validation failed: x"},
      {held_by(StoreError{StoreError::InvalidRatchet{path, cord::CordError::validation("y")}},
               StoreError::Holder::JoinCommitJournal),
       "ratchet after-image in join-commit file " + shown + " is invalid: Cord could not validate: y"},
      {StoreError{StoreError::InvalidTransaction{path, "z"}}, "transaction file " + shown + " is invalid: z"},
      {StoreError{StoreError::TrustRootMismatch{core::HashValue{{1, 2, 255}}, core::HashValue{{}}}},
       "trust root mismatch: file has HashValue([1, 2, 255]), requested HashValue([])"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.message(), text);
}

TEST(IoErrorTest, KindComesFromTheErrorNumber) {
  EXPECT_EQ(IoError::from_errno(ENOENT).kind, IoErrorKind::NotFound);
  EXPECT_EQ(IoError::from_errno(EEXIST).kind, IoErrorKind::AlreadyExists);
  EXPECT_EQ(IoError::from_errno(EWOULDBLOCK).kind, IoErrorKind::WouldBlock);
  EXPECT_EQ(IoError::from_errno(EINTR).kind, IoErrorKind::Interrupted);
  EXPECT_EQ(IoError::from_errno(EACCES).kind, IoErrorKind::Other);
  EXPECT_EQ(IoError::from_errno(EACCES).text, "Permission denied (os error 13)");
}

}  // namespace
}  // namespace morvik::store
