#include "python/vault_open.hpp"

#include <cstdlib>
#include <string>

#include "core/overloaded.hpp"
#include "crypto/identity.hpp"
#include "frontend/cli_user.hpp"
#include "frontend/invite.hpp"
#include "frontend/render.hpp"
#include "keychain/files.hpp"
#include "keychain/passphrase.hpp"
#include "keychain/unlock.hpp"
#include "ops/invite_bootstrap.hpp"
#include "python/convert.hpp"
#include "python/exceptions.hpp"
#include "python/vault_object.hpp"
#include "store/bounded_read.hpp"

namespace morvik::python {
namespace {

using frontend::py_err;

std::unexpected<ExceptionDescription> identity_error(std::string message) {
  return fail(ExceptionDescription{ExceptionClass::IdentityError, std::move(message)});
}

template <class Keychain>
OpenResult promote(ops::LockedSession session, const Keychain& keychain, const frontend::CliUser& user) {
  auto unlocked = ops::UnlockedSession::promote(std::move(session), kCrypto, keychain, user.user.user_id,
                                                keychain::key_use_purpose::Custom{std::string(kKeyUsePurpose)});
  if (!unlocked) return fail(py_err(unlocked.error()));
  return std::move(*unlocked);
}

OpenResult open_with_keychain(const store::WorkspacePaths& paths, const auth_inner::Keychain& auth) {
  auto session = ops::LockedSession::load(paths, kCrypto);
  if (!session) return fail(py_err(session.error()));
  std::optional<std::string_view> reference;
  if (auth.user) reference = *auth.user;
  auto user = frontend::resolve_cli_user_ref_with_report(session->report, kCrypto, reference);
  if (!user) return fail(py_err(user.error()));
  if (!auth.passphrase) {
    auto keychain = keychain::AutoKeychain<keychain::StdinPassphraseProvider>::default_interactive();
    if (!keychain) return fail(py_err(keychain.error()));
    return promote(std::move(*session), *keychain, *user);
  }
  auto base = keychain::default_keychain_dir();
  if (!base) return fail(py_err(base.error()));
  // Holds its own wiping copy of the passphrase, dropped with this frame.
  const keychain::AutoKeychain keychain(std::move(*base),
                                        keychain::StaticPassphraseProvider(text_of(*auth.passphrase)));
  return promote(std::move(*session), keychain, *user);
}

// A variable's value; none when it is unset. A name that no variable can
// have (holding "=" or a zero character) names none, rather than a
// shorter name or part of another variable's value.
const char* environment_value(const std::string& name) {
  if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string::npos) return nullptr;
  return std::getenv(name.c_str());
}

OpenResult open_with_env(const store::WorkspacePaths& paths, const auth_inner::Env& env) {
  const char* text = environment_value(env.invite);
  if (text && !cord::is_valid_utf8(text)) text = nullptr;
  const char* file = environment_value(env.invite_file);
  if (!text && !file) return identity_error("neither " + env.invite + " nor " + env.invite_file + " is set");
  if (text && file) return identity_error("set only one of " + env.invite + " or " + env.invite_file);
  if (text) {
    const std::string_view value(text);
    return open_with_invite(paths, invite_input::Text{crypto::SecretBytes(value.begin(), value.end())});
  }
  const store::Path path(file);
  auto bytes = store::read_file_bounded(path, frontend::kMaxInviteFileBytes);
  if (!bytes) return identity_error("failed to read " + path.display() + ": " + bytes.error().text);
  const InviteInput input = invite_input::Bytes{crypto::SecretBytes(bytes->begin(), bytes->end())};
  crypto::wipe(bytes->data(), bytes->size());  // it holds the master seed
  *bytes = cord::Bytes();                      // and is not held through the open
  return open_with_invite(paths, input);
}

}  // namespace

store::WorkspacePaths workspace_paths(std::string_view path) {
  auto paths = store::WorkspacePaths::from_vault_path(store::Path(path).join("vault.cord"));
  // Without a current directory a relative path names nothing at all.
  if (auto cwd = store::current_directory()) return paths.anchored_at(*cwd);
  return paths;
}

OpenResult open_session(const store::WorkspacePaths& paths, const AuthInner& auth) {
  return std::visit(core::Overloaded{
                        [&](const auth_inner::Keychain& keychain) { return open_with_keychain(paths, keychain); },
                        [&](const auth_inner::Invite& invite) { return open_with_invite(paths, invite.input); },
                        [&](const auth_inner::Env& env) { return open_with_env(paths, env); },
                    },
                    auth);
}

OpenResult open_with_invite(const store::WorkspacePaths& paths, const InviteInput& input) {
  auto material = std::visit(core::Overloaded{
                                 [](const invite_input::Text& text) {
                                   return frontend::read_invite(text.text(), std::nullopt);
                                 },
                                 [](const invite_input::Bytes& bytes) {
                                   return frontend::decode_invite_bytes(bytes.bytes());
                                 },
                             },
                             input);
  if (!material) return fail(py_err(material.error()));
  // The rest of the material goes to the load, which drops what it no
  // longer needs before it reads the vault.
  const crypto::SecretBytes master_seed = material->master_seed;
  auto session = ops::load_with_invite(paths, kCrypto, std::move(*material));
  if (!session) return fail(py_err(session.error()));
  auto identity = crypto::Identity::from_master_seed(kCrypto, master_seed);
  if (!identity) return fail(py_err(identity.error()));
  auto unlocked = ops::UnlockedSession::with_identity(std::move(*session), kCrypto, std::move(*identity));
  if (!unlocked) return fail(py_err(unlocked.error()));
  return std::move(*unlocked);
}

std::optional<ExceptionDescription> conflict_refusal(const ops::UnlockedSession& session) {
  const std::size_t count = session.state().conflicts.size();
  if (count == 0) return std::nullopt;
  return ExceptionDescription{ExceptionClass::ConflictError,
                              "vault has " + frontend::render::count_noun(count, "unresolved conflict") +
                                  "; resolve them before using the Morvik Python SDK"};
}

}  // namespace morvik::python
