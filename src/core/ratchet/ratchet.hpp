#pragma once

// The rollback-protection state of one trusted root: what a client has
// already accepted, so that an older copy of the vault is recognised even
// though every record in it is still validly signed. It only ever grows.

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <ranges>
#include <span>
#include <vector>

#include "core/hash_value.hpp"
#include "core/key_origin.hpp"
#include "core/ratchet/keyed_table.hpp"
#include "core/ratchet_records.hpp"
#include "core/record_key.hpp"

namespace morvik::core::ratchet {

// A stored ratchet record of a kind this version cannot decode: carried as
// its bytes so that writing the ratchet back loses nothing.
struct UnknownRatchetRecord {
  cord::Bytes bytes;
  bool operator==(const UnknownRatchetRecord&) const = default;
};

// What one validation asks the ratchet to remember.
struct RatchetUpdate {
  std::optional<std::uint64_t> format_version;
  std::map<RecordKey, std::uint64_t> watermarks;
  std::map<RecordKey, KeyOrigin> origins;

  bool operator==(const RatchetUpdate&) const = default;
};

struct Ratchet;

// Stored records taken one at a time, as a file is read, and folded into a
// ratchet at once: one ordering and merge rather than an insertion per
// record, and nothing of a record kept but its slot, counter and origin.
class RecordFold {
 public:
  // Room for `expected` records: nearly every record a file holds is a
  // secret's, with an origin, and growing would hold two blocks at once.
  explicit RecordFold(std::size_t expected);
  // A TrustedRoot record changes nothing: a ratchet's root is fixed when it
  // is made.
  void add(RatchetRecordV1 record);
  // As Ratchet::absorb_record of each record added, in the order added.
  void into(Ratchet& ratchet) &&;

 private:
  std::optional<std::uint64_t> format_version_;
  std::vector<std::pair<RecordKey, std::uint64_t>> counters_;
  std::vector<std::pair<RecordKey, KeyOrigin>> origins_;
};

struct Ratchet {
  HashValue trusted_root;
  KeyedTable<std::uint64_t> watermarks;
  // The first origin ever remembered for a slot stays.
  KeyedTable<KeyOrigin> origins;
  // 0 until a format version has been seen.
  std::uint64_t format_version = 0;
  std::vector<UnknownRatchetRecord> unknown;

  explicit Ratchet(HashValue root) : trusted_root(std::move(root)) {}

  // Raises watermarks and the format version to the larger value and adds
  // origins only where a slot has none.
  void apply_update(const RatchetUpdate& update);
  // Folds in one stored record; a TrustedRoot record changes nothing.
  void absorb_record(const RatchetRecordV1& record);
  // Folds in stored records as absorb_record does one by one, in whatever
  // order they come.
  void absorb_records(std::span<const RatchetRecordV1* const> records);
  template <class Records>
    requires std::same_as<std::ranges::range_value_t<Records>, RatchetRecordV1>
  void absorb_records(const Records& records) {
    std::vector<const RatchetRecordV1*> each;
    each.reserve(std::ranges::size(records));
    for (const RatchetRecordV1& record : records) each.push_back(&record);
    absorb_records(each);
  }
  // One record per watermark (none for the root's slot) in key order, then
  // the format version when one was seen, then the trusted root, always last.
  // Carried unknown records are not included.
  std::vector<RatchetRecordV1> to_records() const;

  bool operator==(const Ratchet&) const = default;
};

}  // namespace morvik::core::ratchet
