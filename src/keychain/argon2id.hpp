#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace morvik::keychain {

struct Argon2idCost {
  std::uint32_t memory_kib;
  std::uint32_t iterations;
  std::uint32_t lanes;
};

struct Argon2idInput {
  std::span<const std::uint8_t> password;
  std::span<const std::uint8_t> salt;
  std::span<const std::uint8_t> secret;
  std::span<const std::uint8_t> associated_data;
  Argon2idCost cost;
};

// Argon2id, version 0x13, writing a tag of out.size() bytes. All lanes are
// computed on the calling thread: this code runs inside the caller's
// interpreter and must not start threads. Fails with the library's text.
std::expected<void, std::string> argon2id(std::span<std::uint8_t> out, const Argon2idInput& input);

}  // namespace morvik::keychain
