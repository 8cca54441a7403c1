// Any printers.ini text: every listed printer has a name and a destination, a tcp:// address
// that is accepted has a host and a port in range, and an unusable URI gives a destination
// that names it.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "printing/Printers.h"
#include "printing/TcpDestination.h"
#include "runtime/Text.h"

using namespace kestrola;

namespace {
void CheckDestination(const std::u16string& uri) {
  auto dest = Printers::DestinationFromUri(uri, u"/tmp/kestrola-fuzz-base");
  if (!dest) std::abort();
  if (dynamic_cast<TcpDestination*>(dest.get()) != nullptr) {
    // An accepted address: "tcp://HOST:PORT" with a host and the port last.
    const std::u16string shown = dest->Uri();
    auto colon = shown.rfind(u':');
    if (colon == std::u16string::npos || colon <= 6) std::abort();
    const std::string port = Text::ToUtf8(shown.substr(colon + 1));
    const long value = std::strtol(port.c_str(), nullptr, 10);
    if (value < 1 || value > 65535) std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  for (const auto& printer : Printers::ReadPrintersIni(in)) {
    if (printer.name.empty()) std::abort();
    CheckDestination(printer.uri);
  }
  // The whole input as one URI, for the address forms the file would rarely reach.
  CheckDestination(Text::FromUtf8(text));
  return 0;
}
