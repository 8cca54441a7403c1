#include "log/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "runtime/Application.h"
#include "runtime/DataFile.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"
#include "runtime/UserInterface.h"

namespace kestrola::Log {

namespace {

constexpr char16_t kSource[] = u"Log";

std::mutex gClockMutex;
Clock gClock;

std::mutex gWriteMutex;
std::u16string gWriteError;

void RecordWrite(std::u16string error) {
  std::lock_guard lock(gWriteMutex);
  gWriteError = std::move(error);
}

std::chrono::system_clock::time_point Now() {
  std::lock_guard lock(gClockMutex);
  return gClock ? gClock() : std::chrono::system_clock::now();
}

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::mutex gEchoMutex;
bool gEcho = false;

// Steps shared by AbrirLog and LeerLog: make sure the application directory exists (telling
// the user when it cannot be created) and return the name of the day's file.
std::string PrepareToday() {
  std::u16string dir = Application::DataPath();
  if (!IsDirectory(Text::ToUtf8(dir)) && !CrearDirectorio(dir)) {
    Application::Ui().MessageBox(u"Error en bitacora al crear el directorio " + dir,
                                 MessageIcon::Critical, Application::EXEName());
  }
  return Text::ToUtf8(NombreArchivo(Now()));
}

// Today's file open for appending, created when missing. A link or a file of a foreign owner
// in its place is refused: the log is never written through it.
UniqueFd OpenForAppend(const std::string& file, bool* created = nullptr) {
  std::u16string error;
  UniqueFd fd(DataFile::Open(file, O_WRONLY | O_APPEND | O_CREAT, 0666, error, created));
  if (!fd.Valid()) throw Error(kErrFileAccess, kSource, error);
  return fd;
}

void WriteOrFail(UniqueFd fd, const std::string& bytes, const std::string& file) {
  bool ok = static_cast<bool>(WriteAll(fd.Get(), bytes));
  ok = fd.Close() == 0 && ok;
  if (!ok) {
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + Text::FromUtf8(file));
  }
}

void Echo(const std::string& line) {
  std::lock_guard lock(gEchoMutex);
  if (!gEcho) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

void SetEcho(bool on) {
  std::lock_guard lock(gEchoMutex);
  gEcho = on;
}

void SetClock(Clock clock) {
  std::lock_guard lock(gClockMutex);
  gClock = std::move(clock);
}

std::u16string NombreArchivo(std::chrono::system_clock::time_point when) {
  std::tm tm = LocalTime(when);
  char name[64];
  std::snprintf(name, sizeof name, "/log_%04d%02d%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday);
  std::u16string dir = Application::DataPath();
  if (!dir.empty() && dir.back() == u'/') dir.pop_back();
  return dir + Text::FromUtf8(name);
}

std::u16string FechaHora(std::chrono::system_clock::time_point when) {
  std::tm tm = LocalTime(when);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return Text::FromUtf8(text);
}

std::ofstream AbrirLog() {
  std::string file = PrepareToday();
  UniqueFd fd = OpenForAppend(file);
  // The stream opens the very file checked above, whatever happens to the name meanwhile.
  std::ofstream out("/proc/self/fd/" + std::to_string(fd.Get()), std::ios::binary | std::ios::app);
  fd.Reset();
  if (!out) {
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + Text::FromUtf8(file));
  }
  return out;
}

void EscribirLog(std::u16string_view message) {
  try {
    std::string file = PrepareToday();
    // The file is named by the moment it was opened, the line by the moment it is written.
    std::string line = Text::ToUtf8(FechaHora(Now())) + Text::ToUtf8(UnaLinea(message));
    // The echo goes out first, so that a supervisor still sees the line when the file fails.
    Echo(line);
    WriteOrFail(OpenForAppend(file), line + "\r\n", file);
  } catch (const Error& e) {
    RecordWrite(e.Description().empty() ? u"error " + Text::FromUtf8(std::to_string(e.Number()))
                                        : e.Description());
    throw;
  }
  RecordWrite({});
}

std::u16string UnaLinea(std::u16string_view message) {
  std::u16string line(message);
  for (char16_t& c : line) {
    if (c == u'\r' || c == u'\n' || c == u'\t') {
      c = u' ';
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      c = u'?';
    }
  }
  return line;
}

std::u16string ErrorEscritura() {
  std::lock_guard lock(gWriteMutex);
  return gWriteError;
}

void ProbarEscritura() {
  try {
    std::ofstream out = AbrirLog();
    out.close();
    if (out.fail()) throw Error(kErrFileAccess, kSource, u"Path/File access error");
  } catch (const Error& e) {
    RecordWrite(e.Description());
    return;
  }
  RecordWrite({});
}

std::chrono::system_clock::time_point Ahora() {
  return Now();
}

void CrearArchivoDelDia() {
  std::string file = PrepareToday();
  bool created = false;
  UniqueFd fd = OpenForAppend(file, &created);
  WriteOrFail(std::move(fd), created ? "\r\n" : "", file);
}

Fragmento LeerDesde(const std::u16string& archivo, uint64_t desde, size_t maximo,
                    uint64_t maximoBytes, uint64_t inodo) {
  Fragmento f;
  f.siguiente = desde;
  std::string path = Text::ToUtf8(archivo);
  // Never through a link: the box shows the day's own file or nothing.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  std::FILE* in = fd.Valid() ? ::fdopen(fd.Get(), "rb") : nullptr;
  if (!in) {
    if (errno == ENOENT) return f;  // not written yet today
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + archivo);
  }
  fd.Release();  // the stream closes it
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{in};

  struct stat st {};
  if (::fstat(fileno(in), &st) != 0) {
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + archivo);
  }
  if (!S_ISREG(st.st_mode)) {
    // Something else stands in the file's place: whatever replaces it is read from its start.
    f.siguiente = 0;
    f.reiniciado = desde != 0;
    return f;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  f.inodo = static_cast<uint64_t>(st.st_ino);
  if (size < desde || (inodo != 0 && inodo != f.inodo)) {
    f.reiniciado = true;
    desde = 0;
    f.siguiente = 0;
  }
  if (size == desde) return f;

  // Far behind the end: start near it, at the beginning of a line.
  uint64_t start = desde;
  if (size - desde > maximoBytes) {
    start = size - maximoBytes;
    f.recortado = true;
  }
  if (::fseeko(in, static_cast<off_t>(start), SEEK_SET) != 0) {
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + archivo);
  }
  std::string bytes(static_cast<size_t>(size - start), '\0');
  size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
  if (std::ferror(in)) {
    throw Error(kErrFileAccess, kSource, u"Path/File access error: " + archivo);
  }
  bytes.resize(got);

