#include "printing/Printers.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "printing/CupsDestination.h"
#include "printing/DirDestination.h"
#include "printing/StreamDestination.h"
#include "printing/TcpDestination.h"
#include "runtime/Application.h"
#include "runtime/DataFile.h"
#include "runtime/Error.h"
#include "runtime/Hex.h"
#include "runtime/IniFile.h"
#include "runtime/Text.h"

namespace kestrola::Printers {

namespace {
std::mutex gMutex;
std::shared_ptr<Printer> gCurrent;
std::optional<std::vector<std::shared_ptr<Printer>>> gTestPrinters;
std::shared_ptr<const Catalog> gPinned;
// Printers already handed out, by name and URI, so that a document in progress survives a
// new enumeration.
std::map<std::pair<std::u16string, std::u16string>, std::shared_ptr<Printer>> gKnown;

class FailingDestination : public PrintDestination {
 public:
  FailingDestination(std::u16string uri, std::string cause)
      : uri_(std::move(uri)), cause_(std::move(cause)) {}
  void Send(const PrintDocument& document) override {
    ThrowPrinterFailure(document.printerName, cause_);
  }
  void Probe(const std::u16string& printerName) override {
    ThrowPrinterFailure(printerName, cause_);
  }
  std::u16string Uri() const override { return uri_; }

 private:
  std::u16string uri_;
  std::string cause_;
};

bool StartsWith(std::u16string_view s, std::u16string_view p) {
  return s.size() >= p.size() && Text::EqualsIgnoreCase(s.substr(0, p.size()), p);
}

struct PrintersIni {
  std::vector<IniPrinter> printers;
  std::vector<size_t> lines;  // the line of each printer
  std::vector<std::u16string> problems;
  bool complete = true;
};

// Turns the lines of printers.ini into its printers. Section [Printers] lists NAME=URI; a
// section named after a printer maps control-font characters to the bytes they send
// (x=1B 70 01 19 FA). Lines that are none of these are problems naming `file` and the line;
// the sound lines are still used.
class PrintersIniReader {
 public:
  explicit PrintersIniReader(const std::u16string& file) : file_(file) {}

  PrintersIni Read(const IniFile& ini) {
    const std::vector<IniLine>& lines = ini.Lines();
    size_t number = 0;  // lines as counted here: each ends with LF
    for (size_t i = 0; i < lines.size(); ++i) {
      ++number;
      // A CR that does not end the file's last line, nor stand before a LF, is a control
      // character inside the line it stands in: that line, up to its LF, is unreadable.
      bool strayCr = false;
      while (i + 1 < lines.size() && lines[i].end == "\r") {
        strayCr = true;
        ++i;
      }
      if (strayCr || !Readable(lines[i].text)) {
        Problem(number, u"texto ilegible (caracteres de control o que no son UTF-8)");
        continue;
      }
      Take(number, Unwrapped(lines[i]));
    }
    if (!sawPrinters_) Problem(0, u"no tiene la sección [Printers]");
    for (auto& p : result_.printers) {
      for (auto& [name, map] : controls_) {
        if (Text::EqualsIgnoreCase(name, p.name)) p.control = map;
      }
    }
    return std::move(result_);
  }

 private:
  static bool Readable(const std::string& text) {
    for (unsigned char c : text) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    return Text::FromUtf8(text).find(u'\uFFFD') == std::u16string::npos;
  }

  // A whole line in double quotes is read as what the quotes hold.
  static IniLine Unwrapped(const IniLine& line) {
    std::string_view t = line.text;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (t.size() < 2 || t.front() != '"' || t.back() != '"') return line;
    std::string_view inner = t.substr(1, t.size() - 2);
    IniLine unwrapped = IniFile::Classify(inner);
    // Blanks inside the quotes count: such a line is no blank line, comment or section.
    if (!inner.empty() && (inner.front() == ' ' || inner.front() == '\t') &&
        unwrapped.kind != IniLine::Kind::Entry && inner.find('=') == std::string_view::npos) {
      unwrapped.kind = IniLine::Kind::Other;
    }
    return unwrapped;
  }

