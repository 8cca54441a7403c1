// JSON text to JsonBag nodes.
//
// The scanner is lenient about separators (commas optional and repeatable, trailing text after
// the outermost container ignored) and strict about string characters and number shapes.
// Every error carries the 1-based UTF-16 position where it was found.
//
// The scanner reads UTF-16 text, or UTF-8 text directly: structure, numbers and literals are
// ASCII either way, and UTF-8 strings are decoded as they are read (ASCII ones not at all), so
// a UTF-8 document needs no converted copy. A UTF-8 text gives exactly what its conversion with
// Text::FromUtf8 gives, error positions included.
//
// Nesting is handled with an explicit stack of open containers instead of recursion, and
// values are collected on one scratch stack; a container's block is allocated once, exactly
// sized, when its closing bracket is read.
//
// In strict mode the same scanner accepts exactly the grammar of RFC 8259: it tracks commas
// per container, checks the shape of each number before reading it, keeps escape letters in
// lower case, rejects invalid UTF-8 in strings and anything after the document.

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/JsonBag.h"
#include "json/JsonBagStore.h"
#include "runtime/Error.h"
#include "runtime/Hex.h"
#include "runtime/Text.h"

namespace kestrola {
namespace jsonbag {

namespace {

// A value still being read.
constexpr auto kPending = static_cast<Tag>(0xFE);
// A member replaced by a later one of the same name.
constexpr auto kDropped = static_cast<Tag>(0xFF);

std::u16string PositionText(size_t n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::u16string(buf, r.ptr);
}

[[noreturn]] void Fail(int32_t number, const char16_t* text, size_t position) {
  throw Error(number, u"JsonBag", text + PositionText(position));
}
[[noreturn]] void RaiseExpected(const char16_t* what, size_t position) {
  throw Error(kErrTypeMismatch, u"JsonBag",
              std::u16string(u"Expected ") + what + u" at character " + PositionText(position));
}
[[noreturn]] void RaiseBadEscape(size_t position) {
  Fail(kErrTypeMismatch, u"Bad string character escape at character ", position);
}

inline bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

inline bool IsWs(char16_t c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

struct Entry {
  PackedText name;
  Cell cell;
  Tag tag;  // not uint8_t: a store to a character type could change any member of the parser
};
static_assert(std::is_trivially_copyable_v<Entry>);

// Copies the sixteen bytes of a just-read entry's cell or name as two words. The value was
// mostly stored in narrower parts moments ago (a double, a flag, a text's two words), and one
// sixteen-byte load that spans several pending stores waits until they reach the cache;
// word loads are served from the stores themselves.
inline void CopyFresh(void* dst, const void* src) {
  uint64_t lo, hi;
  std::memcpy(&lo, src, sizeof lo);
  std::memcpy(&hi, static_cast<const char*>(src) + sizeof lo, sizeof hi);
#if defined(__GNUC__)
  asm("" : "+r"(lo), "+r"(hi));  // keeps the compiler from merging them into one vector load
#endif
  std::memcpy(dst, &lo, sizeof lo);
  std::memcpy(static_cast<char*>(dst) + sizeof lo, &hi, sizeof hi);
}
static_assert(sizeof(Cell) == 16 && sizeof(PackedText) == 16);

// A stack of plain bytes (the items read but not yet moved into their container, the open
// containers): it grows by reallocation, so that a push stays small enough to inline.
template <class T, size_t kFirstCapacity>
class PodStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodStack() { Grow(); }
  ~PodStack() { std::free(data_); }
  PodStack(const PodStack&) = delete;
  PodStack& operator=(const PodStack&) = delete;

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  void resize(size_t n) { size_ = n; }  // only ever shrinks
  void clear() { size_ = 0; }
  void pop_back() { --size_; }

  // A new element on top, not initialized.
  T& Push() {
    if (size_ == capacity_) [[unlikely]]
      Grow();
    return data_[size_++];
  }

 private:
  [[gnu::noinline]] void Grow() {
    const size_t capacity = capacity_ ? capacity_ * 2 : kFirstCapacity;
    void* p = std::realloc(data_, capacity * sizeof(T));
    if (!p) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The items read but not yet moved into their container. Entries are plain bytes, so a push
// (once per item read) is a few stores.
class EntryStack : public PodStack<Entry, 256> {
 public:
  // A new entry whose value is still being read (and whose name is empty).
  Entry& PushPending() {
    Entry& e = Push();
    e.name.tag = 0;
    e.tag = kPending;
    return e;
  }
};

// The items of a long array, moved off the scratch stack while the array is still being read,
// so that its entries (40 bytes each) do not pile up until it closes. The block has the layout
// of an ordinary array block, [Cell x cap][tag x cap], and becomes the array's own block,
// trimmed to its exact size, when the array closes. It grows by half at a time, which bounds
// how far the parse's peak passes what the document then holds.
class SpillBlock {
 public:
  SpillBlock() = default;
  SpillBlock(SpillBlock&& o) noexcept : block_(o.block_), size_(o.size_), capacity_(o.capacity_) {
    o.block_ = nullptr;
    o.size_ = o.capacity_ = 0;
  }
  SpillBlock& operator=(SpillBlock&&) = delete;
  ~SpillBlock() {
    if (!block_) return;
    for (uint32_t i = 0; i < size_; ++i) DestroyCell(Cells()[i], Tags()[i]);
    std::free(block_);
  }

  bool empty() const { return block_ == nullptr; }
  uint32_t size() const { return size_; }

  // Takes over the values of the entries [first, last) that are still held (not dropped).
  // The caller then drops them from the stack; on failure (out of memory) they are left as
  // they were.
  void Take(Entry* first, Entry* last, Tag dropped) {
    Reserve(size_ + static_cast<size_t>(last - first));
    Cell* cells = Cells();
    uint8_t* tags = Tags();
    for (Entry* e = first; e != last; ++e) {
      if (e->tag == dropped) continue;
      CopyFresh(&cells[size_], &e->cell);
      tags[size_++] = e->tag;
    }
  }

  // Gives up the block, trimmed to exactly size() items; the caller owns it from now on.
  void* Release() {
    if (size_ < capacity_) {
      std::memmove(Cells() + size_, Tags(), size_);
      // Shrinking keeps the block where it is or moves it; either way it stays valid.
      if (void* p = std::realloc(block_, Store::BlockBytes(size_, true))) block_ = p;
      capacity_ = size_;
    }
    void* block = block_;
    block_ = nullptr;
    size_ = capacity_ = 0;
    return block;
  }

 private:
  Cell* Cells() const { return static_cast<Cell*>(block_); }
  uint8_t* Tags() const { return static_cast<uint8_t*>(block_) + size_t{capacity_} * sizeof(Cell); }

  void Reserve(size_t n) {
    if (n <= capacity_) return;
    if (n > Store::kMaxCapacity) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
    const auto capacity = static_cast<uint32_t>(
        std::min<size_t>(std::max<size_t>(n, capacity_ + capacity_ / 2), Store::kMaxCapacity));
    void* p = std::realloc(block_, Store::BlockBytes(capacity, true));
    if (!p) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
    block_ = p;
    // The tags follow the cells: move them up to the end of the larger cell area.
    std::memmove(Cells() + capacity, static_cast<char*>(block_) + size_t{capacity_} * sizeof(Cell),
                 size_);
    capacity_ = capacity;
  }

  void* block_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace

// What does not depend on the width of the text: the containers being built, the scratch
// stack of their items, and the member names shared across the document.
class Parser {
 public:
  // A text of at least one arena chunk takes its nodes and long texts from an Arena.
  Parser(JsonBag& root, size_t textLength)
      : root_(root),
        decimal_(root.decimalMode_),
        arena_(textLength >= Arena::kChunkBytes ? &ownArena_ : nullptr) {}

  ~Parser() {
    for (Entry& e : scratch_) DestroyEntry(e);
    for (SharedChars* c : interned_) {
      if (c) ReleaseUnshared(c);
    }
  }

 protected:
  struct Frame {
    JsonBag* node = nullptr;  // the root; children are made when they close, at their final size
    size_t start = 0;         // its first entry on the scratch stack
    bool isArray = false;
    bool seen = false;   // the container has read its first item
    bool comma = false;  // the last thing read in it was a comma
    uint32_t spill = 0;  // a long array: its SpillBlock is spills_[spill - 1]; 0 for none
  };

  // An array keeps at most this many items on the scratch stack; more are moved to its
  // spill block. Shorter arrays are built straight from the stack, in one allocation with
  // their node.
  static constexpr size_t kSpillFrom = 256;

  // Moves the array's items from the scratch stack to its spill block.
  [[gnu::noinline]] void Spill(Frame& f) {
    if (!f.spill) {
      spills_.emplace_back();
      f.spill = static_cast<uint32_t>(spills_.size());
    }
    spills_[f.spill - 1].Take(scratch_.begin() + f.start, scratch_.end(), kDropped);
    scratch_.resize(f.start);
  }

  // The root becomes an array holding the one value on the scratch stack, written back alone.
  void FinishLoneValue() {
    root_.isArray_ = true;
    Finish(root_, 0, 1);
    scratch_.clear();
    root_.scalarRoot_ = 1;
  }

  void KeepErrorPlace(const ErrorPlace& place) {
    RememberErrorPlace(&root_, place);
    root_.errorPlace_ = 1;
  }

  void OpenRoot(bool isArray) {
    root_.isArray_ = isArray;
    PushFrame(&root_, 0, isArray);
  }

  // Opens a container. The frame is written in place, field by field: a Frame built aside and
  // copied in is read back in one wide load before its narrow stores are done, which stalls
  // every container's opening.
  void PushFrame(JsonBag* node, size_t start, bool isArray) {
    Frame& f = frames_.Push();
    f.node = node;
    f.start = start;
    f.isArray = isArray;
    f.seen = f.comma = false;
    f.spill = 0;
  }

  // Stores a string's characters in out. Member names longer than the inline size share one
  // block per distinct name.
  void StoreText(PackedText& out, const Chars& t, bool isName) {
    if (isName) out = PackedText{};  // names keep their unused bytes zero (see SameName)
    if (t.narrow) {
      if (t.n <= PackedText::kInlineNarrow) {
        std::memcpy(out.bytes, t.p, t.n);
        out.tag = static_cast<uint16_t>(PackedText::kNarrowTag + t.n);
      } else if (isName) {
        InitInterned(out, Intern(t));
      } else {
        SharedChars* c = NewChars(t, arena_);
        std::memcpy(out.bytes, &c, sizeof c);
        out.tag = PackedText::kHeap;
      }
      return;
    }
    const char16_t* chars = t.Wide();
    if (isName && (t.n > PackedText::kInlineNarrow ||
                   (t.n > PackedText::kInline && !FitsNarrow(chars, t.n)))) {
      InitInterned(out, Intern(t));
    } else {
      InitText(out, chars, t.n, arena_);
    }
  }

  // A name refers to its interned block. The blocks are the parser's own until the document
  // is complete, so their counts need no atomic steps.
  static void InitInterned(PackedText& out, SharedChars* c) {
    RetainUnshared(c);
    std::memcpy(out.bytes, &c, sizeof c);
    out.tag = PackedText::kHeap;
  }

  SharedChars* Intern(const Chars& t) {
    // Long names mostly come in the same order again (the members of the records of a list):
    // the name that followed the previous one last time is tried first, without hashing.
    Follower& follow =
        followers_[(reinterpret_cast<uintptr_t>(lastInterned_) >> 4) % std::size(followers_)];
    if (follow.after == lastInterned_ && follow.next && CharsOf(follow.next).Equals(t)) {
      return lastInterned_ = follow.next;
    }
    SharedChars* c = Lookup(t);
    follow = Follower{lastInterned_, c};
    return lastInterned_ = c;
  }

  SharedChars* Lookup(const Chars& t) {
    if (internCount_ * 2 + 2 > interned_.size()) GrowIntern();
    size_t mask = interned_.size() - 1;
    size_t slot = t.Hash() & mask;
    while (SharedChars* c = interned_[slot]) {
      if (CharsOf(c).Equals(t)) return c;
      slot = (slot + 1) & mask;
    }
    SharedChars* c = NewChars(t, arena_);
    interned_[slot] = c;
    ++internCount_;
    return c;
  }

  void GrowIntern() {
    std::vector<SharedChars*> old(std::max<size_t>(64, interned_.size() * 2), nullptr);
    old.swap(interned_);
    size_t mask = interned_.size() - 1;
    for (SharedChars* c : old) {
      if (!c) continue;
      size_t slot = CharsOf(c).Hash() & mask;
      while (interned_[slot]) slot = (slot + 1) & mask;
      interned_[slot] = c;
    }
  }

  // The container on top of the frame stack is complete: give it its items and store it in
  // its parent's pending entry. A child node and its item block are one allocation.
  void Close() {
    // The frame is popped only once its node is built, so that a failure leaves the open
    // containers as they were for Salvage.
    Frame& f = frames_.back();
    const size_t start = f.start, last = scratch_.size();
    std::shared_ptr<JsonBag> child;
    if (f.spill) {
      // The spill blocks of the open arrays form a stack too: this one is the last.
      Spill(f);
      child = f.node ? nullptr : Store::NewWithBlock(true, 0, arena_);
      SpillBlock& spill = spills_.back();
      const uint32_t n = spill.size();
      Store::Adopt(f.node ? *f.node : *child, n, spill.Release());
      spills_.pop_back();
    } else if (f.node) {
      Finish(*f.node, start, last);
    } else if (KeepInParent(f.isArray, start, last)) {
      frames_.pop_back();
      return;
    } else {
      const uint32_t n = Kept(f.isArray, start, last);
      if (arena_ && Store::BlockBytes(n, f.isArray) <= Arena::kLargest) {
        KeepBlock(f.isArray, n, start, last);
        frames_.pop_back();
        return;
      }
      child = Store::NewWithBlock(f.isArray, n, arena_);
      Fill(*child, start, last);
    }
    frames_.pop_back();
    scratch_.resize(start);
    if (!child) return;
    child->decimalMode_ = decimal_;
    Entry& e = scratch_.back();
    new (e.cell.raw) ObjectRef(std::move(child));
    e.tag = kBag;
  }

  // An empty container, or an array of two doubles, is left in its parent's pending entry
  // (the one before start) instead of getting a node; its node is made if someone asks for it.
  // Returns false for any other container.
  bool KeepInParent(bool isArray, size_t start, size_t last) {
    uint64_t lo = 0, hi = 0;  // the cell's two words
    Tag tag;
    if (last == start) {
      tag = isArray ? kEmptyArray : kEmptyObject;
      // The decimal mode in the cell's first byte.
      lo = std::endian::native == std::endian::little ? uint64_t{decimal_}
                                                      : uint64_t{decimal_} << 56;
    } else if (isArray && last - start == 2 && !decimal_ && scratch_[start].tag == kDouble &&
               scratch_[start + 1].tag == kDouble) {
      tag = kPair;
      std::memcpy(&lo, scratch_[start].cell.raw, sizeof(double));
      std::memcpy(&hi, scratch_[start + 1].cell.raw, sizeof(double));
    } else {
      return false;
    }
    scratch_.resize(start);  // the doubles hold nothing to release
    SetPending(lo, hi, tag);
    return true;
  }

  // The container's items are gone from the scratch stack: its own pending entry, now on top,
  // takes the cell that stands for it. The cell is written as two words, made in registers:
  // the parent reads them soon after (see CopyFresh).
  void SetPending(uint64_t lo, uint64_t hi, Tag tag) {
    Entry& e = scratch_.back();
    std::memcpy(e.cell.raw, &lo, sizeof lo);
    std::memcpy(e.cell.raw + sizeof lo, &hi, sizeof hi);
    e.tag = tag;
  }

  // In a large document a small container gets no node either: its n kept entries [start,
  // last) move to an item block from the arena, which the parent's pending entry refers to.
  void KeepBlock(bool isArray, uint32_t n, size_t start, size_t last) {
    void* block = arena_->Take(Store::BlockBytes(n, isArray));
    Cell* cells = Store::BlockCells(block, isArray);
    uint8_t* tags = Store::BlockTags(block, n, isArray);
    unsigned refs = 0;
    if (isArray) {
      for (size_t i = start; i < last; ++i) {
        Entry& e = scratch_[i];
        refs |= MoveValue(e, cells++);
        *tags++ = e.tag;
      }
    } else {
      new (block) ObjHeader{nullptr, 0};
      PackedText* names = Store::BlockNames(block, n);
      for (size_t i = start; i < last; ++i) {
        Entry& e = scratch_[i];
        if (e.tag == kDropped) continue;
        refs |= MoveValue(e, cells++) | unsigned{e.name.tag == PackedText::kHeap};
        *tags++ = e.tag;
        CopyFresh(names++, &e.name);
      }
    }
    scratch_.resize(start);  // moved; nothing left to release
    const BlockRef ref{block, n, isArray, decimal_, refs == 0, false};
    uint64_t words[2];
    ToWords(ref, words);
    SetPending(words[0], words[1], kBlock);
  }

  // Copies the value of e to cell, in a block from the arena; returns whether it holds
  // something to release. A plain child block in the same arena chunk is folded into that
  // block instead: kept by the block's allocation, so releasing the block need not look at it
  // and it may stay plain.
  unsigned MoveValue(const Entry& e, Cell* cell) {
    CopyFresh(cell, &e.cell);
    if (e.tag == kBlock) {
      BlockRef& child = cell->As<BlockRef>();
      if (child.plain && arena_->Fold(child.block)) {
        child.folded = true;
        return 0;
      }
    }
    return unsigned{MayHoldReference(e.tag)};
  }

  // Moves entries [first, last) of the scratch stack into node, which is empty.
  void Finish(JsonBag& node, size_t first, size_t last) {
    Store::Allocate(node, Kept(node.isArray_, first, last));
    Fill(node, first, last);
  }

  // The number of entries [first, last) that stay. In an object a member whose name comes
  // again later is dropped: the last one wins and keeps its place.
  uint32_t Kept(bool isArray, size_t first, size_t last) {
    size_t n = last - first;
    if (!isArray && n > 1) n -= DropRepeatedNames(first, last);
    if (n > Store::kMaxCapacity) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
    return static_cast<uint32_t>(n);
  }

  // Moves the kept entries [first, last) into node's block, sized for them.
  void Fill(JsonBag& node, size_t first, size_t last) {
    if (node.capacity_ == 0) {
      for (size_t i = first; i < last; ++i) DestroyEntry(scratch_[i]);
      return;
    }
    node.count_ = FillItems(Store::Cells(node), Store::Tags(node),
                            node.isArray_ ? nullptr : Store::Names(node), first, last);
  }
  // Moves the kept entries [first, last) to the given parts of a block; returns how many.
  // The entries are left as they were: the caller drops them from the stack at once.
  uint32_t FillItems(Cell* cells, uint8_t* tags, PackedText* names, size_t first, size_t last) {
    uint32_t k = 0;
    for (size_t i = first; i < last; ++i) {
      const Entry& e = scratch_[i];
      if (e.tag == kDropped) continue;
      CopyFresh(&cells[k], &e.cell);
      tags[k] = e.tag;
      if (names) CopyFresh(&names[k], &e.name);
      ++k;
    }
    return k;
  }

  // Member names are compared as sixteen bytes: within one parse a text has only one form,
  // inline (narrow whenever it fits) up to its inline size, else the one interned block, and
  // the parser keeps the bytes a name does not use zero.
  static bool SameName(const PackedText& a, const PackedText& b) {
    uint64_t x[2], y[2];
    std::memcpy(x, &a, sizeof x);
    std::memcpy(y, &b, sizeof y);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
  }
  static uint32_t NameHash(const PackedText& t) {
    uint64_t x[2];
    std::memcpy(x, &t, sizeof x);
    return static_cast<uint32_t>(HashStep(HashStep(0, x[0]), x[1]) >> 16);
  }
  // The bytes of an inline narrow text of n units that StoreShortNarrow keeps, as masks of its
  // two words (little-endian), without the tag: for a value all of them, for a name only its
  // own. A table lookup, since lengths vary from one text to the next.
  static constexpr auto kKeptBytes = [] {
    struct Table {
      uint64_t m[2][PackedText::kInlineNarrow + 1][2];
    } t{};
    for (size_t n = 0; n <= PackedText::kInlineNarrow; ++n) {
      const uint64_t all = ~uint64_t{0}, untagged = all >> 16;
      t.m[0][n][0] = all;
      t.m[0][n][1] = untagged;
      t.m[1][n][0] = n >= 8 ? all : (uint64_t{1} << (8 * n)) - 1;
      t.m[1][n][1] = n <= 8 ? 0 : ((uint64_t{1} << (8 * (n - 8))) - 1) & untagged;
    }
    return t;
  }();

  // Makes out the inline narrow text of the n (at most kInlineNarrow) bytes at src, reading
  // sixteen bytes there. A name keeps the bytes past its end zero. On little-endian machines
  // the text is put together in registers and stored once: reading a just-stored PackedText
  // back to clear it would stall on the store of its tag.
  static void StoreShortNarrow(PackedText& out, const unsigned char* src, size_t n, bool isName) {
    const uint16_t tag = static_cast<uint16_t>(PackedText::kNarrowTag + n);
    if constexpr (std::endian::native == std::endian::little) {
      uint64_t w[2];
      std::memcpy(w, src, sizeof w);
      const uint64_t* keep = kKeptBytes.m[isName][n];
      w[0] &= keep[0];
      w[1] = (w[1] & keep[1]) | uint64_t{tag} << 48;  // the top two bytes
      std::memcpy(&out, w, sizeof w);
    } else {
      std::memcpy(&out, src, sizeof out);
      out.tag = tag;
      if (isName) std::memset(out.bytes + n, 0, sizeof out.bytes - n);
    }
  }

  // Marks every member whose name comes again later as dropped; returns how many.
  size_t DropRepeatedNames(size_t first, size_t last) {
    const size_t n = last - first;
    // Objects mostly have the names of an earlier one, in the same order (the records of a
    // list): names found free of repeats are remembered, by their count and first name, and
    // the same names again need no search. (Names are compared by their bytes: a long one is
    // an interned block, which lives as long as the parser.)
    std::vector<PackedText>* known = nullptr;
    if (n >= 4) {
      known = &knownNames_[(n + NameHash(scratch_[first].name)) % std::size(knownNames_)];
      if (known->size() == n) {
        size_t i = 0;
        while (i < n && SameName((*known)[i], scratch_[first + i].name)) ++i;
        if (i == n) return 0;
      }
    }
    const size_t dropped = n <= 8 ? DropRepeatedFew(first, last) : DropRepeatedMany(first, last);
    if (known && dropped == 0) {
      known->resize(n);
      for (size_t i = 0; i < n; ++i) (*known)[i] = scratch_[first + i].name;
    }
    return dropped;
  }

  // DropRepeatedNames for a few members: each compared with those after it.
  size_t DropRepeatedFew(size_t first, size_t last) {
    size_t dropped = 0;
    for (size_t i = first; i < last; ++i) {
      for (size_t j = i + 1; j < last; ++j) {
        if (SameName(scratch_[i].name, scratch_[j].name)) {
          DestroyEntry(scratch_[i]);
          ++dropped;
          break;
        }
      }
    }
    return dropped;
  }

  // DropRepeatedNames for many members: the later ones in a hash table.
  size_t DropRepeatedMany(size_t first, size_t last) {
    const size_t n = last - first;
    size_t dropped = 0;
    size_t size = 16;
    while (size < n * 2) size *= 2;
    seen_.assign(size, 0);
    for (size_t i = n; i-- > 0;) {
      const PackedText& name = scratch_[first + i].name;
      size_t slot = NameHash(name) & (size - 1);
      bool repeated = false;
      while (uint32_t s = seen_[slot]) {
        if (SameName(scratch_[first + s - 1].name, name)) {
          repeated = true;
          break;
        }
        slot = (slot + 1) & (size - 1);
      }
      if (repeated) {
        DestroyEntry(scratch_[first + i]);
        ++dropped;
      } else {
        seen_[slot] = static_cast<uint32_t>(i + 1);
      }
    }
    return dropped;
  }

  void DestroyEntry(Entry& e) {
    if (e.tag == kDropped) return;
    if (e.tag != kPending) DestroyCell(e.cell, e.tag);
    DestroyText(e.name);
    e.tag = kDropped;
  }

  // After an error the root keeps the items it had completed; open children are discarded,
  // with what they had spilled.
  void Salvage() {
    size_t end = frames_.size() > 1 ? frames_[1].start : scratch_.size();
    for (size_t i = end; i < scratch_.size(); ++i) DestroyEntry(scratch_[i]);
    for (size_t i = 0; i < end; ++i) {
      if (scratch_[i].tag == kPending) DestroyEntry(scratch_[i]);
    }
    scratch_.resize(end);
    if (frames_.empty()) return;
    frames_.resize(1);
    spills_.resize(frames_[0].spill);
    try {
      Close();
    } catch (const Error&) {
      // Out of memory while salvaging: the caller sees the parse's own error, and the
      // destructor releases what is left on the stack and in the root's frame.
    } catch (const std::bad_alloc&) {
    }
  }

  // Declared first so that it is retired last, after everything the parser still holds.
  Arena ownArena_;
  JsonBag& root_;
  bool decimal_;
  Arena* arena_;  // &ownArena_, or null for short texts
  PodStack<Frame, 64> frames_;
  std::vector<SpillBlock> spills_;
  EntryStack scratch_;
  std::u16string buffer_;  // a string's characters once escapes or UTF-8 are decoded
  std::string num_;
  std::vector<SharedChars*> interned_;
  size_t internCount_ = 0;
  // Which interned name came after which, last time (both held by interned_).
  struct Follower {
    SharedChars* after = nullptr;
    SharedChars* next = nullptr;
  };
  Follower followers_[64];
  SharedChars* lastInterned_ = nullptr;
  std::vector<uint32_t> seen_;
  // Lists of member names without repeats, as DropRepeatedNames last found them.
  std::vector<PackedText> knownNames_[16];
};

// The scanner over text of one code unit width: char16_t (UTF-16) or unsigned char (UTF-8);
// kStrict chooses the strict reading at compile time, so the lenient one pays nothing for it.
template <class Unit, bool kStrict>
class Scanner : public Parser {
  static constexpr bool kUtf8 = sizeof(Unit) == 1;

 public:
  Scanner(JsonBag& root, const Unit* text, size_t length)
      : Parser(root, length * sizeof(Unit)), s_(text), len_(length) {}

  void Run() {
    SkipWs();
    int c = At(pos_);
    if (c != '{' && c != '[') {
      if (!kStrict) RaiseExpected(u"either { or [", ErrorAt(pos_));
      RunLoneValue();
      return;
    }
    ++pos_;
    OpenRoot(c == '[');
    try {
      Loop();
    } catch (...) {
      // Whatever stopped the parse (bad text, no memory), the root keeps the items it had
      // completed; the exception itself goes on to the caller unchanged.
      Salvage();
      throw;
    }
    if (kStrict) ExpectEnd();
  }

  // After a failed Run: files the line and column of the error's place with the root.
  void RecordErrorPlace() {
    if (errorAt_ > len_) return;  // not a parse error with a place (out of memory)
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < errorAt_; ++i) {
      const unsigned c = s_[i];
      if (c == '\n' || (c == '\r' && !(i + 1 < len_ && s_[i + 1] == '\n'))) {
        ++line;
        lineStart = i + 1;
      }
    }
    size_t column = errorAt_ - lineStart;
    if constexpr (kUtf8) {
      column = Text::Utf16Length({reinterpret_cast<const char*>(s_ + lineStart), column});
    }
    auto clamp = [](size_t v) { return static_cast<int32_t>(std::min<size_t>(v, INT32_MAX)); };
    KeepErrorPlace(ErrorPlace{clamp(Pos(errorAt_)), clamp(line), clamp(column + 1)});
  }

 private:
  int At(size_t i) const { return i < len_ ? s_[i] : -1; }

  // Strict mode: a document that is one value alone, kept as the root's only item.
  void RunLoneValue() {
    scratch_.PushPending();
    ParseValue();  // on failure the scratch entry is released with the parser
    FinishLoneValue();
    ExpectEnd();
  }

  // Strict mode: only blanks may follow the document.
  void ExpectEnd() {
    SkipWs();
    if (pos_ < len_) RaiseExpected(u"end of text", ErrorAt(pos_));
  }

  // The position of an error found at the code unit p, for its description; p is kept for
  // the error's line and column.
  size_t ErrorAt(size_t p) {
    errorAt_ = p;
    return Pos(p);
  }

  // The 1-based UTF-16 position of the code unit at p (p == len_: just past the end).
  size_t Pos(size_t p) const {
    if constexpr (kUtf8) {
      return Text::Utf16Length({reinterpret_cast<const char*>(s_), p}) + 1;
    } else {
      return p + 1;
    }
  }

  void SkipWs() {
    if (pos_ < len_ && s_[pos_] > ' ') return;  // compact text: nothing to skip
    // One blank before the next token (", " and ": " in much text): no block scan for it.
    if (pos_ + 1 < len_ && s_[pos_ + 1] > ' ' && IsWs(s_[pos_])) {
      ++pos_;
      return;
    }
    size_t p = pos_;
#if defined(__SSE2__)
    // Indented text has long runs of blanks: look at sixteen bytes at a time.
    constexpr size_t kStep = 16 / sizeof(Unit);
    while (p + kStep <= len_) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_ + p));
      __m128i ws;
      if constexpr (kUtf8) {
        ws = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                          _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))));
      } else {
        ws = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(' ')),
                                       _mm_cmpeq_epi16(v, _mm_set1_epi16('\n'))),
                          _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\r')),
                                       _mm_cmpeq_epi16(v, _mm_set1_epi16('\t'))));
      }
      const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(ws)) & 0xFFFFu;
      if (other) {
        pos_ = p + static_cast<unsigned>(__builtin_ctz(other)) / sizeof(Unit);
        return;
      }
      p += kStep;
    }
