#include "tools/support/ToolInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace kestrola::tools {

bool ReadInput(const std::string& path, std::string& bytes, std::string& error) {
  const bool standardInput = path.empty() || path == "-";
  const std::string name = standardInput ? std::string("standard input") : path;
  auto fail = [&](int number) {
    error = "cannot read " + name + ": " + std::strerror(number);
    return false;
  };
  int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (!standardInput) ::close(fd);
    return fail(EISDIR);
  }
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  int readError = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      readError = errno;
      break;
    }
  }
  if (!standardInput) ::close(fd);
  return readError == 0 || fail(readError);
}

bool ParseMebibytes(const char* text, size_t& bytes) {
  size_t mib = 0;
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, mib);
  if (ec != std::errc() || ptr != end || mib < 1 || mib > (SIZE_MAX >> 21)) return false;
  bytes = mib << 20;
  return true;
}

bool TakeCommonOption(int argc, char** argv, int& i, CommonOptions& options) {
  const char* arg = argv[i];
  if (std::strcmp(arg, "--memory-limit") == 0) {
    return i + 1 < argc && ParseMebibytes(argv[++i], options.memoryLimit);
  }
  if ((arg[0] == '-' && arg[1] != '\0') || options.file) return false;
  options.file = arg;
  return true;
}

void StripByteOrderMark(std::string& bytes) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
}

}  // namespace kestrola::tools
