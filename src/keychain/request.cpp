#include "keychain/request.hpp"

#include "core/overloaded.hpp"
#include "core/quoted_form.hpp"
#include "store/workspace_paths.hpp"

namespace morvik::keychain {

namespace {

using core::Overloaded;

template <class Part>
std::string join(const std::vector<Part>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

std::string command_text(const std::vector<std::string>& command) {
  return command.empty() ? "<empty command>" : join(command, " ");
}

std::string selectors_text(const std::vector<std::string>& selectors) {
  if (selectors.empty()) return "no selectors";
  if (selectors.size() == 1) return selectors.front();
  return std::to_string(selectors.size()) + " selectors";
}

std::string short_hex(const core::HashValue& id) { return store::hex_hash(id.bytes).substr(0, 8); }

bool present(const std::optional<std::string>& label) { return label && !label->empty(); }

bool is_valid_utf8(std::string_view text) { return store::lossy_utf8(text) == text; }

}  // namespace

KeychainRequest KeychainRequest::create(const store::WorkspacePaths& paths, core::HashValue root, core::UserId user,
                                        KeyUsePurpose purpose) {
  return KeychainRequest{paths.root, paths.vault_path, std::move(root), std::move(user), std::nullopt, std::nullopt,
                         std::move(purpose)};
}

KeychainRequest KeychainRequest::with_labels(std::optional<std::string> vault, std::optional<std::string> user) && {
  vault_label = std::move(vault);
  user_label = std::move(user);
  return std::move(*this);
}

std::string selector_for_prompt(const core::SecretSelectorV1& selector) {
  std::string out = selector.tuple.empty() ? "<root>" : join(selector.tuple, "/");
  if (!selector.labels.empty()) {
    std::vector<std::string> labels;
    for (const auto& label : selector.labels) labels.push_back(label.key.str() + "=" + label.value.str());
    out += "{" + join(labels, ",") + "}";
  }
  return out;
}

std::string sink_text(const OutputSink& sink) {
  return std::visit(Overloaded{
                        [](const output_sink::Stdout&) { return std::string("stdout"); },
                        [](const output_sink::File& f) { return "file " + f.path.display(); },
                        [](const output_sink::Clipboard&) { return std::string("clipboard"); },
                        [](const output_sink::ChildProcess& c) { return "child process " + command_text(c.command); },
                        [](const output_sink::SdkCaller& s) { return "SDK caller " + s.name; },
                        [](const output_sink::Custom& c) { return c.text; },
                    },
                    sink);
}

std::string purpose_text(const KeyUsePurpose& purpose) {
  namespace p = key_use_purpose;
  return std::visit(
      Overloaded{
          [](const p::Reveal& r) { return "reveal " + selector_for_prompt(r.selector) + " to " + sink_text(r.sink); },
          [](const p::Run& r) { return "run " + command_text(r.command) + " with " + selectors_text(r.selectors); },
          [](const p::Set& s) { return "set " + selector_for_prompt(s.selector); },
          [](const p::Move& m) { return "move " + selector_for_prompt(m.from) + " to " + selector_for_prompt(m.to); },
          [](const p::Delete& d) { return "delete " + selector_for_prompt(d.selector); },
          [](const p::Custom& c) { return c.text; },
          [](const p::StoreIdentity&) { return std::string("store this identity"); },
          [](const p::VerifyAndInspect&) { return std::string("verify and inspect the vault"); },
      },
      purpose);
}

std::string user_for_prompt(const KeychainRequest& request) {
  if (present(request.user_label)) return *request.user_label;
  if (std::holds_alternative<key_use_purpose::StoreIdentity>(request.purpose)) return "this identity";
  return short_hex(request.user.hash);
}

std::string vault_for_prompt(const KeychainRequest& request) {
  if (present(request.vault_label)) return *request.vault_label;
  if (std::holds_alternative<key_use_purpose::StoreIdentity>(request.purpose)) {
    const auto name = request.workspace_root.final_name();
    if (name && !name->empty() && is_valid_utf8(*name)) return std::string(*name);
  }
  return short_hex(request.root);
}

std::string passphrase_prompt(const KeychainRequest& request) {
  // Labels, selectors and paths may come from a crafted vault or workspace:
  // written raw, their control characters could make the terminal show
  // another prompt than this one.
  return "Unlock Morvik keychain for user " + core::quoted_form(user_for_prompt(request)) + " in project " +
         core::quoted_form(vault_for_prompt(request)) + " to " + core::printable_form(purpose_text(request.purpose)) +
         ": ";
}

}  // namespace morvik::keychain
