#pragma once

// Internal storage of JsonBag: packed text, value cells and the per-node item block.
// Not part of the public interface; included only by the json library's own sources.
//
// A node (JsonBag) is 24 bytes: its vtable pointer, one word that is either the pointer to its
// item block or (compact nodes) the kind tags of up to eight items, and two 32-bit words of
// bit fields (count, capacity, flags). Its items live in one block:
//
//   ordinary array   [Cell x cap][tag x cap]
//   ordinary object  [ObjHeader][Cell x cap][PackedText name x cap][tag x cap]
//   compact array    [Cell x cap]                      (tags in the node)
//   compact object   [Cell x cap][PackedText name x cap] (tags in the node)
//
// A Cell is 16 bytes of value (a double, a PackedText string, a shared_ptr to a child node,
// an empty container or a pair of doubles kept inline until a reader asks for its node, ...)
// whose meaning the one-byte tag gives. Names and strings are PackedText: 16 bytes, short
// texts inline, longer ones in a shared, reference-counted SharedChars block. The parser
// builds every child node in one allocation with its block (see Store::NewWithBlock), taken
// from an Arena for a large document, except long arrays, whose ordinary block it fills while
// reading them and then hands over (Store::Adopt); nodes that grow later move to a separately
// allocated ordinary block. Most parsed children get no node until a reader asks for one:
// empty containers and pairs of doubles live in the parent's cell, and in a large document
// other small containers are bare ordinary blocks from the arena (see kBlock).

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/JsonBag.h"
#include "runtime/Variant.h"

namespace kestrola::jsonbag {

// Where the parser of a large document takes its nodes, small item blocks and long texts from:
// chunks of kChunkBytes, each aligned to its own size so that the chunk of any address in it is
// found by masking the address. A chunk counts the allocations still in use and is freed when the
// last of them is given back, whichever thread does it; while the parse is still carving from it, a
// bias keeps the count from reaching zero. So a parsed node still frees its own memory (with
// its chunk's last neighbour) and may outlive its document, but making it costs a pointer bump
// instead of a call to malloc. Allocations are rounded to 8 bytes; requests larger than
// kLargest, and documents shorter than kChunkBytes of text (where a whole chunk would be
// mostly unused), go to operator new. kLargest is small against the chunk so that the end of
// a chunk too short for the next request, which stays unused, is small too.
class Arena {
 public:
  static constexpr size_t kChunkBytes = size_t{1} << 15;
  static constexpr size_t kLargest = kChunkBytes / 32;
  // The most a node's allocation adds to its block: the shared_ptr control block and the node.
  static constexpr size_t kNodeOverhead = 128;

  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { Retire(); }

  // Room for `bytes`, which must not pass kLargest + kNodeOverhead.
  void* Take(size_t bytes);
  // The allocation at p, taken from some arena, is no longer used. A thread counts the gives
  // that follow one another into one chunk by itself, and settles them with the chunk in one
  // atomic step when it gives into another chunk, when it calls Settle, or when it ends. So
  // at most one chunk per thread waits for its settlement.
  static void Give(void* p) noexcept;
  // Settles this thread's waiting gives (called when a node has taken a tree apart).
  static void Settle() noexcept;
  // When p lies in the chunk this arena carves now, p stops counting on its own (returns
  // true): the allocation just taken, in the same chunk, keeps the chunk for it from now on.
  bool Fold(void* p) noexcept;
  // A folded allocation counts on its own again (its chunk is still kept by another one).
  static void Unfold(void* p) noexcept;

 private:
  struct alignas(16) ChunkHead {
    std::atomic<uint64_t> live;  // allocations in use, plus kOpen while an arena carves from it
  };
  static ChunkHead* ChunkOf(void* p) {
    return reinterpret_cast<ChunkHead*>(reinterpret_cast<uintptr_t>(p) & ~(kChunkBytes - 1));
  }
  static constexpr uint64_t kOpen = uint64_t{1} << 62;
  static_assert(sizeof(ChunkHead) + kLargest + kNodeOverhead <= kChunkBytes,
                "every request fits in a fresh chunk");
  // Takes n allocations off chunk's count, and frees it when none are left.
  static void Drop(ChunkHead* chunk, uint64_t n) noexcept;
  void Retire() noexcept;

