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

// The installed printers with what is wrong with their configuration.
struct Catalog {
  std::vector<std::shared_ptr<Printer>> printers;
  // The faults of printers.ini ("/app/printers.ini line 3: ..."), or that CUPS did not answer
  // in time; each names the file and the line. Empty when the configuration is sound.
  std::vector<std::u16string> problems;
  // False when a printer may be missing from `printers` because of a problem: printers.ini is
  // missing, unreadable or has a faulty line, or CUPS did not answer.
  bool complete = true;
  // Printers whose own printers.ini line is faulty (an invalid URI); they are listed, and
  // every send to them fails.
  std::vector<std::u16string> misconfigured;
};

// Reads printers.ini in the application directory (section [Printers], one NAME=URI line
// each, in file order; a UTF-8 byte-order mark is allowed) and the destinations of the CUPS
// server, once, with a time-out for CUPS. The same name with the same URI gives the same
// Printer object across calls.
Catalog ReadCatalog();

// The printers of the pinned catalog while one is pinned, else of a fresh ReadCatalog().
std::vector<std::shared_ptr<Printer>> Installed();

// While it lives, Installed() answers from one catalog read when it was made, so a queue
// cycle reads printers.ini and CUPS once, not once per job.
class PinnedCatalog {
 public:
  PinnedCatalog();
  ~PinnedCatalog();
  PinnedCatalog(const PinnedCatalog&) = delete;
  PinnedCatalog& operator=(const PinnedCatalog&) = delete;
  const Catalog& Get() const { return *catalog_; }

 private:
  std::shared_ptr<const Catalog> catalog_;
};

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
// send fails and says why (also put in *problem when given).
std::shared_ptr<PrintDestination> DestinationFromUri(const std::u16string& uri,
                                                     const std::u16string& baseDir,
                                                     std::string* problem = nullptr);

}  // namespace Printers
}  // namespace kestrola
