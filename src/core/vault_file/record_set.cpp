#include "core/vault_file/record_set.hpp"

#include <algorithm>
#include <functional>
#include <numeric>

namespace morvik::core::validate {
namespace {

bool record_less(const HeldRecord& a, const HeldRecord& b) { return *a.record < *b.record; }

// Sorts records read in wire order into value order. The wire orders them by
// their encodings, which begin with the body's length and kind, so records of
// one length and kind mostly arrive in value order already: the runs found
// are merged pairwise, rather than each record being compared some log n
// times.
void sort_by_value(std::vector<HeldRecord>& records) {
  std::vector<std::size_t> bounds{0};
  for (std::size_t i = 1; i < records.size(); ++i) {
    if (record_less(records[i], records[i - 1])) bounds.push_back(i);
  }
  bounds.push_back(records.size());
  const auto at = [&](std::size_t offset) { return records.begin() + static_cast<std::ptrdiff_t>(offset); };
  while (bounds.size() > 2) {
    std::vector<std::size_t> merged{0};
    std::size_t run = 0;
    for (; run + 2 < bounds.size(); run += 2) {
      std::inplace_merge(at(bounds[run]), at(bounds[run + 1]), at(bounds[run + 2]), record_less);
      merged.push_back(bounds[run + 2]);
    }
    // An odd run out waits for the next round.
    if (run + 1 < bounds.size()) merged.push_back(bounds.back());
    bounds = std::move(merged);
  }
}

}  // namespace

RecordSet::RecordSet(std::shared_ptr<const cord::Bytes> file, WireRecords read) : file_(std::move(file)) {
  auto block = std::make_shared<const std::vector<VaultRecordV1>>(std::move(read.records));
  records_ = std::move(read.held);
  for (std::size_t i = 0; i < records_.size(); ++i) records_[i].record = &(*block)[i];
  sort_by_value(records_);
  blocks_ = std::make_shared<const Blocks>(Blocks{{std::move(block)}});
}

CoreResult<RecordSet> RecordSet::of(const VaultStore& store) {
  auto records = std::make_shared<const std::vector<VaultRecordV1>>(vault_records(store).begin(),
                                                                     vault_records(store).end());
  auto encodings = std::make_shared<cord::Bytes>();
  std::vector<std::size_t> ends;
  ends.reserve(records->size());
  for (const VaultRecordV1& record : *records) {
    if (auto st = cord::write(cord::CordSerializer(*encodings), record); !st) {
      return fail(CoreError::cord(std::move(st.error())));
    }
    ends.push_back(encodings->size());
  }
  // Views are taken once the buffer has stopped growing.
  RecordSet set;
  set.records_.reserve(ends.size());
  std::size_t start = 0;
  for (std::size_t i = 0; i < ends.size(); ++i) {
    set.records_.push_back(HeldRecord{&(*records)[i], cord::ByteView(*encodings).subspan(start, ends[i] - start)});
    start = ends[i];
  }
  set.added_.push_back(std::move(encodings));
  set.blocks_ = std::make_shared<const Blocks>(Blocks{{std::move(records)}});
  return set;
}

RecordSet RecordSet::read_from(std::shared_ptr<const cord::Bytes> file,
                               std::span<const std::size_t> wire_order) const {
  RecordSet set;
  set.records_ = records_;
  set.hashes_ = hashes_;
  set.known_ = known_;
  set.blocks_ = blocks_;
  // The elements follow the magic, the variant index and the count.
  std::size_t offset = file->size();
  for (const std::size_t index : wire_order) offset -= records_[index].encoding.size();
  const cord::ByteView bytes(*file);
  for (const std::size_t index : wire_order) {
    HeldRecord& held = set.records_[index];
    held.encoding = bytes.subspan(offset, held.encoding.size());
    offset += held.encoding.size();
  }
  set.file_ = std::move(file);
  return set;
}

bool RecordSet::append_record(VaultRecordV1 record, cord::Bytes encoding, const HashValue& hash) {
  std::vector<AddedRecord> added;
  added.push_back(AddedRecord{std::move(record), std::move(encoding), hash});
  return append_records(std::move(added)) == 1;
}

std::size_t RecordSet::append_records(std::vector<AddedRecord> added) {
  std::vector<std::size_t> order(added.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return added[a].record < added[b].record; });
  std::vector<std::size_t> kept;
  kept.reserve(order.size());
  for (const std::size_t i : order) {
    if (!kept.empty() && added[kept.back()].record == added[i].record) continue;
    const auto at = std::lower_bound(
        records_.begin(), records_.end(), added[i].record,
        [](const HeldRecord& held, const VaultRecordV1& value) { return *held.record < value; });
    if (at != records_.end() && *at->record == added[i].record) continue;
    kept.push_back(i);
  }
  const std::size_t dropped = added.size() - kept.size();
  if (kept.empty()) return dropped;