  ChunkHead* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  uint64_t taken_ = 0;  // allocations made from chunk_
};

// Immutable characters shared by reference count (member names repeat across a document, so
// the parser hands every occurrence of a long name the same block). A text whose code units are
// all below 256 is held narrow, one byte per code unit. A block the parser took from an Arena
// says so, and goes back to it.
struct SharedChars {
  static constexpr size_t kMaxLength = (size_t{1} << 30) - 1;
  std::atomic<uint32_t> refs;
  uint32_t length : 30;
  uint32_t narrow : 1;
  uint32_t inArena : 1;
  void* Data() { return this + 1; }
  const void* Data() const { return this + 1; }
};

// True when every code unit of s[0..n) is below 256.
inline bool FitsNarrow(const char16_t* s, size_t n) {
  size_t i = 0;
  char16_t any = 0;
#if defined(__SSE2__)
  __m128i wide = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    wide = _mm_or_si128(wide, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
  }
  // The high byte of any unit set means the text is not narrow.
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_srli_epi16(wide, 8), _mm_setzero_si128())) != 0xFFFF)
    return false;
#endif
  for (; i < n; ++i) any |= s[i];
  return any < 256;
}
// Copies n code units into dst, narrow (one byte each) or wide.
inline void StoreUnits(void* dst, const char16_t* s, size_t n, bool narrow) {
  if (!narrow) {
    std::memcpy(dst, s, n * sizeof(char16_t));
    return;
  }
  auto* d = static_cast<unsigned char*>(dst);
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < n; ++i) d[i] = static_cast<unsigned char>(s[i]);
}

// A block holding s[0..n), taken from arena when one is given and the block is small enough.
SharedChars* NewChars(const char16_t* s, size_t n, bool narrow, Arena* arena = nullptr);
inline void Retain(SharedChars* c) {
  c->refs.fetch_add(1, std::memory_order_relaxed);
}
inline void FreeChars(SharedChars* c) {
  if (c->inArena) {
    Arena::Give(c);
  } else {
    ::operator delete(c);
  }
}
// Drops n of the caller's references to c, and frees it with the last. When the caller holds
// them all (most texts have one owner), no other thread can take one now, so no atomic
// decrement is needed; the acquire pairs with the release of other owners' decrements.
inline void DropRefs(SharedChars* c, uint32_t n) {
  if (c->refs.load(std::memory_order_acquire) == n ||
      c->refs.fetch_sub(n, std::memory_order_acq_rel) == n) {
    FreeChars(c);
  }
}
inline void Release(SharedChars* c) {
  DropRefs(c, 1);
}
// Retain and Release for a block that no other thread can see yet (one the parser made for the
// document it is still building): plain increments, no atomic read-modify-write.
inline void RetainUnshared(SharedChars* c) {
  c->refs.store(c->refs.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}
inline void ReleaseUnshared(SharedChars* c) {
  const uint32_t refs = c->refs.load(std::memory_order_relaxed);
  if (refs == 1) {
    FreeChars(c);
  } else {
    c->refs.store(refs - 1, std::memory_order_relaxed);
  }
}

// Hash of a member name over its code unit values, whatever the storage width, eight units
// at a time. Wide units are first narrowed with saturation, so a text hashes the same stored
// narrow or wide (units above 255 all count as 255, which only makes such texts collide more).
inline uint64_t HashStep(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}
// The first min(n, 8) units of s as the bytes of a word, zero above them; n > 0. Every load
// has a fixed size and stays inside s[0..n): a copy of variable size would go through memory
// and stall the hash on reading it back.
inline uint64_t EightUnits(const unsigned char* s, size_t n) {
  uint64_t w;
  if (n >= 8) {
    std::memcpy(&w, s, 8);
    return w;
  }
  if (n >= 4) {
    // Two four-byte loads that overlap: the shared bytes are the same in both.
    uint32_t lo, hi;
    std::memcpy(&lo, s, 4);
    std::memcpy(&hi, s + n - 4, 4);
    return uint64_t{lo} | uint64_t{hi} << (8 * (n - 4));
  }
  return uint64_t{s[0]} | uint64_t{s[n / 2]} << (8 * (n / 2)) | uint64_t{s[n - 1]} << (8 * (n - 1));
}
inline uint64_t EightUnits(const char16_t* s, size_t n) {
#if defined(__SSE2__)
  if (n >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    uint64_t w;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&w), _mm_packus_epi16(units, units));
    return w;
  }
