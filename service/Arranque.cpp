#include "service/Arranque.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "log/Log.h"
#include "runtime/DataFile.h"
#include "runtime/Text.h"

namespace kestrola::Arranque {

namespace {

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

}  // namespace

Opciones LeerOpciones(int argc, char** argv) {
  Opciones o;
  for (int i = 1; i < argc && o.error.empty(); ++i) {
    std::string a = argv[i];
    if (a == "--") break;
    if (a.empty() || a[0] != '-') continue;
    if (a == "--help" || a == "-h") {
      o.ayuda = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--log-stdout") {
      o.logStdout = true;
    } else if (a == "--app-dir") {
      if (i + 1 >= argc || !*argv[i + 1]) {
        o.error = "option '--app-dir' needs a folder";
      } else {
        o.appDir = argv[++i];
      }
    } else if (a.rfind("--app-dir=", 0) == 0) {
      o.appDir = a.substr(10);
      if (o.appDir.empty()) o.error = "option '--app-dir' needs a folder";
    } else {
      o.error = "unknown option '" + a + "'";
    }
  }
  return o;
}

std::string Uso() {
  return "Usage: kestrola [--app-dir DIR] [--log-stdout]\n"
         "       kestrola --help | --version\n"
         "\n"
         "The receipt print-queue service of this terminal.\n"
         "\n"
         "  --app-dir DIR   application data directory: config.ini, printers.ini, the daily\n"
         "                  logs (default: $KESTROLA_HOME, else the program's folder)\n"
         "  --log-stdout    also write each activity-log line to standard output\n"
         "  --help          show this help and exit\n"
         "  --version       show the version and exit\n"
         "\n"
         "Without a display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset) the service\n"
         "runs on Qt's offscreen platform and writes its activity-log lines to standard output.\n";
}

bool SinPantalla() {
  return !Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM");
}

std::string DirectorioDatos(const Opciones& opciones) {
  std::string dir = opciones.appDir;
  if (dir.empty() && Set("KESTROLA_HOME")) dir = std::getenv("KESTROLA_HOME");
  if (dir.empty()) return dir;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(dir, ec);
  return ec ? dir : p.lexically_normal().string();
}

std::u16string ComprobarDatos(const std::u16string& dataDir) {
  std::string dir = Text::ToUtf8(dataDir);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 && !Log::CrearDirectorio(dataDir)) {
    return u"No se puede crear la carpeta de datos " + dataDir + u": " +
           Text::FromUtf8(std::strerror(errno));
  }
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return u"La carpeta de datos " + dataDir + u" no es una carpeta";
  }
  std::string bytes;
  std::u16string error;
  const std::string config = dir + "/config.ini";
  if (!DataFile::ReadAll(config, bytes, error)) {
    if (!error.empty() && ::access(config.c_str(), R_OK) != 0 && errno == EACCES) {
      // The usual case on a shared terminal: an account that was not added to the group.
      group* g = ::getgrgid(st.st_gid);
      return error + u" (la cuenta no es del grupo " +
             Text::FromUtf8(g && g->gr_name ? g->gr_name : std::to_string(st.st_gid)) +
             u" de la carpeta de datos)";
    }
    if (!error.empty()) return error;
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
      return u"No se puede crear " + Text::FromUtf8(config) + u": la carpeta " + dataDir +
             u" no admite escritura (elija otra con --app-dir o KESTROLA_HOME)";
    }
  }
  bytes.clear();
  if (!DataFile::ReadAll(dir + "/printers.ini", bytes, error) && !error.empty()) return error;
  return u"";
}

}  // namespace kestrola::Arranque
