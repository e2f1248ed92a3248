// Writes a whole workspace from a short description, for the Python suite
// and the quickstart: the system itself never creates vaults, users,
// identities or invitations. The description is one JSON object on standard
// input; users, groups and identities are named by the byte their master
// seed repeats (the same identity in every run).
//
//   dir             where to lay the workspace out (created, left in place):
//                   project/.morvik/vault.cord, state/, keychain/
//   root            the root user's seed (default 1)
//   vault_handle    the vault's handle, shown in passphrase prompts
//   users           [{"seed": 2, "handle": "alice"}]; the handle is optional
//   groups          [{"seed": 100, "handle": "readers", "members": [3]}]
//   grants          [{"seed": 200, "to": 2 or {"group": 100},
//                     "permission": "read" | "write" | "admin",
//                     "prefix": ["app"]}]; no prefix covers every secret
//   conflicts       ["app/x"]: two records of the secret at one counter,
//                   both signed by the root, with different contents
//   identities      [{"seed": 2, "passphrase": "pw"}]: sealed in the keychain
//   current_user    the seed the keychain names for this vault
//   secrets         [{"by": 2, "selector": "app/db", "value": "s3cret",
//                     "fields": {"user": "admin"}}], written through the
//                   write road in order
//   one_commit      true: each run of consecutive secrets by one writer
//                   goes in as one commit, so that large vaults build
//                   quickly; their selectors must then be distinct
//   later_grants    grants as above, added after the secrets, which are
//                   therefore not sealed to their grantees
//   invites         [{"seed": 2, "version": 1 or 2, "baseline": true}]: an
//                   invitation for any seed, a member or not; the baseline
//                   is what a clean first open of the final vault remembers
//   foreign_record  true: adds a record signed by a key no user holds, so
//                   that the vault no longer validates
//   ratchet         false: no ratchet file, as on a machine that never
//                   opened the vault
//   interrupted_copy  {"by": 2, "selector": "app/api", "value": "v"}: a copy
//                   of the final vault at copy/.morvik/vault.cord whose
//                   commit of the value failed as the new vault was about to
//                   replace the copy's file, so that its journal stays
//                   pending for the root (done before "ratchet" is applied)
//
// Printed, as one JSON object: "vault" (the dot-directory to open),
// "project", "env" (the variables to set), "root" (the trusted root in hex),
// "users" (seed to user id in hex, for every seed named), and "invites":
// per invitation its "text" (Bech32m), "text_bech32" (the same payload with
// a Bech32 checksum), "payload" (hex) and "file" (its binary form).
// A failure prints its text on stderr and exits with 1.

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cord/cord.hpp"
#include "frontend/selector.hpp"
#include "ops/session.hpp"
#include "store/write_fault.hpp"
#include "support/core/selectors.hpp"
#include "support/core/vault_factory.hpp"
#include "support/cord/hex.hpp"
#include "support/crypto/json.hpp"
#include "support/frontend/bech32_encoder.hpp"
#include "support/ops/workspace_factory.hpp"

namespace {

using namespace morvik;
using morvik::testing::Json;
using morvik::testing::TestVault;

// Counters of the records added after the workspace was laid out: above
// every counter the write road has used by then.
constexpr std::uint64_t kLaterCounter = 1'000'000;
// Signs the foreign record; no user of any described vault has this seed.
constexpr std::uint8_t kForeignSeed = 0xfe;

std::uint8_t seed_of(const Json& value) { return static_cast<std::uint8_t>(value.integer()); }

bool flag(const Json& description, const std::string& key, bool otherwise) {
  if (!description.contains(key)) return otherwise;
  return std::get<bool>(description[key].value);
}

const Json::Array& list(const Json& description, const std::string& key) {
  static const Json::Array kNone;
  return description.contains(key) ? description[key].array() : kNone;
}

core::SecretSelectorV1 selector_of(const std::string& text) {
  auto selector = frontend::parse_secret_selector(text);
  if (!selector) throw std::invalid_argument(selector.error().message());
  return std::move(*selector);
}

cord::Bytes bytes_of(const std::string& text) { return cord::Bytes(text.begin(), text.end()); }

// "\"...\"" with the characters JSON requires escaped.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\u00";
      out += kDigits[(c >> 4) & 0xf];
      out += kDigits[c & 0xf];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

class Builder {
 public:
  explicit Builder(const Json& description)
      : description_(description),
        vault_(description.contains("root") ? seed_of(description["root"]) : 1),
        root_seed_(description.contains("root") ? seed_of(description["root"]) : 1) {}

