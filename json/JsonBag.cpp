#include "json/JsonBag.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>

#include "json/JsonBagStore.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace jsonbag {

void* Arena::Take(size_t bytes) {
  bytes = (bytes + 7) & ~size_t{7};
  if (bytes > static_cast<size_t>(end_ - next_)) {
    Retire();
    // Through operator new, like every other allocation of the document, so that a program's
    // own accounting of it (a memory limit, say) sees the chunks too.
    void* fresh = ::operator new (kChunkBytes, std::align_val_t{kChunkBytes});
    chunk_ = new (fresh) ChunkHead{{kOpen}};
    next_ = static_cast<char*>(fresh) + sizeof(ChunkHead);
    end_ = static_cast<char*>(fresh) + kChunkBytes;
  }
  void* p = next_;
  next_ += bytes;
  ++taken_;
  return p;
}

void Arena::Drop(ChunkHead* chunk, uint64_t n) noexcept {
  if (chunk->live.fetch_sub(n, std::memory_order_acq_rel) == n) {
    ::operator delete (chunk, std::align_val_t{kChunkBytes});
  }
}

namespace {

// This thread's gives not yet settled, all into one chunk.
struct WaitingGives {
  void* chunk = nullptr;
  uint64_t count = 0;
  ~WaitingGives() { Arena::Settle(); }
};
thread_local WaitingGives waiting;

// This thread's drops of shared member names not yet made. The members of the records of a
// list share their long names (one block per name and parse): when the document goes, one
// atomic step per name, instead of one per member.
struct WaitingNames {
  struct Slot {
    SharedChars* chars = nullptr;
    uint32_t count = 0;
  };
  Slot slots[32];
  int gathering = 0;  // NameDrops alive on this thread

  void Make(Slot& s) noexcept {
    DropRefs(s.chars, s.count);
    s = Slot{};
  }
  void MakeAll() noexcept {
    for (Slot& s : slots) {
      if (s.chars) Make(s);
    }
  }
  ~WaitingNames() { MakeAll(); }
};
thread_local WaitingNames waitingNames;

}  // namespace

NameDrops::NameDrops() noexcept {
  ++waitingNames.gathering;
}

NameDrops::~NameDrops() {
  if (--waitingNames.gathering == 0) waitingNames.MakeAll();
}

void ReleaseNames(PackedText* names, uint32_t n) noexcept {
  WaitingNames& waiting = waitingNames;
  for (uint32_t i = 0; i < n; ++i) {
    if (names[i].tag != PackedText::kHeap) continue;
    SharedChars* c = names[i].Heap();
    names[i].tag = 0;
    if (!waiting.gathering) {
      Release(c);
      continue;
    }
    WaitingNames::Slot& s =
        waiting.slots[(reinterpret_cast<uintptr_t>(c) >> 4) % std::size(waiting.slots)];
    if (s.chars != c) {
      if (s.chars) waiting.Make(s);
      s.chars = c;
    }
    ++s.count;
  }
}

void Arena::Give(void* p) noexcept {
  ChunkHead* chunk = ChunkOf(p);
  if (chunk != waiting.chunk) {
    Settle();
    waiting.chunk = chunk;
  }
  ++waiting.count;
}

bool Arena::Fold(void* p) noexcept {
  if (ChunkOf(p) != chunk_) return false;
  --taken_;
  return true;
}

void Arena::Unfold(void* p) noexcept {
  ChunkOf(p)->live.fetch_add(1, std::memory_order_relaxed);
}

void Arena::Settle() noexcept {
  if (waiting.count) Drop(static_cast<ChunkHead*>(waiting.chunk), waiting.count);
  waiting.chunk = nullptr;
  waiting.count = 0;
}

void Arena::Retire() noexcept {
  if (!chunk_) return;
  // What remains counted is the allocations still in use; if none are, the chunk goes now.
  Drop(chunk_, kOpen - taken_);
  chunk_ = nullptr;
  next_ = end_ = nullptr;
  taken_ = 0;
}

namespace {

// A SharedChars block with room for `length` code units, from the arena when it fits there.
SharedChars* NewCharsBlock(size_t length, bool narrow, Arena* arena) {
  if (length > SharedChars::kMaxLength) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
  const size_t bytes = sizeof(SharedChars) + length * (narrow ? 1 : sizeof(char16_t));
  const bool inArena = arena && bytes <= Arena::kLargest;
  auto* c = static_cast<SharedChars*>(inArena ? arena->Take(bytes) : ::operator new(bytes));
  new (&c->refs) std::atomic<uint32_t>(1);
  c->length = static_cast<uint32_t>(length);
  c->narrow = narrow;
  c->inArena = inArena;
  return c;
}

}  // namespace

