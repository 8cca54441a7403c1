// jsonbag [--decimal] [--whitespace] [--strict] [FILE]
// Reads UTF-8 JSON from FILE (or standard input), loads it into a JsonBag and writes the
// document back as UTF-8 JSON: a validator and pretty-printer. Errors go to standard error as
// "error N: DESCRIPTION" with exit status 1. With --strict only RFC 8259 JSON is accepted.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "json/JsonBag.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace {

int Usage() {
  std::cerr << "usage: jsonbag [--decimal] [--whitespace] [--strict] [FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  bool decimal = false, whitespace = false, strict = false;
  const char* file = nullptr;
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
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (file) {
      return Usage();
    } else {
      file = argv[i];
    }
  }

  std::string input;
  if (file && std::strcmp(file, "-") != 0) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "jsonbag: cannot open " << file << ": " << std::strerror(errno) << "\n";
      return 2;
    }
    input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    std::ostringstream buf;
    buf << std::cin.rdbuf();
    input = buf.str();
  }
  // A UTF-8 byte-order mark is not part of the text.
  if (input.size() >= 3 && input.compare(0, 3, "\xEF\xBB\xBF") == 0) input.erase(0, 3);

  try {
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
    std::cerr << "error " << e.Number() << ": " << Text::ToUtf8(e.Description()) << "\n";
    return 1;
  }
}
