#include "keychain/argon2id.hpp"

#include <dirent.h>
#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/crypto/vectors.hpp"

namespace morvik::keychain {
namespace {

using morvik::testing::from_hex;
using morvik::testing::Json;
using morvik::testing::to_hex;

struct Vector {
  std::string name;
  cord::Bytes password, salt, secret, associated_data, tag;
  Argon2idCost cost;
};

std::uint32_t u32(const Json& value) { return static_cast<std::uint32_t>(value.integer()); }

std::vector<Vector> load_vectors() {
  const Json file = morvik::testing::read_vectors("rfc9106.json");
  std::vector<Vector> out;
  for (const Json& v : file["vectors"].array()) {
    if (v["type"].string() != "Argon2id" || u32(v["version"]) != 0x13) continue;
    out.push_back(Vector{v["name"].string(), from_hex(v["password"].string()), from_hex(v["salt"].string()),
                         from_hex(v["secret"].string()), from_hex(v["associated_data"].string()),
                         from_hex(v["tag"].string()),
                         Argon2idCost{u32(v["memory_kib"]), u32(v["passes"]), u32(v["lanes"])}});
  }
  return out;
}

std::expected<cord::Bytes, std::string> run(const Vector& v) {
  cord::Bytes out(v.tag.size());
  auto result = argon2id(out, Argon2idInput{v.password, v.salt, v.secret, v.associated_data, v.cost});
  if (!result) return std::unexpected(result.error());
  return out;
}

int thread_count() {
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

const Vector& vector_with_lanes(const std::vector<Vector>& vectors, std::uint32_t lanes, bool with_secret) {
  for (const Vector& v : vectors) {
    if (v.cost.lanes == lanes && v.secret.empty() != with_secret) return v;
  }
  throw std::runtime_error("missing vector");
}

TEST(Argon2id, ReproducesThePublishedAndComputedVectors) {
  const auto vectors = load_vectors();
  // The published vector (secret and associated data, four lanes) and the
  // one- and four-lane vectors without them.
  ASSERT_NO_THROW(vector_with_lanes(vectors, 4, true));
  ASSERT_NO_THROW(vector_with_lanes(vectors, 1, false));
  ASSERT_NO_THROW(vector_with_lanes(vectors, 4, false));
  for (const Vector& v : vectors) {
    auto tag = run(v);
    ASSERT_TRUE(tag.has_value()) << v.name << ": " << tag.error();
    EXPECT_EQ(to_hex(*tag), to_hex(v.tag)) << v.name;
  }
}

TEST(Argon2id, LeavesTheThreadCountUnchanged) {
  const auto vectors = load_vectors();
  const int before = thread_count();
  ASSERT_GT(before, 0);
  ASSERT_TRUE(run(vector_with_lanes(vectors, 4, false)).has_value());
  EXPECT_EQ(thread_count(), before);
}

// Forbids clone and clone3 for this process: any attempt to start a thread
// fails from now on.
bool forbid_new_threads() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

void* idle(void*) { return nullptr; }

// Counting threads before and after cannot see a thread that was started and
// joined inside the call; a process that cannot start threads at all can.
void derive_four_lanes_without_threads(const Vector& v) {
  if (!forbid_new_threads()) _exit(2);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, idle, nullptr) == 0) _exit(3);
  auto tag = run(v);
  _exit(tag && *tag == v.tag ? 0 : 4);
}

TEST(Argon2idDeathTest, DerivesFourLanesInAProcessThatCannotStartThreads) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const auto vectors = load_vectors();
  const Vector& v = vector_with_lanes(vectors, 4, false);
  EXPECT_EXIT(derive_four_lanes_without_threads(v), ::testing::ExitedWithCode(0), "");
}

TEST(Argon2id, ReportsTheLibraryTextForRefusedParameters) {
  cord::Bytes out(32);
  const cord::Bytes salt(16, 1);
  auto result = argon2id(out, Argon2idInput{{}, salt, {}, {}, Argon2idCost{8, 1, 0}});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Too few lanes");
}

}  // namespace
}  // namespace morvik::keychain
