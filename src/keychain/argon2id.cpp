#include "keychain/argon2id.hpp"

#include <argon2.h>

#include <cstdint>

namespace morvik::keychain {

namespace {

// libargon2 takes mutable pointers for inputs it only reads.
std::uint8_t* input_pointer(std::span<const std::uint8_t> bytes) { return const_cast<std::uint8_t*>(bytes.data()); }

// The library takes 32-bit lengths; a longer input must be refused, not cut.
bool fits(std::span<const std::uint8_t> bytes) { return bytes.size() <= UINT32_MAX; }

std::unexpected<std::string> library_error(int rc) { return std::unexpected(std::string(argon2_error_message(rc))); }

}  // namespace

std::expected<void, std::string> argon2id(std::span<std::uint8_t> out, const Argon2idInput& input) {
  if (!fits(out)) return library_error(ARGON2_OUTPUT_TOO_LONG);
  if (!fits(input.password)) return library_error(ARGON2_PWD_TOO_LONG);
  if (!fits(input.salt)) return library_error(ARGON2_SALT_TOO_LONG);
  if (!fits(input.secret)) return library_error(ARGON2_SECRET_TOO_LONG);
  if (!fits(input.associated_data)) return library_error(ARGON2_AD_TOO_LONG);
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
  if (rc != ARGON2_OK) return library_error(rc);
  return {};
}

}  // namespace morvik::keychain
