#include <algorithm>
#include <utility>

#include "core/domain_hash.hpp"
#include "core/handles.hpp"
#include "core/overloaded.hpp"
#include "ops/principals.hpp"
#include "ops/session.hpp"
#include "ops/validation.hpp"

namespace morvik::ops {

namespace {

namespace purpose = keychain::key_use_purpose;

// The purposes that prepare a write, which a pending journal would refuse
// anyway: they are refused before anyone is asked for a passphrase.
bool prepares_write(const keychain::KeyUsePurpose& use) {
  return std::visit(core::Overloaded{
                        [](const purpose::Reveal&) { return false; },
                        [](const purpose::Run&) { return false; },
                        [](const purpose::VerifyAndInspect&) { return false; },
                        [](const purpose::Set&) { return true; },
                        [](const purpose::Move&) { return true; },
                        [](const purpose::Delete&) { return true; },
                        [](const purpose::Custom&) { return true; },
                        [](const purpose::StoreIdentity&) { return true; },
                    },
                    use);
}

template <class HandleRecord>
std::optional<std::string> label_of(const HandleRecord* record) {
  if (record == nullptr) return std::nullopt;
  return core::normalize_handle(record->handle);
}

}  // namespace

OpsResult<keychain::KeychainRequest> UnlockedSession::keychain_request(const LockedSession& session,
                                                                      const core::UserId& user,
                                                                      keychain::KeyUsePurpose purpose) {
  if (session.pending && prepares_write(purpose)) return fail(pending_barrier_error(*session.pending));
  if (auto valid = session.ensure_valid(); !valid) return fail(std::move(valid.error()));
  const core::validate::EffectiveState& state = session.report.state;
  if (!state.trusted_root) return fail(OpsError::MissingEffectiveRoot{});
  return keychain::KeychainRequest::create(session.paths, *state.trusted_root, user, std::move(purpose))
      .with_labels(label_of(primary_vault_handle(state)), label_of(primary_handle_for_user(state, user)));
}

OpsResult<UnlockedSession> UnlockedSession::unlocked(LockedSession session, const crypto::Crypto& crypto,
                                                     crypto::Identity identity, const core::UserId& requested) {
  if (identity.user_id != requested) return fail(OpsError::IdentityMismatch{identity.user_id, requested});
  if (auto attested = session.attest_verifications(crypto, identity); !attested) {
    return fail(std::move(attested.error()));
  }
  if (auto member = session.ensure_member(identity.user_id); !member) return fail(std::move(member.error()));
  if (auto valid = session.ensure_valid(); !valid) return fail(std::move(valid.error()));
  return UnlockedSession(std::move(session), std::move(identity));
}

OpsResult<UnlockedSession> UnlockedSession::with_identity(LockedSession session, const crypto::Crypto& crypto,
                                                          crypto::Identity identity) {
  if (auto valid = session.ensure_valid(); !valid) return fail(std::move(valid.error()));
  if (auto attested = session.attest_verifications(crypto, identity); !attested) {
    return fail(std::move(attested.error()));
  }
  if (auto valid = session.ensure_valid(); !valid) return fail(std::move(valid.error()));
  if (auto member = session.ensure_member(identity.user_id); !member) return fail(std::move(member.error()));
  return UnlockedSession(std::move(session), std::move(identity));
}

OpsResult<void> LockedSession::attest_verifications(const crypto::Crypto& crypto, const crypto::Identity& identity) {
  if (verified_by && *verified_by != identity.signing_public_key) {
    // Hashes vouched for by another key prove nothing to this user. This
    // validation raises nothing: its ratchet is the one the load validated
    // against, already raised.
    auto revalidated = validate_records(records, ratchet, crypto, {});
    if (!revalidated) return fail(std::move(revalidated.error()));
    report = std::move(*revalidated);
    verified_by.reset();
    if (auto valid = ensure_valid(); !valid) return valid;
  }
  if (report.issues.empty()) {
    // The hashes are listed once, in the order the file holds them, and
    // move from the signed message into the cache.
    store::VerificationCacheMessage<store::OrderedHashes> signed_part{ratchet.trusted_root, 1, {}};
    auto& hashes = signed_part.verified_hashes.elements;
    hashes.reserve(report.state.records.size());
    for (const auto& record : report.state.records) hashes.push_back(record.hash);
    // Record hashes are all of one length, so their order is their
    // encodings' order; validation keeps no two records of one hash.
    std::sort(hashes.begin(), hashes.end());
    // The cache only saves work at the next load: failing to write one is no
    // reason to refuse this one.
    if (auto message = store::verification_cache_message(signed_part)) {
      // The message becomes the transcript signed, and is not held through
      // the write.
      cord::Bytes signature = identity.sign(core::kVerificationCacheLabel, std::move(*message));
      (void)store::write_verification_cache_atomic(
          paths, identity.user_id,
          store::VerificationCache<store::OrderedHashes>{std::move(signed_part.root), signed_part.version,
                                                         std::move(signed_part.verified_hashes),
                                                         identity.signing_public_key, std::move(signature)});
    }
  }
  verified_by.reset();
  return {};
}

}  // namespace morvik::ops
