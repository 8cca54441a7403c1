// The command-line tools as a user runs them: exit status, standard error and the files they
// leave.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using kestrola::testing::ReadFile;

struct Result {
  int status = -1;  // -1: killed by a signal
  std::string out;
  std::string err;
};

class ToolsTest : public ::testing::Test {
 protected:
  // Runs `tool` (a path below the build folder) with `args` in the test's folder.
  Result Run(const std::string& tool, const std::string& args, const std::string& input = "") {
    std::ofstream(dir_ / "stdin", std::ios::binary) << input;
    std::string cmd = "cd " + dir_.string() + " && " + std::string(KESTROLA_BINARY_DIR) + "/" +
                      tool + " " + args + " < stdin > stdout 2> stderr";
    int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir_ / "stdout");
    r.err = ReadFile(dir_ / "stderr");
    return r;
  }

  kestrola::testing::TempDir dir_{"tools"};
};

const char* const kTools[] = {"jsonbag", "tools/jsonscript/jsonscript", "receipt-preview"};

TEST_F(ToolsTest, AFolderOrAMissingFileIsAClearErrorWithStatus2) {
  fs::create_directory(dir_ / "adir");
  for (const char* tool : kTools) {
    SCOPED_TRACE(tool);
    Result r = Run(tool, "adir");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read adir: Is a directory"), std::string::npos) << r.err;
    r = Run(tool, "absent.json");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot read absent.json: No such file or directory"), std::string::npos)
        << r.err;
  }
  // Nothing was written for the folder.
  EXPECT_TRUE(fs::is_empty(dir_ / "adir"));
  EXPECT_FALSE(fs::exists(dir_ / "adir.bin"));
}

TEST_F(ToolsTest, ReceiptPreviewRefusesAFolderAsOutputName) {
  std::ofstream(dir_ / "job.txt") << "<B>TOTAL 2,50</B>\n<CORTE>\n";
  fs::create_directory(dir_ / "adir");
  for (const char* output : {"adir/", ".", "adir/..", "adir/."}) {
    SCOPED_TRACE(output);
    Result r = Run("receipt-preview", std::string("job.txt -o ") + output);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is a folder, not a file name"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir_ / "adir"));
  // A job file whose name starts with a dot keeps that name for its receipt.
  fs::copy_file(dir_ / "job.txt", dir_ / "adir" / ".hidden");
  Result r = Run("receipt-preview", "adir/.hidden");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "adir" / ".hidden.bin"));
  // The output name may name a file inside a folder.
  r = Run("receipt-preview", "job.txt -o adir/receipt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(fs::file_size(dir_ / "adir" / "receipt.bin"), 0u);
  EXPECT_TRUE(fs::exists(dir_ / "adir" / "receipt.png"));
}

TEST_F(ToolsTest, JsonbagStopsADocumentBeyondItsMemoryLimit) {
  // 300,000 one-item arrays: 1.2 MB of text, far more as a document.
  std::string many = "[[1]";
  for (int i = 1; i < 300000; ++i) many += ",[1]";
  many += "]";
  Result r = Run("jsonbag", "--memory-limit 8", many);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error 7: Out of memory\n");
  EXPECT_EQ(r.out, "");
  r = Run("jsonbag", "--memory-limit 8", "{\"a\": [1, 2]}");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"a\":[1,2]}\n");
  for (const char* bad : {"--memory-limit 0", "--memory-limit x", "--memory-limit"}) {
    EXPECT_EQ(Run("jsonbag", bad, "[]").status, 2) << bad;
  }
}

TEST_F(ToolsTest, JsonToolsShareTheirCommandLine) {
  std::ofstream(dir_ / "a.json") << "[\"a\"]";
  struct Tool {
    const char* path;
    const char* output;  // of ["a"]
  } tools[] = {{"jsonbag", "[\"a\"]\n"}, {"tools/jsonscript/jsonscript", "a"}};
  for (const Tool& tool : tools) {
    SCOPED_TRACE(tool.path);
    // A file or standard input ("-" or nothing), with a byte-order mark or without, and the
    // memory limit before or after the file.
    for (const char* args :
         {"a.json", "-", "", "--memory-limit 64 a.json", "a.json --memory-limit 64"}) {
      Result r = Run(tool.path, args, "\xEF\xBB\xBF[\"a\"]");
      EXPECT_EQ(r.status, 0) << args << ": " << r.err;
      EXPECT_EQ(r.out, tool.output) << args;
    }
    // Two files are refused, even when the first is an empty name.
    for (const char* bad : {"--memory-limit 0", "--memory-limit x", "--memory-limit", "--nope",
                            "a.json a.json", "'' a.json", "- a.json"}) {
      Result r = Run(tool.path, bad, "[\"a\"]");
      EXPECT_EQ(r.status, 2) << bad;
      EXPECT_EQ(r.out, "") << bad;
    }
  }
}

}  // namespace
