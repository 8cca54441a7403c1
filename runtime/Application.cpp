#include "runtime/Application.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "runtime/Text.h"
#include "runtime/UserInterface.h"

namespace kestrola::Application {

namespace {
std::string SelfExe() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Message boxes go to standard error as one line; input boxes read one line of standard input.
class ConsoleUserInterface : public UserInterface {
 public:
  void MessageBox(const std::u16string& text, MessageIcon, const std::u16string& caption) override {
    std::string line = Text::ToUtf8(caption.empty() ? text : caption + u": " + text);
    for (auto& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    std::cerr << line << std::endl;
  }
  std::u16string InputBox(const std::u16string& prompt, const std::u16string&,
                          const std::u16string&) override {
    std::string line = Text::ToUtf8(prompt);
    std::cerr << line << std::endl;
    std::string answer;
    if (!std::getline(std::cin, answer)) return u"";
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return Text::FromUtf8(answer);
  }
};

std::mutex gMutex;
std::u16string* gPath = nullptr;
std::u16string* gDataPath = nullptr;
UserInterface* gUi = nullptr;
}  // namespace

std::u16string EXEName() {
  std::string exe = SelfExe();
  auto slash = exe.rfind('/');
  std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return Text::FromUtf8(name);
}

// Callers hold gMutex.
static std::u16string ProgramFolder() {
  if (gPath) return *gPath;
  std::string exe = SelfExe();
  auto slash = exe.rfind('/');
  std::string dir =
      slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
  return Text::FromUtf8(dir);
}

std::u16string Path() {
  std::lock_guard lock(gMutex);
  return ProgramFolder();
}

std::u16string DataPath() {
  std::lock_guard lock(gMutex);
  return gDataPath ? *gDataPath : ProgramFolder();
}

void SetDataPath(std::u16string path) {
  std::lock_guard lock(gMutex);
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  delete gDataPath;
  gDataPath = path.empty() ? nullptr : new std::u16string(std::move(path));
}

void SetPath(std::u16string path) {
  std::lock_guard lock(gMutex);
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  delete gPath;
  gPath = new std::u16string(std::move(path));
}

UserInterface& Ui() {
  static ConsoleUserInterface console;
  std::lock_guard lock(gMutex);
  return gUi ? *gUi : console;
}

void SetUi(UserInterface* ui) {
  std::lock_guard lock(gMutex);
  gUi = ui;
}

}  // namespace kestrola::Application
