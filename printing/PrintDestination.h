#pragma once

#include <cstdint>
#include <string>

#include "printing/PrintDocument.h"

namespace kestrola {

// The run-time error number of printer failures ("Printer error").
inline constexpr int32_t kErrPrinter = 482;

// Where the documents of one printer go (a CUPS queue, a device, a socket, a file, a folder).
// Send either delivers the whole document or throws kestrola::Error naming the printer and
// the cause.
class PrintDestination {
 public:
  virtual ~PrintDestination() = default;
  virtual void Send(const PrintDocument& document) = 0;
  // The destination as written in printers.ini ("tcp://host:9100", "cups:queue", ...).
  virtual std::u16string Uri() const = 0;
};

}  // namespace kestrola