SharedChars* NewChars(const char16_t* s, size_t n, bool narrow, Arena* arena) {
  SharedChars* c = NewCharsBlock(n, narrow, arena);
  StoreUnits(c->Data(), s, n, narrow);
  return c;
}

SharedChars* NewChars(const Chars& t, Arena* arena) {
  if (!t.narrow) return NewChars(t.Wide(), t.n, FitsNarrow(t.Wide(), t.n), arena);
  SharedChars* c = NewCharsBlock(t.n, true, arena);
  std::memcpy(c->Data(), t.p, t.n);
  return c;
}

void CellFromVariant(Cell& cell, uint8_t& tag, const Variant& value) {
  switch (value.VarType()) {
    case vbEmpty:
      tag = kEmpty;
      return;
    case vbNull:
      tag = kNull;
      return;
    case vbInteger:
      tag = kInt16, new (cell.raw) int16_t(value.AsInteger());
      return;
    case vbLong:
      tag = kInt32, new (cell.raw) int32_t(value.AsLong());
      return;
    case vbSingle:
      tag = kSingle, new (cell.raw) float(value.AsSingle());
      return;
    case vbDouble:
      tag = kDouble, new (cell.raw) double(value.AsDouble());
      return;
    case vbCurrency:
      tag = kCurrency, new (cell.raw) Currency(value.AsCurrency());
      return;
    case vbDate:
      tag = kDate, new (cell.raw) Date(value.AsDate());
      return;
    case vbString: {
      const std::u16string& s = value.AsString();
      tag = kString;
      InitText(cell.As<PackedText>(), s.data(), s.size());
      return;
    }
    case vbObject: {
      const ObjectRef& ref = value.AsObject();
      tag = dynamic_cast<JsonBag*>(ref.get()) ? kBag : kObject;
      new (cell.raw) ObjectRef(ref);
      return;
    }
    case vbError:
      tag = kError, new (cell.raw) ErrorValue(value.AsError());
      return;
    case vbBoolean:
      tag = kBool, new (cell.raw) bool(value.AsBoolean());
      return;
    case vbDecimal:
      tag = kDecimal, new (cell.raw) Decimal(value.AsDecimal());
      return;
    case vbByte:
      tag = kByte, new (cell.raw) uint8_t(value.AsByte());
      return;
    default:
      tag = kArray;
      new (cell.raw) std::shared_ptr<VariantArray>(value.AsArray());
      return;
  }
}

Variant CellToVariant(const Cell& cell, uint8_t tag) {
  switch (tag) {
    case kEmpty:
      return Variant();
    case kNull:
      return Variant::Null();
    case kInt16:
      return Variant(cell.As<int16_t>());
    case kInt32:
      return Variant(cell.As<int32_t>());
    case kSingle:
      return Variant(cell.As<float>());
    case kDouble:
      return Variant(cell.As<double>());
    case kCurrency:
      return Variant(cell.As<Currency>());
    case kDate:
      return Variant(cell.As<Date>());
    case kString: {
      return Variant(cell.As<PackedText>().View().Str());
    }
    case kBag:
    case kObject:
      return Variant(cell.As<ObjectRef>());
    case kError:
      return Variant(cell.As<ErrorValue>());
    case kBool:
      return Variant(cell.As<bool>());
    case kDecimal:
      return Variant(cell.As<Decimal>());
    case kByte:
      return Variant(cell.As<uint8_t>());
    case kArray:
      return Variant(cell.As<std::shared_ptr<VariantArray>>());
    default:
      // Inline containers need their place in the node: Store::ValueAt reads them.
      throw Error::Standard(kErrInternal, u"JsonBag");
  }
}

void DestroyCell(Cell& cell, uint8_t tag) {
  switch (tag) {
    case kString:
      DestroyText(cell.As<PackedText>());
      break;
    case kBag:
    case kObject:
      cell.As<ObjectRef>().~ObjectRef();
      break;
    case kArray:
      cell.As<std::shared_ptr<VariantArray>>().~shared_ptr();
      break;
    case kBlock:
      Store::ReleaseBlock(cell.As<BlockRef>());
      break;
    default:
      break;
  }
}