#endif
  uint64_t w = 0;
  for (size_t i = 0; i < n && i < 8; ++i) {
    w |= uint64_t{s[i] < 256 ? s[i] : char16_t{255}} << (8 * i);
  }
  return w;
}
// The units s[i..n) (fewer than eight, at least one) of a text of n units, as EightUnits
// gives them. A narrow text of eight units or more takes them from its last eight bytes, in
// one load.
inline uint64_t TailUnits(const unsigned char* s, size_t i, size_t n) {
  if (n < 8) return EightUnits(s + i, n - i);
  uint64_t w;
  std::memcpy(&w, s + n - 8, 8);
  return w >> (8 * (8 - (n - i)));
}
inline uint64_t TailUnits(const char16_t* s, size_t i, size_t n) {
  return EightUnits(s + i, n - i);
}
template <class Unit>
inline uint32_t HashUnits(const Unit* s, size_t n) {
  uint64_t h = n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) h = HashStep(h, EightUnits(s + i, 8));
  if (i < n) h = HashStep(h, TailUnits(s, i, n));
  h = HashStep(h, 0);
  return static_cast<uint32_t>(h ^ (h >> 32));
}
inline uint32_t HashName(const char16_t* s, size_t n) {
  return HashUnits(s, n);
}

// Characters seen without copying: n code units at p, one byte or two each.
struct Chars {
  const void* p;
  size_t n;
  bool narrow;

  const unsigned char* Narrow() const { return static_cast<const unsigned char*>(p); }
  const char16_t* Wide() const { return static_cast<const char16_t*>(p); }
  uint32_t Hash() const { return narrow ? HashUnits(Narrow(), n) : HashUnits(Wide(), n); }
  std::u16string Str() const {
    if (!narrow) return std::u16string(Wide(), n);
    std::u16string out(n, u'\0');
    for (size_t i = 0; i < n; ++i) out[i] = Narrow()[i];
    return out;
  }
  bool Equals(const char16_t* s, size_t k) const {
    if (k != n) return false;
    if (!narrow) return std::memcmp(p, s, n * sizeof(char16_t)) == 0;
    const unsigned char* a = Narrow();
    for (size_t i = 0; i < n; ++i) {
      if (a[i] != s[i]) return false;
    }
    return true;
  }
  bool Equals(std::u16string_view s) const { return Equals(s.data(), s.size()); }
  bool Equals(const Chars& o) const {
    if (o.n != n) return false;
    if (narrow != o.narrow) return narrow ? Equals(o.Wide(), o.n) : o.Equals(Wide(), n);
    const size_t bytes = narrow ? n : n * sizeof(char16_t);
    if (bytes < 8) return std::memcmp(p, o.p, bytes) == 0;
    // Long member names are compared here on every repetition: a word at a time, the last
    // word overlapping the one before it.
    const auto* a = static_cast<const unsigned char*>(p);
    const auto* b = static_cast<const unsigned char*>(o.p);
    uint64_t x, y, diff = 0;
    for (size_t i = 0; i + 8 < bytes; i += 8) {
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      diff |= x ^ y;
    }
    std::memcpy(&x, a + bytes - 8, 8);
    std::memcpy(&y, b + bytes - 8, 8);
    return (diff | (x ^ y)) == 0;
  }
};

