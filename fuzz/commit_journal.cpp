// The commit journal file: a journal that decodes (shape rules included)
// encodes back to the same bytes.

#include <algorithm>

#include "check.hpp"
#include "store/transaction.hpp"

using namespace morvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = fuzz::input(data, size);
  namespace tx = store::transaction;
  auto journal = tx::decode_transaction(store::Path("transaction.cord"), bytes);
  if (!journal) return 0;
  auto encoded = tx::encode_transaction(*journal);
  fuzz::check(encoded && std::ranges::equal(*encoded, bytes), "a decoded journal encodes to the bytes it came from");
  (void)tx::NativePathV1::to_path_buf(journal->vault_path);
  return 0;
}
