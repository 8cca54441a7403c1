#include "printing/DirDestination.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "printing/StreamDestination.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
std::mutex gPreviewMutex;
DirDestination::PreviewWriter gPreviewWriter;

std::string Stamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d-%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms.count()));
  return buf;
}
}  // namespace

void DirDestination::SetPreviewWriter(PreviewWriter writer) {
  std::lock_guard lock(gPreviewMutex);
  gPreviewWriter = std::move(writer);
}

void DirDestination::Send(const PrintDocument& document) {
  // Claim a new file name; an existing file is never overwritten.
  std::string base;
  int fd = -1;
  const std::string stamp = Stamp();
  for (int n = 1; n < 10000 && fd < 0; ++n) {
    base = folder_ + "/" + stamp + "-" + std::to_string(n);
    fd = ::open((base + ".bin").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    ThrowPrinterFailure(document.printerName,
                        "cannot create a file in " + folder_ + ": " + std::strerror(errno));
  }
  bool ok = WriteAll(fd, document.bytes);
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink((base + ".bin").c_str());
    ThrowPrinterFailure(document.printerName,
                        "cannot write " + base + ".bin: " + std::strerror(err));
  }
  PreviewWriter writer;
  {
    std::lock_guard lock(gPreviewMutex);
    writer = gPreviewWriter;
  }
  lastFile_ = base + ".bin";
  if (writer) {
    // The document counts as printed once its .bin exists; a preview that cannot be drawn
    // is reported but does not fail the print, or the job would be printed twice.
    std::string cause = "preview not written";
    bool drawn = false;
    try {
      drawn = writer(document.bytes, base + ".png");
    } catch (const Error& e) {
      cause = Text::ToUtf8(e.Description());
    }
    if (!drawn) std::fprintf(stderr, "%s.png: %s\n", base.c_str(), cause.c_str());
  }
}

std::u16string DirDestination::Uri() const {
  return Text::FromUtf8("dir:" + folder_);
}

}  // namespace kestrola
