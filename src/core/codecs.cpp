// The codecs of the record model, compiled here once instead of in every
// file that reads or writes records.

#include "core/invitations.hpp"
#include "core/payloads.hpp"
#include "core/ratchet_records.hpp"
#include "core/records.hpp"
#include "core/selectors.hpp"

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
MORVIK_CORD_DEFINE_CODEC(morvik::core::VaultRecordV1)
MORVIK_CORD_DEFINE_CODEC(morvik::core::VaultStore)
