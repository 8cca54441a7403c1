#include "runtime/DataFile.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola::DataFile {

namespace {

std::u16string U(const std::string& s) {
  return Text::FromUtf8(s);
}

std::string UserName(uid_t uid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_name)
    return pw.pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buf(65536);
  group gr{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found && gr.gr_name)
    return gr.gr_name;
  return std::to_string(gid);
}

// Whether the account `uid` belongs to the group `gid`, as its primary group or as a listed
// member.
bool MemberOf(uid_t uid, gid_t gid) {
  std::vector<char> pbuf(16384);
  passwd pw{};
  passwd* pfound = nullptr;
  if (::getpwuid_r(uid, &pw, pbuf.data(), pbuf.size(), &pfound) != 0 || !pfound) return false;
  if (pw.pw_gid == gid) return true;
  std::vector<char> gbuf(65536);
  group gr{};
  group* gfound = nullptr;
  if (::getgrgid_r(gid, &gr, gbuf.data(), gbuf.size(), &gfound) != 0 || !gfound) return false;
  for (char** m = gr.gr_mem; m && *m; ++m) {
    if (std::strcmp(*m, pw.pw_name) == 0) return true;
  }
  return false;
}

}  // namespace

std::string Folder(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SharedDirectory(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISGID);
}

namespace {

// Opens the name itself, never a link, without blocking on a FIFO; the refusal is put in
// `error` (left empty for a missing file that was not to be created).
UniqueFd OpenName(const std::string& path, int flags, mode_t newMode, std::u16string& error,
                  bool& made) {
  // O_NONBLOCK keeps a FIFO planted in the file's place from blocking the open; it is cleared
  // again once the file is known to be a regular one. O_TRUNC waits until the file has passed
  // the checks.
  const int base = (flags & ~(O_CREAT | O_TRUNC)) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  UniqueFd fd;
  made = false;
  if (flags & O_CREAT) {
    // A new file is made exclusively; an existing one is opened without O_CREAT, which the
    // kernel's protection of shared sticky directories would otherwise refuse.
    fd.Reset(::open(path.c_str(), base | O_CREAT | O_EXCL, newMode));
    made = fd.Valid();
    if (!fd.Valid() && errno == EEXIST) fd.Reset(::open(path.c_str(), base));
  } else {
    fd.Reset(::open(path.c_str(), base));
  }
  if (fd.Valid()) return fd;
  int err = errno;
  struct stat lst {};
  bool exists = ::lstat(path.c_str(), &lst) == 0;
  if (err == ELOOP || (exists && S_ISLNK(lst.st_mode))) {
    error = u"No se usa " + U(path) + u": es un enlace simbólico";
  } else if (exists && !S_ISREG(lst.st_mode)) {
    error = u"No se usa " + U(path) + u": no es un archivo normal";
  } else if (err != ENOENT || (flags & O_CREAT)) {
    error = u"No se puede abrir " + U(path) + u": " + U(std::strerror(err));
  }
  return fd;
}

// Why the open file may not be used (empty when it may): not a regular file, or a file of an
// account outside the folder's group.
std::u16string Refusal(int fd, const std::string& path, bool made) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return u"No se usa " + U(path) + u": no es un archivo normal";
  }
  struct stat dst {};
  bool haveDir = ::stat(Folder(path).c_str(), &dst) == 0;
  if (!made && st.st_uid != ::geteuid() && st.st_uid != 0 &&
      !(haveDir && MemberOf(st.st_uid, dst.st_gid))) {
    return u"No se usa " + U(path) + u": pertenece al usuario " + U(UserName(st.st_uid)) +
           u", que no es del grupo " +
           (haveDir ? U(GroupName(dst.st_gid)) : std::u16string(u"de la carpeta"));
  }
  return {};
}

}  // namespace

int Open(const std::string& path, int flags, mode_t newMode, std::u16string& error, bool* created) {
  error.clear();
  if (created) *created = false;
  bool made = false;
  UniqueFd fd = OpenName(path, flags, newMode, error, made);
  if (!fd.Valid()) return -1;
  error = Refusal(fd.Get(), path, made);
  if (!error.empty()) return -1;
  if (made && SharedDirectory(Folder(path))) {
    // Every account of the terminal works in a shared folder: the group reads and writes.
    ::fchmod(fd.Get(), 0660);
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  if ((flags & O_TRUNC) && !made && ::ftruncate(fd.Get(), 0) != 0) {
    error = u"No se puede abrir " + U(path) + u": " + U(std::strerror(errno));
    return -1;
  }
  if (created) *created = made;
  return fd.Release();
}

bool ReadAll(const std::string& path, std::string& bytes, std::u16string& error) {
  UniqueFd fd(Open(path, O_RDONLY, 0, error));
  if (!fd.Valid()) return false;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = u"No se puede leer " + U(path) + u": " + U(std::strerror(errno));
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace kestrola::DataFile
