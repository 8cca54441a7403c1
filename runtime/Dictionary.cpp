#include "runtime/Dictionary.h"

#include "runtime/Error.h"

namespace kestrola {

namespace {
size_t Hash(std::u16string_view key) {
  // FNV-1a over the code units.
  uint64_t h = 1469598103934665603ULL;
  for (char16_t c : key) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return static_cast<size_t>(h ^ (h >> 32));
}
}  // namespace

int64_t Dictionary::Find(std::u16string_view key) const {
  if (slots_.empty()) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first == key) return static_cast<int64_t>(i);
    }
    return -1;
  }
  size_t mask = slots_.size() - 1;
  for (size_t s = Hash(key) & mask;; s = (s + 1) & mask) {
    int32_t at = slots_[s];
    if (at < 0) return -1;
    if (entries_[static_cast<size_t>(at)].first == key) return at;
  }
}

void Dictionary::Rebuild() {
  slots_.clear();
  if (entries_.size() <= kDirectSearch) return;
  size_t size = 16;
  while (size < entries_.size() * 2) size *= 2;
  slots_.assign(size, -1);
  size_t mask = size - 1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    size_t s = Hash(entries_[i].first) & mask;
    while (slots_[s] >= 0) s = (s + 1) & mask;
    slots_[s] = static_cast<int32_t>(i);
  }
}

void Dictionary::Insert(std::u16string key, Variant item) {
  entries_.emplace_back(std::move(key), std::move(item));
  if (entries_.size() <= kDirectSearch) return;
  if (slots_.empty() || entries_.size() * 2 > slots_.size()) {
    Rebuild();
    return;
  }
  size_t mask = slots_.size() - 1;
  size_t s = Hash(entries_.back().first) & mask;
  while (slots_[s] >= 0) s = (s + 1) & mask;
  slots_[s] = static_cast<int32_t>(entries_.size() - 1);
}

void Dictionary::Add(std::u16string key, Variant item) {
  if (Find(key) >= 0) throw Error::Standard(kErrDuplicateKey, u"Dictionary");
  Insert(std::move(key), std::move(item));
}

const Variant& Dictionary::Item(std::u16string_view key) const {
  static const Variant kEmpty;
  int64_t at = Find(key);
  return at < 0 ? kEmpty : entries_[static_cast<size_t>(at)].second;
}

void Dictionary::SetItem(std::u16string_view key, Variant item) {
  int64_t at = Find(key);
  if (at >= 0) {
    entries_[static_cast<size_t>(at)].second = std::move(item);
    return;
  }
  Insert(std::u16string(key), std::move(item));
}

void Dictionary::Remove(std::u16string_view key) {
  int64_t at = Find(key);
  if (at < 0) throw Error::Standard(kErrInvalidCall, u"Dictionary");
  entries_.erase(entries_.begin() + at);
  Rebuild();
}

void Dictionary::RemoveAll() {
  entries_.clear();
  slots_.clear();
}

std::vector<std::u16string> Dictionary::Keys() const {
  std::vector<std::u16string> keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.push_back(e.first);
  return keys;
}

}  // namespace kestrola
