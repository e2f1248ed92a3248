#include "core/ratchet/ratchet.hpp"

#include <algorithm>

namespace morvik::core::ratchet {
namespace {

std::uint64_t counter_of(const RatchetRecordV1& record) {
  return std::visit([](const auto& r) -> std::uint64_t {
    if constexpr (requires { r.counter; }) {
      return r.counter;
    } else {
      return 0;
    }
  }, record);
}

void raise(std::uint64_t& held, std::uint64_t counter) { held = std::max(held, counter); }
// The first origin remembered stays.
void keep(KeyOrigin&, const KeyOrigin&) {}

}  // namespace

void Ratchet::apply_update(const RatchetUpdate& update) {
  watermarks.absorb(update.watermarks, raise);
  origins.absorb(update.origins, keep);
  if (update.format_version) format_version = std::max(format_version, *update.format_version);
}

void Ratchet::absorb_record(const RatchetRecordV1& record) {
  const RatchetRecordV1* one = &record;
  absorb_records(std::span(&one, 1));
}

void Ratchet::absorb_records(std::span<const RatchetRecordV1* const> records) {
  RecordFold fold(records.size());
  for (const RatchetRecordV1* record : records) fold.add(*record);
  std::move(fold).into(*this);
}

RecordFold::RecordFold(std::size_t expected) {
  counters_.reserve(expected);
  origins_.reserve(expected);
}

void RecordFold::add(RatchetRecordV1 record) {
  if (const auto* version = std::get_if<ratchet_record::FormatVersion>(&record)) {
    format_version_ = std::max(format_version_.value_or(0), version->value);
    return;
  }
  const std::uint64_t counter = counter_of(record);
  // The origin and the identifier are fields of their own: each is moved
  // out without touching the other.
  auto origin = ratchet_record_origin(std::move(record));
  auto key = ratchet_record_key(std::move(record));
  if (!key) return;
  if (origin) origins_.emplace_back(*key, std::move(*origin));
  counters_.emplace_back(std::move(*key), counter);
}

void RecordFold::into(Ratchet& ratchet) && {
  if (format_version_) ratchet.format_version = std::max(ratchet.format_version, *format_version_);
  ratchet.watermarks.absorb(std::move(counters_), raise);
  ratchet.origins.absorb(std::move(origins_), keep);
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
