#include "runtime/Dictionary.h"

#include <algorithm>

#include "runtime/Error.h"

namespace kestrola {

void Dictionary::Add(const std::u16string& key, Variant item) {
  auto [it, inserted] = values_.try_emplace(key, std::move(item));
  if (!inserted) throw Error::Standard(kErrDuplicateKey, u"Dictionary");
  keys_.push_back(key);
}

bool Dictionary::Exists(const std::u16string& key) const {
  return values_.count(key) != 0;
}

const Variant& Dictionary::Item(const std::u16string& key) const {
  static const Variant kEmpty;
  auto it = values_.find(key);
  return it == values_.end() ? kEmpty : it->second;
}

void Dictionary::SetItem(const std::u16string& key, Variant item) {
  auto it = values_.find(key);
  if (it != values_.end()) {
    it->second = std::move(item);
    return;
  }
  values_.emplace(key, std::move(item));
  keys_.push_back(key);
}

void Dictionary::Remove(const std::u16string& key) {
  if (values_.erase(key) == 0) throw Error::Standard(kErrInvalidCall, u"Dictionary");
  keys_.erase(std::find(keys_.begin(), keys_.end(), key));
}

void Dictionary::RemoveAll() {
  keys_.clear();
  values_.clear();
}

}  // namespace kestrola
