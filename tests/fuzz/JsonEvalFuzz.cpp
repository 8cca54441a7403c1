// Fuzz target for the JSON script evaluator: any script (read as UTF-8) must give a text or a
// numbered failure, and leave the evaluator ready for the next script.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "jsonscript/cJSONScript.h"
#include "runtime/Error.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"

namespace {
// A script may legitimately double a variable with every "set" that reads it twice; keep the
// fuzzer away from such exponential (but correct) scripts.
bool TooManyReads(std::string_view s) {
  int count = 0;
  for (size_t i = 0; i + 3 <= s.size(); ++i) {
    if ((s[i] | 0x20) == 'g' && (s[i + 1] | 0x20) == 'e' && (s[i + 2] | 0x20) == 't') ++count;
  }
  return count > 8;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (TooManyReads(bytes)) return 0;
  static kestrola::RecordingUserInterface ui;
  static kestrola::cJSONScript script(ui);  // shared, so variables carry over between inputs
  ui.boxes.clear();
  ui.answers = {u"answer"};
  try {
    script.Eval(kestrola::Text::FromUtf8(bytes));
  } catch (const kestrola::Error&) {
    // Scripts may fail; the failure is the caller's to report.
  }
  if (script.NestingLevel() != 0) std::abort();
  return 0;
}
