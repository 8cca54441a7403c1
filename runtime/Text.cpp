#include "runtime/Text.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrola::Text {

namespace {
constexpr char16_t kReplacement = 0xFFFD;

inline bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}
}  // namespace

char16_t* DecodeUtf8Sequence(const unsigned char* s, size_t n, size_t& i, char16_t* d) {
  const unsigned char c = s[i];
  uint32_t cp;
  size_t len;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    cp = c & 0x1F, len = 2, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    cp = c & 0x0F, len = 3, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    cp = c & 0x07, len = 4, min = 0x10000;
  } else {
    *d++ = kReplacement;
    ++i;
    return d;
  }
  size_t k = 1;
  for (; k < len; ++k) {
    if (i + k >= n || !IsContinuation(s[i + k])) break;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    // One replacement for the bad lead byte and the continuation bytes it took.
    *d++ = kReplacement;
    i += k;
    return d;
  }
  i += len;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    *d++ = static_cast<char16_t>(0xD800 + (cp >> 10));
    *d++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    *d++ = static_cast<char16_t>(cp);
  }
  return d;
}

size_t Utf16Length(std::string_view utf8) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  size_t units = 0;
  char16_t scratch[2];
  for (size_t i = 0; i < n;) {
    if (s[i] < 0x80) {
      ++units, ++i;
    } else {
      units += static_cast<size_t>(DecodeUtf8Sequence(s, n, i, scratch) - scratch);
    }
  }
  return units;
}

std::u16string FromUtf8(std::string_view in) {
  std::u16string out;
  out.resize(in.size());  // UTF-16 never needs more code units than UTF-8 has bytes
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  char16_t* d = out.data();
  size_t i = 0;
  while (i < n) {
    // ASCII runs are the common case: widen sixteen bytes at a time while they stay ASCII.
#if defined(__SSE2__)
    while (i + 16 <= n) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      if (_mm_movemask_epi8(bytes) != 0) break;
      __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(bytes, zero));
      d += 16;
      i += 16;
    }
#endif
    while (i + 8 <= n) {
      uint64_t block;
      std::memcpy(&block, s + i, 8);
      if (block & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) d[k] = s[i + k];
      d += 8;
      i += 8;
    }
    if (i >= n) break;
    unsigned char c = s[i];
    if (c < 0x80) {
      *d++ = c;
      ++i;
      continue;
    }
    d = DecodeUtf8Sequence(s, n, i, d);
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return out;
}

std::string ToUtf8(std::u16string_view in) {
  std::string out;
  out.resize(in.size() * 3);
  char* d = out.data();
  const size_t n = in.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = in[i];
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
      *d++ = static_cast<char>(0xF0 | (cp >> 18));
      *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (cp & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;  // lone surrogate
    *d++ = static_cast<char>(0xE0 | (c >> 12));
    *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *d++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return out;
}

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + 32 : c;
}
char16_t AsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? c - 32 : c;
}

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return AsciiLower(c);
  // Latin-1 capitals À..Þ except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::u16string ToLower(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = FoldCase(c);
  return r;
}

std::u16string ToUpper(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) {
    if (c < 0x80) {
      c = AsciiUpper(c);
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c -= 32;
    }
  }
  return r;
}

}  // namespace kestrola::Text
