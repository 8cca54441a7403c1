#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with `args`, feeding `input` on standard input.
Result RunTool(const std::string& args, const std::string& input) {
  kestrola::testing::TempDir dir("jsonscript-tool");
  std::ofstream(dir / "in", std::ios::binary) << input;
  std::string cmd = std::string(KESTROLA_BINARY_DIR) + "/tools/jsonscript/jsonscript " + args +
                    " < " + (dir / "in").string() + " > " + (dir / "out").string() + " 2> " +
                    (dir / "err").string();
  Result r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = kestrola::testing::ReadFile(dir / "out");
  r.err = kestrola::testing::ReadFile(dir / "err");
  return r;
}

}  // namespace

TEST(JsonScriptTool, EvaluatesStandardInput) {
  Result r = RunTool("", "[\"caf\xC3\xA9 \", {\"total\": {\"a\": \"1\"}}]");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "caf\xC3\xA9 <%TOTAL(1)%>");
  EXPECT_EQ(r.err, "");
}

TEST(JsonScriptTool, EvaluatesAFileAndAnswersInputBoxesFromStandardInput) {
  namespace fs = std::filesystem;
  fs::path script = fs::temp_directory_path() / ("jsonscript_file_" + std::to_string(::getpid()));
  std::ofstream(script) << "[{\"alert\": {\"message\": \"two\\r\\nlines\", \"title\": \"T\"}},"
                           " {\"input\": {\"prompt\": \"Name?\"}}, \"/\","
                           " {\"input\": {\"prompt\": \"More?\"}}]";
  Result r = RunTool(script.string(), "Ann\n");
  fs::remove(script);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Ann/");
  EXPECT_EQ(r.err, "T: two  lines\nName?\nMore?\n");
}

TEST(JsonScriptTool, ReportsFailuresAndParseErrors) {
  Result r = RunTool("", "[1]");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error 424: Object required\n");

  // A script that cannot be parsed is not run, and that is a failure.
  r = RunTool("", "{\"a\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Parser Error: Invalid Key at position 5 : a", 0), 0u) << r.err;
  for (const char* unparsable : {"", "   ", "[1,", "{\"a\": 1, \"a\": 2}"}) {
    r = RunTool("", unparsable);
    EXPECT_EQ(r.status, 1) << unparsable;
    EXPECT_EQ(r.err.rfind("Parser Error: ", 0), 0u) << unparsable << ": " << r.err;
  }
}

TEST(JsonScriptTool, StopsAScriptBeyondItsMemoryLimit) {
  // x doubled 26 times would be 1 Gi characters.
  std::string script = "[{\"set\": {\"name\": \"x\", \"value\": \"0123456789abcdef\"}}";
  for (int i = 0; i < 26; ++i) {
    script +=
        ", {\"set\": {\"name\": \"x\", \"value\": [{\"get\": {\"name\": \"x\"}}, "
        "{\"get\": {\"name\": \"x\"}}]}}";
  }
  script += "]";
  Result r = RunTool("--memory-limit 32", script);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error 7: Out of memory\n");
  r = RunTool("--memory-limit 0", "[]");
  EXPECT_EQ(r.status, 2);
}
