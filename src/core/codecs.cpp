// The codecs of the record model, compiled here once instead of in every
// file that reads or writes records.

#include "core/invitations.hpp"
#include "core/payloads.hpp"
#include "core/ratchet_records.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"
#include "cord/recently_decoded.hpp"

MORVIK_CORD_DEFINE_CODEC(morvik::core::SecretSelectorV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::KeyspaceSelectorV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::GrantPermissionV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::RatchetRecordV1)
MORVIK_CORD_DEFINE_CODEC(morvik::cord::Evolving<morvik::core::RatchetRecordV1>)
MORVIK_CORD_DEFINE_CODEC(morvik::core::SealedPayloadV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::SecretValueV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::Invite)
MORVIK_CORD_DEFINE_CODEC(morvik::core::RecordBodyV1)
MORVIK_CORD_DEFINE_CODEC(morvik::cord::Evolving<morvik::core::RecordBodyV1>)

morvik::cord::Status morvik::cord::Codec<morvik::core::VaultRecordV1>::write(CordSerializer s,
                                                                          const morvik::core::VaultRecordV1& v) {
  return DefaultCodec<morvik::core::VaultRecordV1>::write(s, v);
}

// Nearly every record of a vault is signed by one of a few keys: decoded,
// each key is held once however many records it signs.
morvik::cord::Result<morvik::core::VaultRecordV1> morvik::cord::Codec<morvik::core::VaultRecordV1>::read(
    CordDeserializer& d) {
  auto record = DefaultCodec<morvik::core::VaultRecordV1>::read(d);
  if (record) {
    thread_local RecentlyDecoded signing_keys;
    record->signing_public_key = signing_keys.share(std::move(record->signing_public_key));
  }
  return record;
}

MORVIK_CORD_DEFINE_CODEC(morvik::core::VaultStore)
