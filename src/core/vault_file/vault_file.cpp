#include "core/vault_file/vault_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <vector>

#include "cord/check.hpp"

namespace morvik::core {
namespace {

// A record read in full, then dropped: all of them compare equal, so a set
// of them holds one element however many were read.
struct DiscardedRecord {
  auto operator<=>(const DiscardedRecord&) const = default;
};

struct DiscardingStoreTag;
// The wire shape of a VaultStore, keeping none of its records.
using DiscardingStore = std::variant<cord::Tagged<DiscardingStoreTag, cord::Set<DiscardedRecord>>>;

struct WireOrderStoreTag;
// The wire shape of a VaultStore, its records kept in the order read, each
// with the bytes it was read from.
using WireOrderStore = std::variant<cord::Tagged<WireOrderStoreTag, validate::RecordSet::WireRecords>>;

// A record kept only when it is a root record; all the others compare equal.
struct RootRecord {
  std::optional<VaultRecordV1> root;
  auto operator<=>(const RootRecord&) const = default;
};

// Whether a record's encoding may be a root record: its body, the evolving
// value it begins with, is of the root kind. Any other record is only
// checked, never built.
bool may_be_root(cord::ByteView encoding) {
  static_assert(std::is_same_v<std::variant_alternative_t<0, RecordBodyV1>, record_body::VaultRoot>);
  return cord::evolving_starts_with_index(encoding, 0);
}

struct RootStoreTag;
// The wire shape of a VaultStore, keeping its root records only.
using RootStore = std::variant<cord::Tagged<RootStoreTag, cord::Set<RootRecord>>>;

}  // namespace
}  // namespace morvik::core

namespace morvik::cord {

template <>
struct Codec<core::DiscardedRecord> {
  static Result<core::DiscardedRecord> read(CordDeserializer& d) {
    if (auto checked = cord::check<core::VaultRecordV1>(d); !checked) return fail(std::move(checked.error()));
    return core::DiscardedRecord{};
  }
};

template <>
struct Codec<core::validate::RecordSet::WireRecords> {
  static Result<core::validate::RecordSet::WireRecords> read(CordDeserializer& d) {
    core::validate::RecordSet::WireRecords read;
    auto take = [&](WithEncoding<core::VaultRecordV1>&& record) {
      read.records.push_back(std::move(record.value));
      read.held.push_back(core::validate::HeldRecord{nullptr, record.encoding});
    };
    auto reserve = [&](std::size_t count) {
      read.records.reserve(count);
      read.held.reserve(count);
    };
    if (auto st = read_set_elements<WithEncoding<core::VaultRecordV1>>(d, take, reserve); !st) {
      return fail(std::move(st.error()));
    }
    return read;
  }
};

template <>
struct Codec<core::RootRecord> {
  static Result<core::RootRecord> read(CordDeserializer& d) {
    auto record = check_then_read_if<core::VaultRecordV1>(d, core::may_be_root);
    if (!record) return fail(std::move(record.error()));
    if (!*record) return core::RootRecord{};
    const core::RecordBodyV1* body = (*record)->body.known();
    if (body == nullptr || !std::holds_alternative<core::VaultRootRecordV1>(*body)) return core::RootRecord{};
    return core::RootRecord{std::move(**record)};
  }
};

}  // namespace morvik::cord

