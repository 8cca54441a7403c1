// The example programs of README.md's toolkit section: README shows each program and its
// output exactly as they are in tests/json/examples, and each program prints that output.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string OutputOf(const std::string& program) {
  std::string out;
  if (FILE* p = popen(program.c_str(), "r")) {
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << program;
  }
  return out;
}

TEST(JsonBagExamples, ReadmeShowsEachProgramAndWhatItPrints) {
  const std::string readme = ReadFile(std::string(KESTROLA_SOURCE_DIR) + "/README.md");
  for (const char* name : {"keys", "items", "utf8", "errors", "strict"}) {
    const std::string dir = std::string(KESTROLA_SOURCE_DIR) + "/tests/json/examples/";
    const std::string code = ReadFile(dir + name + ".cpp");
    const std::string output = ReadFile(dir + name + ".out");
    ASSERT_FALSE(code.empty() || output.empty()) << name;
    EXPECT_NE(readme.find(code), std::string::npos) << name << ".cpp is not quoted in README.md";
    EXPECT_NE(readme.find(output), std::string::npos) << name << ".out is not quoted in README.md";
    EXPECT_EQ(OutputOf(std::string(KESTROLA_BINARY_DIR) + "/tests/json-examples/" + name), output)
        << name;
  }
}

}  // namespace
}  // namespace kestrola
