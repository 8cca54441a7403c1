#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrola::Text {

// UTF-8 to UTF-16. Invalid or truncated sequences become U+FFFD; never fails.
std::u16string FromUtf8(std::string_view utf8);
// Decodes the sequence that begins with the non-ASCII byte s[i] of s[0..n) into d the way
// FromUtf8 does (one or two code units, or one U+FFFD for an invalid or truncated sequence),
// moves i past the bytes it took and returns the end of what it wrote.
char16_t* DecodeUtf8Sequence(const unsigned char* s, size_t n, size_t& i, char16_t* d);
// The number of UTF-16 code units FromUtf8 makes of utf8.
size_t Utf16Length(std::string_view utf8);
// UTF-16 to UTF-8. Lone surrogates become U+FFFD; never fails.
std::string ToUtf8(std::u16string_view utf16);

// ASCII-only letter case folding, as used for keys and tag names.
char16_t AsciiLower(char16_t c);
char16_t AsciiUpper(char16_t c);
// Letter case folding for the Basic Latin and Latin-1 letters (case-insensitive keys).
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
std::u16string ToLower(std::u16string_view s);
std::u16string ToUpper(std::u16string_view s);

// Convenience for literals and tests.
inline std::u16string U(std::string_view utf8) {
  return FromUtf8(utf8);
}

}  // namespace kestrola::Text
