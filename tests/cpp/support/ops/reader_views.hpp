#pragma once

// A loaded vault as each of its readers sees it: the session opened with
// the reader's identity, then every secret read. Sweeps that change the
// vault or ratchet file compare such views with the view of the untouched
// files: whatever else a change causes, no reader may ever read a value
// that the untouched files would not give that reader.

#include <map>
#include <string>
#include <vector>

#include "core/selectors.hpp"
#include "crypto/identity.hpp"
#include "ops/session.hpp"

namespace morvik::ops::testing {

struct NamedReader {
  std::string name;
  const crypto::Identity* identity;
};

struct NamedSecret {
  std::string name;
  core::SecretSelectorV1 selector;
};

// One read: the value (the primary value, then each field as name=value)
// when `read`, else the error's text.
struct SecretRead {
  bool read = false;
  std::string text;

  bool operator==(const SecretRead&) const = default;
};

// Why the reader could not open the session (empty when it could), or what
// each secret, by name, read as.
struct ReaderView {
  std::string refused;
  std::map<std::string, SecretRead> reads;

  bool operator==(const ReaderView&) const = default;
};

// By reader name.
using VaultView = std::map<std::string, ReaderView>;

// Opens `session` (a copy of it for all but the last) as each reader and
// reads every secret. A session whose validation found issues is refused
// to whoever unlocks it, before anything of the reader is looked at: it is
// tried once, and every reader gets that refusal.
VaultView view_as_readers(LockedSession session, const std::vector<NamedReader>& readers,
                          const std::vector<NamedSecret>& secrets);

// Every value read in `seen` that `expected` does not give the same reader
// for the same secret, each described as "bob read app/api as ...".
std::vector<std::string> values_not_in(const VaultView& seen, const VaultView& expected);

}  // namespace morvik::ops::testing
