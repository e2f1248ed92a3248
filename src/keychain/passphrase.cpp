#include "keychain/passphrase.hpp"

#include "keychain/terminal.hpp"

namespace morvik::keychain {

KeychainResult<Passphrase> StdinPassphraseProvider::request_passphrase(const KeychainRequest& request) const {
  auto line = read_line_without_echo(passphrase_prompt(request));
  if (!line) return fail(KeychainError::PassphraseProvider{std::move(line.error())});
  return std::move(*line);
}

}  // namespace morvik::keychain