namespace morvik::core::validate {
namespace {

CoreError file_too_large(std::size_t size) {
  return CoreError::validation("vault is " + std::to_string(size) + " bytes, above the supported maximum of " +
                               std::to_string(kMaxVaultFileBytes));
}

CoreError too_many_records(std::uint64_t count) {
  return CoreError::validation("vault carries " + std::to_string(count) + " records, above the supported maximum of " +
                               std::to_string(kMaxVaultRecords));
}

// The record count a store's encoding announces: its set's count after the
// variant index, or 0 when the input is too short to hold one.
std::uint64_t announced_record_count(cord::ByteView payload) {
  if (payload.size() < 8) return 0;
  std::uint64_t count = 0;
  for (std::size_t i = 4; i < 8; ++i) count = (count << 8) | payload[i];
  return count;
}

// Decodes a vault file into `Store`, one of the wire shapes of a VaultStore.
template <class Store>
CoreResult<Store> decode_framed(cord::ByteView file) {
  if (file.size() < kVaultMagic.size() || !std::equal(kVaultMagic.begin(), kVaultMagic.end(), file.begin())) {
    return fail(CoreError::validation("not a morvik vault file (missing magic prefix)"));
  }
  if (file.size() > kMaxVaultFileBytes) return fail(file_too_large(file.size()));
  const cord::ByteView payload = file.subspan(kVaultMagic.size());

  // Tiny records take far more memory decoded than encoded, so an
  // oversized set is read without keeping it. Reading it through still
  // reports a malformed file as such, before its size.
  if (const std::uint64_t count = announced_record_count(payload); count > kMaxVaultRecords) {
    if (auto checked = cord::deserialize<DiscardingStore>(payload); !checked) {
      return fail(CoreError::cord(std::move(checked.error())));
    }
    return fail(too_many_records(count));
  }
  auto store = cord::deserialize<Store>(payload);
  if (!store) return fail(CoreError::cord(std::move(store.error())));
  return std::move(*store);
}

// The positions in `records` in the order of their encodings: the file's
// own in the order the file holds them, the others sorted and merged among
// them.
std::vector<std::size_t> wire_order(const RecordSet& records) {
  const auto held = records.records();
  std::vector<std::size_t> in_file;
  std::vector<std::size_t> added;
  in_file.reserve(held.size());
  for (std::size_t i = 0; i < held.size(); ++i) (records.read_from_file(held[i]) ? in_file : added).push_back(i);
  // Views into one canonical file: their addresses are their order.
  std::sort(in_file.begin(), in_file.end(),
            [&](std::size_t a, std::size_t b) { return held[a].encoding.data() < held[b].encoding.data(); });
  auto by_encoding = [&](std::size_t a, std::size_t b) {
    return cord::encoding_less(held[a].encoding, held[b].encoding);
  };
  std::sort(added.begin(), added.end(), by_encoding);
  std::vector<std::size_t> order;
  order.reserve(held.size());
  std::merge(in_file.begin(), in_file.end(), added.begin(), added.end(), std::back_inserter(order), by_encoding);
  return order;
}

CoreResult<EncodedVault> encode_records_framed(const RecordSet& records) {
  if (records.size() > kMaxVaultRecords) return fail(too_many_records(records.size()));
  const auto order = wire_order(records);
  const auto held = records.records();
  cord::Bytes header(kVaultMagic.begin(), kVaultMagic.end());
  const cord::CordSerializer writer(header);
  if (auto st = writer.write_variant_index(0); !st) return fail(CoreError::cord(std::move(st.error())));
  if (auto st = writer.write_count(records.size()); !st) return fail(CoreError::cord(std::move(st.error())));
  std::size_t size = header.size();
  for (const HeldRecord& record : held) size += record.encoding.size();
  if (size > kMaxVaultFileBytes) return fail(file_too_large(size));
  cord::Bytes file = cord::uninitialized_bytes(size);
  std::uint8_t* out = std::copy(header.begin(), header.end(), file.data());
  for (std::size_t i = 0; i < order.size();) {
    const HeldRecord& first = held[order[i++]];
    const std::uint8_t* end = first.encoding.data() + first.encoding.size();
    // Records that lie one after another in the old file go in one copy.
    if (records.read_from_file(first)) {
      while (i < order.size() && held[order[i]].encoding.data() == end && records.read_from_file(held[order[i]])) {
        end += held[order[i++]].encoding.size();
      }
    }
    out = std::copy(first.encoding.data(), end, out);
  }
  auto bytes = std::make_shared<const cord::Bytes>(std::move(file));
  return EncodedVault{bytes, records.read_from(bytes, order)};
}

CoreResult<cord::Bytes> encode_framed(const VaultStore& store) {
  if (const std::size_t count = vault_records(store).size(); count > kMaxVaultRecords) {
    return fail(too_many_records(count));
  }
  cord::Bytes file(kVaultMagic.begin(), kVaultMagic.end());
  if (auto written = cord::write(cord::CordSerializer(file), store); !written) {
    return fail(CoreError::cord(std::move(written.error())));
  }
  if (file.size() > kMaxVaultFileBytes) return fail(file_too_large(file.size()));
  return file;
}

}  // namespace

CoreResult<RecordSet> decode_vault_records(cord::Bytes bytes) {
  try {
    auto file = std::make_shared<const cord::Bytes>(std::move(bytes));
    auto read = decode_framed<WireOrderStore>(*file);
    if (!read) return fail(std::move(read.error()));
    return RecordSet(std::move(file), std::move(std::get<0>(*read).value));
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

CoreResult<VaultStore> decode_vault(cord::ByteView file) {
  try {
    return decode_framed<VaultStore>(file);
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

CoreResult<void> check_vault_file(cord::ByteView file) {
  try {
    auto checked = decode_framed<DiscardingStore>(file);
    if (!checked) return fail(std::move(checked.error()));
    return {};
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

CoreResult<VaultStore> decode_vault_roots(cord::ByteView file) {
  try {
    auto roots = decode_framed<RootStore>(file);
    if (!roots) return fail(std::move(roots.error()));
    VaultStore store;
    std::get<0>(*roots).value.drain([&](RootRecord&& record) {
      if (record.root) vault_records(store).append_last(std::move(*record.root));
    });
    return store;
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

CoreResult<cord::Bytes> encode_vault(const VaultStore& store) {
  try {
    return encode_framed(store);
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

CoreResult<EncodedVault> encode_vault_records(const RecordSet& records) {
  try {
    auto encoded = encode_records_framed(records);
#ifndef NDEBUG
    // Checked builds encode every set they write again the long way: a
    // splice that differs from it would write a vault that is not this set's
    // file.
    if (encoded) {
      auto expected = encode_framed(records.store());
      if (!expected || *encoded->bytes != *expected) {
        std::fputs("encode_vault_records differs from encode_vault\n", stderr);
        std::abort();
      }
    }
#endif
    return encoded;
  } catch (const std::bad_alloc&) {
    return fail(CoreError::out_of_memory());
  }
}

}  // namespace morvik::core::validate