namespace {

std::atomic_ref<uint32_t*> IndexOf(const ObjHeader& h) {
  return std::atomic_ref<uint32_t*>(const_cast<ObjHeader&>(h).index);
}

// Inserts position pos (0-based) of names into index.
void IndexName(uint32_t* index, const PackedText* names, uint32_t pos) {
  const uint32_t mask = index[0];
  uint32_t* slots = index + 1;
  uint32_t slot = names[pos].View().Hash() & mask;
  while (slots[slot] != 0) slot = (slot + 1) & mask;
  slots[slot] = pos + 1;
}

// An index of b's names, or null without memory for it (lookups then scan the names).
uint32_t* MakeIndex(const JsonBag& b) {
  uint32_t size = 16;
  while (size < b.Count() * 2u + 2) size *= 2;
  auto* index = new (std::nothrow) uint32_t[size + 1]();
  if (!index) return nullptr;
  index[0] = size - 1;
  const PackedText* names = Store::Names(b);
  for (uint32_t i = 0; i < static_cast<uint32_t>(b.Count()); ++i) IndexName(index, names, i);
  return index;
}

// b's index, made now if b is large enough to want one and has none yet. Concurrent readers
// may each make one: the first to publish it wins and the others drop theirs.
const uint32_t* IndexFor(const JsonBag& b) {
  const ObjHeader* h = Store::Header(b);
  if (!h) return nullptr;
  uint32_t* index = IndexOf(*h).load(std::memory_order_acquire);
  if (index || static_cast<uint32_t>(b.Count()) <= Store::kIndexFrom) return index;
  uint32_t* made = MakeIndex(b);
  if (made && !IndexOf(*h).compare_exchange_strong(index, made, std::memory_order_acq_rel)) {
    delete[] made;
    return index;
  }
  return made;
}

}  // namespace

int64_t Store::Find(const JsonBag& b, std::u16string_view name) {
  if (b.isArray_ || b.count_ == 0) return -1;
  const PackedText* names = Names(b);
  const uint32_t* index = IndexFor(b);
  if (!index) {
    for (uint32_t i = 0; i < b.count_; ++i) {
      if (names[i].View().Equals(name)) return i;
    }
    return -1;
  }
  const uint32_t mask = index[0];
  const uint32_t* slots = index + 1;
  uint32_t slot = HashName(name.data(), name.size()) & mask;
  for (;;) {
    uint32_t e = slots[slot];
    if (e == 0) return -1;
    if (names[e - 1].View().Equals(name)) return e - 1;
    slot = (slot + 1) & mask;
  }
}

void Store::DropIndex(JsonBag& b) {
  if (b.isArray_ || !HasBlock(b) || b.compact_) return;
  ObjHeader* h = Header(b);
  delete[] h->index;
  h->index = nullptr;
}

void Store::Allocate(JsonBag& b, uint32_t n) {
  if (n > kMaxCapacity) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
  if (n == 0) return;
  b.block_ = std::malloc(BlockBytes(n, b.isArray_));
  if (!b.block_) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
  b.capacity_ = n;
  if (!b.isArray_) *Header(b) = ObjHeader{nullptr, 0};
}

namespace {

// Hands allocate_shared one allocation with room for `extra` more bytes after the node, and
// reports where that room starts. The allocators are stateless (the request travels in a
// thread-local) so that the control block does not grow by a copy of them. TailAllocator
// takes the memory from operator new; ArenaTailAllocator from the request's arena, to which
// the allocation is given back.
struct TailRoom {
  size_t extra;
  Arena* arena = nullptr;
  void* tail = nullptr;
};
thread_local TailRoom* tailRequest = nullptr;

template <class T, bool kFromArena>
struct BasicTailAllocator {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = BasicTailAllocator<U, kFromArena>;
  };
  BasicTailAllocator() = default;
  template <class U>
  BasicTailAllocator(const BasicTailAllocator<U, kFromArena>&) {}
  T* allocate(size_t n) {
    TailRoom* room = tailRequest;
    tailRequest = nullptr;
    const size_t head = (n * sizeof(T) + 7) & ~size_t{7};
    const size_t bytes = head + (room ? room->extra : 0);
    void* p;
    if constexpr (kFromArena) {
      p = room->arena->Take(bytes);
    } else {
      p = ::operator new(bytes);
    }
    if (room) room->tail = static_cast<char*>(p) + head;
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) {
    if constexpr (kFromArena) {
      Arena::Give(p);
    } else {
      ::operator delete(p);
    }
  }
  template <class U>
  bool operator==(const BasicTailAllocator<U, kFromArena>&) const {
    return true;
  }
};
template <class T>
using TailAllocator = BasicTailAllocator<T, false>;
template <class T>
using ArenaTailAllocator = BasicTailAllocator<T, true>;

