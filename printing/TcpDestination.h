#pragma once

#include <string>

#include "printing/PrintDestination.h"

namespace kestrola {

// Sends each document over one TCP connection to a raw printer port (usually 9100).
// A refused, timed-out or broken connection is an error of the send.
class TcpDestination : public PrintDestination {
 public:
  TcpDestination(std::string host, int port, int timeoutMs = 5000)
      : host_(std::move(host)), port_(port), timeoutMs_(timeoutMs) {}
  void Send(const PrintDocument& document) override;
  std::u16string Uri() const override;

 private:
  std::string host_;
  int port_;
  int timeoutMs_;
};

}  // namespace kestrola
