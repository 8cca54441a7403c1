#pragma once

#include <optional>
#include <string>
#include <string_view>

// Hexadecimal digits, read and written the one way the program uses them.
namespace kestrola::Hex {

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
constexpr int Digit(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

// `value` as exactly `digits` upper-case hexadecimal digits (the lowest ones).
template <class Char = char>
std::basic_string<Char> Text(unsigned value, int digits) {
  std::basic_string<Char> out(static_cast<size_t>(digits), Char('0'));
  for (int i = digits - 1; i >= 0; --i, value >>= 4) {
    out[static_cast<size_t>(i)] = static_cast<Char>("0123456789ABCDEF"[value & 0xF]);
  }
  return out;
}

// Bytes written as pairs of hexadecimal digits, which blanks and commas may separate
// ("1B 70 01", "1b7001", "1B,70,01"); nothing when another character or an odd digit is found.
inline std::optional<std::string> Bytes(std::u16string_view text) {
  std::string out;
  int pending = -1;
  for (char16_t c : text) {
    if (c == u' ' || c == u',') continue;
    int v = Digit(c);
    if (v < 0) return std::nullopt;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<char>(pending * 16 + v));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return out;
}

}  // namespace kestrola::Hex
