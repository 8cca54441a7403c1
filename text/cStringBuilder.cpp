#include "text/cStringBuilder.h"

#include <algorithm>
#include <string>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
constexpr int64_t kMaxBytes = 2147483647;

[[noreturn]] void Fail(int32_t number) {
  throw Error::Standard(number, u"cStringBuilder");
}
}  // namespace

void cStringBuilder::SetChunkSize(int32_t iChunkSize) {
  if (iChunkSize > kMaxChars) Fail(kErrOverflow);
  if (iChunkSize < 1) Fail(kErrInvalidCall);
  chunk_ = iChunkSize;
}

void cStringBuilder::Reserve(int64_t extra) {
  int64_t need = static_cast<int64_t>(used_) + extra;
  if (need * 2 > kMaxBytes) Fail(kErrOverflow);
  if (need > allocated_) {
    int64_t chunks = (need - allocated_ + chunk_ - 1) / chunk_;
    int64_t grown = allocated_ + chunks * chunk_;
    if (grown * 2 > kMaxBytes) Fail(kErrOverflow);
    allocated_ = static_cast<int32_t>(grown);
  }
  if (static_cast<size_t>(need) > physical_) {
    // The storage grows geometrically, ahead of the chunk-based capacity, so that a text
    // built from many small pieces is copied a bounded number of times.
    size_t target = std::max<size_t>(static_cast<size_t>(need), physical_ * 2);
    target = std::min<size_t>(target, static_cast<size_t>(kMaxChars));
    Reallocate(target);
  }
}

void cStringBuilder::Reallocate(size_t size) {
  std::unique_ptr<char16_t[]> grown(new char16_t[size]);
  if (used_ > 0) std::char_traits<char16_t>::copy(grown.get(), data_.get(), used_);
  data_ = std::move(grown);
  physical_ = size;
}

void cStringBuilder::AppendNL(std::u16string_view sThis) {
  Append(sThis);
  Append(u"\r\n");
}

void cStringBuilder::TheString(std::u16string_view sThis) {
  if (sThis.empty()) {
    Clear();
    return;
  }
  int64_t n = static_cast<int64_t>(sThis.size());
  if (n * 2 > kMaxBytes) Fail(kErrOverflow);
  size_t oldUsed = used_;
  used_ = 0;  // the room needed is n from the start
  try {
    Reserve(n);
  } catch (const std::exception&) {
    // Overflow (kestrola::Error) or no memory: the builder keeps its content.
    used_ = oldUsed;
    throw;
  }
  std::char_traits<char16_t>::copy(data_.get(), sThis.data(), sThis.size());
  used_ = sThis.size();
}

void cStringBuilder::Clear() {
  data_.reset();
  physical_ = 0;
  used_ = 0;
  allocated_ = 0;
}

void cStringBuilder::Insert(int32_t iIndex, std::u16string_view sThis) {
  if (iIndex < 0 || static_cast<size_t>(iIndex) > used_) Fail(kErrSubscript);
  if (sThis.empty()) return;
  // The text may be part of our own content: copy it before moving anything.
  std::u16string copy;
  if (sThis.data() >= data_.get() && sThis.data() < data_.get() + physical_) {
    copy.assign(sThis);
    sThis = copy;
  }
  size_t n = sThis.size();
  Reserve(static_cast<int64_t>(n));
  char16_t* b = data_.get();
  std::char_traits<char16_t>::move(b + iIndex + n, b + iIndex, used_ - iIndex);
  std::char_traits<char16_t>::copy(b + iIndex, sThis.data(), n);
  used_ += n;
}

void cStringBuilder::Remove(int32_t iIndex, int32_t lLen) {
  if (iIndex < 0 || static_cast<size_t>(iIndex) > used_) Fail(kErrSubscript);
  if (lLen < 0 || static_cast<size_t>(iIndex) + static_cast<size_t>(lLen) > used_) {
    Fail(kErrSubscript);
  }
  char16_t* b = data_.get();
  std::char_traits<char16_t>::move(b + iIndex, b + iIndex + lLen, used_ - iIndex - lLen);
  used_ -= static_cast<size_t>(lLen);
}

int32_t cStringBuilder::Find(std::u16string_view sToFind, int32_t lStartIndex,
                             CompareMethod compare) const {
  size_t start = lStartIndex < 1 ? 0 : static_cast<size_t>(lStartIndex - 1);
  std::u16string_view content = View();
  if (start > content.size()) return 0;
  size_t pos;
  if (compare == vbTextCompare) {
    std::u16string hay = Text::ToLower(content);
    pos = hay.find(Text::ToLower(sToFind), start);
  } else {
    pos = content.find(sToFind, start);
  }
  return pos == std::u16string_view::npos ? 0 : static_cast<int32_t>(pos + 1);
}

void cStringBuilder::HeapMinimize() {
  int64_t spare = static_cast<int64_t>(allocated_) - static_cast<int64_t>(used_);
  if (spare <= chunk_) return;
  int64_t drop = (spare - 1) / chunk_;  // whole chunks, leaving 1..chunk_ spare
  allocated_ -= static_cast<int32_t>(drop * chunk_);
  if (physical_ > static_cast<size_t>(allocated_)) Reallocate(static_cast<size_t>(allocated_));
}

}  // namespace kestrola