// A node with room for `extra` bytes after it in the same allocation; *tail is where they start.
std::shared_ptr<JsonBag> NewNode(size_t extra, Arena* arena, void** tail) {
  TailRoom room{extra, arena};
  tailRequest = &room;
  std::shared_ptr<JsonBag> node;
  if (arena && extra <= Arena::kLargest) {
    node = std::allocate_shared<JsonBag>(ArenaTailAllocator<JsonBag>());
  } else {
    room.arena = nullptr;
    node = std::allocate_shared<JsonBag>(TailAllocator<JsonBag>());
  }
  *tail = room.tail;
  return node;
}

}  // namespace

std::shared_ptr<JsonBag> Store::NewWithBlock(bool isArray, uint32_t n, Arena* arena) {
  void* tail = nullptr;
  if (n == 0) {
    auto node = NewNode(0, arena, &tail);
    node->isArray_ = isArray;
    return node;
  }
  if (n > kMaxCapacity) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
  const bool compact = n <= kCompactMax;
  auto node = NewNode(compact ? CompactBytes(n, isArray) : BlockBytes(n, isArray), arena, &tail);
  node->isArray_ = isArray;
  node->capacity_ = n;
  node->ownBlock_ = 1;
  if (compact && tail == node.get() + 1) {
    node->compact_ = 1;
    return node;
  }
  if (compact) {
    // The room does not follow the node directly (an unexpected control block layout): it is
    // big enough for the items but not for a header and tags, so use a separate block.
    node->ownBlock_ = 0;
    node->capacity_ = 0;
    Allocate(*node, n);
    return node;
  }
  node->block_ = tail;
  if (!isArray) *Header(*node) = ObjHeader{nullptr, 0};
  return node;
}

void Store::FreeBlock(JsonBag& b) {
  if (b.arenaBlock_) {
    Arena::Give(b.block_);
  } else if (!b.ownBlock_) {
    std::free(b.block_);
  }
  b.block_ = nullptr;
  b.ownBlock_ = 0;
  b.compact_ = 0;
  b.arenaBlock_ = 0;
}

namespace {

std::atomic_ref<uint64_t> CellWord(const Cell& cell, int k) {
  return std::atomic_ref<uint64_t>(reinterpret_cast<uint64_t*>(const_cast<Cell&>(cell).raw)[k]);
}

// Overwrites a cell that readers may be loading at the same time (see Store::ReadInline): its
// words are stored atomically.
void StoreShared(const Cell& cell, const unsigned char (&bytes)[sizeof(Cell)]) {
  uint64_t words[2];
  std::memcpy(words, bytes, sizeof words);
  CellWord(cell, 0).store(words[0], std::memory_order_relaxed);
  CellWord(cell, 1).store(words[1], std::memory_order_relaxed);
}

}  // namespace

std::shared_ptr<JsonBag> Store::NodeFromCell(const Cell& cell, uint8_t tag) {
  if (tag == kBlock) {
    // The node takes over the block as it is; readers still looking at it keep reading the
    // same memory, which now lives as long as the node. The node may give the block back
    // (when it grows) while the children the block kept (folded ones) live on: they count on
    // their own from now on.
    const BlockRef& ref = cell.As<BlockRef>();
    Cell* cells = BlockCells(ref.block, ref.isArray);
    const uint8_t* tags = BlockTags(ref.block, ref.count, ref.isArray);
    for (uint32_t i = 0; i < ref.count; ++i) {
      if (tags[i] != kBlock || !cells[i].As<BlockRef>().folded) continue;
      Arena::Unfold(cells[i].As<BlockRef>().block);
      Cell unfolded = cells[i];
      unfolded.As<BlockRef>().folded = false;
      StoreShared(cells[i], unfolded.raw);
    }
    auto node = Store::NewWithBlock(ref.isArray, 0);
    node->block_ = ref.block;
    node->capacity_ = ref.count;
    node->count_ = ref.count;
    node->arenaBlock_ = 1;
    node->decimalMode_ = ref.decimal;
    return node;
  }
  if (tag == kPair) {
    auto node = Store::NewWithBlock(true, 2);
    for (int k = 0; k < 2; ++k) {
      double v;
      std::memcpy(&v, cell.raw + 8 * k, sizeof v);
      new (Store::Cells(*node)[k].raw) double(v);
      Store::Tags(*node)[k] = kDouble;
    }
    node->count_ = 2;
    return node;
  }
  auto node = Store::NewWithBlock(tag == kEmptyArray, 0);
  node->decimalMode_ = cell.raw[0] != 0;
  return node;
}

