#include "crypto/key_wrap.hpp"

#include "core/domain_hash.hpp"

namespace morvik::crypto {
namespace {

CryptoError hpke_failure(hpke::HpkeError error) {
  return CryptoError{CryptoError::Hpke{std::string(hpke::message(error))}};
}

}  // namespace

cord::Bytes hpke_info(cord::ByteView context) {
  cord::Bytes info;
  info.reserve(16 + core::kHpkeInfoLabel.size() + context.size());
  core::append_length_prefixed(info, core::text_bytes(core::kHpkeInfoLabel));
  core::append_length_prefixed(info, context);
  return info;
}

CryptoResult<HpkeSealed> hpke_seal(cord::ByteView recipient_public_key, cord::ByteView context,
                                   cord::ByteView associated_data, cord::ByteView plaintext) {
  if (recipient_public_key.size() != hpke::kPublicKeyLength) return fail(CryptoError{CryptoError::InvalidHpkePublicKey{}});
  auto sealed = hpke::seal_base(recipient_public_key.first<hpke::kPublicKeyLength>(), hpke_info(context),
                                associated_data, plaintext);
  if (!sealed) return fail(hpke_failure(sealed.error()));
  return HpkeSealed{cord::Bytes(sealed->enc.begin(), sealed->enc.end()), std::move(sealed->ciphertext)};
}

CryptoResult<SecretBytes> hpke_open(const hpke::KeyPair& recipient, cord::ByteView encapsulated_key,
                                    cord::ByteView context, cord::ByteView associated_data,
                                    cord::ByteView ciphertext) {
  if (encapsulated_key.size() != hpke::kEncLength) return fail(CryptoError{CryptoError::InvalidHpkeEncapsulatedKey{}});
  auto plaintext = hpke::open_base(encapsulated_key.first<hpke::kEncLength>(), recipient,
                                   hpke_info(context), associated_data, ciphertext);
  if (!plaintext) return fail(hpke_failure(plaintext.error()));
  return std::move(*plaintext);
}

CryptoResult<WrappedContentKey> wrap_content_key(cord::ByteView recipient_public_key, cord::ByteView context,
                                                 cord::ByteView associated_data, const ContentKey& key) {
  auto sealed = hpke_seal(recipient_public_key, context, associated_data, key.bytes());
  if (!sealed) return fail(std::move(sealed.error()));
  return WrappedContentKey{std::move(sealed->encapsulated_key), std::move(sealed->ciphertext)};
}

CryptoResult<ContentKey> unwrap_content_key(const hpke::KeyPair& recipient,
                                            cord::ByteView encapsulated_key, cord::ByteView context,
                                            cord::ByteView associated_data, cord::ByteView wrapped_key) {
  // The opened buffer wipes itself on every path out of here.
  auto opened = hpke_open(recipient, encapsulated_key, context, associated_data, wrapped_key);
  if (!opened) return fail(std::move(opened.error()));
  if (opened->size() != kContentKeyLength) {
    return fail(CryptoError{CryptoError::InvalidLength{kContentKeyLength, opened->size(), "content key"}});
  }
  return ContentKey(std::span<const std::uint8_t, kContentKeyLength>(opened->data(), kContentKeyLength));
}

}  // namespace morvik::crypto
