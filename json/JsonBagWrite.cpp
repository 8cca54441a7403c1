// JsonBag nodes to JSON text: compact, or with Whitespace broken into CR LF lines and indented
// by four spaces per level. The output buffer grows geometrically and a container's trailing
// separator is fixed in place when it closes. Nesting is walked with an explicit stack.
//
// The writer produces UTF-16 (JSON) or UTF-8 (JSONUtf8) from the same code: everything it
// writes is ASCII except the literal characters of strings, which the UTF-8 writer encodes as
// it copies them. Surrogate code units are always escaped, so each code unit is encoded on
// its own and the UTF-8 text is exactly the UTF-16 text converted.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "json/JsonBag.h"
#include "json/JsonBagStore.h"
#include "runtime/Error.h"

namespace kestrola {
namespace jsonbag {

namespace {

// Deepest nesting written; beyond it (in practice a node that contains itself) the read fails.
constexpr size_t kMaxWriteDepth = 100000;
// With Whitespace the indent of a level is computed as a 16-bit number of spaces.
constexpr size_t kMaxIndentLevel = 8191;

// Short escape letter for ASCII characters, 'u' for \uXXXX, 0 for literal.
constexpr auto kAsciiEscape = [] {
  struct Table {
    char v[128];
  } t{};
  for (int c = 0; c < 0x20; ++c) t.v[c] = 'u';
  t.v[8] = 'b';
  t.v[9] = 't';
  t.v[10] = 'n';
  t.v[12] = 'f';
  t.v[13] = 'r';
  t.v[int{'"'}] = '"';
  t.v[int{'\\'}] = '\\';
  t.v[0x7F] = 'u';
  return t;
}();

// Characters from U+0080 up that are written as \uXXXX: C1 controls, invisible joiners and
// direction marks, variation selectors, byte-order mark, replacement character, surrogates.
inline bool NeedsUnicodeEscape(char16_t c) {
  if (c <= 0x9F) return true;
  if (c < 0x034F) return false;
  return c == 0x034F || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         c == 0x2060 || (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFE01 && c <= 0xFE0F) ||
         c == 0xFEFF || c == 0xFFFD;
}

std::u16string Widen(std::string_view s) {
  return std::u16string(s.begin(), s.end());
}

// "00" to "99": decimal digits are written two at a time.
constexpr auto kDigitPairs = [] {
  struct Table {
    char v[200];
  } t{};
  for (int i = 0; i < 100; ++i) {
    t.v[2 * i] = static_cast<char>('0' + i / 10);
    t.v[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// The digit pairs "00".."99" as code units of Char, so that a pair is stored at once.
template <class Char>
constexpr auto kWidePairs = [] {
  struct Table {
    Char v[200];
  } t{};
  for (int i = 0; i < 200; ++i) t.v[i] = static_cast<Char>(kDigitPairs.v[i]);
  return t;
}();

// Writes the two digits of v (below 100) at p.
template <class Char>
inline void PutPair(Char* p, uint32_t v) {
  std::memcpy(p, &kWidePairs<Char>.v[2 * v], 2 * sizeof(Char));
}

// Writes v (below 10^8) as exactly eight digits at p, leading zeros included.
template <class Char>
inline void PutEightDigits(Char* p, uint32_t v) {
  const uint32_t high = v / 10000, low = v % 10000;
  PutPair(p, high / 100);
  PutPair(p + 2, high % 100);
  PutPair(p + 4, low / 100);
  PutPair(p + 6, low % 100);
}

// Writes the decimal digits of v so that they end just before end; returns their start.
// Above 2^32 the digits go eight at a time; the rest in 32-bit steps, which are cheaper.
template <class Char>
inline Char* DigitsBefore(Char* end, uint64_t wide) {
  while (wide > UINT32_MAX) {
    const auto r = static_cast<uint32_t>(wide % 100000000);
    wide /= 100000000;
    end -= 8;
    PutEightDigits(end, r);
  }
  auto v = static_cast<uint32_t>(wide);
  while (v >= 100) {
    end -= 2;
    PutPair(end, v % 100);
    v /= 100;
  }
  if (v >= 10) {
    end -= 2;
    PutPair(end, v);
  } else {
    *--end = static_cast<Char>('0' + v);
  }
  return end;
}

constexpr auto kPow10 = [] {
  struct Table {
    uint64_t v[20];
    constexpr uint64_t operator[](int i) const { return v[i]; }
  } t{};
  t.v[0] = 1;
  for (int i = 1; i < 20; ++i) t.v[i] = t.v[i - 1] * 10;
  return t;
}();

// The number of decimal digits of v.
inline int CountDigits(uint64_t v) {
  // From the bit length, t is the number of digits or one less.
  const int t = ((64 - __builtin_clzll(v | 1)) * 1233) >> 12;
  return t + 1 - ((v | 1) < kPow10[t]);
}

// Writes the decimal digits of v; returns the end.
template <class Char>
inline Char* PutDigits(Char* d, uint64_t v) {
  Char* end = d + CountDigits(v);
  DigitsBefore(end, v);
  return end;
}

// whole, a point and the k (>= 1) fraction digits of rest (below 10^k, leading zeros
// written), from the right: eight fraction digits at a time, then pairs, then the whole part
// (at least one digit). Returns the end.
template <class Char>
Char* PutFixedPoint(Char* d, uint64_t whole, uint64_t rest, int k) {
  Char* const end = d + CountDigits(whole) + 1 + k;
  Char* p = end;
  for (; k >= 8; k -= 8) {
    p -= 8;
    PutEightDigits(p, static_cast<uint32_t>(rest % 100000000));
    rest /= 100000000;
  }
  auto r = static_cast<uint32_t>(rest);  // fewer than eight digits are left
  for (; k >= 2; k -= 2) {
    p -= 2;
    PutPair(p, r % 100);
    r /= 100;
  }
  if (k) *--p = static_cast<Char>('0' + r);
  *--p = '.';
  DigitsBefore(p, whole);
  return end;
}

// The plain text of a double that is not a whole number, with 1e-7 <= |value| < 1e15, worked
// out exactly in integers: the fewest fraction digits k for which the multiple of 10^-k
// nearest to the value lies strictly inside the interval of numbers that read back as it.
// That is the shortest round-trip text (the same digits std::to_chars picks). Returns the end,
// or null when the value needs the general path: a candidate on the interval's edge or halfway
// between two multiples (where rounding rules decide), a power-of-two mantissa (its interval
// is lopsided), or more than seventeen fraction digits.
template <class Char>
Char* PutShortFraction(Char* d, double value, int& guess) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  if (biased == 0 || fraction == 0) return nullptr;
  const uint64_t mantissa = fraction | (uint64_t{1} << 52);
  const int shift = 1075 - biased;  // |value| = mantissa * 2^-shift
  if (shift <= 0 || shift > 100) return nullptr;
  using U128 = unsigned __int128;
  enum { kOutside, kInside, kEdge };
  // Whether the multiple of 10^-k nearest to the value reads back as it. Once one does, every
  // longer k does too, so the shortest k is the one just above the last k that does not; an
  // edge case at the shortest k shows up at the k just below it, which the walk always probes.
  uint64_t candidate = 0;
  auto probe = [&](int k) {
    const U128 product = U128{mantissa} * kPow10[k];  // |value| * 10^k * 2^shift, exactly
    const U128 one = U128{1} << shift;
    const U128 half = one >> 1;
    const U128 rest = product & (one - 1);
    if (rest == half) return kEdge;
    const U128 dist = rest > half ? one - rest : rest;
    // m / 10^k reads back as the value when |m / 10^k - value| < 2^-shift / 2.
    const U128 twice = dist * 2;
    if (twice > kPow10[k]) return kOutside;
    if (twice == kPow10[k]) return kEdge;
    candidate = static_cast<uint64_t>((product >> shift) + (rest > half));
    return kInside;
  };
  // The same for |value| >= 2^-11 (most fractions): 2^shift fits a word, and so does
  // everything but the product.
  auto probeWord = [&](int k) {
    const U128 product = U128{mantissa} * kPow10[k];
    const auto low = static_cast<uint64_t>(product), high = static_cast<uint64_t>(product >> 64);
    const uint64_t one = uint64_t{1} << shift, half = one >> 1;
    const uint64_t rest = low & (one - 1);
    if (rest == half) return kEdge;
    const uint64_t twice = (rest > half ? one - rest : rest) * 2;  // at most 2^shift
    if (twice > kPow10[k]) return kOutside;
    if (twice == kPow10[k]) return kEdge;
    candidate = (high << (64 - shift) | low >> shift) + (rest > half);
    return kInside;
  };
  // The answer has at most seventeen significant digits, so with D digits before the point
  // it lies in [1, 18 - D] if anywhere; the digits then stay below 10^18.
  const auto whole = static_cast<uint64_t>(std::fabs(value));
  const int hi = std::min(17, 18 - CountDigits(whole));
  // Numbers in one document tend to have the same number of fraction digits, so the search
  // starts from the previous answer and walks down (or up) from it, one digit at a time (which
  // measured faster than halving the range: its branches are easy to predict); every edge case
  // gives up. Returns the shortest k, or 0 to give up.
  auto search = [&](auto probeAt) {
    int k = std::clamp(guess, 1, hi);
    int state = probeAt(k);
    if (state == kEdge) return 0;
    uint64_t digits = candidate;
    if (state == kInside) {
      while (k > 1) {
        state = probeAt(k - 1);
        if (state == kEdge) return 0;
        if (state == kOutside) break;
        --k;
        digits = candidate;
      }
    } else {
      do {
        if (++k > hi) return 0;
        state = probeAt(k);
        if (state == kEdge) return 0;
      } while (state != kInside);
      digits = candidate;
    }
    candidate = digits;
    return k;
  };
  const int k = shift < 64 ? search(probeWord) : search(probe);
  if (k == 0) return nullptr;
  const uint64_t digits = candidate;
  guess = k;
  if (bits >> 63) *d++ = '-';
  // The digits never carry into the whole part: a text of k digits that did would lie beyond
  // the next whole number, which is a double of its own and would read back instead.
  return PutFixedPoint(d, whole, digits - whole * kPow10[k], k);
}

// Shortest round-trip digits; exponent form (lower case, signed, at least two digits) at and
// above 10^expFrom and below 10^-7, plain decimal otherwise.
size_t FormatFloating(char* out, double value, bool single) {
  // Whole numbers below 10^15 are written as integers directly (the common case in data).
  if (!single && value > -1e15 && value < 1e15 &&
      value == static_cast<double>(static_cast<int64_t>(value))) {
    if (value == 0 && std::signbit(value))
      return static_cast<size_t>(std::to_chars(out, out + 32, -0.0).ptr - out);
    return static_cast<size_t>(std::to_chars(out, out + 32, static_cast<int64_t>(value)).ptr - out);
  }
  // Inside the plain range the shortest form, when it comes out without an exponent, is
  // already the wanted text.
  if (!single && std::fabs(value) >= 1e-7 && std::fabs(value) < 1e15) {
    char* end = std::to_chars(out, out + 32, value).ptr;
    if (!std::memchr(out, 'e', static_cast<size_t>(end - out)))
      return static_cast<size_t>(end - out);
  }
  char sci[48];
  auto r = single ? std::to_chars(sci, sci + sizeof sci, static_cast<float>(value),
                                  std::chars_format::scientific)
                  : std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  char* o = out;
  if (*p == '-') *o++ = *p++;
  char digits[24];
  int n = 0;
  while (*p != 'e') {
    if (*p != '.') digits[n++] = *p;
    ++p;
  }
  ++p;
  int exp = 0;
  std::from_chars(p + (*p == '+'), sci + (r.ptr - sci), exp);
  const int expFrom = single ? 7 : 15;
  if (value == 0) {
    *o++ = '0';
  } else if (exp >= expFrom || exp < -7) {
    *o++ = digits[0];
    if (n > 1) {
      *o++ = '.';
      for (int i = 1; i < n; ++i) *o++ = digits[i];
    }
    *o++ = 'e';
    *o++ = exp < 0 ? '-' : '+';
    int a = exp < 0 ? -exp : exp;
    if (a < 10) *o++ = '0';
    o = std::to_chars(o, o + 8, a).ptr;
  } else if (exp >= 0) {
    for (int i = 0; i <= exp; ++i) *o++ = i < n ? digits[i] : '0';
    if (n > exp + 1) {
      *o++ = '.';
      for (int i = exp + 1; i < n; ++i) *o++ = digits[i];
    }
  } else {
    *o++ = '0';
    *o++ = '.';
    for (int i = -1; i > exp; --i) *o++ = '0';
    for (int i = 0; i < n; ++i) *o++ = digits[i];
  }
  return static_cast<size_t>(o - out);
}

// PlainBlock<Unit, Char>::Copy copies one block of kUnits source units to d, converted to
// Char, and returns how many leading units are plain ASCII (written as they are: no control
// character, quote, backslash or DEL, nothing from U+0080 up). Everything written from the
// first other unit on is scratch that the caller overwrites. The caller makes sure kUnits
// source units can be read and written.
#if defined(__SSE2__)
// Byte sources (Latin-1 text): sixteen at a time. A signed compare with 0x20 catches both the
// control characters and the bytes from 0x80 up.
inline unsigned PlainMask(__m128i x) {
  const __m128i special = _mm_or_si128(
      _mm_or_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(x, _mm_set1_epi8('"'))),
      _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\\')), _mm_cmpeq_epi8(x, _mm_set1_epi8(0x7F))));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
}

// Sixteen-bit sources: eight at a time, compared as signed numbers after flipping the top bit.
inline unsigned PlainMask16(__m128i x) {
  const __m128i flipped = _mm_xor_si128(x, _mm_set1_epi16(-0x8000));
  const __m128i special =
      _mm_or_si128(_mm_or_si128(_mm_cmplt_epi16(flipped, _mm_set1_epi16(-0x8000 + 0x20)),
                                _mm_cmpgt_epi16(flipped, _mm_set1_epi16(-0x8000 + 0x7E))),
                   _mm_or_si128(_mm_cmpeq_epi16(x, _mm_set1_epi16('"')),
                                _mm_cmpeq_epi16(x, _mm_set1_epi16('\\'))));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
}

template <class Unit, class Char>
struct PlainBlock {
  static constexpr size_t kUnits = 16 / sizeof(Unit);
  static size_t Copy(const Unit* s, Char* d) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    unsigned mask;
    if constexpr (sizeof(Unit) == 1) {
      mask = PlainMask(x);
      if constexpr (sizeof(Char) == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), x);
      } else {
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(x, zero));
      }
      return mask ? static_cast<size_t>(__builtin_ctz(mask)) : kUnits;
    } else {
      mask = PlainMask16(x);
      if constexpr (sizeof(Char) == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(x, x));
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), x);
      }
      return mask ? static_cast<size_t>(__builtin_ctz(mask)) / 2 : kUnits;
    }
  }
};
#else
template <class Unit, class Char>
struct PlainBlock {
  static constexpr size_t kUnits = 8;
  static size_t Copy(const Unit* s, Char* d) {
    for (size_t i = 0; i < kUnits; ++i) {
      const char16_t c = s[i];
      if (c >= 0x80 || kAsciiEscape.v[c]) return i;
      d[i] = static_cast<Char>(c);
    }
    return kUnits;
  }
};
#endif

}  // namespace

