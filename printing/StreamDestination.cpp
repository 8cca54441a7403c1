#include "printing/StreamDestination.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola {

namespace {

using Clock = std::chrono::steady_clock;

// Flushes what the system still holds for the file or device. Devices and pipes that keep no
// such data say so (EINVAL, EROFS), which is no failure.
bool Flush(int fd, Clock::time_point deadline) {
  if (::isatty(fd)) {
    // A serial printer: wait until the line has sent everything, within the time-out.
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
      if (MsLeft(deadline) == 0) {
        errno = ETIMEDOUT;
        return false;
      }
      ::poll(nullptr, 0, 10);
    }
    return true;
  }
  if (::fsync(fd) == 0) return true;
  return errno == EINVAL || errno == EROFS || errno == ENOTSUP;
}

}  // namespace

void ThrowPrinterFailure(const std::u16string& printer, const std::string& cause) {
  throw Error(kErrPrinter, u"Printer", u"Printer \"" + printer + u"\": " + Text::FromUtf8(cause));
}

void StreamDestination::Send(const PrintDocument& document) {
  const Clock::time_point deadline = Clock::now() + timeout_;
  // Non-blocking, so that a device that takes nothing (a printer that is off, a pipe nobody
  // reads) fails within the time-out instead of holding the cycle.
  int flags = mode_ == Mode::AppendFile ? (O_WRONLY | O_APPEND | O_CREAT)
                                        : (O_WRONLY | O_NOCTTY | O_NONBLOCK);
  UniqueFd fd(::open(path_.c_str(), flags | O_CLOEXEC, 0644));
  if (!fd.Valid()) {
    ThrowPrinterFailure(document.printerName, "cannot open " + path_ + ": " + std::strerror(errno));
  }
  // An appended file that fails half-way is cut back to where it was, so that it never ends
  // with part of a receipt that will be printed again whole.
  struct stat st {};
  const bool regular = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode);
  const off_t before = regular ? st.st_size : 0;
  int err = WriteAll(fd.Get(), document.bytes, deadline).error;
  if (err == 0 && !Flush(fd.Get(), deadline)) err = errno;
  if (err != 0 && regular && mode_ == Mode::AppendFile) (void)::ftruncate(fd.Get(), before);
  const int closeErr = fd.Close();
  if (err == 0) err = closeErr;
  if (err != 0) {
    ThrowPrinterFailure(
        document.printerName,
        (err == ETIMEDOUT ? path_ + " took no data for " + std::to_string(timeout_.count()) + " ms"
                          : "cannot write " + path_ + ": " + std::strerror(err)));
  }
}

void StreamDestination::Probe(const std::u16string& printerName) {
  if (mode_ == Mode::AppendFile) {
    // The file opens for appending, or can be created in its folder; nothing is written.
    if (UniqueFd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)).Valid()) return;
    std::string folder = path_.substr(0, path_.find_last_of('/') + 1);
    if (folder.empty()) folder = ".";
    if (errno == ENOENT && ::access(folder.c_str(), W_OK) == 0) return;
    ThrowPrinterFailure(printerName, "cannot open " + path_ + ": " + std::strerror(errno));
  }
  if (!UniqueFd(::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)).Valid())
    ThrowPrinterFailure(printerName, "cannot open " + path_ + ": " + std::strerror(errno));
}

std::u16string StreamDestination::Uri() const {
  return Text::FromUtf8((mode_ == Mode::AppendFile ? "file:" : "dev:") + path_);
}

}  // namespace kestrola
