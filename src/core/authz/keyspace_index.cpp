#include "core/authz/keyspace_index.hpp"

#include <sodium.h>

#include <array>
#include <cstring>

#include "core/authz/shape.hpp"

namespace morvik::core::authz {
namespace {

using Text = cord::CompactText;
using Segments = std::vector<Text>;

// What a probe is filed under: the kind of path, then how its labels are
// told apart.
enum class Path : std::uint8_t { Prefix = 'P', Exact = 'E' };
enum class By : std::uint8_t { Nothing = '-', Value = 'v', Key = 'k', Labelled = 'L' };

// One key for the life of the process, drawn at first use. Answers never
// depend on it: without a random source it stays zero, and only the
// resistance to collisions written on purpose is lost.
const std::array<unsigned char, crypto_shorthash_KEYBYTES>& hash_key() {
  static const auto key = [] {
    std::array<unsigned char, crypto_shorthash_KEYBYTES> drawn{};
    if (sodium_init() >= 0) randombytes_buf(drawn.data(), drawn.size());
    return drawn;
  }();
  return key;
}

// Gathers one hash input: in place while short, as most are, so that a
// question allocates for its probes rather than for each hash.
class Hasher {
 public:
  Hasher& byte(std::uint8_t value) { return append(&value, 1); }
  Hasher& word(std::uint64_t value) {
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return append(bytes.data(), bytes.size());
  }
  // Length first, so that consecutive texts cannot run into each other.
  Hasher& text(const Text& value) {
    word(value.size());
    return append(reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
  }
  std::uint64_t done() {
    const std::uint8_t* bytes = long_.empty() ? short_.data() : long_.data();
    std::array<unsigned char, crypto_shorthash_BYTES> out{};
    crypto_shorthash(out.data(), bytes, size_, hash_key().data());
    size_ = 0;
    long_.clear();
    std::uint64_t value = 0;
    std::memcpy(&value, out.data(), sizeof value);
    return value;
  }

 private:
  Hasher& append(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return *this;
    if (long_.empty() && size_ + count <= short_.size()) {
      std::memcpy(short_.data() + size_, bytes, count);
    } else {
      if (long_.empty()) long_.assign(short_.begin(), short_.begin() + static_cast<std::ptrdiff_t>(size_));
      long_.insert(long_.end(), bytes, bytes + count);
    }
    size_ += count;
    return *this;
  }

  std::array<std::uint8_t, 64> short_{};
  std::size_t size_ = 0;
  std::vector<std::uint8_t> long_;
};

// The hash of each leading part of a path, its own length included: entry
// n stands for the first n segments, computed up to `up_to` of them.
std::vector<std::uint64_t> path_chain(const Segments& path, std::size_t up_to) {
  Hasher hasher;
  std::vector<std::uint64_t> chain{hasher.done()};
  for (std::size_t n = 0; n < up_to && n < path.size(); ++n) chain.push_back(hasher.word(chain.back()).text(path[n]).done());
  return chain;
}

std::uint64_t path_probe(Path kind, std::uint64_t path, By by) {
  return Hasher().byte(static_cast<std::uint8_t>(kind)).word(path).byte(static_cast<std::uint8_t>(by)).done();
}
std::uint64_t key_probe(Path kind, std::uint64_t path, const Text& key) {
  return Hasher().byte(static_cast<std::uint8_t>(kind)).word(path).byte(static_cast<std::uint8_t>(By::Key)).text(key).done();
}
std::uint64_t value_probe(Path kind, std::uint64_t path, const Text& key, const Text& value) {
  return Hasher()
      .byte(static_cast<std::uint8_t>(kind))
      .word(path)
      .byte(static_cast<std::uint8_t>(By::Value))
      .text(key)
      .text(value)
      .done();
}

// The label matcher a keyspace is filed by: its first naming values, else
// its first asking for a key, else none (absent keys name nothing to look
// up).
const KeyspaceLabelMatcherV1* filing_label(const KeyspaceSelectorV1& keyspace) {
  for (const auto& label : keyspace.labels) {
    if (std::holds_alternative<label_matcher::Equals>(label.matcher) ||
        std::holds_alternative<label_matcher::In>(label.matcher)) {
      return &label;
    }
  }
  for (const auto& label : keyspace.labels) {
    if (std::holds_alternative<label_matcher::Present>(label.matcher)) return &label;
  }
  return nullptr;
}

// A path a keyspace is filed at, or a question looks at: its kind and the
// hash of its segments.
struct Level {
  Path kind;
  std::uint64_t path;
};

// A question's label probes: (key, value) pairs, and keys alone.
struct LabelProbes {
  std::vector<std::pair<const Text*, const Text*>> values;
  std::vector<const Text*> keys;
};

void sort_unique(std::vector<std::uint64_t>& probes) {
  std::sort(probes.begin(), probes.end());
  probes.erase(std::unique(probes.begin(), probes.end()), probes.end());
}

}  // namespace

KeyspaceIndex::KeyspaceIndex(const std::vector<const KeyspaceSelectorV1*>& keyspaces) : keyspaces_(keyspaces) {
  for (std::uint32_t at = 0; at < keyspaces_.size(); ++at) {
    const KeyspaceSelectorV1& keyspace = *keyspaces_[at];
    if (!validate_keyspace_selector(keyspace)) {
      unindexed_.push_back(at);
      continue;
    }
    Level level{Path::Prefix, 0};
    if (const auto* exact = std::get_if<tuple_matcher::Exact>(&keyspace.tuple)) {
      level = {Path::Exact, path_chain(exact->value, exact->value.size()).back()};
      has_exact_ = true;
    } else {
      const auto* prefix = std::get_if<tuple_matcher::Prefix>(&keyspace.tuple);
      const std::size_t length = prefix ? prefix->value.size() : 0;
      level.path = prefix ? path_chain(prefix->value, length).back() : path_chain({}, 0).back();
      prefix_lengths_.push_back(static_cast<std::uint32_t>(length));
    }
    const auto* label = filing_label(keyspace);
    if (label == nullptr) {
      entries_.emplace_back(path_probe(level.kind, level.path, By::Nothing), at);
      continue;
    }
    labelled_paths_.push_back(path_probe(level.kind, level.path, By::Labelled));
    if (const auto* equals = std::get_if<label_matcher::Equals>(&label->matcher)) {
      entries_.emplace_back(value_probe(level.kind, level.path, label->key, equals->value), at);
    } else if (const auto* in = std::get_if<label_matcher::In>(&label->matcher)) {
      for (const auto& value : *in->value) entries_.emplace_back(value_probe(level.kind, level.path, label->key, value), at);
    } else {
      entries_.emplace_back(key_probe(level.kind, level.path, label->key), at);
    }
  }
  std::sort(entries_.begin(), entries_.end());
  entries_.erase(std::unique(entries_.begin(), entries_.end()), entries_.end());
  sort_unique(labelled_paths_);
  std::sort(prefix_lengths_.begin(), prefix_lengths_.end());
  prefix_lengths_.erase(std::unique(prefix_lengths_.begin(), prefix_lengths_.end()), prefix_lengths_.end());
}

bool KeyspaceIndex::labels_ascend(const SecretSelectorV1& secret) {
  return std::is_sorted(secret.labels.begin(), secret.labels.end(),
                        [](const SecretLabelV1& a, const SecretLabelV1& b) { return a.key < b.key; });
}

bool KeyspaceIndex::probes_cover(const KeyspaceSelectorV1& inner) {
  return std::none_of(inner.labels.begin(), inner.labels.end(), [](const KeyspaceLabelMatcherV1& label) {
    const auto* in = std::get_if<label_matcher::In>(&label.matcher);
    return in != nullptr && in->value->empty();
  });
}

namespace {

// Every probe of a question about `path` at the levels given, its labels
// probed only at levels where some keyspace is filed by a label.
std::vector<std::uint64_t> probes_at(const std::vector<Level>& levels, const LabelProbes& labels,
                                     const std::vector<std::uint64_t>& labelled_paths) {
  std::vector<std::uint64_t> probes;
  for (const Level& level : levels) {
    probes.push_back(path_probe(level.kind, level.path, By::Nothing));
    if (!std::binary_search(labelled_paths.begin(), labelled_paths.end(),
                            path_probe(level.kind, level.path, By::Labelled))) {
      continue;
    }
    for (const auto& [key, value] : labels.values) probes.push_back(value_probe(level.kind, level.path, *key, *value));
    for (const auto* key : labels.keys) probes.push_back(key_probe(level.kind, level.path, *key));
  }
  sort_unique(probes);
  return probes;
}

// The levels of a question about a path of which the first `length`
// segments are fixed, exact or not.
std::vector<Level> levels_of(const Segments& path, std::size_t length, bool exact,
                             const std::vector<std::uint32_t>& prefix_lengths, bool has_exact) {
  auto last = std::upper_bound(prefix_lengths.begin(), prefix_lengths.end(), length);
  const bool want_exact = exact && has_exact;
  const std::size_t deepest = want_exact ? length : (last == prefix_lengths.begin() ? 0 : *std::prev(last));
  const auto chain = path_chain(path, deepest);
  std::vector<Level> levels;
  for (auto at = prefix_lengths.begin(); at != last; ++at) levels.push_back({Path::Prefix, chain[*at]});
  if (want_exact) levels.push_back({Path::Exact, chain[length]});
  return levels;
}

}  // namespace

std::vector<std::uint64_t> KeyspaceIndex::match_probes(const SecretSelectorV1& secret) const {
  LabelProbes labels;
  for (const auto& label : secret.labels) {
    labels.values.emplace_back(&label.key, &label.value);
    labels.keys.push_back(&label.key);
  }
  const auto levels = levels_of(secret.tuple, secret.tuple.size(), true, prefix_lengths_, has_exact_);
  return probes_at(levels, labels, labelled_paths_);
}

std::vector<std::uint64_t> KeyspaceIndex::subsume_probes(const KeyspaceSelectorV1& inner) const {
  // A keyspace covering `inner` names, on the key it is filed by, values
  // all of `inner`'s values on that key lie in, so one of them finds it; or
  // asks for a key `inner` requires.
  LabelProbes labels;
  for (const auto& label : inner.labels) {
    if (const auto* equals = std::get_if<label_matcher::Equals>(&label.matcher)) {
      labels.values.emplace_back(&label.key, &equals->value);
    } else if (const auto* in = std::get_if<label_matcher::In>(&label.matcher)) {
      labels.values.emplace_back(&label.key, &in->value->front());
    } else if (std::holds_alternative<label_matcher::Absent>(label.matcher)) {
      continue;
    }
    labels.keys.push_back(&label.key);
  }
  // Any path is covered by `Any` alone, a prefix by shorter or equal
  // prefixes, an exact path by those and by itself.
  static const Segments kNone;
  std::vector<Level> levels;
  if (const auto* exact = std::get_if<tuple_matcher::Exact>(&inner.tuple)) {
    levels = levels_of(exact->value, exact->value.size(), true, prefix_lengths_, has_exact_);
  } else if (const auto* prefix = std::get_if<tuple_matcher::Prefix>(&inner.tuple)) {
    levels = levels_of(prefix->value, prefix->value.size(), false, prefix_lengths_, has_exact_);
  } else {
    levels = levels_of(kNone, 0, false, prefix_lengths_, has_exact_);
  }
  return probes_at(levels, labels, labelled_paths_);
}

}  // namespace morvik::core::authz