// Writes UTF-16 (Char = char16_t) or UTF-8 (Char = char) text.
template <class Char>
class Writer {
 public:
  explicit Writer(bool whitespace) : ws_(whitespace) {}

  ~Writer() { std::free(out_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  std::basic_string<Char> Run(const JsonBag& top) {
    Grow(1024);
    if (top.scalarRoot_ && top.count_ == 1) {
      // A document that was one value alone is written as that value.
      WriteItem(nullptr, Store::Cells(top)[0], Store::Tags(top)[0], 0);  // a scalar: never inline
    } else {
      OpenNode(top, 0);
    }
    while (!stack_.empty()) {
      Frame& f = stack_.back();
      const size_t level = stack_.size();  // level of the items of the node on top
      // The items of the node on top, up to the first container that has items of its own:
      // that one is pushed, and its items are written next. f is not used once it is pushed.
      bool descended = false;
      while (f.next < f.count) {
        const uint32_t i = f.next++;
        if (WriteItem(f.names ? &f.names[i] : nullptr, f.cells[i], f.tags[i], level)) {
          descended = true;
          break;
        }
        AfterItem();
      }
      if (descended) continue;
      CloseNode(f.names ? '}' : ']', level - 1);
      stack_.pop_back();
      if (!stack_.empty()) AfterItem();
    }
    return std::basic_string<Char>(out_, n_);
  }

 private:
  // A container being written: where its parts are (names is null for an array) and the
  // next item to write.
  struct Frame {
    const PackedText* names;
    const Cell* cells;
    const uint8_t* tags;
    uint32_t next;
    uint32_t count;
  };

  Char* Room(size_t k) {
    if (n_ + k > capacity_) [[unlikely]]
      Grow(k);
    return out_ + n_;
  }
  // The buffer is raw memory grown by realloc: nothing is filled in before it is written, and
  // a large block can move without being copied.
  [[gnu::noinline]] void Grow(size_t k) {
    const size_t capacity = std::max(capacity_ * 2, n_ + k + 512);
    if (capacity > SIZE_MAX / sizeof(Char)) throw std::bad_alloc();
    void* grown = std::realloc(out_, capacity * sizeof(Char));
    if (!grown) throw std::bad_alloc();
    out_ = static_cast<Char*>(grown);
    capacity_ = capacity;
  }
  void Put(char c) { *Room(1) = static_cast<Char>(c), ++n_; }
  void PutAscii(const char* s, size_t k) {
    Char* d = Room(k);
    for (size_t i = 0; i < k; ++i) d[i] = static_cast<Char>(s[i]);
    n_ += k;
  }
  void Indent(size_t level) {
    size_t k = level * 4;
    Char* d = Room(k);
    for (size_t i = 0; i < k; ++i) d[i] = ' ';
    n_ += k;
  }
  void AfterItem() {
    if (ws_) {
      Char* d = Room(3);
      d[0] = ',', d[1] = '\r', d[2] = '\n';
      n_ += 3;
    } else {
      Put(',');
    }
  }

  // Writes one item. Returns true when it opened a non-empty container whose items follow.
  // The name, and the values common in data (numbers, strings, null), are written inline in
  // the loop over a container's items; the rest goes to WriteValue.
  [[gnu::always_inline]] bool WriteItem(const PackedText* name, const Cell& cell,
                                        const uint8_t& tagAt, size_t level) {
    const uint8_t tag = LoadTag(tagAt);
    if (ws_ && level > kMaxIndentLevel) throw Error::Standard(kErrOverflow, u"JsonBag");
    if (ws_) Indent(level);
    if (name) {
      Escape(*name);
      Put(':');
    }
    if (tag == kDouble && PutPlainDouble(cell.As<double>())) return false;
    if (tag == kString) {
      Escape(cell.As<PackedText>());
      return false;
    }
    return WriteValue(name, cell, tagAt, tag, level);
  }

  // Whole numbers and short fractions, written directly; false when the value needs the
  // general path.
  bool PutPlainDouble(double v) {
    if (!(v > -1e15 && v < 1e15)) return false;
    const int64_t whole = static_cast<int64_t>(v);
    if (v == static_cast<double>(whole) && (whole != 0 || !std::signbit(v))) {
      PutInteger(whole);
      return true;
    }
    if (v < 1e-7 && v > -1e-7) return false;
    Char* d = Room(40);
    Char* end = PutShortFraction(d, v, fractionGuess_);
    if (!end) return false;
    n_ += static_cast<size_t>(end - d);
    return true;
  }

  // Writes a value after its name.
  [[gnu::noinline]] bool WriteValue(const PackedText* name, const Cell& cell, const uint8_t& tagAt,
                                    uint8_t tag, size_t level) {
    char num[64];
    switch (tag) {
      case kEmptyArray:
        PutAscii("[]", 2);
        return false;
      case kEmptyObject:
        PutAscii("{}", 2);
        return false;
      case kPair:
      case kBlock:
      case kMaking: {
        Cell copy;
        if (tag == kPair && Store::ReadInline(cell, tagAt, kPair, copy)) {
          // Written like an array node, from a copy: no container opens inside it, so one
          // copy at a time serves.
          std::memcpy(pairCells_[0].raw, copy.raw, sizeof(double));
          std::memcpy(pairCells_[1].raw, copy.raw + sizeof(double), sizeof(double));
          return OpenItems(true, nullptr, pairCells_, kPairTags, 2);
        }
        if (tag == kBlock && Store::ReadInline(cell, tagAt, kBlock, copy)) {
          // The block stays where it is when a reader makes its node meanwhile.
          const BlockRef& ref = copy.As<BlockRef>();
          return OpenItems(ref.isArray,
                           ref.isArray ? nullptr : Store::BlockNames(ref.block, ref.count),
                           Store::BlockCells(ref.block, ref.isArray),
                           Store::BlockTags(ref.block, ref.count, ref.isArray), ref.count);
        }
        // Another reader has made (or is making) its node.
        const ObjectRef& ref = Store::NodeAt(cell, tagAt);
        return OpenNode(*static_cast<const JsonBag*>(ref.get()), level);
      }
      case kEmpty:
      case kNull:
        PutAscii("null", 4);
        return false;
      case kBool:
        if (cell.As<bool>()) {
          PutAscii("true", 4);
        } else {
          PutAscii("false", 5);
        }
        return false;
      case kInt16:
        PutInteger(cell.As<int16_t>());
        return false;
      case kInt32:
        PutInteger(cell.As<int32_t>());
        return false;
      case kByte:
        PutInteger(cell.As<uint8_t>());
        return false;
      case kDouble:
      case kSingle: {
        // Doubles come here once PutPlainDouble has declined them.
        double v = tag == kDouble ? cell.As<double>() : cell.As<float>();
        if (!std::isfinite(v)) {
          const char* text = std::isnan(v) ? "NaN" : v > 0 ? "Infinity" : "-Infinity";
          throw Error(kErrInternal, u"JsonBag",
                      NameText(name) + u", value " + Widen(text) + u" failed to serialize");
        }
        PutNumber(num, num + FormatFloating(num, v, tag == kSingle));
        return false;
      }
      case kCurrency: {
        int64_t scaled = cell.As<Currency>().scaled;
        uint64_t mag = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : scaled;
        char* o = num;
        if (scaled < 0) *o++ = '-';
        o = std::to_chars(o, num + 64, mag / 10000).ptr;
        unsigned frac = static_cast<unsigned>(mag % 10000);
        if (frac) {
          *o++ = '.';
          for (unsigned div = 1000; frac; div /= 10) {
            *o++ = static_cast<char>('0' + frac / div);
            frac %= div;
          }
        }
        PutNumber(num, o);
        return false;
      }
      case kDecimal: {
        std::string text = cell.As<Decimal>().ToUtf8();
        PutAscii(text.data(), text.size());
        return false;
      }
      case kString: {
        Escape(cell.As<PackedText>());
        return false;
      }
      case kBag:
      case kObject: {
        const ObjectRef& ref = cell.As<ObjectRef>();
        if (!ref) {
          throw Error::Standard(kErrObjectNotSet, u"JsonBag");
        }
        const JsonBag* child = tag == kBag ? static_cast<const JsonBag*>(ref.get())
                                           : dynamic_cast<JsonBag*>(ref.get());
        if (!child) throw Error::Standard(kErrTypeMismatch, u"JsonBag");
        return OpenNode(*child, level);
      }
      case kDate:
        Unsupported(name, vbDate);
      case kError:
        Unsupported(name, vbError);
      default: {
        const auto& array = cell.As<std::shared_ptr<VariantArray>>();
        Unsupported(name, vbArray + (array ? array->elementKind : vbVariant));
      }
    }
  }

  [[noreturn]] void Unsupported(const PackedText* name, int kind) {
    char num[16];
    auto r = std::to_chars(num, num + 16, kind);
    throw Error(kErrInternal, u"JsonBag",
                NameText(name) + u", unknown/unsupported type = " + Widen({num, r.ptr}));
  }
  static std::u16string NameText(const PackedText* name) {
    return name ? name->View().Str() : std::u16string();
  }

  void PutNumber(const char* first, const char* last) { PutAscii(first, last - first); }
  void PutInteger(int64_t v) {
    Char* d = Room(24);
    Char* start = d;
    if (v < 0) *d++ = '-';
    d = PutDigits(d, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
    n_ += static_cast<size_t>(d - start);
  }

  // Writes the opening bracket; an empty container is closed at once. Returns true when its
  // items follow.
  bool OpenNode(const JsonBag& node, size_t level) {
    (void)level;
    if (node.count_ == 0) return OpenItems(node.isArray_, nullptr, nullptr, nullptr, 0);
    return OpenItems(node.isArray_, node.isArray_ ? nullptr : Store::Names(node),
                     Store::Cells(node), Store::Tags(node), node.count_);
  }
  bool OpenItems(bool isArray, const PackedText* names, const Cell* cells, const uint8_t* tags,
                 uint32_t count) {
    Put(isArray ? '[' : '{');
    if (count == 0) {
      Put(isArray ? ']' : '}');
      return false;
    }
    if (stack_.size() >= kMaxWriteDepth) {
      throw Error(kErrOutOfStack, u"JsonBag", u"Out of stack space");
    }
    if (ws_) PutAscii("\r\n", 2);
    stack_.push_back(Frame{names, cells, tags, 0, count});
    return true;
  }

  void CloseNode(char bracket, size_t level) {
    if (ws_) {
      n_ -= 3;  // over the last ",", CR, LF
      PutAscii("\r\n", 2);
      Indent(level);
      Put(bracket);
    } else {
      out_[n_ - 1] = static_cast<Char>(bracket);  // the last ","
    }
  }

  void Escape(const PackedText& text) {
#if defined(__SSE2__)
    if (text.tag != PackedText::kHeap) {
      // An inline text (most names and short values) lies in the sixteen bytes of the
      // PackedText, all readable, so one block check covers it. Its length field reads as a
      // control character, so the block never counts as plain beyond the text.
      const bool narrow = text.tag >= PackedText::kNarrowTag;
      const size_t n = narrow ? text.tag - PackedText::kNarrowTag : text.tag;
      Char* d = Room(2 + 16);
      const size_t plain = narrow ? PlainBlock<unsigned char, Char>::Copy(text.bytes, d + 1)
                                  : PlainBlock<char16_t, Char>::Copy(
                                        reinterpret_cast<const char16_t*>(text.bytes), d + 1);
      if (plain >= n) {
        d[0] = '"';
        d[n + 1] = '"';
        n_ += n + 2;
        return;
      }
    }
#endif
    Escape(text.View());
  }

  void Escape(const Chars& text) {
    if (text.narrow) {
      Escape(text.Narrow(), text.n);
    } else {
      Escape(text.Wide(), text.n);
    }
  }

  // Six units are enough for any code unit: an escape takes six, a UTF-8 encoding three.
  // Runs of ASCII written as they are go a block at a time; the rest, and the last units that
  // do not fill a block, go one at a time.
  template <class Unit>
  [[gnu::always_inline]] void Escape(const Unit* s, size_t n) {
    using Block = PlainBlock<Unit, Char>;
    Char* d = Room(n * 6 + 2);
    Char* start = d;
    *d++ = '"';
    size_t i = 0;
    while (n - i >= Block::kUnits) {
      const size_t k = Block::Copy(s + i, d);
      i += k;
      d += k;
      if (k < Block::kUnits) {
        do {
          d = PutUnit(d, s[i++]);
        } while (n - i >= Block::kUnits && !IsPlainAscii(s[i]));
      }
    }
    for (; i < n; ++i) {
      const char16_t c = s[i];
      if (IsPlainAscii(c)) {
        *d++ = static_cast<Char>(c);
      } else {
        d = PutUnit(d, c);
      }
    }
    *d++ = '"';
    n_ += static_cast<size_t>(d - start);
  }

  static bool IsPlainAscii(char16_t c) {
    return c < 0x80 && !kAsciiEscape.v[c];
  }

  // Writes one code unit of a string: as it is, UTF-8 encoded, or escaped.
  [[gnu::noinline]] static Char* PutUnit(Char* d, char16_t c) {
    char e;
    if (c < 0x80) {
      e = kAsciiEscape.v[c];
      if (!e) {
        *d = static_cast<Char>(c);
        return d + 1;
      }
    } else if (!NeedsUnicodeEscape(c)) {
      if constexpr (sizeof(Char) == 1) {
        // Not a surrogate (those are escaped): one code unit is one code point.
        if (c < 0x800) {
          d[0] = static_cast<Char>(0xC0 | (c >> 6));
          d[1] = static_cast<Char>(0x80 | (c & 0x3F));
          return d + 2;
        }
        d[0] = static_cast<Char>(0xE0 | (c >> 12));
        d[1] = static_cast<Char>(0x80 | ((c >> 6) & 0x3F));
        d[2] = static_cast<Char>(0x80 | (c & 0x3F));
        return d + 3;
      } else {
        *d = c;
        return d + 1;
      }
    } else {
      e = 'u';
    }
    d[0] = '\\';
    d[1] = static_cast<Char>(e);
    if (e != 'u') return d + 2;
    static constexpr char kHex[] = "0123456789ABCDEF";
    d[2] = kHex[c >> 12];
    d[3] = kHex[(c >> 8) & 15];
    d[4] = kHex[(c >> 4) & 15];
    d[5] = kHex[c & 15];
    return d + 6;
  }

  bool ws_;
  int fractionGuess_ = 1;  // fraction digits of the last short fraction written
  Char* out_ = nullptr;
  size_t capacity_ = 0;
  size_t n_ = 0;
  std::vector<Frame> stack_;
  Cell pairCells_[2] = {};  // the inline pair being written
  static constexpr uint8_t kPairTags[2] = {kDouble, kDouble};
};

}  // namespace jsonbag

std::u16string JsonBag::JSON() const {
  return jsonbag::Writer<char16_t>(whitespace_).Run(*this);
}

std::string JsonBag::JSONUtf8() const {
  return jsonbag::Writer<char>(whitespace_).Run(*this);
}

}  // namespace kestrola
