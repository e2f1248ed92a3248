#include <gtest/gtest.h>

#include <random>

#include "core/authz/indexed_authority.hpp"
#include "support/core/selectors.hpp"

namespace morvik::core::authz {
namespace {

using namespace morvik::testing;

// Random authority sets, secrets and permissions over a few segments, keys
// and values, so that matches and near misses are both common. One in
// `kMalformed` lists is left in a shape the structural checks refuse
// (unsorted, repeated, empty), which the plain rules still answer.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  AuthoritySet authority() {
    AuthoritySet set;
    for (auto n = below(7); n > 0; --n) set.read.push_back(keyspace());
    for (auto n = below(7); n > 0; --n) set.write.push_back(keyspace());
    for (auto n = below(7); n > 0; --n) set.manage.push_back({keyspace(), classes()});
    set.admin = below(20) == 0;
    return set;
  }

  SecretSelectorV1 secret_selector() {
    SecretSelectorV1 secret{segments(5), {}};
    for (const auto& key : keys()) secret.labels.push_back({key, value()});
    return secret;
  }

  GrantPermissionV1 permission() {
    switch (below(8)) {
      case 0: case 1: case 2: return grant_permission::Read{keyspace()};
      case 3: case 4: return grant_permission::Write{keyspace()};
      case 5: case 6: return grant_permission::Manage{keyspace(), classes()};
      default: return grant_permission::Admin{};
    }
  }

 private:
  static constexpr std::uint32_t kMalformed = 12;

  std::uint32_t below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_); }
  bool malformed() { return below(kMalformed) == 0; }

  cord::CompactText pick(std::initializer_list<const char*> choices) {
    return *(choices.begin() + below(static_cast<std::uint32_t>(choices.size())));
  }
  cord::CompactText segment() { return pick({"a", "b", "c", "a-long-segment-name"}); }
  cord::CompactText value() { return pick({"x", "y", "z", ""}); }

  Segments segments(std::uint32_t most) {
    Segments out;
    for (auto n = below(most); n > 0; --n) out.push_back(segment());
    return out;
  }

  // Ascending distinct keys, or any keys in any order when malformed.
  std::vector<cord::CompactText> keys() {
    std::vector<cord::CompactText> out;
    if (malformed()) {
      for (auto n = below(4); n > 0; --n) out.push_back(pick({"k", "l", "m"}));
      return out;
    }
    for (const char* key : {"k", "l", "m"}) {
      if (below(2) == 0) out.push_back(key);
    }
    return out;
  }

  Segments values() {
    Segments out;
    if (malformed()) {
      for (auto n = below(3); n > 0; --n) out.push_back(value());
      return out;
    }
    for (const char* v : {"", "x", "y", "z"}) {
      if (below(2) == 0) out.push_back(v);
    }
    if (out.empty()) out.push_back(value());
    return out;
  }

  KeyspaceSelectorV1 keyspace() {
    KeyspaceSelectorV1 keyspace;
    switch (below(4)) {
      case 0: keyspace.tuple = tuple_matcher::Any{}; break;
      case 1: keyspace.tuple = tuple_matcher::Exact{segments(4)}; break;
      default: {
        Segments path = segments(4);
        if (path.empty() && !malformed()) path.push_back(segment());
        keyspace.tuple = tuple_matcher::Prefix{std::move(path)};
      }
    }
    for (auto& key : keys()) {
      switch (below(4)) {
        case 0: keyspace.labels.push_back(present(key)); break;
        case 1: keyspace.labels.push_back(equals(key, value())); break;
        case 2: keyspace.labels.push_back(in(key, values())); break;
        default: keyspace.labels.push_back(absent(key));
      }
    }
    return keyspace;
  }

  std::vector<KeyspaceGrantClassV1> classes() {
    std::vector<KeyspaceGrantClassV1> out;
    for (const auto& cls : {kRead, kWrite, kManage}) {
      if (below(2) == 0) out.push_back(cls);
    }
    if (out.empty() || malformed()) out.push_back(kRead);
    return out;
  }

  std::mt19937 random_;
};

