#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrola {

// Owns one file descriptor or socket and closes it when it goes out of scope, so that no
// error path leaks it. Close() closes it early and says whether the system accepted the
// close: for a file just written, a failed close can mean lost data.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (its close error is ignored) and takes `fd` instead.
  void Reset(int fd = -1) noexcept;
  // Closes the descriptor now: 0, or the errno value of a failed close. Nothing held gives 0.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

// The milliseconds left before `deadline` (0 once it has passed), as poll takes them.
int MsLeft(std::chrono::steady_clock::time_point deadline);

// The outcome of WriteAll: how many bytes were written, and 0 or the errno value that stopped
// the write (ETIMEDOUT when the deadline passed first).
struct WriteOutcome {
  size_t written = 0;
  int error = 0;
  explicit operator bool() const { return error == 0; }
};

// Writes every byte of `bytes` to `fd`: an interrupted write is resumed and a partial one
// continued. A descriptor in non-blocking mode that has no room waits for it until `deadline`;
// without a deadline that is a failure (EAGAIN), so no call waits without a bound. A socket is
// written without raising SIGPIPE: a peer that went away is the error EPIPE.
WriteOutcome WriteAll(int fd, std::string_view bytes,
                      std::optional<std::chrono::steady_clock::time_point> deadline = {});

}  // namespace kestrola
