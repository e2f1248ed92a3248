#include "ops/error.hpp"

#include "core/overloaded.hpp"
#include "core/quoted_form.hpp"

namespace morvik::ops {

namespace {

using core::debug_string;

template <class T, class Show>
std::string debug_list(const std::vector<T>& items, Show show) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += show(items[i]);
  }
  return out + "]";
}

}  // namespace

std::string OpsError::message() const {
  return std::visit(
      core::Overloaded{
          [](const Store& e) { return "store error: " + e.error.message(); },
          [](const Core& e) { return "core error: " + e.error.message(); },
          [](const Crypto& e) { return "crypto error: " + e.error.message(); },
          [](const Cord& e) { return "Cord error: " + e.error.message(); },
          [](const Hazmat& e) { return "hazmat error: " + e.error.message(); },
          [](const Keychain& e) { return e.error.message(); },
          [](const MissingRatchetState& e) { return "workspace is missing ratchet state at " + e.path.display(); },
          [](const ValidationFailed& e) {
            return "validation failed: " +
                   debug_list(e.issues, [](const core::validate::ValidationIssue& i) { return debug_string(i); });
          },
          [](const NotEffective& e) { return "operation did not become effective: " + std::string(e.what); },
          [](const MissingEffectiveRoot&) { return std::string("validated vault is missing an effective root"); },
          [](const NotEffectiveMember& e) {
            return "identity " + debug_string(e.user) + " is not an effective member of this vault";
          },
          [](const NoSelfSignedRoot&) {
            return std::string(
                "vault does not contain a self-signed root record that can identify its ratchet state");
          },
          [](const MultipleSelfSignedRoots& e) {
            return "vault contains multiple self-signed root records that could identify ratchet state: " +
                   debug_list(e.key_hashes, [](const core::HashValue& h) { return debug_string(h); });
          },
          [](const SecretMissing&) { return std::string("secret is missing"); },
          [](const SecretNotDecryptable& e) {
            return "secret is not decryptable for this identity: " + std::string(debug_string(e.access));
          },
          [](const InvalidEnvelope&) {
            return std::string("authenticated secret plaintext has an invalid or unsupported envelope");
          },
          [](const SecretNotWritable&) { return std::string("secret is not writable by this identity"); },
          [](const RecipientSlotMissing& e) { return "recipient slot is missing for " + debug_string(e.user); },
          [](const ReaderMissing& e) { return "reader " + debug_string(e.user) + " is missing an active user record"; },
          [](const WriterMissing& e) { return "writer " + debug_string(e.user) + " is missing an active user record"; },
          [](const UserMissing& e) { return "user " + debug_string(e.user) + " is missing an active user record"; },
          [](const UnknownUserHandle& e) { return "user handle @" + e.handle + " does not exist"; },
          [](const DanglingUserHandle& e) {
            return "user handle @" + e.handle + " points to missing user " + debug_string(e.user);
          },
          [](const InvalidUserHandle& e) {
            return "invalid user handle " + core::quoted_form(e.handle) + ": " + std::string(e.reason);
          },
          [](const IdentityMismatch& e) {
            return "keychain returned identity " + debug_string(e.got) + ", expected " + debug_string(e.expected);
          },
          [](const ClaimedIdentityNotMember& e) {
            return "claimed identity " + debug_string(e.user) + " is not a current member of this vault";
          },
          [](const RolledBackPastBaseline&) {
            return std::string("the vault has been rolled back past the invite baseline");
          },
          [](const InviteRootMismatch&) { return std::string("the invitation is for a different vault root"); },
          [](const InviteBaselineRequired&) {
            return std::string("a rollback-protected invitation is required to establish trust non-interactively");
          },
          [](const SecretConflicted&) {
            return std::string("secret is conflicted and has no current value until the conflict is resolved");
          },
          [](const CounterExhausted&) {
            return std::string(
                "the vault's Lamport counter is exhausted \u2014 a record carries an absurdly high counter, which "
                "no well-behaved client produces");
          },
          [](const JoinCommitConflict&) {
            return std::string("a prepared Kubernetes enrollment transaction conflicts with local vault state");
          },
          [](const PendingTransaction& e) {
            return "a pending transaction " + e.id + " from " + e.path + " blocks writes for this vault";
          },
          [](const TransactionStateMismatch&) {
            return std::string("transaction recovery found a file that matches neither its before nor after state");
          },
          [](const PreconditionChanged& e) {
            return "transaction precondition changed for " + std::string(e.file) + "; reload and retry";
          },
          [](const BothJournals&) {
            return std::string("both legacy and current recovery journals exist for this vault");
          },
      },
      value);
}

}  // namespace morvik::ops