// A block holding the characters of t, narrow whenever they all fit.
SharedChars* NewChars(const Chars& t, Arena* arena = nullptr);
// The characters of block c.
inline Chars CharsOf(const SharedChars* c) {
  return {c->Data(), c->length, c->narrow != 0};
}

// A 16-byte text: up to seven wide or fourteen narrow code units inline, longer texts in a
// SharedChars block. Moved by plain byte copy.
struct PackedText {
  static constexpr uint16_t kHeap = 0xFFFF;
  static constexpr uint16_t kNarrowTag = 0x100;  // inline narrow: kNarrowTag + length
  static constexpr size_t kInline = 7;
  static constexpr size_t kInlineNarrow = 14;
  alignas(8) unsigned char bytes[14];
  uint16_t tag;  // inline wide length, kNarrowTag + inline narrow length, or kHeap

  SharedChars* Heap() const {
    SharedChars* c;
    std::memcpy(&c, bytes, sizeof c);
    return c;
  }
  Chars View() const {
    if (tag == kHeap) return CharsOf(Heap());
    if (tag >= kNarrowTag) return {bytes, size_t{tag} - kNarrowTag, true};
    return {bytes, tag, false};
  }
  size_t Length() const { return View().n; }
};
static_assert(sizeof(PackedText) == 16);

// Makes t an own copy of s[0..n).
inline void InitText(PackedText& t, const char16_t* s, size_t n, Arena* arena = nullptr) {
  const bool narrow = FitsNarrow(s, n);
  if (narrow && n <= PackedText::kInlineNarrow) {
    StoreUnits(t.bytes, s, n, true);
    t.tag = static_cast<uint16_t>(PackedText::kNarrowTag + n);
  } else if (n <= PackedText::kInline) {
    std::memcpy(t.bytes, s, n * sizeof(char16_t));
    t.tag = static_cast<uint16_t>(n);
  } else {
    SharedChars* c = NewChars(s, n, narrow, arena);
    std::memcpy(t.bytes, &c, sizeof c);
    t.tag = PackedText::kHeap;
  }
}
// Makes t share the block c (one more reference).
inline void InitShared(PackedText& t, SharedChars* c) {
  Retain(c);
  std::memcpy(t.bytes, &c, sizeof c);
  t.tag = PackedText::kHeap;
}
inline void CopyText(PackedText& dst, const PackedText& src) {
  dst = src;
  if (src.tag == PackedText::kHeap) Retain(src.Heap());
}
inline void DestroyText(PackedText& t) {
  if (t.tag == PackedText::kHeap) Release(t.Heap());
  t.tag = 0;
}

// Internal kind tags of a stored value.
enum Tag : uint8_t {
  kEmpty,
  kNull,
  kInt16,
  kInt32,
  kSingle,
  kDouble,
  kCurrency,
  kDate,
  kString,
  kBag,     // ObjectRef known to be a JsonBag
  kObject,  // any other ObjectRef (possibly empty)
  kError,
  kBool,
  kDecimal,
  kByte,
  kArray,  // shared_ptr<VariantArray>
  // A container the parser leaves inside its parent's cell, without a node of its own until a
  // reader asks for one (Store::NodeAt): most documents hold many small containers, and a
  // node (with its shared_ptr control block) costs more than they do. kEmptyArray and
  // kEmptyObject keep the decimal mode their node is to have in the cell's first byte; kPair
  // is an array of two doubles, held in the cell's two halves; kBlock is a BlockRef to an
  // ordinary item block, exactly full, taken from the parse's arena.
  kEmptyArray,
  kEmptyObject,
  kPair,
  kBlock,
  kMaking,  // such a cell while one reader makes its node; the other readers wait for it
};

