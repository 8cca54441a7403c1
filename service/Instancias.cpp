#include "service/Instancias.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {

constexpr int32_t kErrFileAccess = 75;

std::string BaseName(std::string path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(std::string name) {
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// The executable file name of one process: the target of its exe link, or, when that is not
// readable (a process of another user), the first word of its command line.
bool ExecutableName(const std::string& dir, std::string& name) {
  char buf[4096];
  ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n > 0) {
    std::string target(buf, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0) {
      target.resize(target.size() - deleted.size());
    }
    name = BaseName(target);
    return true;
  }
  std::FILE* f = std::fopen((dir + "/cmdline").c_str(), "rb");
  if (!f) return false;
  std::string argv0;
  int c;
  while ((c = std::fgetc(f)) != EOF && c != 0) argv0.push_back(static_cast<char>(c));
  std::fclose(f);
  if (argv0.empty()) return false;  // kernel threads and zombies have no command line
  name = BaseName(argv0);
  return true;
}

}  // namespace

int16_t ContarInstancias(const std::u16string& exeName, const std::string& procRoot) {
  DIR* proc = ::opendir(procRoot.c_str());
  if (!proc)
    throw Error(kErrFileAccess, u"ContarInstancias",
                u"Path/File access error: " + Text::FromUtf8(procRoot));
  int16_t count = 0;
  while (const dirent* entry = ::readdir(proc)) {
    const char* d = entry->d_name;
    if (!*d) continue;
    bool numeric = true;
    for (const char* p = d; *p; ++p)
      numeric = numeric && std::isdigit(static_cast<unsigned char>(*p));
    if (!numeric) continue;
    std::string name;
    if (!ExecutableName(procRoot + "/" + d, name)) continue;
    if (Text::EqualsIgnoreCase(Text::FromUtf8(WithoutExtension(name)), exeName) &&
        count < INT16_MAX) {
      ++count;
    }
  }
  ::closedir(proc);
  return count;
}

}  // namespace kestrola