const ObjectRef& Store::NodeAt(const Cell& cell, const uint8_t& tag) {
  std::atomic_ref<uint8_t> shared(const_cast<uint8_t&>(tag));
  for (;;) {
    uint8_t seen = shared.load(std::memory_order_acquire);
    if (!IsInline(seen)) return cell.As<ObjectRef>();
    if (seen == kMaking) {
      std::this_thread::yield();  // another reader is making it: one allocation away
      continue;
    }
    if (!shared.compare_exchange_weak(seen, kMaking, std::memory_order_acq_rel)) continue;
    std::shared_ptr<JsonBag> node;
    try {
      node = NodeFromCell(cell, seen);
    } catch (...) {
      shared.store(seen, std::memory_order_release);  // unchanged: the next reader tries again
      throw;
    }
    // Readers of a pair may be loading its doubles while the cell is overwritten: they load
    // them atomically and check the tag afterwards (see ReadInline), so the cell's new words are
    // stored atomically too, after a fence that orders them behind kMaking. The reference is
    // moved into the cell byte for byte, as cells always are.
    Cell bytes{};
    new (bytes.raw) ObjectRef(std::move(node));
    std::atomic_thread_fence(std::memory_order_release);
    StoreShared(cell, bytes.raw);
    shared.store(kBag, std::memory_order_release);
  }
}

bool Store::ReadInline(const Cell& cell, const uint8_t& tag, uint8_t expected, Cell& out) {
  std::atomic_ref<uint8_t> shared(const_cast<uint8_t&>(tag));
  if (shared.load(std::memory_order_acquire) != expected) return false;
  const uint64_t words[2] = {CellWord(cell, 0).load(std::memory_order_relaxed),
                             CellWord(cell, 1).load(std::memory_order_relaxed)};
  std::atomic_thread_fence(std::memory_order_acquire);
  if (shared.load(std::memory_order_relaxed) != expected) return false;
  std::memcpy(out.raw, words, sizeof words);
  return true;
}

void Store::ReleaseBlock(const BlockRef& top) noexcept {
  // The blocks below are taken apart from a list rather than by recursion: a document may nest
  // thousands of levels deep.
  if (top.folded) return;  // its parent block's allocation keeps it (never so in a node)
  std::vector<BlockRef> pending;
  BlockRef ref = top;
  for (;;) {
    // A plain block (numbers and short texts only, most of them) is given back unread.
    if (!ref.plain) {
      Cell* cells = BlockCells(ref.block, ref.isArray);
      uint8_t* tags = BlockTags(ref.block, ref.count, ref.isArray);
      for (uint32_t i = NextMayHoldReference(tags, 0, ref.count); i < ref.count;
           i = NextMayHoldReference(tags, i + 1, ref.count)) {
        if (tags[i] != kBlock) {
          DestroyCell(cells[i], tags[i]);
          continue;
        }
        const BlockRef& child = cells[i].As<BlockRef>();
        if (child.folded) continue;  // this block's allocation keeps it
        if (child.plain) {
          Arena::Give(child.block);
          continue;
        }
        try {
          pending.push_back(child);
        } catch (const std::bad_alloc&) {
          ReleaseBlock(child);  // no memory for the list: recurse instead
        }
      }
      if (!ref.isArray) {
        ReleaseNames(BlockNames(ref.block, ref.count), ref.count);
      }
    }
    Arena::Give(ref.block);
    if (pending.empty()) return;
    ref = pending.back();
    pending.pop_back();
  }
}

Variant Store::ValueAt(const JsonBag& b, uint32_t pos) {
  const Cell& cell = Cells(b)[pos];
  const uint8_t& tag = Tags(b)[pos];
  const uint8_t seen = LoadTag(tag);
  if (IsInline(seen)) return Variant(NodeAt(cell, tag));
  return CellToVariant(cell, seen);
}

void Store::Reserve(JsonBag& b, uint32_t n) {
  if (n <= b.capacity_) return;
  if (n > kMaxCapacity) throw Error::Standard(kErrOutOfMemory, u"JsonBag");
  uint64_t grown = std::max<uint64_t>({uint64_t{n}, 4, uint64_t{b.capacity_} * 3 / 2});
  uint32_t cap = static_cast<uint32_t>(std::min<uint64_t>(grown, kMaxCapacity));
  JsonBag fresh;  // borrows the layout arithmetic; never holds items itself
  fresh.isArray_ = b.isArray_;
  Allocate(fresh, cap);
  if (HasBlock(b)) {
    std::memcpy(Cells(fresh), Cells(b), size_t{b.count_} * sizeof(Cell));
    std::memcpy(Tags(fresh), Tags(b), b.count_);
    if (!b.isArray_) {
      std::memcpy(Names(fresh), Names(b), size_t{b.count_} * sizeof(PackedText));
      if (!b.compact_) *Header(fresh) = *Header(b);
    }
    FreeBlock(b);
  }
  b.block_ = fresh.block_;
  b.capacity_ = cap;
  fresh.block_ = nullptr;
  fresh.capacity_ = 0;
}

