#pragma once

// The bytes of the vault file: a magic text and a zero byte, then the
// canonical encoding of the record set. Only the framing and the two limits
// are checked here; what the records mean is validation's business.

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/records.hpp"
#include "cord/cord.hpp"

namespace morvik::core::validate {

inline constexpr std::string_view kVaultMagic{"morvik-vault\0", 13};
// The whole file, magic included.
inline constexpr std::size_t kMaxVaultFileBytes = 268'435'456;
inline constexpr std::size_t kMaxVaultRecords = 262'144;

// A record set as decoded from a file, with the bytes each record was read
// from, in the set's order: views into the file, which must outlive them.
// Decoding is canonical, so each is exactly the record's encoding.
struct DecodedRecords {
  VaultStore store;
  std::vector<cord::ByteView> encodings;
};

// A failed allocation gives CoreError::OutOfMemory, in both directions.
CoreResult<DecodedRecords> decode_vault_records(cord::ByteView file);
CoreResult<VaultStore> decode_vault(cord::ByteView file);
// Whether the file decodes, with the error decode_vault would give, keeping
// no record.
CoreResult<void> check_vault_file(cord::ByteView file);
// The root records of the file, every other record read and dropped; fails
// exactly where decode_vault fails.
CoreResult<VaultStore> decode_vault_roots(cord::ByteView file);
CoreResult<cord::Bytes> encode_vault(const VaultStore& store);

}  // namespace morvik::core::validate
