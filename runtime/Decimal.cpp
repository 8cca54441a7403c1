#include "runtime/Decimal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
using u128 = unsigned __int128;
constexpr u128 kMantissaLimit = static_cast<u128>(1) << 96;

u128 Pow10(int n) {
  u128 r = 1;
  for (int i = 0; i < n; ++i) r *= 10;
  return r;
}

[[noreturn]] void Overflow() {
  throw Error::Standard(kErrOverflow, u"Decimal");
}
[[noreturn]] void Mismatch() {
  throw Error::Standard(kErrTypeMismatch, u"Decimal");
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The common short form, [sign]digits[.digits] with at most 19 significant digits and at most
// 28 places, read straight into the mantissa. False sends the text to the general reader.
bool ParseShort(std::string_view t, Decimal& out) {
  size_t i = 0, n = t.size();
  bool negative = false;
  if (i < n && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  uint64_t mantissa = 0;
  int digits = 0, scale = 0;
  bool point = false, any = false;
  for (; i < n; ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (point) ++scale;
      if (mantissa == 0 && c == '0') continue;  // leading zeros are not significant
      if (++digits > 19) return false;
      mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!any || scale > Decimal::kMaxScale) return false;
  out = mantissa == 0 ? Decimal::FromParts(0, 0, false)
                      : Decimal::FromParts(mantissa, scale, negative);
  return true;
}

// A number text taken apart: value = (-1)^negative * digits * 10^power.
struct ScannedNumber {
  bool negative = false;
  std::string digits;  // significant digits, leading zeros dropped
  long long power = 0;
};

// Reads digits with an optional "." from `i` up to the first other character. False when
// there is not one digit.
bool ScanMantissa(std::string_view t, size_t& i, size_t n, ScannedNumber& number) {
  std::string& digits = number.digits;
  bool anyDigit = false, seenPoint = false;
  for (; i < n; ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      if (seenPoint) --number.power;
      if (digits.empty() && c == '0') continue;
      if (digits.size() < 64) {
        digits.push_back(c);
      } else {
        // Far beyond what a decimal holds: keep only whether anything non-zero follows.
        if (!seenPoint) ++number.power;
        if (c != '0') digits.back() = digits.back() == '0' ? '1' : digits.back();
        if (seenPoint) ++number.power;
      }
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  return anyDigit;
}

// Reads an exponent ("e" or "E", an optional sign, digits) at `i`, if there is one, into the
// power. False when the "e" has no digits.
bool ScanExponent(std::string_view t, size_t& i, size_t n, long long& power) {
  if (i >= n || (t[i] != 'e' && t[i] != 'E')) return true;
  ++i;
  bool expNegative = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) expNegative = t[i++] == '-';
  if (i >= n || t[i] < '0' || t[i] > '9') return false;
  long long e = 0;
  for (; i < n && t[i] >= '0' && t[i] <= '9'; ++i) {
    if (e < 100000) e = e * 10 + (t[i] - '0');
  }
  power += expNegative ? -e : e;
  return true;
}

// Takes the text apart: blanks around, a sign, the mantissa and the exponent. Returns 0 or
// 13 when the text is not a number.
int ScanNumber(std::string_view t, ScannedNumber& number) {
  size_t i = 0, n = t.size();
  while (i < n && IsBlank(t[i])) ++i;
  while (n > i && IsBlank(t[n - 1])) --n;
  if (i < n && (t[i] == '+' || t[i] == '-')) number.negative = t[i++] == '-';
  if (!ScanMantissa(t, i, n, number)) return kErrTypeMismatch;
  if (!ScanExponent(t, i, n, number.power)) return kErrTypeMismatch;
  return i == n ? 0 : kErrTypeMismatch;
}

// Removes the last k >= 1 digits, rounding half to even into those that remain.
void DropDigits(std::string& digits, size_t k) {
  if (k >= digits.size() + 1) {
    digits.clear();
    return;
  }
  bool sticky = false;
  char round = k <= digits.size() ? digits[digits.size() - k] : '0';
  for (size_t j = digits.size() - k + 1; j < digits.size(); ++j) sticky |= digits[j] != '0';
  digits.resize(digits.size() - k);
  bool up = round > '5' ||
            (round == '5' && (sticky || (!digits.empty() && (digits.back() - '0') % 2 == 1)));
  if (!up) return;
  if (digits.empty()) {
    digits.assign(1, '1');
    return;
  }
  size_t p = digits.size();
  while (p > 0 && digits[p - 1] == '9') digits[--p] = '0';
  if (p == 0) {
    digits.insert(digits.begin(), '1');
  } else {
    ++digits[p - 1];
  }
}

// Converts a scanned number into `out`. Positive powers multiply the digits; negative ones
// become the scale, and digits are dropped (rounding half to even) until at most 29 remain,
// the scale is at most 28 and the mantissa fits in 96 bits. Returns 0 or 6 for overflow.
int ToDecimal(ScannedNumber& number, Decimal& out) {
  std::string& digits = number.digits;
  if (digits.empty()) {
    out = Decimal::FromParts(0, 0, false);
    return 0;
  }
  long long scale = -number.power;
  if (scale < 0) {
    if (static_cast<long long>(digits.size()) - scale > 29) return kErrOverflow;
    digits.append(static_cast<size_t>(-scale), '0');
    scale = 0;
  }
  for (;;) {
    size_t excess = 0;
    if (scale > Decimal::kMaxScale) excess = static_cast<size_t>(scale - Decimal::kMaxScale);
    if (digits.size() > 29 && digits.size() - 29 > excess) excess = digits.size() - 29;
    if (excess > 0) {
      if (static_cast<long long>(excess) > scale) return kErrOverflow;
      if (excess > digits.size()) {
        // Everything rounds away: the value is below the smallest step.
        out = Decimal::FromParts(0, 0, number.negative);
        return 0;
      }
      DropDigits(digits, excess);
      scale -= static_cast<long long>(excess);
      continue;  // rounding may have added a digit
    }
    u128 m = 0;
    for (char c : digits) m = m * 10 + static_cast<unsigned>(c - '0');
    if (m >= kMantissaLimit) {
      if (scale == 0) return kErrOverflow;
      DropDigits(digits, 1);
      --scale;
      continue;
    }
    out = Decimal::FromParts(m, static_cast<int>(scale), number.negative);
    return 0;
  }
}

// Parses into `out`. Returns 0 on success, 13 for a malformed text, 6 for overflow.
int ParseImpl(std::string_view t, Decimal& out) {
  if (ParseShort(t, out)) return 0;
  ScannedNumber number;
  if (int err = ScanNumber(t, number)) return err;
  return ToDecimal(number, out);
}
}  // namespace

Decimal Decimal::FromParts(unsigned __int128 mantissa, int scale, bool negative) {
  if (mantissa >= kMantissaLimit || scale < 0 || scale > kMaxScale) Overflow();
  Decimal d;
  d.lo_ = static_cast<uint64_t>(mantissa);
  d.hi_ = static_cast<uint32_t>(mantissa >> 64);
  d.scale_ = static_cast<uint8_t>(scale);
  d.negative_ = negative;
  return d;
}

Decimal Decimal::FromInt64(int64_t value) {
  bool negative = value < 0;
  u128 m = negative ? static_cast<u128>(-(value + 1)) + 1 : static_cast<u128>(value);
  return FromParts(m, 0, negative);
}

Decimal Decimal::FromDouble(double value) {
  if (!std::isfinite(value)) Overflow();
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return Parse(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

Decimal Decimal::Parse(std::string_view text) {
  Decimal d;
  int err = ParseImpl(text, d);
  if (err == kErrOverflow) Overflow();
  if (err != 0) Mismatch();
  return d;
}

Decimal Decimal::Parse(std::u16string_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 0x80) Mismatch();
    narrow.push_back(static_cast<char>(c));
  }
  return Parse(std::string_view(narrow));
}

bool Decimal::TryParse(std::string_view text, Decimal& out, bool* overflow) {
  int err = ParseImpl(text, out);
  if (overflow) *overflow = err == kErrOverflow;
  return err == 0;
}

unsigned __int128 Decimal::Mantissa() const {
  return (static_cast<u128>(hi_) << 64) | lo_;
}

std::string Decimal::ToUtf8() const {
  u128 m = Mantissa();
  char digits[40];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
    m /= 10;
  } while (m != 0);
  // digits[] holds the figures least significant first.
  int scale = scale_;
  int start = 0;  // trailing fractional zeros are skipped
  while (start < scale && (start >= n || digits[start] == '0')) ++start;
  int fracDigits = scale - start;
  std::string out;
  if (negative_ && !IsZero()) out.push_back('-');
  if (n <= scale) {
    out.push_back('0');
  } else {
    for (int k = n - 1; k >= scale; --k) out.push_back(digits[k]);
  }
  if (fracDigits > 0) {
    out.push_back('.');
    for (int k = scale - 1; k >= start; --k) out.push_back(k < n ? digits[k] : '0');
  }
  return out;
}