#endif
    while (p < len_ && IsWs(s_[p])) ++p;
    pos_ = p;
  }

  void Loop() {
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      SkipWs();
      int c = At(pos_);
      if (f.isArray) {
        if (c == ',') {
          // Strict: a comma only between two elements.
          if constexpr (kStrict) {
            if (!f.seen || f.comma)
              Fail(kErrTypeMismatch, u"Bad value at character ", ErrorAt(pos_));
            f.comma = true;
          }
          // What follows a comma is mostly the next element: read it in this round.
          ++pos_;
          SkipWs();
          c = At(pos_);
          if (c == ',' || c == ']') continue;
        } else if (c == ']') {
          if (kStrict && f.comma) Fail(kErrTypeMismatch, u"Bad value at character ", ErrorAt(pos_));
          ++pos_;
          Close();
          continue;
        }
        if constexpr (kStrict) {
          if (f.seen && !f.comma) RaiseExpected(u", or ]", ErrorAt(pos_));
          f.seen = true;
          f.comma = false;
        }
        // A long array moves its items off the stack as it goes (here, between two items, all
        // of them are complete).
        if (scratch_.size() - f.start >= kSpillFrom) [[unlikely]]
          Spill(f);
        scratch_.PushPending();
        ParseValue();
        continue;
      }
      size_t at = pos_;
      if (c == ',') {
        if (!f.seen) {
          Fail(kErrTypeMismatch, u"Found \",\" before first item at character ", ErrorAt(at));
        }
        // Strict: after a comma only a member may come.
        if constexpr (kStrict) {
          if (f.comma) RaiseExpected(u"\"", ErrorAt(at));
          f.comma = true;
        }
        // What follows a comma is mostly the next member: read it in this round.
        ++pos_;
        SkipWs();
        c = At(pos_);
        if (c != '"') continue;
        at = pos_;
      }
      ++pos_;
      if (c == '"') {
        if constexpr (kStrict) {
          if (f.seen && !f.comma) RaiseExpected(u", or }", ErrorAt(at));
          f.comma = false;
        }
        f.seen = true;
        Entry& e = scratch_.PushPending();
        ParseString(e.name, true);
        SkipWs();
        if (At(pos_) != ':') RaiseExpected(u":", ErrorAt(pos_));
        ++pos_;
        SkipWs();
        ParseValue();
      } else if (c == '}') {
        if (kStrict && f.comma) RaiseExpected(u"\"", ErrorAt(at));
        Close();
      } else {
        RaiseExpected(kStrict && f.comma ? u"\"" : u", or }", ErrorAt(at));
      }
    }
  }

  // Reads the value at pos_ (blanks before it already skipped) into the last scratch entry. A
  // container only opens here; its entry stays pending until the container closes. Inlined into
  // the main loop: a call per value saved and restored most registers, a fair part of the time
  // for a short number.
  [[gnu::always_inline]] void ParseValue() {
    int c = At(pos_);
    Entry& e = scratch_.back();
    if (c == '"') {
      ++pos_;
      ParseString(e.cell.As<PackedText>(), false);
      e.tag = kString;
    } else if (c == '{' || c == '[') {
      if (frames_.size() >= JsonBag::kMaxDepth) {
        Fail(kErrOutOfStack, u"Out of stack space at character ", ErrorAt(pos_));
      }
      ++pos_;
      PushFrame(nullptr, scratch_.size(), c == '[');
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      ParseNumber(e);
    } else if (Matches("null", 4)) {
      e.tag = kNull;
      pos_ += 4;
    } else if (Matches("true", 4)) {
      new (e.cell.raw) bool(true);
      e.tag = kBool;
      pos_ += 4;
    } else if (Matches("false", 5)) {
      new (e.cell.raw) bool(false);
      e.tag = kBool;
      pos_ += 5;
    } else {
      Fail(kErrTypeMismatch, u"Bad value at character ", ErrorAt(pos_));
    }
  }

  // True when the text at pos_ starts with word, of n (4 or 5) ASCII letters: its first four
  // code units are compared as one word, with no branch per letter.
  bool Matches(const char* word, size_t n) const {
    if (len_ - pos_ < n) return false;
    uint64_t text = 0, want = 0;
    std::memcpy(&text, s_ + pos_, 4 * sizeof(Unit));
    for (size_t k = 0; k < 4; ++k) {
      Unit u = static_cast<unsigned char>(word[k]);
      std::memcpy(reinterpret_cast<char*>(&want) + k * sizeof(Unit), &u, sizeof(Unit));
    }
    return text == want && (n == 4 || s_[pos_ + 4] == static_cast<unsigned char>(word[4]));
  }

  // The string whose opening quote was just read.
  void ParseString(PackedText& out, bool isName) {
    const size_t begin = pos_;
    size_t p = ScanPlain(begin);
    Chars chars{s_ + begin, p - begin, kUtf8};
    if (p < len_ && s_[p] == '"') {
      ++p;
      if (kUtf8 && chars.n <= PackedText::kInlineNarrow && begin + 16 <= len_) {
        // A short ASCII string: one fixed-size copy (the bytes past its end are not used).
        pos_ = p;  // something follows: the text goes on for at least sixteen bytes
        StoreShortNarrow(out, reinterpret_cast<const unsigned char*>(s_ + begin), chars.n, isName);
        return;
      }
    } else if (p < len_ && s_[p] < 0x20) {
      Fail(kErrTypeMismatch, u"Invalid string character at ", ErrorAt(p));
    } else if (p < len_) {
      // An escape, or a UTF-8 character beyond ASCII: decode from here on.
      buffer_.resize(p - begin);
      for (size_t i = begin; i < p; ++i) buffer_[i - begin] = s_[i];
      p = Decode(p);
      chars = Chars{buffer_.data(), buffer_.size(), false};
    } else {
      ++p;  // not closed: past the end
    }
    pos_ = p;
    // Something must follow the closing quote; a string that is not closed, or is closed by
    // the text's last character, cannot be part of a complete document. (Strict mode lets
    // the container, or the end of a lone value, decide.)
    if (pos_ > len_ || (pos_ == len_ && !kStrict)) RaiseExpected(u"\"", ErrorAt(len_));
    StoreText(out, chars, isName);
  }

  // The end of the run from p of characters that stand for themselves: up to the first quote,
  // backslash or control character (and in UTF-8, the first byte beyond ASCII), or len_.
  size_t ScanPlain(size_t p) const {
#if defined(__SSE2__)
    if constexpr (kUtf8) {
      // Sixteen bytes at a time; a signed compare below 0x20 also catches bytes from 0x80 up.
      const __m128i quote = _mm_set1_epi8('"');
      const __m128i backslash = _mm_set1_epi8('\\');
      const __m128i space = _mm_set1_epi8(0x20);
      while (p + 16 <= len_) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_ + p));
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                         _mm_cmplt_epi8(v, space));
        const int mask = _mm_movemask_epi8(stop);
        if (mask) return p + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
      }
    } else {
      // Eight code units at a time.
      const __m128i quote = _mm_set1_epi16('"');
      const __m128i backslash = _mm_set1_epi16('\\');
      const __m128i control = _mm_set1_epi16(0x1F);
      const __m128i zero = _mm_setzero_si128();
      while (p + 8 <= len_) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_ + p));
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)),
                         _mm_cmpeq_epi16(_mm_subs_epu16(v, control), zero));
        const int mask = _mm_movemask_epi8(stop);
        if (mask) return p + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        p += 8;
      }
    }
