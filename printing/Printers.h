#pragma once

#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "printing/Printer.h"

namespace kestrola {

// The installed printers and the one process-wide current printer.
namespace Printers {

// The printers of printers.ini in the application directory (section [Printers], one
// NAME=URI line each, in file order), then the destinations of the CUPS server. The same
// name with the same URI gives the same Printer object across calls.
std::vector<std::shared_ptr<Printer>> Installed();

// One printer of printers.ini: its name, its URI and the bytes its control-font characters send.
struct IniPrinter {
  std::u16string name;
  std::u16string uri;
  std::map<char16_t, std::string> control;
};

// The printers listed in the text of a printers.ini file, in file order.
std::vector<IniPrinter> ReadPrintersIni(std::istream& in);

// The current printer; null until one is chosen.
std::shared_ptr<Printer> Current();
// The current printer; throws kestrola::Error when there is none.
Printer& CurrentOrThrow();
void SetCurrent(std::shared_ptr<Printer> printer);
// Forgets the current printer and the remembered printers (for tests).
void Reset();

// Makes Installed() return exactly these printers (for tests); std::nullopt restores the
// printers.ini and CUPS enumeration.
void SetInstalledForTesting(std::optional<std::vector<std::shared_ptr<Printer>>> printers);

// The destination of a URI: file:PATH, dir:PATH, dev:PATH, tcp://HOST[:PORT], cups:QUEUE.
// A relative PATH is taken from baseDir. An unknown URI gives a destination whose every
// send fails and says why.
std::shared_ptr<PrintDestination> DestinationFromUri(const std::u16string& uri,
                                                     const std::u16string& baseDir);

}  // namespace Printers
}  // namespace kestrola
