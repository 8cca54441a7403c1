#pragma once

// Support for the fault tests: a print queue on the private PostgreSQL with folder printers
// (CycleTestEnv), printers.ini lines of any kind, a cycle that counts its pauses, and a
// TCP printer that can refuse, drop a connection half-way, or print.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/CicloCola.h"
#include "tests/support/CycleTestEnv.h"

namespace kestrola {

class FaultEnv : public CycleTestEnv {
 protected:
  // With KESTROLA_SHOW_LOG set, each test prints what its log says, as the window shows it.
  void TearDown() override {
    if (std::getenv("KESTROLA_SHOW_LOG") != nullptr && fs::exists(app_)) {
      std::printf("--- log ---\n%s-----------\n", LogText().c_str());
    }
    CycleTestEnv::TearDown();
  }

  // printers.ini holding exactly these NAME=URI lines.
  void WritePrinters(const std::vector<std::string>& lines) {
    std::ofstream ini(app_ / "printers.ini", std::ios::trunc);
    ini << "[Printers]\n";
    for (const auto& l : lines) ini << l << "\n";
  }

  // A cycle that does not sleep between jobs; `onPause` runs at each pause.
  static CicloCola QuickCycle(std::function<void()> onPause = {}) {
    return CicloCola([onPause](std::chrono::milliseconds) {
      if (onPause) onPause();
    });
  }

  // How many of the documents contain `text`.
  static int CountContaining(const std::vector<std::string>& docs, const std::string& text) {
    int n = 0;
    for (const auto& d : docs) n += d.find(text) != std::string::npos;
    return n;
  }

  // True when some log line contains `text`.
  bool Logged(const std::string& text) const {
    for (const auto& l : LogMessages()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Everything logged, one line each, for failure messages and the record of what an
  // operator sees.
  std::string LogText() const {
    std::string all;
    for (const auto& l : LogMessages()) all += l + "\n";
    return all;
  }
};

// A raw printer on 127.0.0.1 with small socket buffers, so that what it does not read stays
// unacknowledged. It starts bound but not listening, so connections are refused; Listen()
// opens it. In Mode::Drop it reads `dropAfter` bytes of each connection and closes it; in
// Mode::Hold it keeps each connection open and reads nothing (a printer with its paper out);
// in Mode::Slow it reads 1 KB every 2 ms; in Mode::Print it reads each connection to its end.
// Slow and Print keep the documents.
class TcpPrinter {
 public:
  enum class Mode { Drop, Print, Hold, Slow };

  TcpPrinter() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int buffer = 4096;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~TcpPrinter() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int c : held_) ::close(c);
    ::close(fd_);
  }

  int Port() const { return port_; }
  std::string Uri() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

  void SetMode(Mode mode, size_t dropAfter = 0) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    dropAfter_ = dropAfter;
  }

  void Listen() {
    ::listen(fd_, 8);
    thread_ = std::thread([this] { Serve(); });
  }

  std::vector<std::string> Documents() {
    std::lock_guard lock(mutex_);
    return documents_;
  }
  int Dropped() {
    std::lock_guard lock(mutex_);
    return dropped_;
  }
  // Connections accepted so far.
  int Connections() {
    std::lock_guard lock(mutex_);
    return connections_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      Mode mode;
      size_t dropAfter;
      {
        std::lock_guard lock(mutex_);
        mode = mode_;
        dropAfter = dropAfter_;
        ++connections_;
      }
      if (mode == Mode::Hold) {
        held_.push_back(c);
        continue;
      }
      std::string doc;
      char buffer[4096];
      const bool whole = mode == Mode::Print || mode == Mode::Slow;
      while (whole || doc.size() < dropAfter) {
        size_t want = mode == Mode::Slow    ? 1024
                      : mode == Mode::Print ? sizeof buffer
                                            : std::min(sizeof buffer, dropAfter - doc.size());
        if (mode == Mode::Slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ssize_t n = ::recv(c, buffer, want, 0);
        if (n <= 0) break;
        doc.append(buffer, static_cast<size_t>(n));
      }
      {
        // Counted before the close: the sender sees the close at once and the test may look.
        std::lock_guard lock(mutex_);
        if (whole) {
          documents_.push_back(doc);
        } else {
          ++dropped_;
        }
      }
      ::close(c);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  Mode mode_ = Mode::Print;
  size_t dropAfter_ = 0;
  std::vector<std::string> documents_;
  std::vector<int> held_;
  int dropped_ = 0;
  int connections_ = 0;
};

}  // namespace kestrola
