#include "printing/DirDestination.h"

#include <fcntl.h>
#include <stdio.h>
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
  // The receipt is written under a hidden working name and given its ".bin" name only once
  // every byte is on disk, so a failure or a crash half-way never leaves a partial receipt
  // that looks whole.
  const std::string stamp = Stamp();
  const std::string work = folder_ + "/." + stamp + "-" + std::to_string(::getpid()) + ".part";
  int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ThrowPrinterFailure(document.printerName,
                        "cannot create a file in " + folder_ + ": " + std::strerror(errno));
  }
  bool ok = WriteAll(fd, document.bytes) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(work.c_str());
    ThrowPrinterFailure(document.printerName, "cannot write " + work + ": " + std::strerror(err));
  }
  // Claim a new file name; an existing file is never overwritten.
  std::string base;
  bool named = false;
  for (int n = 1; n < 10000 && !named; ++n) {
    base = folder_ + "/" + stamp + "-" + std::to_string(n);
    if (::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, (base + ".bin").c_str(), RENAME_NOREPLACE) ==
        0) {
      named = true;
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (!named) {
    err = errno;
    ::unlink(work.c_str());
    ThrowPrinterFailure(document.printerName,
                        "cannot name " + base + ".bin: " + std::strerror(err));
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

void DirDestination::Probe(const std::u16string& printerName) {
  const std::string work = folder_ + "/." + Stamp() + "-" + std::to_string(::getpid()) + ".probe";
  int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    ThrowPrinterFailure(printerName,
                        "cannot create a file in " + folder_ + ": " + std::strerror(errno));
  }
  ::close(fd);
  ::unlink(work.c_str());
}

std::u16string DirDestination::Uri() const {
  return Text::FromUtf8("dir:" + folder_);
}

}  // namespace kestrola
