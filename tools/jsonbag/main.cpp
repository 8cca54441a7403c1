// jsonbag [--decimal] [--whitespace] [--strict] [--memory-limit MIB] [FILE]
// Reads UTF-8 JSON from FILE (or standard input), loads it into a JsonBag and writes the
// document back as UTF-8 JSON: a validator and pretty-printer. Errors go to standard error as
// "error N: DESCRIPTION" with exit status 1; a document that would take more memory than the
// limit (1024 MiB by default) is error 7. With --strict only RFC 8259 JSON is accepted. A file
// that cannot be read, or a wrong command line, gives exit status 2.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "json/JsonBag.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "tools/support/MemoryLimit.h"
#include "tools/support/ToolInput.h"

namespace {

int Usage() {
  std::cerr << "usage: jsonbag [--decimal] [--whitespace] [--strict] [--memory-limit MIB] [FILE]\n";
  return 2;
}

int Fail(int number, const std::u16string& description) {
  std::cerr << "error " << number << ": " << kestrola::Text::ToUtf8(description) << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  bool decimal = false, whitespace = false, strict = false;
  tools::CommonOptions common;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--decimal") == 0) {
      decimal = true;
    } else if (std::strcmp(argv[i], "--whitespace") == 0) {
      whitespace = true;
    } else if (std::strcmp(argv[i], "--strict") == 0) {
      strict = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage();
      return 0;
    } else if (!tools::TakeCommonOption(argc, argv, i, common)) {
      return Usage();
    }
  }

  tools::SetMemoryLimit(common.memoryLimit);
  try {
    std::string input, error;
    if (!tools::ReadInput(common.file ? common.file : "", input, error)) {
      std::cerr << "jsonbag: " << error << "\n";
      return 2;
    }
    tools::StripByteOrderMark(input);
    JsonBag bag;
    bag.SetDecimalMode(decimal);
    bag.SetStrict(strict);
    bag.SetJSONUtf8(input);
    bag.SetWhitespace(whitespace);
    std::string out = Text::ToUtf8(bag.JSON());
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const Error& e) {
    return Fail(e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    return Fail(kErrOutOfMemory, Error::StandardDescription(kErrOutOfMemory));
  }
}
