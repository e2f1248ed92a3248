#include "core/records.hpp"

namespace morvik::core {

std::optional<std::uint64_t> body_counter(const RecordBodyV1& body) {
  return std::visit(
      [](const auto& record) -> std::optional<std::uint64_t> {
        if constexpr (std::is_same_v<std::decay_t<decltype(record)>, VaultRootRecordV1>) {
          return std::nullopt;
        } else {
          return record.counter;
        }
      },
      body);
}

}  // namespace morvik::core
