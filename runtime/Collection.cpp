#include "runtime/Collection.h"

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
[[noreturn]] void Fail(int32_t number) {
  throw Error::Standard(number, u"Collection");
}
}  // namespace

void Collection::Add(Variant item, std::optional<std::u16string> key,
                     std::optional<int32_t> before) {
  std::u16string folded;
  if (key) {
    folded = Text::ToLower(*key);
    if (index_.count(folded)) Fail(kErrDuplicateKey);
  }
  size_t at = items_.size();
  if (before) {
    if (*before < 1 || *before > Count()) Fail(kErrSubscript);
    at = static_cast<size_t>(*before - 1);
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), Entry{std::move(item), key});
  if (at + 1 == items_.size()) {
    if (key) index_.emplace(std::move(folded), at);
  } else {
    Reindex();
  }
}

const Variant& Collection::Item(int32_t position) const {
  if (position < 1 || position > Count()) Fail(kErrSubscript);
  return items_[static_cast<size_t>(position - 1)].value;
}

size_t Collection::IndexOfKey(std::u16string_view key) const {
  auto it = index_.find(Text::ToLower(key));
  if (it == index_.end()) Fail(kErrInvalidCall);
  return it->second;
}

const Variant& Collection::Item(std::u16string_view key) const {
  return items_[IndexOfKey(key)].value;
}

bool Collection::Exists(std::u16string_view key) const {
  return index_.count(Text::ToLower(key)) != 0;
}

void Collection::Remove(int32_t position) {
  if (position < 1 || position > Count()) Fail(kErrSubscript);
  items_.erase(items_.begin() + (position - 1));
  Reindex();
}

void Collection::Remove(std::u16string_view key) {
  size_t i = IndexOfKey(key);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
  Reindex();
}

void Collection::Reindex() {
  index_.clear();
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].key) index_.emplace(Text::ToLower(*items_[i].key), i);
  }
}

}  // namespace kestrola
