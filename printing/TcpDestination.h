#pragma once

#include <chrono>
#include <string>

#include "printing/PrintDestination.h"

namespace kestrola {

// Sends each document over one TCP connection to a raw printer port (usually 9100).
// A document counts as delivered only once the printer has acknowledged every byte; a
// refused, unresolvable, timed-out, reset or stalled connection is an error of the send.
class TcpDestination : public PrintDestination {
 public:
  // Bounds of one send. The whole send, name resolution and connection included, ends within
  // `total`.
  struct Timeouts {
    std::chrono::milliseconds resolve{2000};
    std::chrono::milliseconds connect{3000};
    std::chrono::milliseconds total{9000};
    // After every byte is acknowledged, how long to wait for the printer's own close, which
    // shows whether it dropped the document after taking it into its buffers.
    std::chrono::milliseconds linger{1000};
  };
  // The bounds new destinations get (shortened by tests).
  static void SetDefaultTimeouts(const Timeouts& timeouts);
  static Timeouts DefaultTimeouts();

  TcpDestination(std::string host, int port)
      : TcpDestination(std::move(host), port, DefaultTimeouts()) {}
  TcpDestination(std::string host, int port, const Timeouts& timeouts)
      : host_(std::move(host)), port_(port), timeouts_(timeouts) {}
  void Send(const PrintDocument& document) override;
  void Probe(const std::u16string& printerName) override;
  std::u16string Uri() const override;

 private:
  std::string host_;
  int port_;
  Timeouts timeouts_;
};

}  // namespace kestrola
