// JSON write followed by JSON read: any input either fails with a numbered error or gives a
// document whose text reads back to the same text, in both layouts; and the UTF-8 reader and
// writer agree with the UTF-16 ones on every input, in short texts and in long ones.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json/JsonBag.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrola;
  if (size == 0) return 0;
  // The first byte picks the mode; the rest is the text.
  const bool decimal = data[0] & 1;
  std::u16string text = Text::FromUtf8({reinterpret_cast<const char*>(data + 1), size - 1});
  JsonBag bag;
  bag.SetDecimalMode(decimal);
  std::u16string error;
  try {
    bag.SetJSON(text);
  } catch (const Error& e) {
    if (e.Number() != 13 && e.Number() != 6 && e.Number() != 28) std::abort();
    error = e.Description();
  }
  // Whatever was stored, even before an error, must write and read back unchanged.
  std::u16string out = bag.JSON();
  // Reading the UTF-8 bytes directly must give the same document and the same error.
  JsonBag direct;
  direct.SetDecimalMode(decimal);
  std::u16string directError;
  try {
    direct.SetJSONUtf8({reinterpret_cast<const char*>(data + 1), size - 1});
  } catch (const Error& e) {
    directError = e.Description();
  }
  if (directError != error || direct.JSON() != out) std::abort();
  // The UTF-8 writer gives the UTF-16 text converted.
  if (direct.JSONUtf8() != Text::ToUtf8(out)) std::abort();
  // Blanks after the text make it long enough for the parser's arena: a text that reads
  // gives the same document, and one that fails still fails (further on, and keeping perhaps
  // one more item, when the short text broke off at its end).
  {
    std::string padded(reinterpret_cast<const char*>(data + 1), size - 1);
    padded.append(size_t{40} << 10, ' ');
    JsonBag large;
    large.SetDecimalMode(decimal);
    bool failed = false;
    try {
      large.SetJSONUtf8(padded);
    } catch (const Error&) {
      failed = true;
    }
    if (failed != !error.empty() || (!failed && large.JSON() != out)) std::abort();
  }
  JsonBag back;
  back.SetDecimalMode(decimal);
  back.SetJSON(out);
  if (back.JSON() != out) std::abort();
  back.SetWhitespace(true);
  JsonBag pretty;
  pretty.SetDecimalMode(decimal);
  pretty.SetJSON(back.JSON());
  if (pretty.JSON() != out) std::abort();
  return 0;
}
