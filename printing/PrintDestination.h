#pragma once

#include <cstdint>
#include <string>

#include "printing/PrintDocument.h"
#include "runtime/Error.h"

namespace kestrola {

// Where the documents of one printer go (a CUPS queue, a device, a socket, a file, a folder).
// Send either delivers the whole document or throws kestrola::Error naming the printer and
// the cause. Every send and probe ends within a bounded time.
class PrintDestination {
 public:
  virtual ~PrintDestination() = default;
  virtual void Send(const PrintDocument& document) = 0;
  // Checks, without printing anything, that the destination would take a document now (the
  // host accepts a connection, the device opens, the folder is writable, the queue accepts
  // jobs). Throws kestrola::Error with the cause when it would not.
  virtual void Probe(const std::u16string& printerName) = 0;
  // The destination as written in printers.ini ("tcp://host:9100", "cups:queue", ...).
  virtual std::u16string Uri() const = 0;
};

}  // namespace kestrola
