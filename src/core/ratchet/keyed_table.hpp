#pragma once

// A ratchet's per-key memory: one entry per record key, in key order, in one
// sorted block. A ratchet remembers as many keys as the vault has held
// secrets, and a tree would add a node allocation and three pointers to each.

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/record_key.hpp"

namespace morvik::core::ratchet {

template <class V>
class KeyedTable {
 public:
  using value_type = std::pair<RecordKey, V>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  KeyedTable() = default;
  // The first entry of a key stays.
  KeyedTable(std::initializer_list<value_type> entries) {
    for (const auto& [key, value] : entries) try_emplace(key, value);
  }
  // Implicit, so that a map, already in key order, is taken as it stands.
  KeyedTable(const std::map<RecordKey, V>& entries) : entries_(entries.begin(), entries.end()) {}

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  const_iterator find(const RecordKey& key) const {
    auto at = lower_bound(entries_.begin(), key);
    return at != entries_.end() && at->first == key ? at : entries_.end();
  }
  iterator find(const RecordKey& key) {
    auto at = lower_bound(entries_.begin(), key);
    return at != entries_.end() && at->first == key ? at : entries_.end();
  }
  bool contains(const RecordKey& key) const { return find(key) != end(); }
  const V& at(const RecordKey& key) const {
    auto found = find(key);
    if (found == end()) throw std::out_of_range("no entry for the key");
    return found->second;
  }
  V& at(const RecordKey& key) { return const_cast<V&>(std::as_const(*this).at(key)); }
  V& operator[](const RecordKey& key) { return try_emplace(key).first->second; }

  // Adds an entry unless the key has one. Appending a key above every held
  // one, as reading keys in order does, moves nothing.
  template <class... Args>
  std::pair<iterator, bool> try_emplace(RecordKey key, Args&&... args) {
    if (entries_.empty() || entries_.back().first < key) {
      entries_.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::move(key)),
                            std::forward_as_tuple(std::forward<Args>(args)...));
      return {std::prev(entries_.end()), true};
    }
    auto at = lower_bound(entries_.begin(), key);
    if (at->first == key) return {at, false};
    at = entries_.emplace(at, std::piecewise_construct, std::forward_as_tuple(std::move(key)),
                          std::forward_as_tuple(std::forward<Args>(args)...));
    return {at, true};
  }
  template <class... Args>
  std::pair<iterator, bool> emplace(RecordKey key, Args&&... args) {
    return try_emplace(std::move(key), std::forward<Args>(args)...);
  }

  // Folds in entries in any order, as try_emplace would one by one, with
  // `combine(held, later)` on each key met again; an ordering and one merge
  // rather than an insertion in the middle per entry.
  template <class Combine>
  void absorb(std::vector<value_type> entries, Combine combine) {
    order_by_key(entries);
    auto kept = entries.begin();
    for (auto next = entries.begin(); next != entries.end(); ++next) {
      if (next == entries.begin()) continue;
      if (next->first == kept->first) {
        combine(kept->second, std::move(next->second));
      } else if (++kept != next) {
        *kept = std::move(*next);
      }
    }
    if (!entries.empty()) entries.erase(std::next(kept), entries.end());
    if (entries_.empty()) {
      if (entries.capacity() - entries.size() > entries.size() / 8) entries.shrink_to_fit();
      entries_ = std::move(entries);
      return;
    }
    merge_sorted(std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()), combine);
  }
  // The same for entries already in key order, each key once.
  template <class Combine>
  void absorb(const std::map<RecordKey, V>& entries, Combine combine) {
    merge_sorted(entries.begin(), entries.end(), combine);
  }

  friend bool operator==(const KeyedTable&, const KeyedTable&) = default;

 private:
  template <class It>
  static It lower_bound(It from, It to, const RecordKey& key) {
    return std::lower_bound(from, to, key, [](const auto& entry, const RecordKey& k) { return entry.first < k; });
  }
  iterator lower_bound(iterator from, const RecordKey& key) { return lower_bound(from, entries_.end(), key); }
  const_iterator lower_bound(const_iterator from, const RecordKey& key) const {
    return lower_bound(from, entries_.end(), key);
  }

  // A stable sort by key that costs one pass over entries already in key
  // order. Entries read from a file come in a few ascending runs (the file
  // orders records by their encodings, which begin with their lengths), so
  // neighbouring runs are merged rather than everything sorted.
  static void order_by_key(std::vector<value_type>& entries) {
    const auto by_key = [](const value_type& a, const value_type& b) { return a.first < b.first; };
    std::vector<std::size_t> run_ends;
    for (auto at = entries.begin(); at != entries.end();) {
      at = std::is_sorted_until(at, entries.end(), by_key);
      run_ends.push_back(static_cast<std::size_t>(at - entries.begin()));
    }
    const auto at = [&](std::size_t offset) { return entries.begin() + static_cast<std::ptrdiff_t>(offset); };
    while (run_ends.size() > 1) {
      std::vector<std::size_t> merged;
      std::size_t start = 0;
      for (std::size_t i = 0; i < run_ends.size(); i += 2) {
        std::size_t end = run_ends[i];
        if (i + 1 < run_ends.size()) {
          end = run_ends[i + 1];
          // Stable: of equal keys, those of the earlier run stay first.
          std::inplace_merge(at(start), at(run_ends[i]), at(end), by_key);
        }
        merged.push_back(end);
        start = end;
      }
      run_ends = std::move(merged);
    }
  }

  // Sorted, distinct incoming keys: in place when every key is held already
  // (a raise of what is remembered), else one merged block.
  template <class It, class Combine>
  void merge_sorted(It first, It last, Combine combine) {
    std::size_t fresh = 0;
    auto at = entries_.begin();
    for (auto in = first; in != last; ++in) {
      at = lower_bound(at, (*in).first);
      if (at == entries_.end() || at->first != (*in).first) ++fresh;
    }
    if (fresh == 0) {
      at = entries_.begin();
      for (auto in = first; in != last; ++in) {
        auto&& entry = *in;
        at = lower_bound(at, entry.first);
        combine(at->second, std::forward<decltype(entry)>(entry).second);
      }
      return;
    }
    std::vector<value_type> merged;
    merged.reserve(entries_.size() + fresh);
    auto held = entries_.begin();
    for (auto in = first; in != last; ++in) {
      auto&& entry = *in;
      while (held != entries_.end() && held->first < entry.first) merged.push_back(std::move(*held++));
      if (held != entries_.end() && held->first == entry.first) {
        combine(held->second, std::forward<decltype(entry)>(entry).second);
        merged.push_back(std::move(*held++));
      } else {
        merged.emplace_back(std::forward<decltype(entry)>(entry));
      }
    }
    std::move(held, entries_.end(), std::back_inserter(merged));
    entries_ = std::move(merged);
  }

  std::vector<value_type> entries_;
};

}  // namespace morvik::core::ratchet