#endif
    while (p < len_) {
      const unsigned c = s_[p];
      if (c == '"' || c == '\\' || c < 0x20 || (kUtf8 && c >= 0x80)) break;
      ++p;
    }
    return p;
  }

  // Decodes from p (an escape or, in UTF-8, a byte beyond ASCII) into buffer_, up to and
  // including the closing quote. Returns the position after the closing quote (or past the end
  // when there is none).
  size_t Decode(size_t p) {
    while (p < len_) {
      if constexpr (kUtf8) {
        // The run up to the next quote, backslash or control character is ASCII and UTF-8
        // sequences, which never take more UTF-16 units than they have bytes: decode it into
        // room made once.
        const size_t stop = StringStop(p);
        const size_t at = buffer_.size();
        buffer_.resize(at + (stop - p) + kSlack);
        char16_t* end = DecodeRun(p, stop, buffer_.data() + at);
        buffer_.resize(static_cast<size_t>(end - buffer_.data()));
        p = stop;
        if (p >= len_) break;
      } else if (const size_t plain = ScanPlain(p); plain > p) {
        // A run of characters that stand for themselves, appended at once.
        buffer_.append(reinterpret_cast<const char16_t*>(s_ + p), plain - p);
        p = plain;
        if (p >= len_) break;
      }
      const unsigned c = s_[p];
      if (c < 0x20) Fail(kErrTypeMismatch, u"Invalid string character at ", ErrorAt(p));
      if (c == '"') return p + 1;
      if (c == '\\') {
        p = DecodeEscape(p + 1);
        continue;
      }
      if constexpr (!kUtf8) {
        buffer_.push_back(static_cast<char16_t>(c));
        ++p;
      }
    }
    return p + 1;
  }

  // How far DecodeRun may write past the units it decodes.
  static constexpr size_t kSlack = 16;

  // UTF-8 text: the first quote, backslash or control character from p on, or len_.
  size_t StringStop(size_t p) const {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    for (; p + 16 <= len_; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_ + p));
      const __m128i stop =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                       _mm_cmpeq_epi8(_mm_min_epu8(v, control), v));
      if (const int mask = _mm_movemask_epi8(stop)) {
        return p + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(mask)));
      }
    }
