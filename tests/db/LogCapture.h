#pragma once

// Points the activity log at a fresh folder for one test and reads back what was written.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/Application.h"
#include "runtime/Text.h"
#include "tests/support/TempDir.h"

namespace kestrola {

class LogCapture {
 public:
  explicit LogCapture(const std::string& name) : dir_("dblog", name) {
    previous_ = Application::Path();
    Application::SetPath(Text::FromUtf8(dir_.string()));
  }
  ~LogCapture() { Application::SetPath(previous_); }

  // Every line written so far (UTF-8, without line ends), over all log files of the folder.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
      }
    }
    return lines;
  }
  std::string All() const {
    std::string text;
    for (const auto& l : Lines()) text += l + "\n";
    return text;
  }

 private:
  testing::TempDir dir_;
  std::u16string previous_;
};

}  // namespace kestrola
