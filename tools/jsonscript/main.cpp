// jsonscript [FILE]: evaluates a JSON script (UTF-8, from FILE or standard input) and writes
// its output to standard output. Message boxes go to standard error, one line each; an input
// box reads one line from standard input (end of input cancels it). A failure is written to
// standard error as "error N: DESCRIPTION" and the exit status is 1.
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <string>

#include "jsonscript/cJSONScript.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace {
int Fail(int number, const std::string& description) {
  std::cerr << "error " << number << ": " << description << std::endl;
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  if (argc > 2) {
    std::cerr << "usage: jsonscript [FILE]" << std::endl;
    return 2;
  }
  std::string bytes;
  if (argc == 2) {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return Fail(53, std::string("File not found: ") + argv[1]);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    std::cin.clear();
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);  // byte order mark
  try {
    cJSONScript script;
    std::string out = Text::ToUtf8(script.Eval(Text::FromUtf8(bytes)));
    std::cout << out;
    std::cout.flush();
  } catch (const Error& e) {
    return Fail(e.Number(), Text::ToUtf8(e.Description()));
  } catch (const std::bad_alloc&) {
    return Fail(kErrOutOfMemory, Text::ToUtf8(Error::StandardDescription(kErrOutOfMemory)));
  }
  return 0;
}