#endif
    while (p < len_) {
      const unsigned c = s_[p];
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++p;
    }
    return p;
  }

  // UTF-8 text: decodes [from, stop), ASCII and UTF-8 sequences only, to d, which has room for
  // stop - from units and kSlack more; returns the end of what it wrote. Well-formed two- and
  // three-byte sequences (most text beyond ASCII) are read here, their bytes tested at once;
  // the rest, and anything malformed, by Text::DecodeUtf8Sequence. Since the byte at stop is
  // ASCII (or the end), no sequence reaches past stop.
  char16_t* DecodeRun(size_t from, size_t stop, char16_t* d) {
    const Unit* p = s_ + from;
    const Unit* const end = s_ + stop;
    const Unit* const textEnd = s_ + len_;
    while (p < end) {
      const unsigned c = *p;
      if (c < 0x80) {
#if defined(__SSE2__)
        // Widen up to sixteen bytes at once, as many as are ASCII.
        if (textEnd - p >= 16) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
          const __m128i zero = _mm_setzero_si128();
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(v, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(v, zero));
          const auto high = static_cast<unsigned>(_mm_movemask_epi8(v)) | 0x10000u;
          const auto n = std::min<ptrdiff_t>(__builtin_ctz(high), end - p);
          d += n;
          p += n;
          continue;
        }
#endif
        *d++ = static_cast<char16_t>(c);
        ++p;
        continue;
      }
      if (textEnd - p >= 4) {
        uint32_t w;  // the sequence's bytes, the lead byte lowest
        std::memcpy(&w, p, sizeof w);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
        if ((w & 0xC0E0) == 0x80C0 && c >= 0xC2) {
          *d++ = static_cast<char16_t>(((c & 0x1F) << 6) | ((w >> 8) & 0x3F));
          p += 2;
          continue;
        }
        // Runs of three-byte sequences (most scripts of Asia) stay in this loop.
        bool decoded = false;
        while ((w & 0xC0C0F0) == 0x8080E0) {
          const unsigned cp = ((w & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F);
          if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) break;
          *d++ = static_cast<char16_t>(cp);
          p += 3;
          decoded = true;
          if (textEnd - p < 4) break;
          std::memcpy(&w, p, sizeof w);
          if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap32(w);
        }
        if (decoded) continue;
      }
      size_t i = static_cast<size_t>(p - s_);
      const size_t at = i;
      char16_t* next = Text::DecodeUtf8Sequence(s_, stop, i, d);
      // Invalid UTF-8 reads as U+FFFD, which is itself encoded EF BF BD.
      if (kStrict && *d == 0xFFFD &&
          !(i - at == 3 && s_[at] == 0xEF && s_[at + 1] == 0xBF && s_[at + 2] == 0xBD)) {
        Fail(kErrTypeMismatch, u"Invalid string character at ", ErrorAt(at));
      }
      d = next;
      p = s_ + i;
    }
    return d;
  }

  // Decodes the escape whose letter is at p (just after the backslash) into buffer_. Returns
  // the position after the escape.
  size_t DecodeEscape(size_t p) {
    if (p >= len_) RaiseBadEscape(ErrorAt(p));
    char16_t e = s_[p];
    if (e >= 'A' && e <= 'Z' && !kStrict) e = static_cast<char16_t>(e + 32);
    switch (e) {
      case '"':
      case '\\':
      case '/':
        buffer_.push_back(e);
        break;
      case 'b':
        buffer_.push_back(8);
        break;
      case 'f':
        buffer_.push_back(12);
        break;
      case 'n':
        buffer_.push_back(10);
        break;
      case 'r':
        buffer_.push_back(13);
        break;
      case 't':
        buffer_.push_back(9);
        break;
      case 'u': {
        ++p;
        if (len_ < p + 4) RaiseBadEscape(ErrorAt(p));
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
          int d = Hex::Digit(static_cast<char16_t>(s_[p + k]));
          if (d < 0) RaiseBadEscape(ErrorAt(p));
          value = value * 16 + static_cast<unsigned>(d);
        }
        buffer_.push_back(static_cast<char16_t>(value));
        p += 3;
        break;
      }
      default:
        RaiseBadEscape(ErrorAt(p));
    }
    return p + 1;
  }

  // Scans a number from the "-" or digit at pos_ and converts it. Plain shapes (digits, an
  // optional fraction, an optional signed exponent) that fit in 19 digits with a small
  // exponent are converted exactly from the text; others go through a narrow copy and
  // from_chars. Inlined like ParseValue: numbers are most of the values in many documents.
  [[gnu::always_inline]] void ParseNumber(Entry& e) {
    const size_t start = pos_;
    const Unit* s = s_;
    // Strict mode reads only the part of the text that has the number's strict form.
    const size_t end = kStrict ? StrictNumberEnd(start) : len_;
    Mantissa m;
    int intDigits = s[start] == '-' ? 0 : 1;
    int fracDigits = 0;
    bool seenPoint = false, exponent = false;
    if (intDigits) m.value = s[start] - '0', m.digits = m.value != 0;
    // The whole part, then the fraction: separate loops, so that a digit costs one test.
    size_t p = ReadDigits<false>(start + 1, end, m, intDigits);
    if (p < end && s[p] == '.') {
      if (p == start + 1 && s[start] == '-') {
        Fail(kErrTypeMismatch, u"Digit expected at character ", ErrorAt(p));
      }
      seenPoint = true;
      p = ReadDigits<true>(ReadFractionBlocks(p + 1, end, m, fracDigits), end, m, fracDigits);
      if (p < end && s[p] == '.') {
        Fail(kErrTypeMismatch, u"Second decimal point at character ", ErrorAt(p));
      }
    }
    if (p < end && (s[p] | 0x20) == 'e') {
      ++p;
      exponent = true;
    }
    int exp10 = 0;
    bool expShape = true;  // the exponent is one optional sign and then digits only
    if (exponent) p = ReadExponent(p, end, exp10, expShape);
    pos_ = p;
    if (pos_ >= len_ && !kStrict) {
      errorAt_ = len_;
      throw Error(kErrTypeMismatch, u"JsonBag", u"Ran off end of string while parsing a number");
    }
    const bool negative = s[start] == '-';
    if (!decimal_ && m.exact && expShape && intDigits > 0 && (!seenPoint || fracDigits > 0)) {
      double value;
      if (ExactDouble(m.value, exp10 - m.fraction, value)) {
        new (e.cell.raw) double(negative ? -value : value);
        e.tag = kDouble;
        return;
      }
    }
    ConvertText(e, start, p);
  }

  // The digits of a number gathered so far, as long as they fit.
  struct Mantissa {
    uint64_t value = 0;
    int digits = 0;     // significant digits in value (or more, never fewer)
    int fraction = 0;   // how many of them come after the point
    bool exact = true;  // false once a digit did not fit
  };

  // Reads the digits from p on into m, counting them in count; returns where they end.
  template <bool kFraction>
  size_t ReadDigits(size_t p, size_t end, Mantissa& m, int& count) const {
    for (; p < end; ++p) {
      const unsigned d = static_cast<unsigned>(s_[p]) - '0';
      if (d > 9) break;
      ++count;
      if (m.digits < 19) {
        m.value = m.value * 10 + d;
        m.digits += m.value != 0;
        if constexpr (kFraction) ++m.fraction;
      } else {
        m.exact = false;
      }
    }
    return p;
  }

  // UTF-8 text: fraction digits from p, up to eight at a time, while they surely fit the
  // mantissa; ReadDigits takes the rest. A leading zero counts as a digit here, so a long
  // fraction after many zeros may leave the exact path early (for the general conversion)
  // but never overflows.
  size_t ReadFractionBlocks(size_t p, size_t end, Mantissa& m, int& count) const {
    if constexpr (kUtf8) {
      static constexpr uint64_t kScale[] = {1,      10,      100,      1000,     10000,
                                            100000, 1000000, 10000000, 100000000};
      while (m.digits <= 11 && p + 8 <= end) {
        uint64_t value;
        const int k = LeadingDigits(s_ + p, value);
        m.value = m.value * kScale[k] + value;
        m.digits += k;
        m.fraction += k;
        count += k;
        p += static_cast<size_t>(k);
        if (k < 8) break;
      }
    }
    return p;
  }

  // The number k (0 to 8) of ASCII digits that the eight bytes at s start with, and their
  // value in out.
  static int LeadingDigits(const unsigned char* s, uint64_t& out) {
    uint64_t v;
    std::memcpy(&v, s, sizeof v);
    // A byte 0x30..0x39 has the high half 3, and adding 6 keeps it 3; any other byte differs
    // from 0x33 after this. (Carries and borrows only run towards later bytes, past the first
    // one that is not a digit, which is all that counts.)
    constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u;
    const uint64_t other =
        ((v & kHigh) | (((v + 0x0606060606060606u) & kHigh) >> 4)) ^ 0x3333333333333333u;
    const int k = other ? __builtin_ctzll(other) / 8 : 8;
    if (k == 0) {
      out = 0;
      return 0;
    }
    // The k digits, first one in the lowest byte, moved up so that zeros lead.
    v = (v - 0x3030303030303030u) << (8 * (8 - k));
    v = v * 10 + (v >> 8);  // pairs: every other byte holds two digits' value
    v = (((v & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32))) +
         (((v >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32)))) >>
        32;
    out = v;
    return k;
  }
  static int LeadingDigits(const char16_t*, uint64_t& out) {
    out = 0;
    return 0;
  }

  // The exponent's sign and digits from p (just after the "e"), up to end: its value (capped,
  // it only has to be far out of range) and whether it has the plain shape. Returns where the
  // number's text ends.
  size_t ReadExponent(size_t p, size_t end, int& exp10, bool& expShape) {
    bool seenSign = false, negExp = false;
    size_t expDigits = 0;
    for (; p < end; ++p) {
      const unsigned c = s_[p];
      if (c == '+' || c == '-') {
        if (seenSign) Fail(kErrTypeMismatch, u"Second exponent sign at character ", ErrorAt(p));
        seenSign = true;
        if (expDigits) expShape = false;
        negExp = c == '-';
      } else if (c >= '0' && c <= '9') {
        ++expDigits;
        if (exp10 < 10000) exp10 = exp10 * 10 + static_cast<int>(c - '0');
      } else {
        break;
      }
    }
    if (!expDigits) expShape = false;
    if (negExp) exp10 = -exp10;
    return p;
  }

  // The number at [start, p) that the exact path could not take: through a narrow copy, to a
  // Decimal (decimal mode) or a double.
  void ConvertText(Entry& e, size_t start, size_t p) {
    const Unit* s = s_;
    // The collected text: the scanned characters with the exponent letter in lower case.
    num_.resize(p - start);
    for (size_t i = start; i < p; ++i) {
      const unsigned c = s[i];
      num_[i - start] = c == 'E' ? 'e' : static_cast<char>(c);
    }
    if (decimal_) {
      Decimal d;
      if (!Decimal::TryParse(num_, d)) {
        Fail(kErrOverflow, u"Number overflow or parse error at character ", ErrorAt(start));
      }
      new (e.cell.raw) Decimal(d);
      e.tag = kDecimal;
      return;
    }
    double value;
    if (!ToDouble(value)) {
      Fail(kErrOverflow, u"Number overflow or parse error at character ", ErrorAt(start));
    }
    new (e.cell.raw) double(value);
    e.tag = kDouble;
  }

  // The double nearest to mantissa * 10^e10, when it can be had without the general
  // conversion: false leaves the number to from_chars.
  static bool ExactDouble(uint64_t mantissa, int e10, double& out) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (mantissa <= (uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
      // mantissa and 10^|e10| are both exact doubles, so one multiply or divide rounds
      // correctly.
      const double value = static_cast<double>(mantissa);
      out = e10 < 0 ? value / kPow10[-e10] : value * kPow10[e10];
      return true;
    }
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    // Longer mantissas (the 16 to 18 digits of coordinates and measurements): mantissa and
    // 10^|e10| (|e10| <= 27) are exact in the 64-bit significand of x87 extended precision, so
    // one multiply or divide there is off by at most half an extended unit. Rounding that to
    // a double is then the correctly rounded result unless it lies within one extended unit of
    // a midpoint between two doubles (the 11 extra bits near 0x400), which is left to
    // from_chars.
    static_assert(std::numeric_limits<long double>::digits == 64);
    if (mantissa < (uint64_t{1} << 63) && e10 >= -27 && e10 <= 27) {
      static constexpr auto kPow10Extended = [] {
        struct Table {
          long double v[28];
        } t{};
        t.v[0] = 1;
        for (int i = 1; i < 28; ++i) t.v[i] = t.v[i - 1] * 10;  // 5^27 < 2^64: all exact
        return t;
      }();
      const long double p10 = kPow10Extended.v[e10 < 0 ? -e10 : e10];
      const long double m = static_cast<long double>(static_cast<int64_t>(mantissa));
      const long double r = e10 < 0 ? m / p10 : m * p10;
      uint64_t significand;
      std::memcpy(&significand, &r, sizeof significand);
      const unsigned extra = significand & 0x7FF;
      if (extra >= 0x3FF && extra <= 0x401) return false;
      out = static_cast<double>(r);
      return true;
    }
#endif
    return false;
  }

  // Strict mode: the end of the number that starts at p, which must have the form
  // -? (0 | [1-9][0-9]*) (.[0-9]+)? ([eE][+-]?[0-9]+)?; the first place where the text leaves
  // that form (other than by ending the number) is an error.
  size_t StrictNumberEnd(size_t p) {
    if (At(p) == '-') ++p;
    if (!IsDigit(At(p))) Fail(kErrTypeMismatch, u"Digit expected at character ", ErrorAt(p));
    if (At(p) == '0') {
      if (IsDigit(At(p + 1))) Fail(kErrTypeMismatch, u"Leading zero at character ", ErrorAt(p));
      ++p;
    }
    while (IsDigit(At(p))) ++p;
    if (At(p) == '.') {
      ++p;
      if (!IsDigit(At(p))) Fail(kErrTypeMismatch, u"Digit expected at character ", ErrorAt(p));
      while (IsDigit(At(p))) ++p;
    }
    if (At(p) == 'e' || At(p) == 'E') {
      ++p;
      if (At(p) == '+' || At(p) == '-') ++p;
      if (!IsDigit(At(p))) Fail(kErrTypeMismatch, u"Digit expected at character ", ErrorAt(p));
      while (IsDigit(At(p))) ++p;
    }
    return p;
  }

  // Converts num_ (digits, optional point, optional exponent) to the nearest double. Values too
  // small for a double become zero; values too large fail.
  bool ToDouble(double& out) const {
    const char* first = num_.data();
    const char* last = first + num_.size();
    if (*first == '-' && (last - first < 2 || first[1] < '0' || first[1] > '9')) return false;
    auto r = std::from_chars(first, last, out);
    if (r.ptr != last) return false;
    if (r.ec == std::errc()) return true;
    if (r.ec != std::errc::result_out_of_range) return false;
    // Tell underflow from overflow by the decimal magnitude of the text.
    const char* p = first + (*first == '-');
    long magnitude = 0;
    bool nonZero = false;
    while (p < last && *p >= '0' && *p <= '9') {
      if (*p != '0' || nonZero) nonZero = true, ++magnitude;
      ++p;
    }
    if (p < last && *p == '.') {
      ++p;
      while (!nonZero && p < last && *p == '0') --magnitude, ++p;
      while (p < last && *p >= '0' && *p <= '9') ++p;
    }
    long exp = 0;
    if (p < last && *p == 'e') {
      ++p;
      bool neg = p < last && *p == '-';
      if (p < last && (*p == '-' || *p == '+')) ++p;
      for (; p < last; ++p) exp = std::min(exp * 10 + (*p - '0'), 100000L);
      if (neg) exp = -exp;
    }
    if (magnitude + exp > 0) return false;
    out = *first == '-' ? -0.0 : 0.0;
    return true;
  }

  const Unit* s_;
  size_t len_;
  size_t pos_ = 0;
  size_t errorAt_ = SIZE_MAX;  // where the error being raised was found
};

}  // namespace jsonbag

namespace jsonbag {

template <class Unit, bool kStrict>
void Scan(JsonBag& bag, const Unit* text, size_t length) {
  Scanner<Unit, kStrict> scanner(bag, text, length);
  try {
    scanner.Run();
  } catch (const Error&) {
    scanner.RecordErrorPlace();
    throw;
  }
}

}  // namespace jsonbag

void JsonBag::SetJSON(std::u16string_view text) {
  ForgetErrorPlace();
  Clear();
  if (strict_) {
    jsonbag::Scan<char16_t, true>(*this, text.data(), text.size());
  } else {
    jsonbag::Scan<char16_t, false>(*this, text.data(), text.size());
  }
}

void JsonBag::SetJSONUtf8(std::string_view text) {
  ForgetErrorPlace();
  Clear();
  auto* units = reinterpret_cast<const unsigned char*>(text.data());
  if (strict_) {
    jsonbag::Scan<unsigned char, true>(*this, units, text.size());
  } else {
    jsonbag::Scan<unsigned char, false>(*this, units, text.size());
  }
}

}  // namespace kestrola
