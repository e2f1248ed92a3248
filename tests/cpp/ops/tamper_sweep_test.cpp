// Every byte of a small vault, and separately of its ratchet file, flipped
// in turn (one bit of each: bit `offset % 8`, so that every bit position
// of a field is met somewhere), then the vault loaded and read by every
// member: each flip is refused at load, or reported by the load (validation
// issues, a conflict, a rollback, a warning), or changes nothing a reader
// sees; no reader ever reads a value that the untouched files would not
// give them. A crash shows in the sanitizer build.
//
// Each flip is recorded as what it produced; the tally of outcomes is a
// property of the test, printed when it fails. A violation names the file,
// the byte, the mask and, in the vault, the record the byte belongs to.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/vault_file/vault_file.hpp"
#include "keychain/files.hpp"
#include "ops/trust.hpp"
#include "store/workspace_paths.hpp"
#include "support/ops/fixture_result.hpp"
#include "support/ops/memory_tmpdir.hpp"
#include "support/ops/reader_views.hpp"
#include "support/ops/record_names.hpp"
#include "support/ops/secrets_vault.hpp"
#include "support/ops/workspace_factory.hpp"
#include "support/store/fixtures.hpp"

namespace morvik::ops {
namespace {

using namespace morvik::ops::testing;
using namespace morvik::testing;
using store::testing::write_file;

const core::SecretSelectorV1 kSweepApi = secret({"app", "api"});
const core::SecretSelectorV1 kOld = secret({"app", "old"});

// The root (seed 1); alice (2), who reads and writes under "app"; bob (3),
// who reads under "app" as a member of the group "readers".
TestVault small_vault() {
  TestVault vault(1);
  const crypto::Identity& root = vault.root();
  const crypto::Identity& alice = vault.add_user(2, 1);
  const crypto::Identity& bob = vault.add_user(3, 1);
  vault.add(root, vault_handle_body("acme", 1));
  vault.add(root, grant_body(id_seed(200), morvik::testing::user_ref(alice), read_permission(prefix({"app"})), 1));
  vault.add(root, grant_body(id_seed(201), morvik::testing::user_ref(alice), write_permission(prefix({"app"})), 1));
  const core::GroupId readers = group_id_of(id_seed(100));
  vault.add(root, group_body(id_seed(100), "readers", 1));
  vault.add(root, group_member_body(readers, morvik::testing::user_ref(bob), 1));
  vault.add(root, grant_body(id_seed(202), core::principal_ref::Group{readers}, read_permission(prefix({"app"})), 1));
  return vault;
}

// Where a byte of the vault file lies: the framing, or which record and
// how far into it.
class VaultMap {
 public:
  explicit VaultMap(const cord::Bytes& file) {
    const auto records = core::validate::decode_vault(file);
    if (!records) throw std::logic_error("test fixture: " + records.error().message());
    for (const core::VaultRecordV1& record : core::vault_records(*records)) {
      const cord::Bytes encoded = cord::serialize(record).value();
      const auto at = std::search(file.begin(), file.end(), encoded.begin(), encoded.end());
      extents_.push_back({static_cast<std::size_t>(at - file.begin()), encoded.size(), record_name(record)});
    }
  }

  std::string where(std::size_t offset) const {
    for (const Extent& e : extents_) {
      if (offset >= e.start && offset < e.start + e.length) {
        return e.name + ", +" + std::to_string(offset - e.start) + " of " + std::to_string(e.length);
      }
    }
    return offset < 13 ? "magic" : "set framing";
  }

 private:
  struct Extent {
    std::size_t start;
    std::size_t length;
    std::string name;
  };
  std::vector<Extent> extents_;
};

class TamperSweepTest : public ::testing::Test {
 protected:
  TamperSweepTest()
      : vault_(small_vault()),
        workspace_(vault_),
        readers_{{"root", &vault_.root()}, {"alice", &alice()}, {"bob", &vault_.user(3)}},
        secrets_{{"app/api", kSweepApi}, {"app/old", kOld}} {
    // History the file keeps, which a lost record would bring back: an
    // overwritten value and a deleted secret.
    workspace_.set_secret(alice(), kSweepApi, "key-1");
    core::SecretValueV1 api = core::SecretValueV1::from_primary(bytes_of("key-2"));
    api.fields.insert(core::SecretFieldEntryV1{"user", secret_bytes_of("admin")});
    workspace_.set_secret(alice(), kSweepApi, api);
    workspace_.set_secret(alice(), kOld, "gone");
    workspace_.delete_secret(alice(), kOld);
    // Loads take the hashes of alice's cache as verified, as on a machine
    // where she works: only the changed record's signature is checked.
    workspace_.set_current_user(alice().user_id);
    (void)workspace_.open_as(alice());
    originals_ = {{paths().vault_path, read_file(paths().vault_path)},
                  {workspace_.ratchet_path(), read_file(workspace_.ratchet_path())},
                  {cache_path(), read_file(cache_path())}};
    baseline_ = view_as_readers(load(), readers_, secrets_);
  }

  const crypto::Identity& alice() const { return vault_.user(2); }
  const store::WorkspacePaths& paths() const { return workspace_.paths(); }
  LockedSession load() const { return expect_ok(LockedSession::load(paths(), kCrypto)); }
  store::Path cache_path() const {
    return store::verification_cache_path(paths(), workspace_.trusted_root(), alice().user_id);
  }
  const cord::Bytes& original(const store::Path& file) const { return originals_.at(file); }