void Store::Append(JsonBag& b, Cell& cell, uint8_t tag, PackedText* name) {
  Reserve(b, b.count_ + 1);
  uint32_t pos = b.count_;
  std::memcpy(&Cells(b)[pos], &cell, sizeof(Cell));
  Tags(b)[pos] = tag;
  if (!b.isArray_) std::memcpy(&Names(b)[pos], name, sizeof(PackedText));
  ++b.count_;
  if (b.isArray_ || b.count_ <= kIndexFrom) return;
  ObjHeader* h = Header(b);  // not compact: a compact node holds at most kIndexFrom items
  if (!h->index) return;     // made when it is next needed
  if (b.count_ * 2u + 2 > h->index[0] + 1) {
    DropIndex(b);  // full: the next lookup makes a larger one
    return;
  }
  IndexName(h->index, Names(b), pos);
}

void Store::RemoveAt(JsonBag& b, uint32_t pos) {
  Cell* cells = Cells(b);
  uint8_t* tags = Tags(b);
  uint32_t tail = b.count_ - pos - 1;
  Cell removed;
  std::memcpy(&removed, &cells[pos], sizeof(Cell));
  uint8_t removedTag = tags[pos];
  std::memmove(&cells[pos], &cells[pos + 1], size_t{tail} * sizeof(Cell));
  std::memmove(&tags[pos], &tags[pos + 1], tail);
  if (!b.isArray_) {
    PackedText* names = Names(b);
    DestroyText(names[pos]);
    std::memmove(&names[pos], &names[pos + 1], size_t{tail} * sizeof(PackedText));
  }
  --b.count_;
  DropIndex(b);
  // Released last: the value may be the only holder of something that refers back here.
  DestroyCell(removed, removedTag);
}

}  // namespace jsonbag

using jsonbag::Cell;
using jsonbag::PackedText;
using jsonbag::Store;

namespace {

constexpr char16_t kSource[] = u"JsonBag";

[[noreturn]] void Raise(int32_t number, const char16_t* description) {
  throw Error(number, kSource, description);
}
[[noreturn]] void StoreFail(int32_t number) {
  throw Error::Standard(number, u"Collection");
}

// A non-string key as a position, the way the platform's collection reads an index.
int64_t KeyToIndex(const Variant& key) {
  switch (key.VarType()) {
    case vbNull:
      throw Error::Standard(kErrInvalidUseOfNull, u"Collection");
    case vbEmpty:
      return 0;
    case vbBoolean:
      return key.AsBoolean() ? -1 : 0;
    case vbInteger:
    case vbLong:
    case vbByte:
      return static_cast<int64_t>(key.ToDouble());
    case vbSingle:
    case vbDouble:
    case vbCurrency:
    case vbDecimal:
    case vbDate: {
      double d = std::nearbyint(key.ToDouble());
      if (!(d >= -2147483648.0 && d <= 2147483647.0)) StoreFail(kErrOverflow);
      return static_cast<int64_t>(d);
    }
    default:
      StoreFail(kErrTypeMismatch);
  }
}

}  // namespace

JsonBag::JsonBag() = default;

namespace jsonbag {

// Where failed parses stopped, for the nodes whose errorPlace_ bit is set. Kept beside the
// nodes rather than in them: it is rarely asked for, and every node of a big document would
// otherwise carry room for it.
std::mutex placesLock;
std::unordered_map<const JsonBag*, ErrorPlace>& Places() {
  static auto* places = new std::unordered_map<const JsonBag*, ErrorPlace>();
  return *places;
}

}  // namespace jsonbag

void JsonBag::ForgetErrorPlace() {
  if (!errorPlace_) return;
  std::lock_guard lock(jsonbag::placesLock);
  jsonbag::Places().erase(this);
  errorPlace_ = 0;
}

void jsonbag::RememberErrorPlace(const JsonBag* bag, const ErrorPlace& place) {
  std::lock_guard lock(placesLock);
  Places()[bag] = place;
}

namespace {

jsonbag::ErrorPlace PlaceOf(const JsonBag& bag, bool errorPlace) {
  if (!errorPlace) return {};
  std::lock_guard lock(jsonbag::placesLock);
  auto it = jsonbag::Places().find(&bag);
  return it == jsonbag::Places().end() ? jsonbag::ErrorPlace{} : it->second;
}

}  // namespace

