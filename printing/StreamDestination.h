#pragma once

#include <chrono>
#include <string>

#include "printing/PrintDestination.h"

namespace kestrola {

// Writes each document to a file: appended to a "file:" path (created when missing), or
// written to a "dev:" device that must already exist. A document counts as delivered once
// every byte is written and flushed and the file closed without error; a device that takes
// no bytes for `timeout` fails the send.
class StreamDestination : public PrintDestination {
 public:
  enum class Mode { AppendFile, Device };
  static constexpr std::chrono::milliseconds kTimeout{8000};

  StreamDestination(std::string path, Mode mode, std::chrono::milliseconds timeout = kTimeout)
      : path_(std::move(path)), mode_(mode), timeout_(timeout) {}
  void Send(const PrintDocument& document) override;
  void Probe(const std::u16string& printerName) override;
  std::u16string Uri() const override;

 private:
  std::string path_;
  Mode mode_;
  std::chrono::milliseconds timeout_;
};

// Raises the error of a destination that could not take a document.
[[noreturn]] void ThrowPrinterFailure(const std::u16string& printer, const std::string& cause);

}  // namespace kestrola