  // Everything is allocated before the set changes, so that running out of
  // memory leaves it as it was.
  std::size_t total = 0;
  for (const std::size_t i : kept) total += added[i].encoding.size();
  auto encodings = std::make_shared<cord::Bytes>();
  encodings->reserve(total);
  auto block = std::make_shared<std::vector<VaultRecordV1>>();
  block->reserve(kept.size());
  std::vector<HeldRecord> fresh;
  fresh.reserve(kept.size());
  std::vector<RecordDigest> fresh_hashes;
  fresh_hashes.reserve(kept.size());
  auto blocks = std::make_shared<Blocks>();
  blocks->held.reserve((blocks_ ? blocks_->held.size() : 0) + 1);
  if (blocks_) blocks->held = blocks_->held;
  const std::size_t size = records_.size() + kept.size();
  records_.reserve(size);
  hashes_.reserve(size);
  known_.reserve(size);
  added_.reserve(added_.size() + 1);

  for (const std::size_t i : kept) {
    const std::size_t start = encodings->size();
    encodings->insert(encodings->end(), added[i].encoding.begin(), added[i].encoding.end());
    block->push_back(std::move(added[i].record));
    fresh.push_back(HeldRecord{&block->back(), cord::ByteView(*encodings).subspan(start)});
    fresh_hashes.push_back(digest_of(added[i].hash));
  }
  blocks->held.push_back(std::move(block));
  blocks_ = std::move(blocks);
  added_.push_back(std::move(encodings));

  // Merged from the back, in place.
  std::size_t old = records_.size();
  hashes_.resize(old);
  known_.resize(old);
  records_.resize(size);
  hashes_.resize(size);
  known_.resize(size);
  for (std::size_t at = size, next = fresh.size(); next > 0;) {
    --at;
    if (old > 0 && record_less(fresh[next - 1], records_[old - 1])) {
      --old;
      records_[at] = records_[old];
      hashes_[at] = hashes_[old];
      known_[at] = known_[old];
    } else {
      --next;
      records_[at] = fresh[next];
      hashes_[at] = fresh_hashes[next];
      known_[at] = true;
    }
  }
  return dropped;
}

bool RecordSet::read_from_file(const HeldRecord& held) const {
  if (!file_ || held.encoding.empty()) return false;
  const std::less<const std::uint8_t*> before;
  const std::uint8_t* start = file_->data();
  return !before(held.encoding.data(), start) && before(held.encoding.data(), start + file_->size());
}

std::shared_ptr<const VaultRecordV1> RecordSet::share(const HeldRecord& held) const {
  return std::shared_ptr<const VaultRecordV1>(blocks_, held.record);
}

VaultStore RecordSet::store() const {
  VaultStore store;
  for (const HeldRecord& held : records_) vault_records(store).append_last(*held.record);
  return store;
}

RecordDigest RecordSet::digest_of(const HashValue& hash) {
  RecordDigest digest{};
  std::copy_n(hash.bytes.begin(), std::min(hash.bytes.size(), digest.size()), digest.begin());
  return digest;
}

HashValue RecordSet::hash_of(const RecordDigest& digest) {
  return HashValue{cord::CompactBytes(digest.data(), digest.size())};
}

}  // namespace morvik::core::validate
