#pragma once

#include <string_view>

#include "core/hash_value.hpp"
#include "cord/wire.hpp"

namespace morvik::core {

// Every purpose label of a hash or signature, in one place. Changing any of
// them changes every identifier, signature and file that depends on it.
inline constexpr std::string_view kHashLabel = "morvik.hash.v1";
inline constexpr std::string_view kSignatureLabel = "morvik.signature.v1";
inline constexpr std::string_view kUserIdLabel = "morvik.user.v1";
inline constexpr std::string_view kKeyHashLabel = "morvik.key.v1";
inline constexpr std::string_view kUserHandleLabel = "morvik.handle.v1";
inline constexpr std::string_view kVaultHandleLabel = "morvik.vault-handle.v1";
inline constexpr std::string_view kGroupMemberLabel = "morvik.group-member.v1";
inline constexpr std::string_view kSecretIdLabel = "morvik.secret.v1";
inline constexpr std::string_view kGroupIdLabel = "morvik.group.v1";
inline constexpr std::string_view kGrantIdLabel = "morvik.grant.v1";
inline constexpr std::string_view kRecordHashLabel = "morvik.record-hash.v1";
inline constexpr std::string_view kTransactionFileLabel = "morvik.transaction-file.v1";
inline constexpr std::string_view kJoinCommitLabel = "morvik.join-commit.v1";
inline constexpr std::string_view kSignedRecordLabel = "morvik.signed.v1";
inline constexpr std::string_view kVerificationCacheLabel = "morvik.verification-cache.v1";
// Used as raw bytes, without length prefixes.
inline constexpr std::string_view kHpkeInfoLabel = "morvik.hpke-info.v1";
inline constexpr std::string_view kIdentitySalt = "morvik.identity.v1";
inline constexpr std::string_view kIdentityEd25519Info = "morvik.identity.v1.ed25519";
inline constexpr std::string_view kIdentityX25519Info = "morvik.identity.v1.x25519";

// The bytes of a label or other text, as the primitives take them.
cord::ByteView text_bytes(std::string_view text);

// Appends be64(|piece|), then the piece: how every variable part of a hash
// input, signature transcript or HPKE info string is framed.
void append_length_prefixed(cord::Bytes& out, cord::ByteView piece);

// SHA-256 over be64(14) "morvik.hash.v1", be64(|domain|) domain,
// be64(|data|) data, streamed without building the concatenation.
HashValue domain_hash(std::string_view domain, cord::ByteView data);

// The bytes Ed25519 signs: be64(19) "morvik.signature.v1", be64(|domain|)
// domain, be64(|message|) message.
cord::Bytes signature_transcript(std::string_view domain, cord::ByteView message);
// What the transcript puts before the message.
std::size_t signature_transcript_head_size(std::string_view domain);
// The same made of the message's own buffer, which takes the head in place
// when it has room for it: a message of megabytes is not held twice.
cord::Bytes signature_transcript(std::string_view domain, cord::Bytes&& message);

}  // namespace morvik::core
