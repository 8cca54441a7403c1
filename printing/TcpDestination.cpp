#include "printing/TcpDestination.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "printing/StreamDestination.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::mutex gDefaultsMutex;
TcpDestination::Timeouts gDefaults;

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

struct Address {
  int family, type, protocol;
  sockaddr_storage addr;
  socklen_t len;
};

// The addresses of host:port. getaddrinfo has no time-out of its own, so it runs on a thread
// of its own; when it takes too long the thread is left to finish alone and the result is
// dropped.
std::vector<Address> Resolve(const std::string& host, int port, milliseconds timeout,
                             std::string& cause) {
  struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    std::vector<Address> addresses;
  };
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::vector<Address> addresses;
    for (addrinfo* a = rc == 0 ? found : nullptr; a; a = a->ai_next) {
      Address addr{a->ai_family, a->ai_socktype, a->ai_protocol, {}, a->ai_addrlen};
      std::memcpy(&addr.addr, a->ai_addr, a->ai_addrlen);
      addresses.push_back(addr);
    }
    if (found) ::freeaddrinfo(found);
    std::lock_guard lock(lookup->mutex);
    lookup->rc = rc;
    lookup->addresses = std::move(addresses);
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  std::unique_lock lock(lookup->mutex);
  if (!lookup->done.wait_for(lock, timeout, [&] { return lookup->finished; })) {
    cause = "name resolution timed out after " + std::to_string(timeout.count()) + " ms";
    return {};
  }
  if (lookup->rc != 0) {
    cause = ::gai_strerror(lookup->rc);
    return {};
  }
  if (lookup->addresses.empty()) cause = "no address";
  return lookup->addresses;
}

// A connected non-blocking socket to host:port within the time-outs, or none with the cause.
UniqueFd Connect(const std::string& host, int port, const TcpDestination::Timeouts& t,
                 Clock::time_point deadline, std::string& cause) {
  const std::string where = host + ":" + std::to_string(port);
  milliseconds resolveFor = std::min(t.resolve, milliseconds(MsLeft(deadline)));
  std::vector<Address> addresses = Resolve(host, port, resolveFor, cause);
  if (addresses.empty()) {
    cause = "cannot resolve " + where + ": " + cause;
    return UniqueFd();
  }
  std::string why = "no address";
  for (const Address& a : addresses) {
    UniqueFd fd(::socket(a.family, a.type | SOCK_CLOEXEC | SOCK_NONBLOCK, a.protocol));
    if (!fd.Valid()) {
      why = std::strerror(errno);
      continue;
    }
    int err = 0;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a.addr), a.len) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        int wait = std::min(static_cast<int>(t.connect.count()), MsLeft(deadline));
        err = WaitReady(fd.Get(), POLLOUT, wait);
        if (err == 0) {
          socklen_t len = sizeof err;
          ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
        }
      }
    }
    if (err == 0) return fd;
    why = err == ETIMEDOUT ? "connection timed out" : std::strerror(err);
  }
  cause = "cannot connect to " + where + ": " + why;
  return UniqueFd();
}

// Bytes sent on the socket that the peer has not acknowledged yet; -1 when unknown.
int Unacknowledged(int fd) {
  int n = 0;
  return ::ioctl(fd, SIOCOUTQ, &n) == 0 ? n : -1;
}

int PendingError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
  return err;
}

// Hands every byte of the document to the socket within the deadline.
void SendAll(int fd, const PrintDocument& document, const std::string& where,
             Clock::time_point deadline) {
  WriteOutcome sent = WriteAll(fd, document.bytes, deadline);
  if (sent.error == ETIMEDOUT) {
    ThrowPrinterFailure(document.printerName,
                        "printer " + where + " took " + std::to_string(sent.written) + " of " +
                            std::to_string(document.bytes.size()) + " bytes and stopped reading");
  }
  if (sent.error != 0) {
    ThrowPrinterFailure(document.printerName,
                        "cannot send to " + where + ": " + std::strerror(sent.error));
  }
}

