// The ratchet file. Its record set is canonical, so a set that decodes
// encodes back to the same bytes; the ratchet read from it may fold records
// together (several root records, repeated origins), and writing that
// ratchet back must give a file that reads as the same ratchet.

#include <algorithm>

#include "check.hpp"
#include "store/ratchet_file.hpp"
#include "store/state_file.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  const store::Path path("ratchet.cord");
  auto ratchet = store::decode_ratchet(path, bytes);
  const auto root = store::check_ratchet(path, bytes);
  fuzz::check(root.has_value() == ratchet.has_value() &&
                  (ratchet ? *root == ratchet->trusted_root : root.error().message() == ratchet.error().message()),
              "checking a ratchet file gives the root decoding gives, or decoding's error");
  if (!ratchet) return 0;

  const auto body = store::after_magic(store::kRatchetMagic, bytes);
  auto records = cord::deserialize<store::RatchetStore>(*body);
  fuzz::check(records.has_value(), "the records of a ratchet that decodes decode");
  auto records_again = cord::serialize(*records);
  fuzz::check(records_again && std::ranges::equal(*records_again, *body), "a ratchet's records encode as they came");

  auto written = store::encode_ratchet(*ratchet);
  fuzz::check(written.has_value(), "a decoded ratchet encodes");
  auto reread = store::decode_ratchet(path, *written);
  fuzz::check(reread && *reread == *ratchet, "a written ratchet reads back as itself");
  auto rewritten = store::encode_ratchet(*reread);
  fuzz::check(rewritten && *rewritten == *written, "writing a ratchet is a fixed point");
  return 0;
}
