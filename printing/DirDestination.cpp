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
#include "runtime/UniqueFd.h"

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

// Writes the document under the hidden working name `work` and flushes it to disk.
void WriteWorkFile(const PrintDocument& document, const std::string& folder,
                   const std::string& work) {
  UniqueFd fd(::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.Valid()) {
    ThrowPrinterFailure(document.printerName,
                        "cannot create a file in " + folder + ": " + std::strerror(errno));
  }
  int err = WriteAll(fd.Get(), document.bytes).error;
  if (err == 0 && ::fsync(fd.Get()) != 0) err = errno;
  const int closeErr = fd.Close();
  if (err == 0) err = closeErr;
  if (err != 0) {
    ::unlink(work.c_str());
    ThrowPrinterFailure(document.printerName, "cannot write " + work + ": " + std::strerror(err));
  }
}

// Gives the working file the first free name "<stamp>-<n>.bin" of the folder and returns the
// name without ".bin"; an existing file is never overwritten.
std::string ClaimName(const PrintDocument& document, const std::string& folder,
                      const std::string& stamp, const std::string& work) {
  std::string base;
  for (int n = 1; n < 10000; ++n) {
    base = folder + "/" + stamp + "-" + std::to_string(n);
    if (::renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, (base + ".bin").c_str(), RENAME_NOREPLACE) ==
        0) {
      return base;
    }
    if (errno != EEXIST) break;
  }
  int err = errno;
  ::unlink(work.c_str());
  ThrowPrinterFailure(document.printerName, "cannot name " + base + ".bin: " + std::strerror(err));
}

// Draws the preview picture beside the receipt. The document counts as printed once its .bin
// exists; a preview that cannot be drawn is reported but does not fail the print, or the job
// would be printed twice.
void WritePreview(const PrintDocument& document, const std::string& base) {
  DirDestination::PreviewWriter writer;
  {
    std::lock_guard lock(gPreviewMutex);
    writer = gPreviewWriter;
  }
  if (!writer) return;
  std::string cause = "preview not written";
  bool drawn = false;
  try {
    drawn = writer(document.bytes, base + ".png");
  } catch (const Error& e) {
    cause = Text::ToUtf8(e.Description());
  }
  if (!drawn) std::fprintf(stderr, "%s.png: %s\n", base.c_str(), cause.c_str());
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
  WriteWorkFile(document, folder_, work);
  const std::string base = ClaimName(document, folder_, stamp, work);
  lastFile_ = base + ".bin";
  WritePreview(document, base);
}

void DirDestination::Probe(const std::u16string& printerName) {
  const std::string work = folder_ + "/." + Stamp() + "-" + std::to_string(::getpid()) + ".probe";
  if (!UniqueFd(::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)).Valid()) {
    ThrowPrinterFailure(printerName,
                        "cannot create a file in " + folder_ + ": " + std::strerror(errno));
  }
  ::unlink(work.c_str());
}

std::u16string DirDestination::Uri() const {
  return Text::FromUtf8("dir:" + folder_);
}

}  // namespace kestrola
