// jsonscript [--memory-limit MIB] [FILE]: evaluates a JSON script (UTF-8, from FILE or standard
// input) and writes its output to standard output. Message boxes go to standard error, one line
// each; an input box reads one line from standard input (end of input cancels it).
//
// Exit status: 0 when the script ran; 1 when it could not be parsed (the parse messages go to
// standard error in the "Parser Error" box) or its evaluation failed ("error N: DESCRIPTION");
// 2 when the file cannot be read or the command line is wrong. A script that would take more
// memory than the limit (1024 MiB by default) stops with error 7.
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "jsonscript/JSON.h"
#include "jsonscript/cJSONScript.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "tools/support/MemoryLimit.h"
#include "tools/support/ToolInput.h"

namespace {
int Fail(int number, const std::string& description) {
  std::cerr << "error " << number << ": " << description << std::endl;
  return 1;
}

int OutOfMemory() {
  using namespace kestrola;
  return Fail(kErrOutOfMemory, Text::ToUtf8(Error::StandardDescription(kErrOutOfMemory)));
}

int Usage() {
  std::cerr << "usage: jsonscript [--memory-limit MIB] [FILE]" << std::endl;
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  tools::CommonOptions common;
  for (int i = 1; i < argc; ++i) {
    if (!tools::TakeCommonOption(argc, argv, i, common)) return Usage();
  }
  tools::SetMemoryLimit(common.memoryLimit);

  try {
    std::string bytes, error;
    if (!tools::ReadInput(common.file ? common.file : "", bytes, error)) {
      std::cerr << "jsonscript: " << error << std::endl;
      return 2;
    }
    std::cin.clear();  // input boxes may still read lines after a script from standard input
    tools::StripByteOrderMark(bytes);
    std::u16string script = Text::FromUtf8(bytes);
    bytes = std::string();
    cJSONScript evaluator;
    evaluator.SetMemoryLimit(static_cast<int64_t>(common.memoryLimit));
    std::string out = Text::ToUtf8(evaluator.Eval(script));
    std::cout << out;
    std::cout.flush();
    // The parse could have been cut short by the limit; that is reported as such.
    if (tools::MemoryLimitReached()) return OutOfMemory();
    // A script that could not be parsed was not run: its messages went to the "Parser Error"
    // box.
    if (!JSON::LastParseErrors().empty()) return 1;
  } catch (const Error& e) {
    return Fail(e.Number(), Text::ToUtf8(e.Description()));
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
  return 0;
}
