// Fuzz target for the lenient JSON reader: any bytes (read as UTF-8) must give a tree or no
// object with messages, never a crash or a hang.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "jsonscript/JSON.h"
#include "runtime/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text =
      kestrola::Text::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  kestrola::ObjectRef root = kestrola::JSON::ParseJson(text);
  std::u16string errors = kestrola::JSON::LastParseErrors();
  // No object always comes with a message; a clean parse always has a root.
  if (!root && errors.empty()) std::abort();
  if (!root && errors != u"Invalid JSON") std::abort();
  return 0;
}
