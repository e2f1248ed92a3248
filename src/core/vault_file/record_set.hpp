#pragma once

// A vault's record set as sessions hold it and validation reads it: each
// record beside the bytes it is encoded as and, once computed, its record
// hash. The records themselves lie in a few flat blocks (one per decoded
// file, one per batch of added records), shared with the states validated
// from them. Records read from a vault file keep views into that one file
// buffer rather than copies; the encodings of records added since are held
// by the set until it is written to a file of its own. So validating the set
// hashes and checks those bytes, and the file after a write is the old file
// with the added records spliced in, without anything being encoded again.

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
  // Lives as long as the set, or a record shared from it, does.
  const VaultRecordV1* record = nullptr;
  // The record's canonical encoding.
  cord::ByteView encoding;
};

// A record to add, with its canonical encoding and record hash.
struct AddedRecord {
  VaultRecordV1 record;
  cord::Bytes encoding;
  HashValue hash;
};

class RecordSet {
 public:
  // Records in the order the wire holds them, as decoding a file lays them
  // out: `held[i].encoding` is the bytes `records[i]` was read from; the set
  // points each at its record.
  struct WireRecords {
    std::vector<VaultRecordV1> records;
    std::vector<HeldRecord> held;
  };

  RecordSet() = default;

  // The records of a vault file, with the views into `file` they were read
  // from, in the file's order.
  RecordSet(std::shared_ptr<const cord::Bytes> file, WireRecords read);

  // Records built in memory, each encoded once here.
  static CoreResult<RecordSet> of(const VaultStore& store);

  // The same records with their encodings as views into `file`, a vault
  // file whose elements are exactly this set's encodings in `wire_order`.
  RecordSet read_from(std::shared_ptr<const cord::Bytes> file, std::span<const std::size_t> wire_order) const;

  // Adds a record at its place in the set's order. A record equal to one
  // already held is dropped, and the set stays as it was; returns whether it
  // was held.
  bool append_record(VaultRecordV1 record, cord::Bytes encoding, const HashValue& hash);
  // Adds many records at once: they are sorted among themselves and merged
  // in with one pass over the set. Records equal to one held, or to one
  // earlier in `added`, are dropped; returns how many were.
  std::size_t append_records(std::vector<AddedRecord> added);

  // Computes every record hash not yet known. A failed allocation gives
  // CoreError::OutOfMemory.
  template <CryptoProvider P>
  CoreResult<void> hash_records(const P& crypto) {
    try {
      hashes_.resize(records_.size());
      known_.resize(records_.size());
      for (std::size_t i = 0; i < records_.size(); ++i) {
        if (known_[i]) continue;
        hashes_[i] = digest_of(crypto.hash(kRecordHashLabel, records_[i].encoding));
        known_[i] = true;
      }
      return {};
    } catch (const std::bad_alloc&) {
      return fail(CoreError::out_of_memory());
    }
  }

  // In the order VaultStore orders the records.
  std::span<const HeldRecord> records() const { return records_; }
  // The record hash of the record at `index` in `records()`; none until
  // computed.
  std::optional<RecordDigest> hash(std::size_t index) const {
    if (index >= known_.size() || !known_[index]) return std::nullopt;
    return hashes_[index];
  }
  std::size_t size() const { return records_.size(); }
  // The vault file the records read from it view; null when none was.
  const std::shared_ptr<const cord::Bytes>& file() const { return file_; }
  // Whether the record's encoding lies in `file()`.
  bool read_from_file(const HeldRecord& held) const;
  // A record of this set, kept alive for as long as the pointer is.
  std::shared_ptr<const VaultRecordV1> share(const HeldRecord& held) const;
  // A copy of every record, for the callers that need the plain set.
  VaultStore store() const;

  static RecordDigest digest_of(const HashValue& hash);
  static HashValue hash_of(const RecordDigest& digest);

 private:
  // Every block the set's records lie in, records that never move once
  // their block is made: what a shared record holds on to.
  struct Blocks {
    std::vector<std::shared_ptr<const std::vector<VaultRecordV1>>> held;
  };

  std::shared_ptr<const cord::Bytes> file_;
  // The encodings of the records not read from `file_`.
  std::vector<std::shared_ptr<const cord::Bytes>> added_;
  std::shared_ptr<const Blocks> blocks_;
  // Ordered as VaultStore orders the records.
  std::vector<HeldRecord> records_;
  // Beside `records_`, once any hash is known; empty until then, so that a
  // set only decoded carries none. `known_` tells which are.
  std::vector<RecordDigest> hashes_;
  std::vector<bool> known_;
};

}  // namespace morvik::core::validate
