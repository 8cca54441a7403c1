#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrola {

// A decimal number: a 96-bit unsigned integer, a sign and a power-of-ten scale of 0 to 28.
// The value is (-1)^sign * mantissa / 10^scale. Operations that cannot hold their result raise
// error 6 (overflow); text that is not a number raises error 13 (type mismatch).
class Decimal {
 public:
  static constexpr int kMaxScale = 28;

  Decimal() = default;
  // Builds from parts; the mantissa must be below 2^96 and the scale at most 28.
  static Decimal FromParts(unsigned __int128 mantissa, int scale, bool negative);
  static Decimal FromInt64(int64_t value);
  // The shortest decimal that reads back as the double; error 6 beyond the range.
  static Decimal FromDouble(double value);
  // Invariant text: blanks around, optional sign, digits with an optional "." and an optional
  // exponent (e or E, optional sign). More significant digits than fit are rounded half to even.
  static Decimal Parse(std::u16string_view text);
  static Decimal Parse(std::string_view text);
  // Same as Parse, but returns false instead of raising; `overflow` tells why it failed.
  static bool TryParse(std::string_view text, Decimal& out, bool* overflow = nullptr);

  unsigned __int128 Mantissa() const;
  int Scale() const { return scale_; }
  bool IsNegative() const { return negative_; }
  bool IsZero() const { return lo_ == 0 && hi_ == 0; }

  // "." as decimal point, no exponent, no trailing zeros after the point, no "-0".
  std::u16string ToString() const;
  std::string ToUtf8() const;
  // Nearest double.
  double ToDouble() const;
  // Rounded half to even; error 6 when outside the 64-bit range.
  int64_t ToInt64() const;

  friend bool operator==(const Decimal& a, const Decimal& b) { return Compare(a, b) == 0; }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    return Compare(a, b) <=> 0;
  }
  // -1, 0 or 1. 1.0 and 1.00 compare equal; -0 equals 0.
  static int Compare(const Decimal& a, const Decimal& b);

 private:
  uint64_t lo_ = 0;  // low 64 bits of the mantissa
  uint32_t hi_ = 0;  // high 32 bits of the mantissa
  uint8_t scale_ = 0;
  bool negative_ = false;
};

// Currency: a 64-bit integer scaled by 10,000.
struct Currency {
  int64_t scaled = 0;
  friend bool operator==(const Currency&, const Currency&) = default;
};

}  // namespace kestrola
