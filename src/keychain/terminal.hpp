#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "crypto/secret.hpp"

namespace morvik::keychain {

// Writes `prompt` to the controlling terminal and reads one line back in
// non-canonical mode with echo and signal characters off, restoring the
// terminal's settings on every way out. The terminal's own erase and kill
// keys still edit the line and its interrupt key abandons it, as at any
// password prompt. Returns the line without its terminator, or the text of
// the I/O error that stopped it (no controlling terminal, end of input, ...).
std::expected<crypto::SecretBytes, std::string> read_line_without_echo(std::string_view prompt);

}  // namespace morvik::keychain
