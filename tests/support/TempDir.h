#pragma once

// A folder of the running test's own: <temp>/kestrola-<tag>-<pid>-<test name>. It is made
// empty when created (a crashed earlier run may have left it) and removed with everything in
// it when the TempDir goes. As a fixture member it lives exactly as long as one test, longer
// than the fixture's SetUp and TearDown.
//
//   class IniTest : public ::testing::Test {
//     TempDir dir_{"ini"};   // dir_ / "config.ini", dir_.string(), fs::exists(dir_), ...
//   };

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace kestrola::testing {

// The name of the running test ("" outside a test).
inline std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info != nullptr ? info->name() : "";
}

class TempDir {
 public:
  explicit TempDir(std::string_view tag, const std::string& name = CurrentTestName())
      : path_(std::filesystem::temp_directory_path() /
              ("kestrola-" + std::string(tag) + "-" + std::to_string(getpid()) + "-" + name)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    // A folder that cannot be removed fails the test (the next run would find it), but never
    // throws out of a destructor.
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) ADD_FAILURE() << "cannot remove " << path_ << ": " << error.message();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empties the folder, for a test that starts over within itself.
  void Clear() const {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }

  const std::filesystem::path& path() const { return path_; }
  operator const std::filesystem::path&() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& child) const {
    return path_ / child;
  }
  std::string string() const { return path_.string(); }
  const char* c_str() const { return path_.c_str(); }

 private:
  std::filesystem::path path_;
};

// The whole content of a file, as bytes ("" when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestrola::testing