// The indexed answers against the plain ones, on random sets, secrets and
// permissions; the yes answers are counted so that a generator gone wrong
// cannot pass by answering no throughout.
TEST(IndexedAuthorityTest, AnswersAsThePlainMatchingDoes) {
  Generator generate(24);
  std::size_t reads = 0;
  std::size_t writes = 0;
  std::size_t creates = 0;
  for (int sets = 0; sets < 3000; ++sets) {
    const AuthoritySet plain = generate.authority();
    const IndexedAuthority indexed(plain);
    ASSERT_EQ(indexed.set(), plain);
    for (int question = 0; question < 40; ++question) {
      const auto secret = generate.secret_selector();
      ASSERT_EQ(indexed.can_read(secret), plain.can_read(secret)) << "set " << sets << " question " << question;
      ASSERT_EQ(indexed.can_write(secret), plain.can_write(secret)) << "set " << sets << " question " << question;
      const auto permission = generate.permission();
      ASSERT_EQ(indexed.can_create_permission(permission), plain.can_create_permission(permission))
          << "set " << sets << " question " << question;
      reads += plain.can_read(secret);
      writes += plain.can_write(secret);
      creates += plain.can_create_permission(permission);
    }
  }
  EXPECT_GT(reads, 10'000u);
  EXPECT_GT(writes, 5'000u);
  EXPECT_GT(creates, 5'000u);
}

// Grants told apart only far down a long path, or only by a label value,
// each asked about a secret or keyspace it covers and one it just misses.
TEST(IndexedAuthorityTest, FindsTheOneGrantAmongMany) {
  AuthoritySet set;
  Segments deep{"deep"};
  for (int level = 0; level < 30; ++level) deep.push_back("level");
  for (int n = 0; n < 200; ++n) {
    const std::string name = std::to_string(n);
    Segments path = deep;
    path.push_back(name);
    set.write.push_back(prefix(path));
    set.write.push_back(exact({"svc", "db"}, {equals("env", name)}));
    set.manage.push_back({prefix({"app", name}, {in("env", {"dev", "prod" + name})}), {kRead}});
  }
  const IndexedAuthority indexed(set);
  Segments hit = deep;
  hit.push_back("117");
  hit.push_back("leaf");
  Segments miss = deep;
  miss.push_back("leaf");
  const std::vector<std::pair<SecretSelectorV1, bool>> secrets{
      {secret(hit), true},
      {secret(miss), false},
      {secret({"svc", "db"}, {{"env", "42"}}), true},
      {secret({"svc", "db"}, {{"env", "200"}}), false},
      {secret({"svc", "db", "x"}, {{"env", "42"}}), false},
      {secret({"app", "7", "x"}, {{"env", "prod7"}}), true},
      {secret({"app", "7", "x"}, {{"env", "prod8"}}), false},
  };
  for (const auto& [s, expected] : secrets) {
    EXPECT_EQ(set.can_write(s), expected);
    EXPECT_EQ(indexed.can_write(s), expected);
  }
  const std::vector<std::pair<GrantPermissionV1, bool>> permissions{
      {read_permission(prefix({"app", "7", "sub"}, {equals("env", "prod7")})), true},
      {read_permission(exact({"app", "7"}, {in("env", {"dev", "prod7"})})), true},
      {read_permission(prefix({"app", "7"}, {in("env", {"dev", "prod8"})})), false},
      {read_permission(prefix({"app", "7"})), false},
      {write_permission(prefix({"app", "7"}, {equals("env", "dev")})), false},
      {read_permission(prefix({"app"}, {equals("env", "dev")})), false},
  };
  for (const auto& [p, expected] : permissions) {
    EXPECT_EQ(set.can_create_permission(p), expected);
    EXPECT_EQ(indexed.can_create_permission(p), expected);
  }
}

}  // namespace
}  // namespace morvik::core::authz
