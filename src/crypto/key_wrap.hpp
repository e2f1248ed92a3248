#pragma once

// Sealing content keys to readers with HPKE. The context goes into the info
// string, so a key wrapped for one recipient slot opens for no other.

#include "cord/wire.hpp"
#include "crypto/content.hpp"
#include "crypto/errors.hpp"
#include "crypto/hpke.hpp"
#include "crypto/secret.hpp"

namespace morvik::crypto {

// be64(19) "morvik.hpke-info.v1" be64(|context|) context.
cord::Bytes hpke_info(cord::ByteView context);

struct HpkeSealed {
  cord::Bytes encapsulated_key;  // 32 bytes
  cord::Bytes ciphertext;        // plaintext + 16 bytes
};

CryptoResult<HpkeSealed> hpke_seal(cord::ByteView recipient_public_key, cord::ByteView context,
                                   cord::ByteView associated_data, cord::ByteView plaintext);

CryptoResult<SecretBytes> hpke_open(const hpke::KeyPair& recipient, cord::ByteView encapsulated_key,
                                    cord::ByteView context, cord::ByteView associated_data,
                                    cord::ByteView ciphertext);

struct WrappedContentKey {
  cord::Bytes encapsulated_key;  // 32 bytes
  cord::Bytes wrapped_key;       // 48 bytes
};

CryptoResult<WrappedContentKey> wrap_content_key(cord::ByteView recipient_public_key, cord::ByteView context,
                                                 cord::ByteView associated_data, const ContentKey& key);

CryptoResult<ContentKey> unwrap_content_key(const hpke::KeyPair& recipient,
                                            cord::ByteView encapsulated_key, cord::ByteView context,
                                            cord::ByteView associated_data, cord::ByteView wrapped_key);

}  // namespace morvik::crypto
