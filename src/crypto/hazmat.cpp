#include "crypto/hazmat.hpp"

namespace morvik::core::hazmat {

std::string HazmatError::message() const {
  if (const auto* core = std::get_if<Core>(&value)) return "core error: " + core->error.message();
  return "signer identity does not match signing public key";
}

void append_record(VaultStore& store, VaultRecordV1 record) { vault_records(store).insert(std::move(record)); }

}  // namespace morvik::core::hazmat
