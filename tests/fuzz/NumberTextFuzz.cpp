// Number text of any content through Val, the 16-bit integer conversion, Decimal and the
// double text forms: failures are the documented errors, and what is accepted reads back to
// the same value from its own text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/Convert.h"
#include "runtime/Decimal.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

using namespace kestrola;

namespace {
bool Documented(const Error& e) {
  return e.Number() == kErrTypeMismatch || e.Number() == kErrOverflow;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string utf8(reinterpret_cast<const char*>(data), size);
  const std::u16string text = Text::FromUtf8(utf8);

  const double val = Convert::Val(text);
  if (std::isfinite(val)) {
    if (Convert::Val(Convert::NumberToText(val)) != val) std::abort();
    double back = 0;
    if (!Convert::ParseDouble(Convert::DoubleToJson(val), back) || back != val) std::abort();
    try {
      const int16_t i = Convert::ToInteger(val);
      if (std::fabs(static_cast<double>(i) - val) > 0.5) std::abort();
    } catch (const Error& e) {
      if (e.Number() != kErrOverflow) std::abort();
    }
  }

  try {
    Convert::ToInteger(text);
  } catch (const Error& e) {
    if (!Documented(e)) std::abort();
  }

  Decimal parsed;
  bool parsedOk = false;
  try {
    parsed = Decimal::Parse(text);
    parsedOk = true;
  } catch (const Error& e) {
    if (!Documented(e)) std::abort();
  }
  Decimal tried;
  bool overflow = false;
  const bool triedOk = Decimal::TryParse(Text::ToUtf8(text), tried, &overflow);
  if (triedOk != parsedOk) std::abort();
  if (parsedOk) {
    if (!(tried == parsed)) std::abort();
    const std::u16string shown = parsed.ToString();
    if (!(Decimal::Parse(shown) == parsed)) std::abort();
    if (shown.find(u'e') != std::u16string::npos || shown.find(u'E') != std::u16string::npos)
      std::abort();
    if (!std::isfinite(parsed.ToDouble())) std::abort();
    try {
      parsed.ToInt64();
    } catch (const Error& e) {
      if (e.Number() != kErrOverflow) std::abort();
    }
  }
  return 0;
}
