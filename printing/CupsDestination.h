#pragma once

#include <string>
#include <vector>

#include "printing/PrintDestination.h"

namespace kestrola {

// Submits each document as one raw job to a queue of the CUPS server (CUPS_SERVER, or the
// server set with cupsSetServer, or the local default).
class CupsDestination : public PrintDestination {
 public:
  explicit CupsDestination(std::string queue) : queue_(std::move(queue)) {}
  void Send(const PrintDocument& document) override;
  std::u16string Uri() const override;

  // The destination names of the CUPS server ("queue" or "queue/instance"), in the server's
  // order. Empty, quickly, when no server answers.
  static std::vector<std::string> Enumerate(int connectTimeoutMs = 1000);

 private:
  std::string queue_;
};

}  // namespace kestrola