[[noreturn]] void Lost(const PrintDocument& document, const std::string& where, int err) {
  ThrowPrinterFailure(document.printerName,
                      "connection to " + where + " lost: " + std::strerror(err));
}

// Every byte is in our socket buffers, which does not mean the printer has it: the document
// is delivered once the printer has acknowledged every byte. A printer with its paper out
// holds the connection with its receive window closed; that is a failure, not a delivery.
void AwaitAcknowledgement(int fd, const PrintDocument& document, const std::string& where,
                          Clock::time_point deadline) {
  while (true) {
    int err = PendingError(fd);
    if (err != 0) Lost(document, where, err);
    int left = Unacknowledged(fd);
    if (left == 0) return;
    if (MsLeft(deadline) == 0) {
      ThrowPrinterFailure(document.printerName,
                          "printer " + where + " did not acknowledge " +
                              (left > 0 ? std::to_string(left) + " of " : std::string("part of ")) +
                              std::to_string(document.bytes.size()) + " bytes");
    }
    // The wait ends early when the printer closes or resets the connection.
    pollfd p{fd, POLLRDHUP, 0};
    ::poll(&p, 1, std::min(10, MsLeft(deadline)));
    if (p.revents & (POLLERR | POLLHUP)) {
      err = PendingError(fd);
      Lost(document, where, err != 0 ? err : ECONNRESET);
    }
    // The printer ended its side but may still read: no busy wait for its acknowledgements.
    if (p.revents & POLLRDHUP) ::poll(nullptr, 0, std::min(10, MsLeft(deadline)));
  }
}

// The end of the document is announced. A printer that took the bytes into its buffers but
// dropped the connection without reading them answers with a reset; one that closes, or
// keeps the connection open until `lingerEnd`, got the whole document.
void AwaitClose(int fd, const PrintDocument& document, const std::string& where,
                Clock::time_point lingerEnd) {
  ::shutdown(fd, SHUT_WR);
  while (true) {
    int wait = MsLeft(lingerEnd);
    if (wait == 0) break;
    int err = WaitReady(fd, POLLIN, wait);
    if (err == ETIMEDOUT) break;
    char reply[512];
    ssize_t n = err == 0 ? ::recv(fd, reply, sizeof reply, 0) : -1;
    if (n == 0) break;    // the printer closed after reading everything
    if (n > 0) continue;  // status bytes of the printer, not needed
    if (err == 0) err = errno;
    if (err == EINTR || err == EAGAIN || err == EWOULDBLOCK) continue;
    Lost(document, where, err);
  }
  int err = PendingError(fd);
  if (err != 0) Lost(document, where, err);
}

}  // namespace

void TcpDestination::SetDefaultTimeouts(const Timeouts& timeouts) {
  std::lock_guard lock(gDefaultsMutex);
  gDefaults = timeouts;
}

TcpDestination::Timeouts TcpDestination::DefaultTimeouts() {
  std::lock_guard lock(gDefaultsMutex);
  return gDefaults;
}

void TcpDestination::Send(const PrintDocument& document) {
  const std::string where = host_ + ":" + std::to_string(port_);
  const Clock::time_point deadline = Clock::now() + timeouts_.total;
  std::string cause;
  UniqueFd sock = Connect(host_, port_, timeouts_, deadline, cause);
  if (!sock.Valid()) ThrowPrinterFailure(document.printerName, cause);
  SendAll(sock.Get(), document, where, deadline);
  AwaitAcknowledgement(sock.Get(), document, where, deadline);
  AwaitClose(sock.Get(), document, where, std::min(deadline, Clock::now() + timeouts_.linger));
}

void TcpDestination::Probe(const std::u16string& printerName) {
  std::string cause;
  if (!Connect(host_, port_, timeouts_, Clock::now() + timeouts_.total, cause).Valid()) {
    ThrowPrinterFailure(printerName, cause);
  }
}

std::u16string TcpDestination::Uri() const {
  return Text::FromUtf8("tcp://" + host_ + ":" + std::to_string(port_));
}

}  // namespace kestrola
