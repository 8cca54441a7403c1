#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

// A keyed map that keeps its keys in insertion order and compares them exactly.
//
// Entries live in one vector in insertion order; small maps are searched directly and larger
// ones through an open-addressing table of positions, so a key is stored once.
class Dictionary : public Object {
 public:
  // Error 457 when the key is present.
  void Add(std::u16string key, Variant item);
  bool Exists(std::u16string_view key) const { return Find(key) >= 0; }
  // The empty value for an absent key (nothing is inserted).
  const Variant& Item(std::u16string_view key) const;
  // Replaces the value, or inserts the key at the end.
  void SetItem(std::u16string_view key, Variant item);
  // Error 5 when the key is absent.
  void Remove(std::u16string_view key);
  void RemoveAll();
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // All keys in insertion order.
  std::vector<std::u16string> Keys() const;

 private:
  static constexpr size_t kDirectSearch = 8;  // up to this many entries, no table

  int64_t Find(std::u16string_view key) const;  // position, or -1
  void Insert(std::u16string key, Variant item);
  void Rebuild();

  std::vector<std::pair<std::u16string, Variant>> entries_;
  std::vector<int32_t> slots_;  // positions in entries_, -1 for an empty slot
};

}  // namespace kestrola