  // Puts every file back as the fixture left it, then flips one byte.
  void flip(const store::Path& file, std::size_t offset, std::uint8_t mask) const {
    for (const auto& [path, bytes] : originals_) put(path, bytes);
    cord::Bytes flipped = original(file);
    flipped[offset] ^= mask;
    put(file, flipped);
  }

  // Thousands of times over: plain reads and writes.
  static cord::Bytes read_file(const store::Path& path) {
    const int fd = ::open(path.bytes().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::logic_error("test fixture: cannot open " + path.display());
    cord::Bytes bytes(::lseek(fd, 0, SEEK_END));
    const bool whole = ::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!whole) throw std::logic_error("test fixture: cannot read " + path.display());
    return bytes;
  }

  // Writes `bytes` to `path` unless it holds them already: in place when
  // the size is unchanged, as truncating and rewriting thousands of times
  // makes the file system flush on every close.
  static void put(const store::Path& path, const cord::Bytes& bytes) {
    const cord::Bytes current = read_file(path);
    if (current == bytes) return;
    if (current.size() != bytes.size()) return write_file(path, bytes);
    const int fd = ::open(path.bytes().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path.display();
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size())) << path.display();
    ::close(fd);
  }

  // A failure's text without what varies between runs and values: the
  // files' paths and the digits.
  std::string category(std::string text) const {
    for (const auto& [path, name] : {std::pair{paths().vault_path, "vault.cord"},
                                     std::pair{workspace_.ratchet_path(), "ratchet.cord"}}) {
      for (std::size_t at; (at = text.find(path.bytes())) != std::string::npos;) {
        text.replace(at, path.bytes().size(), name);
      }
    }
    std::string out;
    for (char c : text) {
      if (std::isdigit(static_cast<unsigned char>(c)) && !out.empty() && out.back() == '#') continue;
      out += std::isdigit(static_cast<unsigned char>(c)) ? '#' : c;
    }
    return out.substr(0, 100);
  }

  // Loads and reads the flipped files; returns what that produced and adds
  // a failure for every value read that the untouched files do not give.
  std::string outcome(const std::string& where) const {
    auto session = LockedSession::load(paths(), kCrypto);
    if (!session) return "refused at load: " + category(session.error().message());
    const core::validate::ValidationReport report = session->report;
    const VaultView view = view_as_readers(std::move(*session), readers_, secrets_);
    for (const std::string& value : values_not_in(view, baseline_)) ADD_FAILURE() << where << ": " << value;

    if (!report.issues.empty()) {
      const std::string issue = core::validate::debug_string(report.issues.front());
      return "loads, reports issues: " + issue.substr(0, issue.find_first_of("( "));
    }
    if (has_suspected_rollback(report)) return "loads, reports a rollback";
    if (!report.state.conflicts.empty()) return "loads, reports a conflict";
    if (!report.warnings.empty()) return "loads, reports warnings";
    // Nothing reported: nothing a reader sees may have changed.
    EXPECT_EQ(view, baseline_) << where << " changed what readers see without a report";
    return "loads, nothing changed";
  }

  void sweep(const store::Path& file, const std::string& name) const {
    const std::optional<VaultMap> map =
        file == paths().vault_path ? std::optional<VaultMap>(original(file)) : std::nullopt;
    std::map<std::string, int> tally;
    for (std::size_t offset = 0; offset < original(file).size(); ++offset) {
      const auto mask = static_cast<std::uint8_t>(1u << (offset % 8));
      flip(file, offset, mask);
      char where[48];
      std::snprintf(where, sizeof where, " byte %zu ^0x%02X", offset, mask);
      ++tally[outcome(name + where + (map ? " (" + map->where(offset) + ")" : ""))];
    }
    // Beside a failure, what every other flip did.
    std::string text;
    for (const auto& [what, count] : tally) text += "\n  " + std::to_string(count) + "\t" + what;
    RecordProperty("outcomes", text);
    if (HasFailure()) {
      std::cout << name << ", " << original(file).size() << " bytes, one bit of each flipped:" << text << "\n";
    }
  }

  MemoryTmpdir tmpdir_;
  TestVault vault_;
  TestWorkspace workspace_;
  std::vector<NamedReader> readers_;
  std::vector<NamedSecret> secrets_;
  std::map<store::Path, cord::Bytes> originals_;
  VaultView baseline_;
};

// The fixture itself: every member reads what was written, and the
// history is there to be lost.
TEST_F(TamperSweepTest, TheUntouchedVaultReadsAsWritten) {
  for (const char* reader : {"root", "alice", "bob"}) {
    EXPECT_EQ(baseline_.at(reader).reads.at("app/api"), (SecretRead{true, "key-2 user=admin"})) << reader;
    EXPECT_EQ(baseline_.at(reader).reads.at("app/old"), (SecretRead{false, "secret is missing"})) << reader;
  }
}

TEST_F(TamperSweepTest, EveryVaultByte) { sweep(paths().vault_path, "vault.cord"); }

// On a machine without a cache, as on the invitation road: every load checks
// every signature, and no unlock has to check them again.
TEST_F(TamperSweepTest, EveryRatchetByte) {
  std::filesystem::remove(keychain::current_user_path(workspace_.keychain_dir(), workspace_.trusted_root()).bytes());
  sweep(workspace_.ratchet_path(), "ratchet.cord");
}

}  // namespace
}  // namespace morvik::ops
