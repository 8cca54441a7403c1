#include "printing/StreamDestination.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

void ThrowPrinterFailure(const std::u16string& printer, const std::string& cause) {
  throw Error(kErrPrinter, u"Printer", u"Printer \"" + printer + u"\": " + Text::FromUtf8(cause));
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void StreamDestination::Send(const PrintDocument& document) {
  int flags = mode_ == Mode::AppendFile ? (O_WRONLY | O_APPEND | O_CREAT) : (O_WRONLY | O_NOCTTY);
  int fd = ::open(path_.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    ThrowPrinterFailure(document.printerName, "cannot open " + path_ + ": " + std::strerror(errno));
  }
  bool ok = WriteAll(fd, document.bytes);
  int writeErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  if (!ok) {
    ThrowPrinterFailure(document.printerName,
                        "cannot write " + path_ + ": " + std::strerror(writeErrno));
  }
}

std::u16string StreamDestination::Uri() const {
  return Text::FromUtf8((mode_ == Mode::AppendFile ? "file:" : "dev:") + path_);
}

}  // namespace kestrola