// True for a container still kept in its parent's cell (or having its node made).
constexpr bool IsInline(uint8_t tag) {
  return tag >= kEmptyArray;
}

// True when a value of this kind may hold something to release: a text block or a reference.
constexpr uint64_t kReferenceTags = uint64_t{1} << kString | uint64_t{1} << kBag |
                                    uint64_t{1} << kObject | uint64_t{1} << kArray |
                                    uint64_t{1} << kBlock;
constexpr bool MayHoldReference(uint8_t tag) {
  return tag < 64 && ((kReferenceTags >> tag) & 1) != 0;  // a bit test, not a branch per kind
}

// The first position from i (below n) whose value may hold a reference, or n: sixteen tags
// at a time, since long arrays of numbers hold none.
inline uint32_t NextMayHoldReference(const uint8_t* tags, uint32_t i, uint32_t n) {
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + i));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(t, _mm_set1_epi8(kString)),
                                               _mm_cmpeq_epi8(t, _mm_set1_epi8(kBag))),
                                  _mm_or_si128(_mm_cmpeq_epi8(t, _mm_set1_epi8(kObject)),
                                               _mm_cmpeq_epi8(t, _mm_set1_epi8(kArray)))),
                     _mm_cmpeq_epi8(t, _mm_set1_epi8(kBlock)));
    if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)))
      return i + static_cast<uint32_t>(__builtin_ctz(mask));
  }
#endif
  while (i < n && !MayHoldReference(tags[i])) ++i;
  return i;
}

// 16 bytes of value storage; the tag says what lives in it.
struct alignas(8) Cell {
  unsigned char raw[16];
  template <class T>
  T& As() {
    return *std::launder(reinterpret_cast<T*>(raw));
  }
  template <class T>
  const T& As() const {
    return *std::launder(reinterpret_cast<const T*>(raw));
  }
};
static_assert(sizeof(ObjectRef) <= 16 && sizeof(Decimal) <= 16 &&
              sizeof(std::shared_ptr<VariantArray>) <= 16);

// What a kBlock cell holds: a parsed container's item block in the ordinary layout, with
// capacity == count, and what its node is to know when one is made.
struct BlockRef {
  void* block;
  uint32_t count;
  bool isArray;
  bool decimal;
  bool plain;   // nothing in the block to release but the block: it need not be read
  bool folded;  // a plain block that its parent block's allocation keeps (Arena::Fold)
};
static_assert(sizeof(BlockRef) <= sizeof(Cell) && std::is_trivially_copyable_v<BlockRef>);

// A BlockRef cell's two words, put together in registers where the layout allows: the parser
// stores them as words, which a reader soon after gets straight from the stores.
inline void ToWords(const BlockRef& r, uint64_t (&w)[2]) {
  constexpr bool kWordLayout = std::endian::native == std::endian::little && sizeof(void*) == 8 &&
                               offsetof(BlockRef, count) == 8 &&
                               offsetof(BlockRef, isArray) == 12 &&
                               offsetof(BlockRef, decimal) == 13 &&
                               offsetof(BlockRef, plain) == 14 && offsetof(BlockRef, folded) == 15;
  if constexpr (kWordLayout) {
    w[0] = reinterpret_cast<uintptr_t>(r.block);
    w[1] = r.count | uint64_t{r.isArray} << 32 | uint64_t{r.decimal} << 40 |
           uint64_t{r.plain} << 48 | uint64_t{r.folded} << 56;
  } else {
    w[0] = w[1] = 0;
    std::memcpy(w, &r, sizeof r);
  }
}

// A tag as a reader that may share the node with other readers sees it: another reader may be
// turning an inline container into a node (kEmptyArray -> kMaking -> kBag) at the same time.
inline uint8_t LoadTag(const uint8_t& tag) {
  return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(tag)).load(std::memory_order_acquire);
}

