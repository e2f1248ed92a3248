#include "core/signed_message.hpp"

namespace morvik::core {

CoreResult<cord::Bytes> signed_record_message(const VaultRecordV1& record) {
  auto message = cord::serialize(record.body);
  if (!message) return fail(CoreError::cord(std::move(message.error())));
  return std::move(*message);
}

}  // namespace morvik::core
