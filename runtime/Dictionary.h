#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

// A keyed map that keeps its keys in insertion order and compares them exactly.
class Dictionary : public Object {
 public:
  // Error 457 when the key is present.
  void Add(const std::u16string& key, Variant item);
  bool Exists(const std::u16string& key) const;
  // The empty value for an absent key (nothing is inserted).
  const Variant& Item(const std::u16string& key) const;
  // Replaces the value, or inserts the key at the end.
  void SetItem(const std::u16string& key, Variant item);
  // Error 5 when the key is absent.
  void Remove(const std::u16string& key);
  void RemoveAll();
  int32_t Count() const { return static_cast<int32_t>(keys_.size()); }
  // All keys in insertion order.
  const std::vector<std::u16string>& Keys() const { return keys_; }

 private:
  std::vector<std::u16string> keys_;
  std::unordered_map<std::u16string, Variant> values_;
};

}  // namespace kestrola
