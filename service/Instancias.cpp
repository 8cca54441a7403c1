#include "service/Instancias.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "runtime/DataFile.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola {

namespace {

std::string BaseName(std::string path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(std::string name) {
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// The program file a process runs: the target of its exe link, without the mark the system
// adds once the file was replaced. False when the link cannot be read (another user's process,
// a kernel thread).
bool ProgramFile(const std::string& dir, std::string& file) {
  char buf[4096];
  ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n <= 0) return false;
  file.assign(buf, static_cast<size_t>(n));
  const std::string deleted = " (deleted)";
  if (file.size() > deleted.size() &&
      file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0) {
    file.resize(file.size() - deleted.size());
  }
  return true;
}

}  // namespace

int16_t ContarInstancias(const std::u16string& exeName, const std::string& procRoot) {
  DIR* proc = ::opendir(procRoot.c_str());
  if (!proc)
    throw Error(kErrFileAccess, u"ContarInstancias",
                u"Path/File access error: " + Text::FromUtf8(procRoot));
  std::string self;
  if (!ProgramFile(procRoot + "/self", self)) {
    ::closedir(proc);
    throw Error(kErrFileAccess, u"ContarInstancias",
                u"Path/File access error: " + Text::FromUtf8(procRoot + "/self/exe"));
  }
  int16_t count = 0;
  while (const dirent* entry = ::readdir(proc)) {
    const char* d = entry->d_name;
    if (!*d) continue;
    bool numeric = true;
    for (const char* p = d; *p; ++p)
      numeric = numeric && std::isdigit(static_cast<unsigned char>(*p));
    if (!numeric) continue;
    std::string file;
    if (!ProgramFile(procRoot + "/" + d, file) || file != self) continue;
    if (Text::EqualsIgnoreCase(Text::FromUtf8(WithoutExtension(BaseName(file))), exeName) &&
        count < INT16_MAX) {
      ++count;
    }
  }
  ::closedir(proc);
  return count;
}

BloqueoInstancia::BloqueoInstancia(const std::u16string& dataDir) {
  std::string path = Text::ToUtf8(dataDir) + "/kestrola.lock";
  fd_.Reset(DataFile::Open(path, O_RDWR | O_CREAT, 0600, mensaje_));
  if (!fd_.Valid()) return;
  if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
    estado_ = errno == EWOULDBLOCK ? Estado::Ocupado : Estado::Fallo;
    if (estado_ == Estado::Fallo)
      mensaje_ = u"No se puede bloquear " + Text::FromUtf8(path) + u": " +
                 Text::FromUtf8(std::strerror(errno));
    fd_.Reset();
    return;
  }
  estado_ = Estado::Tomado;
  // Who holds it, for the person looking into the folder; the lock itself is the flock.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_.Get(), 0) == 0) WriteAll(fd_.Get(), pid);
}

}  // namespace kestrola
