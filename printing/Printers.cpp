#include "printing/Printers.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "printing/CupsDestination.h"
#include "printing/DirDestination.h"
#include "printing/StreamDestination.h"
#include "printing/TcpDestination.h"
#include "runtime/Application.h"
#include "runtime/DataFile.h"
#include "runtime/Error.h"
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

std::u16string Trim(std::u16string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == u' ' || s[a] == u'\t' || s[a] == u'\r')) ++a;
  while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t' || s[b - 1] == u'\r')) --b;
  std::u16string t(s.substr(a, b - a));
  if (t.size() >= 2 && t.front() == u'"' && t.back() == u'"') t = t.substr(1, t.size() - 2);
  return t;
}

bool StartsWith(std::u16string_view s, std::u16string_view p) {
  return s.size() >= p.size() && Text::EqualsIgnoreCase(s.substr(0, p.size()), p);
}

// Hex bytes such as "1B 70 01" or "1b7001"; nullopt when malformed.
std::optional<std::string> ParseHex(std::u16string_view s) {
  std::string out;
  int pending = -1;
  for (char16_t c : s) {
    int v;
    if (c >= u'0' && c <= u'9')
      v = c - u'0';
    else if (c >= u'a' && c <= u'f')
      v = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      v = c - u'A' + 10;
    else if (c == u' ' || c == u',')
      continue;
    else
      return std::nullopt;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<char>(pending * 16 + v));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return out;
}

struct IniFile {
  std::vector<IniPrinter> printers;
  std::vector<size_t> lines;  // the line of each printer
  std::vector<std::u16string> problems;
  bool complete = true;
};

// Section [Printers] lists NAME=URI; a section named after a printer maps control-font
// characters to the bytes they send (x=1B 70 01 19 FA). Lines that are none of these are
// problems naming `file` and the line; the sound lines are still used.
IniFile ParseIni(std::istream& in, const std::u16string& file) {
  IniFile result;
  auto problem = [&](size_t line, const std::u16string& what) {
    result.problems.push_back(
        file + (line ? u" línea " + Text::FromUtf8(std::to_string(line)) : std::u16string()) +
        u": " + what);
    result.complete = false;
  };
  std::map<std::u16string, std::map<char16_t, std::string>> controls;
  std::u16string section;
  bool sawPrinters = false;
  std::string raw;
  size_t number = 0;
  while (std::getline(in, raw)) {
    ++number;
    if (number == 1 && raw.rfind("\xEF\xBB\xBF", 0) == 0) raw.erase(0, 3);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    bool control = false;
    for (unsigned char c : raw) control |= (c < 0x20 && c != '\t') || c == 0x7F;
    std::u16string decoded = Text::FromUtf8(raw);
    if (control || decoded.find(u'\uFFFD') != std::u16string::npos) {
      problem(number, u"texto ilegible (caracteres de control o que no son UTF-8)");
      continue;
    }
    std::u16string line = Trim(decoded);
    if (line.empty() || line[0] == u';' || line[0] == u'#') continue;
    if (line.front() == u'[') {
      auto close = line.find(u']');
      if (close == std::u16string::npos) {
        problem(number, u"sección sin \"]\"");
        section.clear();
        continue;
      }
      section = Trim(line.substr(1, close - 1));
      sawPrinters |= Text::EqualsIgnoreCase(section, u"Printers");
      continue;
    }
    auto eq = line.find(u'=');
    if (eq == std::u16string::npos) {
      problem(number, u"no es [SECCIÓN] ni NOMBRE=VALOR");
      continue;
    }
    std::u16string key = Trim(line.substr(0, eq));
    std::u16string value = Trim(line.substr(eq + 1));
    if (Text::EqualsIgnoreCase(section, u"Printers")) {
      if (key.empty() || value.empty()) {
        problem(number, u"impresora sin nombre o sin URI");
        continue;
      }
      result.printers.push_back({key, value, {}});
      result.lines.push_back(number);
    } else if (key.size() == 1) {
      if (auto bytes = ParseHex(value)) {
        controls[section][key[0]] = *bytes;
      } else {
        problem(number, u"bytes no válidos para \"" + key + u"\"");
      }
    }
  }
  if (in.bad()) problem(number + 1, u"no se puede leer");
  if (!sawPrinters) problem(0, u"no tiene la sección [Printers]");
  for (auto& p : result.printers) {
    for (auto& [name, map] : controls) {
      if (Text::EqualsIgnoreCase(name, p.name)) p.control = map;
    }
  }
  return result;
}

// printers.ini of the data directory. A link, a foreign owner's file or an unreadable one is a
// problem like a missing one.
IniFile ReadIni(const std::string& path) {
  const std::u16string file = Text::FromUtf8(path);
  std::string bytes;
  std::u16string error;
  if (!DataFile::ReadAll(path, bytes, error)) {
    IniFile result;
    result.problems.push_back(file + u": " +
                              (error.empty() ? std::u16string(u"no existe") : error));
    result.complete = false;
    return result;
  }
  std::istringstream in(bytes);
  return ParseIni(in, file);
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
  return ParseIni(in, u"printers.ini").printers;
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
  IniFile ini = ReadIni(Text::ToUtf8(dir + u"/printers.ini"));
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
