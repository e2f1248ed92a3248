// The join-commit journal file, which this system only ever reads: one that
// decodes encodes back to the same bytes.

#include <algorithm>

#include "check.hpp"
#include "ops/join_commit.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  auto journal = ops::decode_join_commit(bytes);
  if (!journal) return 0;
  auto body = cord::serialize(ops::JoinCommitJournal{ops::join_commit_journal::V1{*journal}});
  fuzz::check(body.has_value(), "a decoded join-commit journal encodes");
  cord::Bytes encoded(ops::kJoinCommitMagic.begin(), ops::kJoinCommitMagic.end());
  encoded.insert(encoded.end(), body->begin(), body->end());
  fuzz::check(std::ranges::equal(encoded, bytes), "a decoded join-commit journal encodes to the bytes it came from");
  return 0;
}
