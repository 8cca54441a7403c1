#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestrola {

// A growable text buffer of UTF-16 code units. Capacity grows in whole chunks (8,192 characters
// by default); counts are limited to what 2,147,483,647 bytes hold. Index errors raise error 9,
// count overflow error 6; a failed call leaves the content unchanged. Failures are raised as
// kestrola::Error (or std::bad_alloc when memory runs out); nothing is swallowed here.
//
// Capacity() reports the chunk-based figure; the physical storage underneath grows
// geometrically so that appending stays linear however many chunks are added.
class cStringBuilder {
 public:
  static constexpr int32_t kDefaultChunk = 8192;
  static constexpr int32_t kMaxChars = 1073741823;  // 2,147,483,647 bytes / 2

  enum CompareMethod : int32_t { vbBinaryCompare = 0, vbTextCompare = 1 };

  int32_t Length() const { return static_cast<int32_t>(used_); }
  int32_t Capacity() const { return allocated_; }
  int32_t ChunkSize() const { return chunk_; }
  // Error 6 above 1,073,741,823 characters; error 5 below 1 (growth needs a positive step).
  void SetChunkSize(int32_t iChunkSize);

  std::u16string toString() const { return std::u16string(data_.get(), used_); }
  std::u16string_view View() const { return std::u16string_view(data_.get(), used_); }
  void TheString(std::u16string_view sThis);
  void Clear();

  void AppendNL(std::u16string_view sThis);
  void Append(std::u16string_view sThis) {
    size_t need = used_ + sThis.size();
    if (need > physical_ || need > static_cast<size_t>(allocated_)) {
      Reserve(static_cast<int64_t>(sThis.size()));
    }
    if (!sThis.empty()) {
      std::char_traits<char16_t>::copy(data_.get() + used_, sThis.data(), sThis.size());
    }
    used_ += sThis.size();
  }
  void Append(char16_t c) {
    if (used_ == physical_ || used_ == static_cast<size_t>(allocated_)) Reserve(1);
    data_[used_++] = c;
  }
  void AppendByVal(std::u16string sThis) { Append(std::u16string_view(sThis)); }
  void Insert(int32_t iIndex, std::u16string_view sThis);
  void InsertByVal(int32_t iIndex, std::u16string sThis) { Insert(iIndex, sThis); }
  void Remove(int32_t iIndex, int32_t lLen);
  int32_t Find(std::u16string_view sToFind, int32_t lStartIndex = 1,
               CompareMethod compare = vbBinaryCompare) const;
  void HeapMinimize();

 private:
  // Makes room for `extra` more characters: raises error 6 past the limit, grows the
  // logical capacity by whole chunks and the physical storage geometrically.
  void Reserve(int64_t extra);
  // Moves the content into new storage of `size` characters.
  void Reallocate(size_t size);

  // Physical storage; its first used_ characters are the content. It may run ahead of the
  // logical capacity allocated_, which is what Capacity() reports.
  std::unique_ptr<char16_t[]> data_;
  size_t physical_ = 0;
  size_t used_ = 0;
  int32_t allocated_ = 0;
  int32_t chunk_ = kDefaultChunk;
};

}  // namespace kestrola
