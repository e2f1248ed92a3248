#pragma once

// What a Vault instance holds: its unlocked session behind the session
// mutex, and the borrow flag of its methods.

#include "crypto/provider.hpp"
#include "ops/session.hpp"
#include "python/borrow_flag.hpp"
#include "python/session_mutex.hpp"

namespace morvik::python {

struct VaultObject {
  explicit VaultObject(ops::UnlockedSession session) : session(std::move(session)) {}

  BorrowFlag borrow;
  SessionMutex<ops::UnlockedSession> session;
};

// The cryptographic provider every vault call is given; it holds no state.
inline const crypto::Crypto kCrypto{};

}  // namespace morvik::python
