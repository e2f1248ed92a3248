#pragma once

// A vault's record set as sessions hold it and validation reads it: each
// record shared with the states validated from it, beside the bytes it is
// encoded as and, once computed, its record hash. Records read from a vault
// file keep views into that one file buffer rather than copies; the
// encodings of records added since are held by the set until it is written
// to a file of its own. So validating the set hashes and checks those bytes,
// and the file after a write is the old file with the added records spliced
// in, without anything being encoded again.

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "core/domain_hash.hpp"
#include "core/errors.hpp"
#include "core/hash_value.hpp"
#include "core/provider.hpp"
#include "core/records.hpp"
#include "cord/cord.hpp"

namespace morvik::core::validate {

using RecordDigest = std::array<std::uint8_t, 32>;

struct HeldRecord {
  std::shared_ptr<const VaultRecordV1> record;
  // The record's canonical encoding.
  cord::ByteView encoding;
};

class RecordSet {
 public:
  RecordSet() = default;

  // The records of a vault file in the set's order, with the bytes each was
  // read from. `records` is what decoding `file` gave, `encodings` the views
  // into `file` in the same order.
  RecordSet(std::shared_ptr<const cord::Bytes> file, std::shared_ptr<const VaultStore> records,
            std::span<const cord::ByteView> encodings);

  // Records built in memory, each encoded once here.
  static CoreResult<RecordSet> of(const VaultStore& store);

  // The same records with their encodings as views into `file`, a vault
  // file whose elements are exactly this set's encodings in `wire_order`.
  RecordSet read_from(std::shared_ptr<const cord::Bytes> file, std::span<const std::size_t> wire_order) const;

  // Adds a record with its canonical encoding and record hash at its place
  // in the set's order. A record equal to one already held is dropped, and
  // the set stays as it was; returns whether it was held.
  bool append_record(VaultRecordV1 record, cord::Bytes encoding, const HashValue& hash);

  // Computes every record hash not yet known. A failed allocation gives
  // CoreError::OutOfMemory.
  template <CryptoProvider P>
  CoreResult<void> hash_records(const P& crypto) {
    try {
      hashes_.resize(records_.size());
      for (std::size_t i = 0; i < records_.size(); ++i) {
        if (!hashes_[i]) hashes_[i] = digest_of(crypto.hash(kRecordHashLabel, records_[i].encoding));
      }
      return {};
    } catch (const std::bad_alloc&) {
      return fail(CoreError::out_of_memory());
    }
  }

  std::span<const HeldRecord> records() const { return records_; }
  // The record hash of the record at `index` in `records()`; none until
  // computed.
  std::optional<RecordDigest> hash(std::size_t index) const {
    return index < hashes_.size() ? hashes_[index] : std::nullopt;
  }
  std::size_t size() const { return records_.size(); }
  // The vault file the records read from it view; null when none was.
  const std::shared_ptr<const cord::Bytes>& file() const { return file_; }
  // Whether the record's encoding lies in `file()`.
  bool read_from_file(const HeldRecord& held) const;
  // A copy of every record, for the callers that need the plain set.
  VaultStore store() const;

  static RecordDigest digest_of(const HashValue& hash);
  static HashValue hash_of(const RecordDigest& digest);

 private:
  std::shared_ptr<const cord::Bytes> file_;
  // The encodings of the records not read from `file_`.
  std::vector<std::shared_ptr<const cord::Bytes>> added_;
  // Ordered as the records are, as VaultStore orders them.
  std::vector<HeldRecord> records_;
  // Beside `records_`, once any hash is known; empty until then, so that a
  // set only decoded carries none.
  std::vector<std::optional<RecordDigest>> hashes_;
};

}  // namespace morvik::core::validate
