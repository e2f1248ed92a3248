#include <gtest/gtest.h>

#include "core/derivations.hpp"
#include "core/domain_hash.hpp"
#include "core/errors.hpp"
#include "core/invitations.hpp"
#include "core/provider.hpp"
#include "core/ratchet_records.hpp"
#include "core/record_key.hpp"
#include "core/records.hpp"

namespace morvik::core {
namespace {

struct HashOnly {
  HashValue hash(std::string_view domain, cord::ByteView data) const { return domain_hash(domain, data); }
  bool verify_signature(std::string_view, cord::ByteView, cord::ByteView, cord::ByteView) const { return false; }
};
static_assert(CryptoProvider<HashOnly>);

TEST(ModelSmokeTest, EmptyStoreIsEightZeroBytes) {
  VaultStore store;
  auto bytes = cord::serialize(store);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, cord::Bytes(8, 0));
  auto back = cord::deserialize<VaultStore>(*bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(vault_records(*back).empty());
}

TEST(ModelSmokeTest, DerivesAThirtyTwoByteUserId) {
  auto id = derive_user_id(HashOnly{}, cord::Bytes(32, 1), cord::Bytes(32, 2));
  ASSERT_TRUE(id);
  EXPECT_EQ(id->hash.bytes.size(), 32u);
}

}  // namespace
}  // namespace morvik::core
