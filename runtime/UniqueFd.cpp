#include "runtime/UniqueFd.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrola {

void UniqueFd::Reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::Close() noexcept {
  if (fd_ < 0) return 0;
  int rc = ::close(Release());
  return rc == 0 ? 0 : errno;
}

namespace {

using Clock = std::chrono::steady_clock;

bool IsSocket(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

int MsLeft(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

WriteOutcome WriteAll(int fd, std::string_view bytes, std::optional<Clock::time_point> deadline) {
  WriteOutcome out;
  const bool socket = !bytes.empty() && IsSocket(fd);
  while (out.written < bytes.size()) {
    const char* from = bytes.data() + out.written;
    const size_t size = bytes.size() - out.written;
    ssize_t n = socket ? ::send(fd, from, size, MSG_NOSIGNAL) : ::write(fd, from, size);
    if (n > 0) {
      out.written += static_cast<size_t>(n);
      continue;
    }
    // A write of a non-empty buffer that takes nothing and reports no error would repeat
    // forever; it is reported as an input/output error.
    int err = n == 0 ? EIO : errno;
    if (err == EINTR) continue;
    if ((err != EAGAIN && err != EWOULDBLOCK) || !deadline) {
      out.error = err;
      return out;
    }
    pollfd p{fd, POLLOUT, 0};
    int wait = MsLeft(*deadline);
    int ready = wait == 0 ? 0 : ::poll(&p, 1, wait);
    if (ready == 0 || (ready < 0 && errno != EINTR)) {
      out.error = ready == 0 ? ETIMEDOUT : errno;
      return out;
    }
  }
  return out;
}

}  // namespace kestrola
