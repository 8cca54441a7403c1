// The text a driver gives for a DECIMAL or NUMERIC column, any UTF-16 code units: the value is
// a decimal that prints back to a number equal to it, or the driver's text unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/Recordset.h"
#include "runtime/Decimal.h"

using namespace kestrola;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
  const Variant value = NumericTextValue(text);
  if (value.IsDecimal()) {
    if (!(Decimal::Parse(value.AsDecimal().ToString()) == value.AsDecimal())) std::abort();
  } else if (!value.IsString() || value.AsString() != text) {
    std::abort();
  }
  return 0;
}