  std::string build() {
    compose_vault();
    ops::testing::TestWorkspace workspace(vault_, store::Path(description_["dir"].string()));
    for (const Json& entry : list(description_, "identities")) {
      workspace.add_identity(user(seed_of(entry["seed"])), entry["passphrase"].string());
    }
    if (description_.contains("current_user")) {
      workspace.set_current_user(user(seed_of(description_["current_user"])).user_id);
    }
    write_secrets(workspace, list(description_, "secrets"), flag(description_, "one_commit", false));
    std::vector<core::VaultRecordV1> later;
    for (const Json& entry : list(description_, "later_grants")) later.push_back(grant(entry, kLaterCounter));
    if (!later.empty()) workspace.add_records(later);

    std::vector<std::string> invites;
    for (const Json& entry : list(description_, "invites")) invites.push_back(invite(workspace, entry, invites.size()));
    if (flag(description_, "foreign_record", false)) {
      workspace.add_records({morvik::testing::sign(morvik::testing::identity(kForeignSeed),
                                                   morvik::testing::vault_handle_body("stray", kLaterCounter))});
    }
    if (description_.contains("interrupted_copy")) interrupt_copy(workspace, description_["interrupted_copy"]);
    if (!flag(description_, "ratchet", true)) workspace.remove_ratchet();
    return summary(workspace, invites);
  }

 private:
  // The vault's records, before any secret is written.
  void compose_vault() {
    const auto& root = vault_.root();
    named_.insert(root_seed_);
    if (description_.contains("vault_handle")) {
      vault_.add(root, morvik::testing::vault_handle_body(description_["vault_handle"].string(), 1));
    }
    for (const Json& entry : list(description_, "users")) {
      const auto& added = vault_.add_user(seed_of(entry["seed"]), 1);
      members_.insert(seed_of(entry["seed"]));
      named_.insert(seed_of(entry["seed"]));
      if (entry.contains("handle")) {
        vault_.add(root, morvik::testing::user_handle_body(entry["handle"].string(), added.user_id, 1));
      }
    }
    for (const Json& entry : list(description_, "groups")) {
      const core::IdSeed seed = morvik::testing::id_seed(seed_of(entry["seed"]));
      const core::GroupId group = morvik::testing::group_id_of(seed);
      vault_.add(root, morvik::testing::group_body(seed, entry["handle"].string(), 1));
      for (const Json& member : list(entry, "members")) {
        const core::PrincipalRefV1 principal = morvik::testing::user_ref(user(seed_of(member)));
        vault_.add(root, morvik::testing::group_member_body(group, principal, 1));
      }
    }
    for (const Json& entry : list(description_, "grants")) vault_.add(grant(entry, 1));
    for (const Json& entry : list(description_, "conflicts")) {
      const core::SecretSelectorV1 selector = selector_of(entry.string());
      for (const std::uint8_t content : {0x01, 0x02}) {
        core::SealedPayloadV1 payload = morvik::testing::payload_for({root.user_id});
        cord::Bytes ciphertext(payload.ciphertext);
        ciphertext.front() = content;
        payload.ciphertext = ciphertext;
        vault_.add(root, morvik::testing::secret_body(selector, payload, 1));
      }
    }
  }

  core::VaultRecordV1 grant(const Json& entry, std::uint64_t counter) {
    using namespace morvik::testing;
    const Json& to = entry["to"];
    core::PrincipalRefV1 grantee = std::holds_alternative<Json::Object>(to.value)
                                       ? core::PrincipalRefV1(core::principal_ref::Group{
                                             group_id_of(id_seed(seed_of(to["group"])))})
                                       : user_ref(user(seed_of(to)));
    const core::KeyspaceSelectorV1 keyspace =
        entry.contains("prefix") ? prefix(segments(entry["prefix"])) : any_keyspace();
    const std::string& kind = entry["permission"].string();
    core::GrantPermissionV1 permission = admin_permission();
    if (kind == "read") {
      permission = read_permission(keyspace);
    } else if (kind == "write") {
      permission = write_permission(keyspace);
    } else if (kind != "admin") {
      throw std::invalid_argument("unknown permission " + kind);
    }
    return sign(vault_.root(), grant_body(id_seed(seed_of(entry["seed"])), grantee, permission, counter));
  }

  static morvik::testing::Segments segments(const Json& value) {
    morvik::testing::Segments out;
    for (const Json& segment : value.array()) out.push_back(segment.string());
    return out;
  }

  void write_secrets(const ops::testing::TestWorkspace& workspace, const Json::Array& entries, bool one_commit) {
    for (std::size_t first = 0; first < entries.size();) {
      const std::uint8_t writer = seed_of(entries[first]["by"]);
      std::size_t end = first + 1;
      if (one_commit) {
        while (end < entries.size() && seed_of(entries[end]["by"]) == writer) ++end;
      }
      if (end - first == 1) {
        workspace.set_secret(user(writer), selector_of(entries[first]["selector"].string()), value_of(entries[first]));
      } else {
        std::vector<std::pair<core::SecretSelectorV1, core::SecretValueV1>> secrets;
        for (std::size_t i = first; i < end; ++i) {
          secrets.emplace_back(selector_of(entries[i]["selector"].string()), value_of(entries[i]));
        }
        workspace.set_secrets(user(writer), secrets);
      }
      first = end;
    }
  }