void CellFromVariant(Cell& cell, uint8_t& tag, const Variant& value);
Variant CellToVariant(const Cell& cell, uint8_t tag);
void DestroyCell(Cell& cell, uint8_t tag);
// Drops the texts of n member names about to be freed with their block. While a tree is taken
// apart (NameDrops), the drops of one shared name are gathered and made in one step.
void ReleaseNames(PackedText* names, uint32_t n) noexcept;
// While one lives on this thread, ReleaseNames gathers drops; the last to go makes them.
struct NameDrops {
  NameDrops() noexcept;
  ~NameDrops();
  NameDrops(const NameDrops&) = delete;
  NameDrops& operator=(const NameDrops&) = delete;
};

// The item block of a node. Arrays: [Cell x cap][tag x cap]. Objects: [ObjHeader]
// [Cell x cap][PackedText name x cap][tag x cap]. An object past kIndexFrom members gets an
// open-addressing index beside the block when it is first searched by name (a parsed
// document pays nothing for objects nobody looks into).
//
// A compact node (made by the parser with at most kCompactMax items) keeps its block right
// after itself in the same allocation, without header, and its tags inside the node:
// arrays [Cell x cap], objects [Cell x cap][PackedText name x cap]. Such an object never
// needs an index. Growing a compact node moves it to the ordinary layout.
struct ObjHeader {
  // [mask][slot x (mask + 1)]: each slot the position + 1 of a member, or 0 when free. Made on
  // the first lookup by name and published atomically, so that readers sharing a const object
  // may build it concurrently; null until then, and again after a removal.
  uint32_t* index;
  uint64_t unused;
};
static_assert(sizeof(ObjHeader) == 16);
static_assert(sizeof(JsonBag) == 24, "the node layout described at the top of this file");

class Store {
 public:
  // Sizes of the parts of an item block (see the layout at the top of this file).
  static constexpr size_t kCellBytes = sizeof(Cell);
  static constexpr size_t kNameBytes = sizeof(PackedText);
  static constexpr size_t kTagBytes = sizeof(uint8_t);
  static constexpr size_t kHeaderBytes = sizeof(ObjHeader);

  static constexpr uint32_t kIndexFrom = 8;
  static constexpr uint32_t kCompactMax = sizeof(JsonBag::smallTags_);
  static_assert(kCompactMax <= kIndexFrom);
  static constexpr uint32_t kMaxCapacity = (1u << 27) - 1;

  static size_t BlockBytes(uint32_t cap, bool isArray) {
    return isArray ? size_t{cap} * (kCellBytes + kTagBytes)
                   : kHeaderBytes + size_t{cap} * (kCellBytes + kNameBytes + kTagBytes);
  }
  static size_t CompactBytes(uint32_t cap, bool isArray) {
    return isArray ? size_t{cap} * kCellBytes : size_t{cap} * (kCellBytes + kNameBytes);
  }
  // Where the cells start in the block: after the header of an ordinary object.
  static size_t CellsOffset(const JsonBag& b) {
    return b.isArray_ || b.compact_ ? 0 : kHeaderBytes;
  }
  static bool HasBlock(const JsonBag& b) { return b.capacity_ != 0; }
  static char* Base(const JsonBag& b) {
    return b.compact_ ? const_cast<char*>(reinterpret_cast<const char*>(&b + 1))
                      : static_cast<char*>(b.block_);
  }
  // The parts of an ordinary block of cap items.
  static Cell* BlockCells(void* block, bool isArray) {
    return reinterpret_cast<Cell*>(static_cast<char*>(block) + (isArray ? 0 : kHeaderBytes));
  }
  static PackedText* BlockNames(void* block, uint32_t cap) {
    return reinterpret_cast<PackedText*>(BlockCells(block, false) + cap);
  }
  static uint8_t* BlockTags(void* block, uint32_t cap, bool isArray) {
    const size_t perItem = isArray ? kCellBytes : kCellBytes + kNameBytes;
    return reinterpret_cast<uint8_t*>(BlockCells(block, isArray)) + size_t{cap} * perItem;
  }
  static Cell* Cells(const JsonBag& b) { return reinterpret_cast<Cell*>(Base(b) + CellsOffset(b)); }
  // Objects only: the names follow the cells.
  static PackedText* Names(const JsonBag& b) {
    return reinterpret_cast<PackedText*>(Base(b) + CellsOffset(b) +
                                         size_t{b.capacity_} * kCellBytes);
  }
  // The tags follow the cells (arrays) or the names (objects); compact nodes keep them inline.
  static uint8_t* Tags(const JsonBag& b) {
    if (b.compact_) return const_cast<uint8_t*>(b.smallTags_);
    return BlockTags(b.block_, b.capacity_, b.isArray_);
  }
  // The object's header, or null for a compact object (which has no index).
  static ObjHeader* Header(const JsonBag& b) {
    return b.compact_ ? nullptr : static_cast<ObjHeader*>(b.block_);
  }

