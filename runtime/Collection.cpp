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
  size_t at = values_.size();
  if (before) {
    if (*before < 1 || *before > Count()) Fail(kErrSubscript);
    at = static_cast<size_t>(*before - 1);
  }
  const bool hasKey = key.has_value();
  // Both vectors get their room first, so that neither insert below can fail halfway.
  values_.reserve(values_.size() + 1);
  if (hasKey || keyed_) keys_.reserve(values_.size() + 1);
  if (hasKey && !keyed_) {
    keys_.resize(values_.size());  // the items so far have no key
    keyed_ = true;
  }
  values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
  if (keyed_) keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(at), std::move(key));
  if (at + 1 == values_.size()) {
    if (hasKey) index_.emplace(std::move(folded), at);
  } else {
    Reindex();
  }
}

void Collection::AddRange(Variant* first, Variant* last) {
  const size_t n = static_cast<size_t>(last - first);
  values_.reserve(values_.size() + n);
  if (keyed_) keys_.resize(keys_.size() + n);
  values_.insert(values_.end(), std::make_move_iterator(first), std::make_move_iterator(last));
}

const Variant& Collection::Item(int32_t position) const {
  if (position < 1 || position > Count()) Fail(kErrSubscript);
  return values_[static_cast<size_t>(position - 1)];
}

size_t Collection::IndexOfKey(std::u16string_view key) const {
  auto it = index_.find(Text::ToLower(key));
  if (it == index_.end()) Fail(kErrInvalidCall);
  return it->second;
}

const Variant& Collection::Item(std::u16string_view key) const {
  return values_[IndexOfKey(key)];
}

bool Collection::Exists(std::u16string_view key) const {
  return index_.count(Text::ToLower(key)) != 0;
}

void Collection::Remove(int32_t position) {
  if (position < 1 || position > Count()) Fail(kErrSubscript);
  RemoveAt(static_cast<size_t>(position - 1));
}

void Collection::Remove(std::u16string_view key) {
  RemoveAt(IndexOfKey(key));
}

void Collection::RemoveAt(size_t i) {
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(i));
  if (keyed_) keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
  Reindex();
}

void Collection::Reindex() {
  index_.clear();
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i]) index_.emplace(Text::ToLower(*keys_[i]), i);
  }
}

}  // namespace kestrola
