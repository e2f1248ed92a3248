// A payload's slots held as one encoded block must read, write, fail and
// order exactly as the list of slot values it stands for.

#include <gtest/gtest.h>

#include <vector>

#include "core/payloads.hpp"
#include "model_fixtures.hpp"

namespace morvik::core {
namespace {

using namespace model_test;
using SlotList = std::vector<RecipientSlotV1>;

// A sealed payload whose slots are decoded one value each: the reference.
struct PayloadOfSlotValues {
  cord::Bytes nonce;
  cord::Bytes ciphertext;
  SlotList recipient_slots;

  static constexpr auto cord_fields() {
    return std::tuple{&PayloadOfSlotValues::nonce, &PayloadOfSlotValues::ciphertext,
                      &PayloadOfSlotValues::recipient_slots};
  }
};

RecipientSlotV1 slot_of(std::string_view reader, std::string_view encapsulated_key, std::string_view wrapped_key) {
  return {UserId{HashValue{hex(reader)}}, hex(encapsulated_key), hex(wrapped_key)};
}

const RecipientSlotV1 kFull = {id_of<UserId>(0x11), filled(32, 0x22), filled(48, 0x33)};

struct SlotListCase {
  const char* what;
  SlotList slots;
};

const SlotListCase kSlotLists[] = {
    {"none", {}},
    {"one of full size", {kFull}},
    {"empty fields", {slot_of("", "", "")}},
    {"fields held inline and on the heap", {slot_of("01", "0203", "0405060708090a0b0c"), kFull}},
    {"a reader named twice, as stored", {kFull, slot_of("01", "", ""), kFull}},
    {"readers out of order", {slot_of("02", "", "ff"), slot_of("0101", "", "ff")}},
};

std::string slots_hex(const RecipientSlots& slots) { return to_hex(cord::serialize(slots).value()); }

TEST(RecipientSlotsTest, WritesAndReadsTheBytesOfTheListOfSlots) {
  for (const auto& c : kSlotLists) {
    SCOPED_TRACE(c.what);
    const RecipientSlots block(c.slots);
    const cord::Bytes expected = cord::serialize(c.slots).value();
    EXPECT_EQ(slots_hex(block), to_hex(expected));
    EXPECT_EQ(block.size(), c.slots.size());
    EXPECT_EQ(block.empty(), c.slots.empty());

    const auto read = cord::deserialize<RecipientSlots>(expected);
    ASSERT_TRUE(read) << read.error().message();
    EXPECT_EQ(*read, block);
    EXPECT_EQ(slots_hex(*read), to_hex(expected));
    ASSERT_EQ(read->size(), c.slots.size());
    auto held = c.slots.begin();
    for (const RecipientSlotView& slot : *read) {
      EXPECT_TRUE(slot.names(held->reader));
      EXPECT_EQ(to_hex(slot.reader), to_hex(held->reader.hash.bytes));
      EXPECT_EQ(to_hex(slot.encapsulated_key), to_hex(held->encapsulated_key));
      EXPECT_EQ(to_hex(slot.wrapped_key), to_hex(held->wrapped_key));
      ++held;
    }
    EXPECT_EQ(held, c.slots.end());
  }
}

TEST(RecipientSlotsTest, ACopyIsTheSameListAndWhatIsLeftOfAMoveIsEmpty) {
  const RecipientSlots block{kFull, slot_of("01", "02", "03"), kFull};
  RecipientSlots copy = block;
  EXPECT_EQ(copy, block);
  EXPECT_TRUE(copy.has_duplicate_reader());
  const RecipientSlots moved = std::move(copy);
  EXPECT_EQ(moved, block);
  EXPECT_EQ(slots_hex(moved), slots_hex(block));
  EXPECT_TRUE(moved.has_duplicate_reader());
  EXPECT_EQ(copy, RecipientSlots());  // NOLINT: a moved-from list is empty, and usable
  EXPECT_FALSE(copy.has_duplicate_reader());
  EXPECT_EQ(slots_hex(copy), "00000000");
}

// Every truncation and many one-byte changes of an encoded payload: the
// payload reads and fails, and is checked, exactly as the reference reads.
TEST(RecipientSlotsTest, EveryDamagedPayloadFailsAsTheListOfSlotsDoes) {
  const PayloadOfSlotValues reference{filled(12, 0x4e), filled(20, 0xc7),
                                      {kFull, slot_of("01", "", "0203"), slot_of("", "0a0b0c0d0e0f1011", "")}};
  const cord::Bytes encoded = cord::serialize(reference).value();
  ASSERT_EQ(to_hex(cord::serialize(SealedPayloadV1{reference.nonce, reference.ciphertext,
                                                   RecipientSlots(reference.recipient_slots)})
                       .value()),
            to_hex(encoded));

  std::vector<cord::Bytes> inputs;
  for (std::size_t size = 0; size < encoded.size(); ++size) {
    inputs.emplace_back(encoded.begin(), encoded.begin() + static_cast<std::ptrdiff_t>(size));
  }
  for (std::size_t at = 0; at < encoded.size(); ++at) {
    for (const std::uint8_t value : {0x00, 0x01, 0x02, 0x7f, 0x80, 0xff}) {
      if (encoded[at] == value) continue;
      inputs.push_back(encoded);
      inputs.back()[at] = value;
    }
  }
  inputs.push_back(encoded);
  inputs.back().push_back(0);

  std::size_t read_alike = 0;
  for (const cord::Bytes& input : inputs) {
    SCOPED_TRACE(to_hex(input));
    const auto expected = cord::deserialize<PayloadOfSlotValues>(input);
    const auto read = cord::deserialize<SealedPayloadV1>(input);
    const auto checked = cord::check_whole<SealedPayloadV1>(input);
    ASSERT_EQ(read.has_value(), expected.has_value());
    ASSERT_EQ(checked.has_value(), expected.has_value());
    if (!expected) {
      EXPECT_EQ(read.error(), expected.error());
      EXPECT_EQ(checked.error(), expected.error());
      continue;
    }
    ++read_alike;
    EXPECT_EQ(to_hex(cord::serialize(*read).value()), to_hex(cord::serialize(*expected).value()));
    EXPECT_EQ(read->recipient_slots, RecipientSlots(expected->recipient_slots));
  }
  // Some changes leave a well-formed payload (a changed key byte, say).
  EXPECT_GT(read_alike, 0u);
}

TEST(RecipientSlotsTest, OrderIsThatOfTheListOfSlots) {
  const SlotList lists[] = {
      {},
      {slot_of("01", "", "")},
      {slot_of("01", "", ""), slot_of("01", "", "")},
      {slot_of("01", "", "ff")},
      {slot_of("01", "00", "")},
      {slot_of("0101", "", "")},
      // After 0101 as a value, before it as an encoding, whose length comes first.
      {slot_of("02", "", "")},
      {slot_of("", "", "")},
      {kFull},
      {kFull, slot_of("", "", "")},
  };
  for (const SlotList& a : lists) {
    for (const SlotList& b : lists) {
      SCOPED_TRACE(to_hex(cord::serialize(a).value()) + " vs " + to_hex(cord::serialize(b).value()));
      EXPECT_EQ(RecipientSlots(a) <=> RecipientSlots(b), a <=> b);
      EXPECT_EQ(RecipientSlots(a) == RecipientSlots(b), a == b);
    }
  }
}

TEST(RecipientSlotsTest, FindsAReaderNamedTwice) {
  struct Case {
    const char* what;
    std::vector<const char*> readers;
    bool duplicate;
  };
  const Case cases[] = {
      {"no slot", {}, false},
      {"one slot", {"01"}, false},
      {"ascending", {"01", "0101", "02"}, false},
      {"descending", {"03", "02", "01"}, false},
      {"one a prefix of the other", {"0101", "01"}, false},
      {"side by side", {"01", "02", "02"}, true},
      {"apart, out of order", {"03", "01", "02", "03"}, true},
      {"empty readers", {"", ""}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SlotList slots;
    for (const char* reader : c.readers) slots.push_back(slot_of(reader, "aa", "bb"));
    EXPECT_EQ(RecipientSlots(slots).has_duplicate_reader(), c.duplicate);
    const auto read = cord::deserialize<RecipientSlots>(cord::serialize(slots).value());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->has_duplicate_reader(), c.duplicate);
  }
}

}  // namespace
}  // namespace morvik::core