  size_t pos = 0;
  if (start > desde) {
    // The first bytes may be the end of a skipped line: begin after the first line end.
    size_t nl = bytes.find('\n');
    if (nl == std::string::npos) {
      f.siguiente = start + bytes.size();
      return f;
    }
    pos = nl + 1;
  }

  // Complete lines only; a line ends with CR LF, LF, or a CR that is not the last byte read
  // (it may be the first half of a CR LF still being written).
  std::vector<std::pair<size_t, size_t>> spans;
  size_t consumed = pos;
  while (pos < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string::npos) break;
    size_t next;
    if (bytes[end] == '\r') {
      if (end + 1 >= bytes.size()) break;
      next = bytes[end + 1] == '\n' ? end + 2 : end + 1;
    } else {
      next = end + 1;
    }
    spans.emplace_back(pos, end - pos);
    pos = next;
    consumed = next;
  }
  size_t first = 0;
  if (spans.size() > maximo) {
    first = spans.size() - maximo;
    f.recortado = true;
  }
  f.lineas.reserve(spans.size() - first);
  for (size_t i = first; i < spans.size(); ++i) {
    f.lineas.push_back(
        Text::FromUtf8(std::string_view(bytes).substr(spans[i].first, spans[i].second)));
  }
  f.siguiente = start + consumed;
  return f;
}

void EscribirErrores(const std::vector<ProviderError>& errors) {
  for (const ProviderError& e : errors) {
    EscribirLog(Text::FromUtf8(std::to_string(e.nativeError)) + e.description + e.sqlState);
  }
}

std::u16string LeerLog() {
  std::string file = PrepareToday();
  bool created = false;
  UniqueFd fd = OpenForAppend(file, &created);
  if (created) WriteOrFail(std::move(fd), "\r\n", file);
  fd.Reset();

  std::string bytes;
  std::u16string error;
  if (!DataFile::ReadAll(file, bytes, error)) {
    throw Error(kErrFileAccess, kSource,
                error.empty() ? u"Path/File access error: " + Text::FromUtf8(file) : error);
  }

  // Lines end with CR LF, a bare LF or a bare CR; a last line without an end still counts.
  std::u16string text;
  text.reserve(bytes.size() + bytes.size() / 16 + 2);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", pos);
    size_t next;
    if (end == std::string::npos) {
      end = bytes.size();
      next = end;
    } else if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') {
      next = end + 2;
    } else {
      next = end + 1;
    }
    text += u'\r';
    text += Text::FromUtf8(std::string_view(bytes).substr(pos, end - pos));
    text += u'\r';
    pos = next;
  }
  return text;
}

bool CrearDirectorio(const std::u16string& path) {
  try {
    std::string p = Text::ToUtf8(path);
    if (p.empty()) return false;
    // Create each level in turn, from the first one after the leading slashes.
    size_t i = p.find_first_not_of('/');
    while (i != std::string::npos && i < p.size()) {
      size_t end = p.find('/', i);
      if (end == std::string::npos) end = p.size();
      std::string level = p.substr(0, end);
      if (!IsDirectory(level) && ::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
      }
      i = p.find_first_not_of('/', end);
    }
    return IsDirectory(p);
  } catch (const std::exception&) {
    // Only memory can run out here (the path's conversion and its levels).
    return false;
  }
}

}  // namespace kestrola::Log
