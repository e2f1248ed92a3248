#pragma once

// Why and for whom an identity is unlocked, and the prompt that says so.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/hash_value.hpp"
#include "core/ids.hpp"
#include "core/selectors.hpp"
#include "store/path.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::keychain {

// Where a revealed secret goes.
namespace output_sink {
struct Stdout {};
struct File {
  store::Path path;
};
struct Clipboard {};
struct ChildProcess {
  std::vector<std::string> command;
};
struct SdkCaller {
  std::string name;
};
struct Custom {
  std::string text;
};
}  // namespace output_sink
using OutputSink = std::variant<output_sink::Stdout, output_sink::File, output_sink::Clipboard,
                                output_sink::ChildProcess, output_sink::SdkCaller, output_sink::Custom>;

// The reason an identity is wanted, shown to the person asked to unlock it.
namespace key_use_purpose {
struct Reveal {
  core::SecretSelectorV1 selector;
  OutputSink sink;
};
struct Run {
  std::vector<std::string> selectors;
  std::vector<std::string> command;
};
struct Set {
  core::SecretSelectorV1 selector;
};
struct Move {
  core::SecretSelectorV1 from;
  core::SecretSelectorV1 to;
};
struct Delete {
  core::SecretSelectorV1 selector;
};
struct Custom {
  std::string text;
};
struct StoreIdentity {};
struct VerifyAndInspect {};
}  // namespace key_use_purpose
using KeyUsePurpose =
    std::variant<key_use_purpose::Reveal, key_use_purpose::Run, key_use_purpose::Set, key_use_purpose::Move,
                 key_use_purpose::Delete, key_use_purpose::Custom, key_use_purpose::StoreIdentity,
                 key_use_purpose::VerifyAndInspect>;

struct KeychainRequest {
  store::Path workspace_root;
  store::Path vault_path;
  core::HashValue root;
  core::UserId user;
  std::optional<std::string> vault_label;
  std::optional<std::string> user_label;
  KeyUsePurpose purpose;

  // A request without labels.
  static KeychainRequest create(const store::WorkspacePaths& paths, core::HashValue root, core::UserId user,
                                KeyUsePurpose purpose);
  // The same request with both labels replaced; an absent one clears its label.
  KeychainRequest with_labels(std::optional<std::string> vault, std::optional<std::string> user) &&;
};

// "app/db{env=prod,region=eu}", "<root>" without segments; nothing quoted.
std::string selector_for_prompt(const core::SecretSelectorV1& selector);
std::string sink_text(const OutputSink& sink);
std::string purpose_text(const KeyUsePurpose& purpose);
std::string user_for_prompt(const KeychainRequest& request);
std::string vault_for_prompt(const KeychainRequest& request);
// Unlock Morvik keychain for user "{user}" in project "{vault}" to {purpose}: 
// with the user and vault texts in their quoted form and the purpose text's
// control characters escaped the same way.
std::string passphrase_prompt(const KeychainRequest& request);

}  // namespace morvik::keychain
