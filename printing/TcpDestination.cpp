#include "printing/TcpDestination.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "printing/StreamDestination.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
// Closes the socket on every path.
struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

// Waits for the socket to become ready; 0 on success, else an errno value.
int WaitReady(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return ETIMEDOUT;
  if (r < 0) return errno;
  return 0;
}
}  // namespace

void TcpDestination::Send(const PrintDocument& document) {
  const std::string where = host_ + ":" + std::to_string(port_);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found);
  if (rc != 0) {
    ThrowPrinterFailure(document.printerName,
                        "cannot resolve " + where + ": " + ::gai_strerror(rc));
  }
  Socket sock;
  std::string cause = "no address";
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      cause = std::strerror(errno);
      continue;
    }
    int err = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        err = WaitReady(fd, POLLOUT, timeoutMs_);
        if (err == 0) {
          socklen_t len = sizeof err;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        }
      }
    }
    if (err == 0) {
      sock.fd = fd;
      break;
    }
    cause = std::strerror(err);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (sock.fd < 0)
    ThrowPrinterFailure(document.printerName, "cannot connect to " + where + ": " + cause);

  size_t done = 0;
  while (done < document.bytes.size()) {
    ssize_t n =
        ::send(sock.fd, document.bytes.data() + done, document.bytes.size() - done, MSG_NOSIGNAL);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) err = WaitReady(sock.fd, POLLOUT, timeoutMs_);
    if (err != 0) {
      ThrowPrinterFailure(document.printerName,
                          "cannot send to " + where + ": " + std::strerror(err));
    }
  }
  // All bytes sit in the socket buffers now, which does not mean the printer took them: one
  // that drops the connection half-way answers the rest with a reset. The end of the document
  // is announced and the printer's own close awaited; a reset means the document did not
  // arrive whole. A printer that keeps the connection open past the time-out got every byte.
  ::shutdown(sock.fd, SHUT_WR);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    int err = WaitReady(sock.fd, POLLIN, static_cast<int>(left.count()));
    if (err == ETIMEDOUT) break;
    char reply[512];
    ssize_t n = err == 0 ? ::recv(sock.fd, reply, sizeof reply, 0) : -1;
    if (n == 0) {
      // The printer closed. It took the whole document only when every byte was acknowledged
      // (at most our own end-of-document mark may still be outstanding): a printer that closed
      // early answered the rest with a reset, or has not acknowledged it.
      int unacknowledged = 0;
      int pending = 0;
      socklen_t len = sizeof pending;
      ::ioctl(sock.fd, SIOCOUTQ, &unacknowledged);
      ::getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &pending, &len);
      if (pending != 0 || unacknowledged > 1) {
        ThrowPrinterFailure(document.printerName,
                            "connection to " + where + " closed before the whole document arrived");
      }
      break;
    }
    if (n > 0) continue;  // status bytes of the printer, not needed
    if (err == 0) err = errno;
    if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK) continue;
    ThrowPrinterFailure(document.printerName,
                        "connection to " + where + " lost: " + std::strerror(err));
  }
}

std::u16string TcpDestination::Uri() const {
  return Text::FromUtf8("tcp://" + host_ + ":" + std::to_string(port_));
}

}  // namespace kestrola
