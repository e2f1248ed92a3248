#include "core/ratchet/ratchet.hpp"

#include <algorithm>

namespace morvik::core::ratchet {
namespace {

void raise(std::map<RecordKey, std::uint64_t>& watermarks, const RecordKey& key, std::uint64_t counter) {
  auto [it, inserted] = watermarks.try_emplace(key, counter);
  if (!inserted) it->second = std::max(it->second, counter);
}

}  // namespace

void Ratchet::apply_update(const RatchetUpdate& update) {
  for (const auto& [key, counter] : update.watermarks) raise(watermarks, key, counter);
  for (const auto& [key, origin] : update.origins) origins.try_emplace(key, origin);
  if (update.format_version) format_version = std::max(format_version, *update.format_version);
}

void Ratchet::absorb_record(const RatchetRecordV1& record) {
  if (const auto* version = std::get_if<ratchet_record::FormatVersion>(&record)) {
    format_version = std::max(format_version, version->value);
    return;
  }
  auto key = ratchet_record_key(record);
  if (!key) return;  // TrustedRoot: the ratchet's root is fixed when it is made.
  raise(watermarks, *key, std::visit([](const auto& r) -> std::uint64_t {
          if constexpr (requires { r.counter; }) {
            return r.counter;
          } else {
            return 0;
          }
        }, record));
  if (auto origin = ratchet_record_origin(record)) origins.try_emplace(std::move(*key), std::move(*origin));
}

std::vector<RatchetRecordV1> Ratchet::to_records() const {
  std::vector<RatchetRecordV1> out;
  out.reserve(watermarks.size() + 2);
  for (const auto& [key, counter] : watermarks) {
    auto origin = origins.find(key);
    auto record = ratchet_record_for_key(key, counter, origin == origins.end() ? nullptr : &origin->second);
    if (record) out.push_back(std::move(*record));
  }
  if (format_version != 0) out.push_back(ratchet_record::FormatVersion{format_version});
  out.push_back(TrustedRootRatchetRecordV1{trusted_root});
  return out;
}

}  // namespace morvik::core::ratchet
