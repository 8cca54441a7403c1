#pragma once

#include <optional>
#include <string>
#include <vector>

#include "printing/PrintDestination.h"

namespace kestrola {

// Submits each document as one raw job to a queue of the CUPS server (CUPS_SERVER, or the
// server set with cupsSetServer, or the local default). A document counts as delivered once
// the scheduler has accepted the job. A queue that is stopped or rejects jobs fails the send
// before anything is submitted. Every exchange with the scheduler has a time-out.
class CupsDestination : public PrintDestination {
 public:
  static constexpr int kTimeoutMs = 5000;

  explicit CupsDestination(std::string queue) : queue_(std::move(queue)) {}
  void Send(const PrintDocument& document) override;
  void Probe(const std::u16string& printerName) override;
  std::u16string Uri() const override;

  // The destination names of the CUPS server ("queue" or "queue/instance"), in the server's
  // order. Empty, quickly, when no server answers a connection; nothing when a server
  // accepted the connection but did not answer within the time-out (then which queues exist
  // is unknown).
  static std::optional<std::vector<std::string>> Enumerate(int timeoutMs = 2000);

 private:
  // Throws the failure of a queue that would not print a job now.
  void CheckQueue(void* http, const std::u16string& printerName) const;
  std::string queue_;
};

}  // namespace kestrola
