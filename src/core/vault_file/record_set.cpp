#include "core/vault_file/record_set.hpp"

#include <algorithm>
#include <functional>

namespace morvik::core::validate {

RecordSet::RecordSet(std::shared_ptr<const cord::Bytes> file, std::shared_ptr<const VaultStore> records,
                     std::span<const cord::ByteView> encodings)
    : file_(std::move(file)) {
  records_.reserve(encodings.size());
  std::size_t at = 0;
  for (const VaultRecordV1& record : vault_records(*records)) {
    records_.push_back(HeldRecord{std::shared_ptr<const VaultRecordV1>(records, &record), encodings[at++]});
  }
}

CoreResult<RecordSet> RecordSet::of(const VaultStore& store) {
  auto records = std::make_shared<const VaultStore>(store);
  auto encodings = std::make_shared<cord::Bytes>();
  std::vector<std::size_t> ends;
  for (const VaultRecordV1& record : vault_records(*records)) {
    if (auto st = cord::write(cord::CordSerializer(*encodings), record); !st) {
      return fail(CoreError::cord(std::move(st.error())));
    }
    ends.push_back(encodings->size());
  }
  // Views are taken once the buffer has stopped growing.
  RecordSet set;
  set.records_.reserve(ends.size());
  std::size_t start = 0;
  auto end = ends.begin();
  for (const VaultRecordV1& record : vault_records(*records)) {
    const cord::ByteView encoding = cord::ByteView(*encodings).subspan(start, *end - start);
    set.records_.push_back(HeldRecord{std::shared_ptr<const VaultRecordV1>(records, &record), encoding});
    start = *end++;
  }
  set.added_.push_back(std::move(encodings));
  return set;
}

RecordSet RecordSet::read_from(std::shared_ptr<const cord::Bytes> file,
                               std::span<const std::size_t> wire_order) const {
  RecordSet set;
  set.records_ = records_;
  set.hashes_ = hashes_;
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
  auto at = std::lower_bound(records_.begin(), records_.end(), record,
                             [](const HeldRecord& held, const VaultRecordV1& value) { return *held.record < value; });
  if (at != records_.end() && *at->record == record) return true;
  const auto index = static_cast<std::size_t>(at - records_.begin());
  const auto& kept = added_.emplace_back(std::make_shared<const cord::Bytes>(std::move(encoding)));
  records_.insert(at, HeldRecord{std::make_shared<const VaultRecordV1>(std::move(record)), *kept});
  hashes_.resize(records_.size() - 1);
  hashes_.insert(hashes_.begin() + static_cast<std::ptrdiff_t>(index), digest_of(hash));
  return false;
}

bool RecordSet::read_from_file(const HeldRecord& held) const {
  if (!file_ || held.encoding.empty()) return false;
  const std::less<const std::uint8_t*> before;
  const std::uint8_t* start = file_->data();
  return !before(held.encoding.data(), start) && before(held.encoding.data(), start + file_->size());
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
