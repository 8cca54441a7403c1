// Any bytes in today's log file: LeerLog frames each line with carriage returns and keeps no
// line feed, and a line appended afterwards reads back whole after the old text.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/Text.h"

using namespace kestrola;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::u16string file = [] {
    const std::string dir = "/tmp/kestrola-log-fuzz-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    Application::SetPath(Text::FromUtf8(dir));
    const auto fixed = std::chrono::system_clock::time_point(std::chrono::hours(490000));
    Log::SetClock([fixed] { return fixed; });
    return Log::NombreArchivo(fixed);
  }();
  const std::string path = Text::ToUtf8(file);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::u16string before = Log::LeerLog();
  size_t returns = 0;
  for (char16_t c : before) {
    if (c == u'\n') std::abort();
    if (c == u'\r') ++returns;
  }
  if (returns % 2 != 0) std::abort();

  // A file that ends with a line end (or is empty) takes the next line on a line of its own.
  const bool ended = size == 0 || data[size - 1] == '\n' || data[size - 1] == '\r';
  if (ended) {
    Log::EscribirLog(u"fuzz line");
    const std::u16string after = Log::LeerLog();
    const std::u16string expected =
        before + u"\r" +
        Log::FechaHora(std::chrono::system_clock::time_point(std::chrono::hours(490000))) +
        u"fuzz line\r";
    if (after != expected) std::abort();
  }
  std::remove(path.c_str());
  return 0;
}
