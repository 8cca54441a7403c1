#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

// The platform's ordered collection: 1-based positions, optional text keys compared without
// regard to letter case. Failures: absent key error 5, position out of range error 9,
// duplicate key error 457.
class Collection : public Object {
 public:
  // Adds at the end, or before the item at 1-based position `before` (error 9 when out of
  // range). An empty key optional means no key.
  void Add(Variant item, std::optional<std::u16string> key = std::nullopt,
           std::optional<int32_t> before = std::nullopt);
  // Adds the items of [first, last) at the end without keys, moving them out, with one
  // allocation for all of them.
  void AddRange(Variant* first, Variant* last);
  const Variant& Item(int32_t position) const;
  const Variant& Item(std::u16string_view key) const;
  bool Exists(std::u16string_view key) const;
  void Remove(int32_t position);
  void Remove(std::u16string_view key);
  int32_t Count() const { return static_cast<int32_t>(values_.size()); }

  // Enumeration of the items in order.
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

 private:
  size_t IndexOfKey(std::u16string_view key) const;  // throws error 5 when absent
  void RemoveAt(size_t i);
  void Reindex();

  std::vector<Variant> values_;
  // The items' keys, beside values_, once an item has had a key (keyed_); until then keys_
  // stays empty, so that lists of plain values, the common case, cost nothing for them.
  std::vector<std::optional<std::u16string>> keys_;
  bool keyed_ = false;
  std::unordered_map<std::u16string, size_t> index_;  // folded key -> position - 1
};

}  // namespace kestrola
