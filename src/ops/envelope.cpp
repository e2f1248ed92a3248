#include "ops/envelope.hpp"

#include <algorithm>

#include "cord/cord.hpp"

namespace morvik::ops {
namespace {

bool starts_with(cord::ByteView bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                                                     [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

}  // namespace

OpsResult<crypto::SecretBytes> envelope_plaintext(const core::SecretValueV1& value) {
  const cord::SensitiveEncoding sensitive;
  auto encoding = cord::serialize(value);
  if (!encoding) return fail(std::move(encoding.error()));
  crypto::SecretBytes envelope;
  envelope.reserve(kEnvelopeHeadLength + encoding->size());
  envelope.insert(envelope.end(), kEnvelopeMagic.begin(), kEnvelopeMagic.end());
  envelope.push_back(0);
  envelope.insert(envelope.end(), encoding->begin(), encoding->end());
  // The encoding is as secret as the envelope.
  crypto::wipe(encoding->data(), encoding->size());
  return envelope;
}

OpsResult<EnvelopeContent> classify_plaintext(crypto::SecretBytes plaintext) {
  const cord::ByteView bytes(plaintext);
  if (starts_with(bytes, kEnvelopeMagic) && bytes.size() >= kEnvelopeHeadLength &&
      bytes[kEnvelopeMagic.size()] == 0) {
    auto value = cord::deserialize<core::SecretValueV1>(bytes.subspan(kEnvelopeHeadLength));
    if (!value) return fail(OpsError::InvalidEnvelope{});
    return EnvelopeContent(std::move(*value));
  }
  if (starts_with(bytes, kReservedEnvelopePrefix)) return fail(OpsError::InvalidEnvelope{});
  if (auto value = cord::deserialize<core::SecretValueV1>(bytes)) return EnvelopeContent(std::move(*value));
  return EnvelopeContent(std::move(plaintext));
}

}  // namespace morvik::ops