  void Take(size_t number, const IniLine& line) {
    switch (line.kind) {
      case IniLine::Kind::Blank:
      case IniLine::Kind::Comment:
        return;
      case IniLine::Kind::Section:
        if (!line.closed) {
          Problem(number, u"sección sin \"]\"");
          section_.clear();
          return;
        }
        section_ = Text::FromUtf8(line.name);
        sawPrinters_ |= Text::EqualsIgnoreCase(section_, u"Printers");
        return;
      case IniLine::Kind::Other:
        Problem(number, u"no es [SECCIÓN] ni NOMBRE=VALOR");
        return;
      case IniLine::Kind::Entry:
        TakeEntry(number, Text::FromUtf8(line.name), Text::FromUtf8(line.value));
        return;
    }
  }

  void TakeEntry(size_t number, const std::u16string& key, const std::u16string& value) {
    if (Text::EqualsIgnoreCase(section_, u"Printers")) {
      if (key.empty() || value.empty()) {
        Problem(number, u"impresora sin nombre o sin URI");
        return;
      }
      result_.printers.push_back({key, value, {}});
      result_.lines.push_back(number);
    } else if (key.size() == 1) {
      if (auto bytes = Hex::Bytes(value)) {
        controls_[section_][key[0]] = *bytes;
      } else {
        Problem(number, u"bytes no válidos para \"" + key + u"\"");
      }
    }
  }

  void Problem(size_t line, const std::u16string& what) {
    result_.problems.push_back(
        file_ + (line ? u" línea " + Text::FromUtf8(std::to_string(line)) : std::u16string()) +
        u": " + what);
    result_.complete = false;
  }

