#pragma once

#include <string>

#include "printing/PrintDestination.h"

namespace kestrola {

// Writes each document to a file: appended to a "file:" path (created when missing), or
// written to a "dev:" device that must already exist.
class StreamDestination : public PrintDestination {
 public:
  enum class Mode { AppendFile, Device };
  StreamDestination(std::string path, Mode mode) : path_(std::move(path)), mode_(mode) {}
  void Send(const PrintDocument& document) override;
  std::u16string Uri() const override;

 private:
  std::string path_;
  Mode mode_;
};

// Raises the error of a destination that could not take a document.
[[noreturn]] void ThrowPrinterFailure(const std::u16string& printer, const std::string& cause);
// Writes all bytes to a file descriptor; false with errno set when that fails.
bool WriteAll(int fd, const std::string& bytes);

}  // namespace kestrola