int32_t JsonBag::ErrorPosition() const {
  return PlaceOf(*this, errorPlace_).position;
}
int32_t JsonBag::ErrorLine() const {
  return PlaceOf(*this, errorPlace_).line;
}
int32_t JsonBag::ErrorColumn() const {
  return PlaceOf(*this, errorPlace_).column;
}

Variant JsonBag::Utf8Arg(std::string_view text) {
  return Variant(Text::FromUtf8(text));
}

const JsonBag::Entry& JsonBag::Iterator::operator*() const {
  const JsonBag& b = *bag_;
  if (index_ >= b.count_) StoreFail(kErrSubscript);
  current_.name = b.isArray_ ? std::u16string() : Store::Names(b)[index_].View().Str();
  current_.value = Store::ValueAt(b, index_);
  return current_;
}

JsonBag::~JsonBag() {
  ForgetErrorPlace();
  ReleaseTree();
}

void JsonBag::ReleaseTree() {
  // Nested nodes owned only by this one are taken apart here, one level at a time, so that
  // dropping a deeply nested document does not recurse once per level.
  {
    // The drops of shared names are made when the tree is gone, before the arena gives.
    jsonbag::NameDrops gather;
    std::vector<ObjectRef> orphans;
    ReleaseItems(orphans);
    while (!orphans.empty()) {
      ObjectRef node = std::move(orphans.back());
      orphans.pop_back();
      if (node.use_count() == 1) static_cast<JsonBag*>(node.get())->ReleaseItems(orphans);
    }
  }
  jsonbag::Arena::Settle();
}

namespace {

// True when one of b's values is a JsonBag node.
bool HoldsNodes(const JsonBag& b) {
  if (!Store::HasBlock(b)) return false;
  const uint8_t* tags = Store::Tags(b);
  return std::memchr(tags, jsonbag::kBag, static_cast<size_t>(b.Count())) != nullptr;
}

}  // namespace

void JsonBag::ReleaseItems(std::vector<ObjectRef>& orphans) {
  if (!Store::HasBlock(*this)) {
    count_ = 0;
    capacity_ = 0;
    return;
  }
  Cell* cells = Store::Cells(*this);
  uint8_t* tags = Store::Tags(*this);
  for (uint32_t i = 0; i < count_; ++i) {
    if (!jsonbag::MayHoldReference(tags[i])) {
      i = jsonbag::NextMayHoldReference(tags, i + 1, count_) - 1;  // skip plain values in bulk
      continue;
    }
    if (tags[i] == jsonbag::kBag && cells[i].As<ObjectRef>().use_count() == 1 &&
        HoldsNodes(*static_cast<const JsonBag*>(cells[i].As<ObjectRef>().get()))) {
      // A child with nodes of its own is taken apart later, by the caller's loop; one without
      // (most of them) goes now, which recurses only one level.
      try {
        orphans.push_back(std::move(cells[i].As<ObjectRef>()));
      } catch (const std::bad_alloc&) {
        // No memory to defer it (this runs in destructors too): the child still sits in its
        // cell and is taken apart now, recursively, by DestroyCell below.
      }
    }
    jsonbag::DestroyCell(cells[i], tags[i]);
  }
  if (!isArray_) {
    PackedText* names = Store::Names(*this);
    jsonbag::ReleaseNames(names, count_);
    if (jsonbag::ObjHeader* h = Store::Header(*this)) delete[] h->index;
  }
  Store::FreeBlock(*this);
  count_ = 0;
  capacity_ = 0;
}

void JsonBag::Clear() {
  ReleaseTree();
  isArray_ = false;
  scalarRoot_ = 0;
}

void JsonBag::SetIsArray(bool value) {
  if (count_ > 0)
    Raise(kErrInvalidCall, u"Cannot change IsArray setting after items have been added");
  Clear();
  isArray_ = value;
}

Variant JsonBag::Item(const Variant& key) const {
  if (key.IsNull()) Raise(kErrInvalidUseOfNull, u"Key must be String or an index)");
  int64_t pos;
  if (key.IsString()) {
    if (isArray_) Raise(kErrInvalidCall, u"Array values can only be acessed by index");
    pos = Store::Find(*this, key.AsString());
    if (pos < 0) StoreFail(kErrInvalidCall);
  } else {
    pos = KeyToIndex(key) - 1;
    if (pos < 0 || pos >= count_) StoreFail(kErrSubscript);
  }
  return Store::ValueAt(*this, static_cast<uint32_t>(pos));
}