std::u16string Decimal::ToString() const {
  std::string s = ToUtf8();
  return std::u16string(s.begin(), s.end());
}

double Decimal::ToDouble() const {
  std::string s = ToUtf8();
  double d = 0;
  std::from_chars(s.data(), s.data() + s.size(), d);
  return d;
}

int64_t Decimal::ToInt64() const {
  u128 p = Pow10(scale_);
  u128 m = Mantissa();
  u128 q = m / p, r = m % p;
  if (scale_ > 0) {
    u128 half = p / 2;
    if (r > half || (r == half && (q & 1))) ++q;
  }
  if (negative_) {
    if (q > static_cast<u128>(INT64_MAX) + 1) Overflow();
    return q == static_cast<u128>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(q);
  }
  if (q > static_cast<u128>(INT64_MAX)) Overflow();
  return static_cast<int64_t>(q);
}

int Decimal::Compare(const Decimal& a, const Decimal& b) {
  bool aNeg = a.negative_ && !a.IsZero();
  bool bNeg = b.negative_ && !b.IsZero();
  if (aNeg != bNeg) return aNeg ? -1 : 1;
  // Same sign: compare magnitudes, integer parts first, then fractions scaled to 28 places.
  u128 pa = Pow10(a.scale_), pb = Pow10(b.scale_);
  u128 ma = a.Mantissa(), mb = b.Mantissa();
  u128 ia = ma / pa, ib = mb / pb;
  int mag = 0;
  if (ia != ib) {
    mag = ia < ib ? -1 : 1;
  } else {
    u128 fa = (ma % pa) * Pow10(kMaxScale - a.scale_);
    u128 fb = (mb % pb) * Pow10(kMaxScale - b.scale_);
    mag = fa == fb ? 0 : (fa < fb ? -1 : 1);
  }
  return aNeg ? -mag : mag;
}

}  // namespace kestrola
