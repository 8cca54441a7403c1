#pragma once

#include <string>
#include <vector>

#include "printing/PrintDestination.h"
#include "runtime/Error.h"

namespace kestrola {

// Keeps every document sent to it; for tests. It can be told to fail the next sends.
class RecordingDestination : public PrintDestination {
 public:
  void Send(const PrintDocument& document) override {
    if (failSends) {
      throw Error(kErrPrinter, u"Printer",
                  u"Printer \"" + document.printerName + u"\": recording destination refused");
    }
    documents.push_back(document);
  }
  void Probe(const std::u16string& printerName) override {
    if (failSends) {
      throw Error(kErrPrinter, u"Printer",
                  u"Printer \"" + printerName + u"\": recording destination refused");
    }
  }
  std::u16string Uri() const override { return u"recording:"; }

  std::vector<PrintDocument> documents;
  bool failSends = false;
};

}  // namespace kestrola
