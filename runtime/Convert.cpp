#include "runtime/Convert.h"

#include <charconv>
#include <cmath>
#include <string>

#include "runtime/Error.h"
#include "runtime/Hex.h"

namespace kestrola::Convert {

namespace {

bool IsValBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// The base of a "&H" (16) or "&O" (8) prefix at position i, or 0 when there is none.
int RadixPrefix(std::u16string_view t, size_t i) {
  if (i + 1 >= t.size() || t[i] != u'&') return 0;
  const char16_t p = t[i + 1];
  return (p == u'H' || p == u'h') ? 16 : (p == u'O' || p == u'o') ? 8 : 0;
}

// The integer written in `base` from position i on, up to the first character that is not
// one of its digits.
double ReadRadix(std::u16string_view t, size_t i, int base) {
  double v = 0;
  for (; i < t.size(); ++i) {
    int d = Hex::Digit(t[i]);
    if (d < 0 || d >= base) break;
    v = v * base + d;
  }
  return v;
}

// Gathers an optional sign, digits and one decimal point from position i on into `s`,
// skipping embedded blanks; i ends on the first character that is none of them. False when
// no digit was found.
bool GatherMantissa(std::u16string_view t, size_t& i, std::string& s) {
  bool digits = false, point = false;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) s.push_back(static_cast<char>(t[i++]));
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    if (IsValBlank(c)) continue;
    if (c >= u'0' && c <= u'9') {
      digits = true;
      s.push_back(static_cast<char>(c));
    } else if (c == u'.' && !point) {
      point = true;
      s.push_back('.');
    } else {
      break;
    }
  }
  return digits;
}

// Appends the exponent at position i ("E" or "D", an optional sign, digits; blanks skipped)
// as "e..." to `s`; an exponent letter without digits adds nothing.
void GatherExponent(std::u16string_view t, size_t i, std::string& s) {
  if (i >= t.size() || !(t[i] == u'E' || t[i] == u'e' || t[i] == u'D' || t[i] == u'd')) return;
  std::string e = "e";
  size_t j = i + 1;
  while (j < t.size() && IsValBlank(t[j])) ++j;
  if (j < t.size() && (t[j] == u'-' || t[j] == u'+')) e.push_back(static_cast<char>(t[j++]));
  bool expDigits = false;
  for (; j < t.size(); ++j) {
    if (IsValBlank(t[j])) continue;
    if (t[j] < u'0' || t[j] > u'9') break;
    expDigits = true;
    e.push_back(static_cast<char>(t[j]));
  }
  if (expDigits) s += e;
}

// The value of gathered number text; overflowing exponents read as infinity, underflowing
// ones as zero.
double ReadGathered(const std::string& s) {
  const char* b = s.data();
  if (*b == '+') ++b;
  double v = 0;
  auto r = std::from_chars(b, s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    bool neg = s[0] == '-';
    bool tiny = s.find("e-") != std::string::npos;
    return tiny ? (neg ? -0.0 : 0.0) : (neg ? -HUGE_VAL : HUGE_VAL);
  }
  return v;
}

}  // namespace

double Val(std::u16string_view t) {
  size_t i = 0;
  while (i < t.size() && IsValBlank(t[i])) ++i;
  if (int base = RadixPrefix(t, i)) return ReadRadix(t, i + 2, base);
  // Gather the number's characters, skipping embedded blanks, then parse them at once.
  std::string s;
  if (!GatherMantissa(t, i, s)) return 0;
  GatherExponent(t, i, s);
  return ReadGathered(s);
}

double RoundHalfEven(double value) {
  return std::nearbyint(value);
}

int16_t ToInteger(double value) {
  if (std::isnan(value)) throw Error::Standard(kErrOverflow, u"CInt");
  double r = RoundHalfEven(value);
  if (r < -32768.0 || r > 32767.0) throw Error::Standard(kErrOverflow, u"CInt");
  return static_cast<int16_t>(r);
}

bool ParseDouble(std::string_view text, double& out) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  if (i < n && text[i] == '+') ++i;
  if (i >= n) return false;
  // from_chars accepts "inf" and "nan"; numbers here are digits only.
  char c = text[i] == '-' && i + 1 < n ? text[i + 1] : text[i];
  if (!((c >= '0' && c <= '9') || c == '.')) return false;
  auto r = std::from_chars(text.data() + i, text.data() + n, out, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return false;
  return r.ec == std::errc() && r.ptr == text.data() + n;
}

int16_t ToInteger(std::u16string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 0x80) throw Error::Standard(kErrTypeMismatch, u"CInt");
    s.push_back(static_cast<char>(c));
  }
  double d;
  if (!ParseDouble(s, d)) {
    // A well-formed number too large for a double is an overflow, not a mismatch.
    size_t i = s.find_first_not_of(" \t");
    bool numeric =
        i != std::string::npos && s.find_first_not_of("0123456789.eE+- \t") == std::string::npos;
    throw Error::Standard(numeric ? kErrOverflow : kErrTypeMismatch, u"CInt");
  }
  return ToInteger(d);
}

std::string DoubleToJson(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, r.ptr);
  // to_chars writes "1e+20": JSON form drops the "+".
  auto e = s.find("e+");
  if (e != std::string::npos) s.erase(e + 1, 1);
  if (s == "-0") s = "0";
  return s;
}

std::u16string NumberToText(double value) {
  if (value == 0) return u"0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string sci(buf, r.ptr);
  // sci is d[.ddd]e±XX; decide between fixed and exponent form by the decimal exponent.
  auto epos = sci.find('e');
  int exp10 = std::stoi(sci.substr(epos + 1));
  std::string out;
  if (exp10 >= 15 || exp10 < -7) {
    std::string mant = sci.substr(0, epos);
    char sign = exp10 < 0 ? '-' : '+';
    int a = exp10 < 0 ? -exp10 : exp10;
    out = mant + "E" + sign + (a < 10 ? "0" : "") + std::to_string(a);
  } else {
    auto f = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    out.assign(buf, f.ptr);
  }
  return std::u16string(out.begin(), out.end());
}

}  // namespace kestrola::Convert
