#pragma once

// The bytes of the vault file: a magic text and a zero byte, then the
// canonical encoding of the record set. Only the framing and the two limits
// are checked here; what the records mean is validation's business.

#include <cstddef>
#include <memory>
#include <string_view>

#include "core/errors.hpp"
#include "core/records.hpp"
#include "core/vault_file/record_set.hpp"
#include "cord/cord.hpp"

namespace morvik::core::validate {

inline constexpr std::string_view kVaultMagic{"morvik-vault\0", 13};
// The whole file, magic included.
inline constexpr std::size_t kMaxVaultFileBytes = 268'435'456;
inline constexpr std::size_t kMaxVaultRecords = 262'144;

// A vault file written from a record set, and the same set with every
// encoding a view into that file.
struct EncodedVault {
  std::shared_ptr<const cord::Bytes> bytes;
  RecordSet records;
};

// A failed allocation gives CoreError::OutOfMemory, in every direction.
// The record set of a file, each record keeping the bytes it was read from
// (decoding is canonical, so they are exactly its encoding) as a view into
// the file, which the set shares. No record hash is computed.
CoreResult<RecordSet> decode_vault_records(cord::Bytes file);
CoreResult<VaultStore> decode_vault(cord::ByteView file);
// Whether the file decodes, with the error decode_vault would give, keeping
// no record.
CoreResult<void> check_vault_file(cord::ByteView file);
// The root records of the file, every other record read and dropped; fails
// exactly where decode_vault fails.
CoreResult<VaultStore> decode_vault_roots(cord::ByteView file);
CoreResult<cord::Bytes> encode_vault(const VaultStore& store);
// The bytes encode_vault gives for the same records, and errors where it
// does: the records read from the set's file are copied as they stand, and
// only those added since are placed among them, by their encodings.
CoreResult<EncodedVault> encode_vault_records(const RecordSet& records);

}  // namespace morvik::core::validate