  // Position (0-based) of the member with exactly this name, or -1.
  static int64_t Find(const JsonBag& b, std::u16string_view name);
  // Makes room for at least n items.
  static void Reserve(JsonBag& b, uint32_t n);
  // Appends a value (taking over the cell) and, on objects, its name (taking over the text).
  static void Append(JsonBag& b, Cell& cell, uint8_t tag, PackedText* name);
  static void RemoveAt(JsonBag& b, uint32_t pos);
  // Drops the object's index; the next lookup by name makes a new one.
  static void DropIndex(JsonBag& b);
  // Gives the node a block of exactly n items (the node must be empty); the caller fills it
  // and sets count_.
  static void Allocate(JsonBag& b, uint32_t n);
  // A new empty node of the given form whose block of exactly n items lies in the same
  // allocation as the node itself; the caller fills it and sets count_.
  // With an arena, small nodes are taken from it.
  static std::shared_ptr<JsonBag> NewWithBlock(bool isArray, uint32_t n, Arena* arena = nullptr);
  // Hands the empty array node b a filled ordinary block of exactly n items, allocated with
  // malloc (the parser's long arrays).
  static void Adopt(JsonBag& b, uint32_t n, void* block) noexcept {
    b.block_ = block;
    b.capacity_ = n;
    b.count_ = n;
  }
  // Frees b's block unless it lies in the node's own allocation.
  static void FreeBlock(JsonBag& b);

  // The node of the container in cell (whose tag is tag), made now if it is still inline.
  // Safe for readers sharing the node: one of them makes the node and publishes it with the
  // tag kBag, the others wait for it; all get the same node.
  static const ObjectRef& NodeAt(const Cell& cell, const uint8_t& tag);
  // The sixteen bytes of an inline container whose tag is expected, unless its node has been
  // made meanwhile (false).
  static bool ReadInline(const Cell& cell, const uint8_t& tag, uint8_t expected, Cell& out);
  // Takes apart a parsed block (see kBlock) and the blocks below it, and gives it back.
  static void ReleaseBlock(const BlockRef& ref) noexcept;
  // b's value at pos, as a reader gets it.
  static Variant ValueAt(const JsonBag& b, uint32_t pos);

 private:
  // The node an inline container stands for.
  static std::shared_ptr<JsonBag> NodeFromCell(const Cell& cell, uint8_t tag);
};

// Where a failed parse stopped (see JsonBag::ErrorPosition); all 0 when unknown.
struct ErrorPlace {
  int32_t position = 0;
  int32_t line = 0;
  int32_t column = 0;
};
// Files the place of bag's failed parse; the caller then sets bag.errorPlace_.
void RememberErrorPlace(const JsonBag* bag, const ErrorPlace& place);

}  // namespace kestrola::jsonbag