namespace {

// A value converted for storing that no node holds yet: released on the way out unless it
// was handed over to a node.
struct LooseCell {
  jsonbag::Cell cell;
  uint8_t tag;
  bool owned = true;
  explicit LooseCell(const Variant& value) { jsonbag::CellFromVariant(cell, tag, value); }
  LooseCell(const LooseCell&) = delete;
  LooseCell& operator=(const LooseCell&) = delete;
  ~LooseCell() {
    if (owned) jsonbag::DestroyCell(cell, tag);
  }
  void HandedOver() { owned = false; }
};

// A member name that no node holds yet, like LooseCell.
struct LooseText {
  jsonbag::PackedText text;
  bool owned = true;
  explicit LooseText(const std::u16string& name) {
    jsonbag::InitText(text, name.data(), name.size());
  }
  LooseText(const LooseText&) = delete;
  LooseText& operator=(const LooseText&) = delete;
  ~LooseText() {
    if (owned) jsonbag::DestroyText(text);
  }
  void HandedOver() { owned = false; }
};

}  // namespace

void JsonBag::SetItem(const Variant& key, const Variant& value) {
  scalarRoot_ = 0;
  if (isArray_) {
    if (key.IsString()) {
      Raise(kErrInvalidCall, u"Array values can only be changed by index or added via Null");
    }
    int64_t index = key.IsNull() ? int64_t{count_} + 1 : KeyToIndex(key);
    if (index < 1) StoreFail(kErrSubscript);
    LooseCell loose(value);
    if (index > count_) {
      Store::Append(*this, loose.cell, loose.tag, nullptr);
      loose.HandedOver();
      return;
    }
    // Replace in place: the element keeps its position.
    Cell& slot = Store::Cells(*this)[index - 1];
    uint8_t& slotTag = Store::Tags(*this)[index - 1];
    Cell old;
    std::memcpy(&old, &slot, sizeof(Cell));
    uint8_t oldTag = slotTag;
    std::memcpy(&slot, &loose.cell, sizeof(Cell));
    slotTag = loose.tag;
    loose.HandedOver();
    jsonbag::DestroyCell(old, oldTag);
    return;
  }
  if (!key.IsString()) {
    Raise(kErrInvalidCall, u"Object values can only be changed or added by key not by index");
  }
  const std::u16string& name = key.AsString();
  LooseCell loose(value);
  LooseText text(name);
  // An existing member is replaced by a new one at the end of the member order.
  int64_t pos = Store::Find(*this, name);
  if (pos >= 0) Store::RemoveAt(*this, static_cast<uint32_t>(pos));
  Store::Append(*this, loose.cell, loose.tag, &text.text);
  loose.HandedOver();
  text.HandedOver();
}

std::u16string JsonBag::Name(int32_t index) const {
  if (isArray_) Raise(kErrInvalidCall, u"Array items do not have names");
  if (index < 1 || static_cast<uint32_t>(index) > count_) StoreFail(kErrSubscript);
  return Store::Names(*this)[index - 1].View().Str();
}

std::shared_ptr<JsonBag> JsonBag::AddNewArray(const Variant& key) {
  auto child = Create();
  child->isArray_ = true;
  SetItem(key, Variant(child));
  return child;
}

std::shared_ptr<JsonBag> JsonBag::AddNewObject(const Variant& key) {
  auto child = Create();
  SetItem(key, Variant(child));
  return child;
}

bool JsonBag::Exists(const Variant& key) const {
  if (isArray_) return false;
  if (key.IsString()) return Store::Find(*this, key.AsString()) >= 0;
  try {
    int64_t index = KeyToIndex(key);
    return index >= 1 && index <= count_;
  } catch (const Error&) {
    return false;
  }
}

std::vector<std::u16string> JsonBag::NewEnum() const {
  if (isArray_) Raise(kErrInvalidCall, u"Arrays must be iterated using index values");
  std::vector<std::u16string> names;
  names.reserve(count_);
  for (uint32_t i = 0; i < count_; ++i) names.push_back(Store::Names(*this)[i].View().Str());
  return names;
}

void JsonBag::Remove(const Variant& key) {
  scalarRoot_ = 0;
  if (key.IsString()) {
    if (isArray_) Raise(kErrInvalidCall, u"Must remove by index for arrays");
    int64_t pos = Store::Find(*this, key.AsString());
    if (pos >= 0) Store::RemoveAt(*this, static_cast<uint32_t>(pos));
    return;
  }
  int64_t index = KeyToIndex(key);
  if (index > count_) return;
  if (index < 1) StoreFail(kErrSubscript);
  Store::RemoveAt(*this, static_cast<uint32_t>(index - 1));
}

}  // namespace kestrola