  const std::u16string file_;
  PrintersIni result_;
  std::map<std::u16string, std::map<char16_t, std::string>> controls_;
  std::u16string section_;
  bool sawPrinters_ = false;
};

// printers.ini of the data directory. A link, a foreign owner's file or an unreadable one is a
// problem like a missing one.
PrintersIni ReadIni(const std::string& path) {
  const std::u16string file = Text::FromUtf8(path);
  std::string bytes;
  std::u16string error;
  if (!DataFile::ReadAll(path, bytes, error)) {
    PrintersIni result;
    result.problems.push_back(file + u": " +
                              (error.empty() ? std::u16string(u"no existe") : error));
    result.complete = false;
    return result;
  }
  return PrintersIniReader(file).Read(IniFile(bytes));
}

std::string ResolvePath(const std::u16string& path, const std::u16string& baseDir) {
  if (!path.empty() && path[0] == u'/') return Text::ToUtf8(path);
  return Text::ToUtf8(baseDir + u"/" + path);
}

std::shared_ptr<Printer> Remember(const std::u16string& name, const std::u16string& uri,
                                  const std::shared_ptr<PrintDestination>& dest,
                                  const std::map<char16_t, std::string>& control) {
  auto& slot = gKnown[{name, uri}];
  if (!slot) {
    slot = std::make_shared<Printer>(name, dest);
    for (auto& [c, bytes] : control) slot->SetControlBytes(c, bytes);
  }
  return slot;
}
}  // namespace

std::vector<IniPrinter> ReadPrintersIni(std::istream& in) {
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return PrintersIniReader(u"printers.ini").Read(IniFile(bytes)).printers;
}

std::shared_ptr<PrintDestination> DestinationFromUri(const std::u16string& uri,
                                                     const std::u16string& baseDir,
                                                     std::string* problem) {
  auto failing = [&](const std::string& cause) {
    if (problem) *problem = cause;
    return std::make_shared<FailingDestination>(uri, cause);
  };
  if (StartsWith(uri, u"tcp://")) {
    std::u16string rest = uri.substr(6);
    while (!rest.empty() && rest.back() == u'/') rest.pop_back();
    std::u16string host = rest;
    int port = 9100;
    auto colon = rest.rfind(u':');
    if (colon != std::u16string::npos && rest.find(u']', colon) == std::u16string::npos) {
      host = rest.substr(0, colon);
      std::u16string p = rest.substr(colon + 1);
      port = 0;
      for (char16_t c : p) {
        if (c < u'0' || c > u'9' || port > 65535) {
          port = -1;
          break;
        }
        port = port * 10 + (c - u'0');
      }
    }
    if (!host.empty() && host.front() == u'[' && host.back() == u']')
      host = host.substr(1, host.size() - 2);
    if (host.empty() || port <= 0 || port > 65535) {
      return failing("invalid printer address " + Text::ToUtf8(uri));
    }
    return std::make_shared<TcpDestination>(Text::ToUtf8(host), port);
  }
  auto pathOf = [&](size_t prefix) {
    std::u16string p = uri.substr(prefix);
    if (p.rfind(u"//", 0) == 0) p = p.substr(2);
    return p;
  };
  if (StartsWith(uri, u"file:") && uri.size() > 5) {
    return std::make_shared<StreamDestination>(ResolvePath(pathOf(5), baseDir),
                                               StreamDestination::Mode::AppendFile);
  }
  if (StartsWith(uri, u"dev:") && uri.size() > 4) {
    return std::make_shared<StreamDestination>(ResolvePath(pathOf(4), baseDir),
                                               StreamDestination::Mode::Device);
  }
  if (StartsWith(uri, u"dir:") && uri.size() > 4) {
    return std::make_shared<DirDestination>(ResolvePath(pathOf(4), baseDir));
  }
  if (StartsWith(uri, u"cups:") && uri.size() > 5) {
    return std::make_shared<CupsDestination>(Text::ToUtf8(uri.substr(5)));
  }
  return failing("unsupported printer URI \"" + Text::ToUtf8(uri) + "\"");
}

Catalog ReadCatalog() {
  {
    std::lock_guard lock(gMutex);
    if (gTestPrinters) return Catalog{*gTestPrinters, {}, true, {}};
  }
  const std::u16string dir = Application::DataPath();
  PrintersIni ini = ReadIni(Text::ToUtf8(dir + u"/printers.ini"));
  std::optional<std::vector<std::string>> cups = CupsDestination::Enumerate();
  Catalog catalog;
  catalog.problems = std::move(ini.problems);
  catalog.complete = ini.complete;
  if (!cups) {
    catalog.problems.push_back(u"CUPS no respondió a tiempo; sus colas no se leyeron");
    catalog.complete = false;
  }
  std::lock_guard lock(gMutex);
  for (size_t i = 0; i < ini.printers.size(); ++i) {
    const IniPrinter& p = ini.printers[i];
    std::string problem;
    auto destination = DestinationFromUri(p.uri, dir, &problem);
    if (!problem.empty()) {
      catalog.problems.push_back(dir + u"/printers.ini línea " +
                                 Text::FromUtf8(std::to_string(ini.lines[i])) + u": " +
                                 Text::FromUtf8(problem));
      catalog.misconfigured.push_back(p.name);
    }
    catalog.printers.push_back(Remember(p.name, p.uri, destination, p.control));
  }
  for (const auto& name : cups.value_or(std::vector<std::string>{})) {
    std::u16string uname = Text::FromUtf8(name);
    catalog.printers.push_back(
        Remember(uname, u"cups:" + uname, std::make_shared<CupsDestination>(name), {}));
  }
  return catalog;
}

std::vector<std::shared_ptr<Printer>> Installed() {
  {
    std::lock_guard lock(gMutex);
    if (gPinned) return gPinned->printers;
  }
  return ReadCatalog().printers;
}

PinnedCatalog::PinnedCatalog() : catalog_(std::make_shared<const Catalog>(ReadCatalog())) {
  std::lock_guard lock(gMutex);
  gPinned = catalog_;
}

PinnedCatalog::~PinnedCatalog() {
  std::lock_guard lock(gMutex);
  if (gPinned == catalog_) gPinned.reset();
}

std::shared_ptr<Printer> Current() {
  std::lock_guard lock(gMutex);
  return gCurrent;
}

Printer& CurrentOrThrow() {
  std::lock_guard lock(gMutex);
  if (!gCurrent) throw Error(kErrPrinter, u"Printer", u"No printer is selected");
  return *gCurrent;
}

void SetCurrent(std::shared_ptr<Printer> printer) {
  std::lock_guard lock(gMutex);
  gCurrent = std::move(printer);
}

void Reset() {
  std::lock_guard lock(gMutex);
  gCurrent.reset();
  gKnown.clear();
}

void SetInstalledForTesting(std::optional<std::vector<std::shared_ptr<Printer>>> printers) {
  std::lock_guard lock(gMutex);
  gTestPrinters = std::move(printers);
}

}  // namespace kestrola::Printers
