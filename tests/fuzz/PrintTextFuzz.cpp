// Receipt markup lines of any content: PrintText fails only where CheckText says it will,
// and its bytes read back without trouble.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "printing/EscPosReader.h"
#include "printing/Printers.h"
#include "printing/RecordingDestination.h"
#include "printing/clsPrint.h"
#include "runtime/Text.h"

using namespace kestrola;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto recording = std::make_shared<RecordingDestination>();
  static std::shared_ptr<Printer> printer = [] {
    auto p = std::make_shared<Printer>(u"Fuzz", recording);
    Printers::SetInstalledForTesting(std::vector<std::shared_ptr<Printer>>{p});
    return p;
  }();
  clsPrint print;
  if (!print.setPrinter(u"Fuzz")) std::abort();
  std::u16string line = Text::FromUtf8(std::string(reinterpret_cast<const char*>(data), size));
  auto predicted = clsPrint::CheckText(line);
  bool failed = false;
  try {
    print.PrintText(line);
  } catch (const Error& e) {
    failed = true;
    if (!predicted || predicted->Number() != e.Number()) std::abort();
  }
  if (failed != predicted.has_value()) std::abort();
  EscPosReader::Read(printer->PendingDocument().bytes);
  print.EndDoc();
  // The recording keeps every document; only this run's is of interest.
  recording->documents.clear();
  return 0;
}