  static core::SecretValueV1 value_of(const Json& entry) {
    auto value = core::SecretValueV1::from_primary(bytes_of(entry["value"].string()));
    if (entry.contains("fields")) {
      for (const auto& [name, field] : std::get<Json::Object>(entry["fields"].value)) {
        value.fields.insert(core::SecretFieldEntryV1{name, crypto::SecretBytes(field.string().begin(), field.string().end())});
      }
    }
    return value;
  }

  void interrupt_copy(const ops::testing::TestWorkspace& workspace, const Json& entry) {
    const auto copy = store::WorkspacePaths::from_vault_path(
        workspace.dir().join("copy").join(".morvik").join("vault.cord"));
    std::filesystem::create_directories(copy.morvik_dir.bytes());
    std::filesystem::copy_file(workspace.paths().vault_path.bytes(), copy.vault_path.bytes());
    auto session = ops::LockedSession::load(copy, morvik::testing::kCrypto);
    if (!session) throw std::runtime_error(session.error().message());
    auto identity = crypto::Identity::from_master_seed(morvik::testing::kCrypto,
                                                       user(seed_of(entry["by"])).master_seed);
    if (!identity) throw std::runtime_error(identity.error().message());
    auto unlocked =
        ops::UnlockedSession::with_identity(std::move(*session), morvik::testing::kCrypto, std::move(*identity));
    if (!unlocked) throw std::runtime_error(unlocked.error().message());
    const store::ScopedWriteFault interrupted([&](store::WriteStep step, const store::Path& path) {
      return step == store::WriteStep::Replace && path == copy.vault_path ? EIO : 0;
    });
    auto written = unlocked->set_secret(morvik::testing::kCrypto, selector_of(entry["selector"].string()),
                                        bytes_of(entry["value"].string()));
    if (written) throw std::logic_error("the copy's commit was not interrupted");
  }

  std::string invite(const ops::testing::TestWorkspace& workspace, const Json& entry, std::size_t index) {
    const auto version = entry["version"].integer() == 1 ? ops::testing::InviteVersion::V1
                                                          : ops::testing::InviteVersion::V2;
    std::optional<std::vector<core::RatchetRecordV1>> baseline;
    if (flag(entry, "baseline", true)) baseline = workspace.baseline();
    const core::Invite invite = workspace.invite(user(seed_of(entry["seed"])), version, std::move(baseline));
    const cord::Bytes payload = cord::serialize(invite).value();
    const store::Path file = workspace.dir().join("invite-" + std::to_string(index) + ".cord");
    const cord::Bytes binary = ops::testing::invite_file(invite);
    std::ofstream(file.bytes(), std::ios::binary).write(reinterpret_cast<const char*>(binary.data()),
                                                       static_cast<std::streamsize>(binary.size()));
    return "{\"text\": " + quoted(frontend::testing::invite_text(payload)) +
           ", \"text_bech32\": " + quoted(frontend::testing::invite_text(payload, frontend::bech32::Checksum::Bech32)) +
           ", \"payload\": " + quoted(morvik::testing::to_hex(payload)) + ", \"file\": " + quoted(file.bytes()) + "}";
  }

  // A vault member, or the identity of any other seed.
  const crypto::Identity& user(std::uint8_t seed) {
    named_.insert(seed);
    if (seed == root_seed_) return vault_.root();
    if (members_.contains(seed)) return vault_.user(seed);
    return others_.try_emplace(seed, morvik::testing::identity(seed)).first->second;
  }

  std::string summary(const ops::testing::TestWorkspace& workspace, const std::vector<std::string>& invites) {
    std::string env;
    for (const auto& [name, value] : workspace.environment()) {
      env += (env.empty() ? "" : ", ") + quoted(name) + ": " + quoted(value);
    }
    std::string users;
    for (const std::uint8_t seed : named_) {
      users += (users.empty() ? "" : ", ") + quoted(std::to_string(seed)) + ": " +
               quoted(morvik::testing::to_hex(user(seed).user_id.hash.bytes));
    }
    std::string invite_list;
    for (const std::string& invite : invites) invite_list += (invite_list.empty() ? "" : ", ") + invite;
    return "{\"vault\": " + quoted(workspace.paths().morvik_dir.bytes()) +
           ", \"project\": " + quoted(workspace.paths().root.bytes()) + ", \"env\": {" + env + "}" +
           ", \"root\": " + quoted(morvik::testing::to_hex(workspace.trusted_root().bytes)) + ", \"users\": {" +
           users + "}, \"invites\": [" + invite_list + "]}";
  }

  const Json& description_;
  TestVault vault_;
  std::uint8_t root_seed_;
  std::set<std::uint8_t> members_;
  std::map<std::uint8_t, crypto::Identity> others_;
  // Every seed the description names, for the summary.
  std::set<std::uint8_t> named_;
};

}  // namespace

int main() {
  try {
    const std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    const Json description = morvik::testing::parse_json(text);
    std::cout << Builder(description).build() << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
