#include "keychain/argon2id.hpp"

#include <argon2.h>

namespace morvik::keychain {

namespace {

// libargon2 takes mutable pointers for inputs it only reads.
std::uint8_t* input_pointer(std::span<const std::uint8_t> bytes) { return const_cast<std::uint8_t*>(bytes.data()); }

}  // namespace

std::expected<void, std::string> argon2id(std::span<std::uint8_t> out, const Argon2idInput& input) {
  argon2_context context{};
  context.out = out.data();
  context.outlen = static_cast<std::uint32_t>(out.size());
  context.pwd = input_pointer(input.password);
  context.pwdlen = static_cast<std::uint32_t>(input.password.size());
  context.salt = input_pointer(input.salt);
  context.saltlen = static_cast<std::uint32_t>(input.salt.size());
  context.secret = input_pointer(input.secret);
  context.secretlen = static_cast<std::uint32_t>(input.secret.size());
  context.ad = input_pointer(input.associated_data);
  context.adlen = static_cast<std::uint32_t>(input.associated_data.size());
  context.t_cost = input.cost.iterations;
  context.m_cost = input.cost.memory_kib;
  context.lanes = input.cost.lanes;
  // The lane count shapes the result; the thread count does not. One thread
  // keeps the whole computation on the caller's thread.
  context.threads = 1;
  context.version = ARGON2_VERSION_13;
  context.flags = ARGON2_DEFAULT_FLAGS;
  const int rc = argon2_ctx(&context, Argon2_id);
  if (rc != ARGON2_OK) return std::unexpected(std::string(argon2_error_message(rc)));
  return {};
}

}  // namespace morvik::keychain
