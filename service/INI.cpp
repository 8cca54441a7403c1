#include "service/INI.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/DataFile.h"
#include "runtime/Text.h"

namespace kestrola::INI {

namespace {

// The reader hands back at most this many characters (a 10000-character buffer with its
// terminating zero).
constexpr size_t kMaxValue = 9999;

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", "\r" or "" for a last line without an end
};

// A link, a foreign owner's file or anything but a regular file counts as unreadable
// (DataFile); start-up checks config.ini beforehand and says why it cannot be used.
bool ReadFile(const std::string& path, std::string& bytes) {
  std::u16string error;
  return DataFile::ReadAll(path, bytes, error);
}

// Lines end with CR LF, LF or a lone CR; each keeps its own end, so a rewrite changes no byte
// of the lines it does not touch.
std::vector<Line> SplitLines(const std::string& bytes) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t brk = bytes.find_first_of("\r\n", pos);
    Line line;
    if (brk == std::string::npos) {
      line.text = bytes.substr(pos);
      pos = bytes.size();
    } else {
      line.text = bytes.substr(pos, brk - pos);
      bool crlf = bytes[brk] == '\r' && brk + 1 < bytes.size() && bytes[brk + 1] == '\n';
      line.end = crlf ? "\r\n" : std::string(1, bytes[brk]);
      pos = brk + line.end.size();
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SameName(std::string_view a, const std::string& b) {
  return Text::EqualsIgnoreCase(Text::FromUtf8(Trim(a)), Text::FromUtf8(Trim(b)));
}

// The section name of a "[name]" line, or false when the line is not a section header.
bool SectionName(const std::string& line, std::string_view& name) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return false;
  size_t close = t.find(']');
  name = close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1);
  return true;
}

// The key and value of a "key=value" line; comment lines and lines without "=" have none.
bool KeyValue(const std::string& line, std::string_view& key, std::string_view& value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

// The byte-order mark that Windows editors put at the start of a UTF-8 file. It belongs to no
// line: it is taken off before the lines are read and put back in front when the file is
// rewritten.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool TakeByteOrderMark(std::string& bytes) {
  if (bytes.compare(0, kByteOrderMark.size(), kByteOrderMark) != 0) return false;
  bytes.erase(0, kByteOrderMark.size());
  return true;
}

std::u16string Unquote(std::u16string v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

std::u16string Cut(std::u16string v) {
  if (v.size() > kMaxValue) {
    size_t n = kMaxValue;
    // Never leave half of a surrogate pair at the end.
    if (v[n - 1] >= 0xD800 && v[n - 1] <= 0xDBFF) --n;
    v.resize(n);
  }
  return v;
}

// A line break inside a name or value would split the line and could forge other keys.
std::string OneLine(const std::u16string& text) {
  std::string s = Text::ToUtf8(text);
  for (char& c : s) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return s;
}

// A value as written after the "=": the reader trims blanks and removes one pair of quotes, so
// a value that starts or ends with a blank or a quote is written inside double quotes, which
// the reader takes off again. Any other value is written as it is.
std::string ValueText(const std::u16string& value) {
  std::string s = OneLine(value);
  if (s.empty()) return s;
  auto special = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
  if (special(s.front()) || special(s.back())) s = '"' + s + '"';
  return s;
}

// Replaces the file's content. The new content goes to a temporary file beside it that then
// takes its place, so a failure never leaves a half-written file; a new file is readable by its
// owner only (by the group too in a shared folder), an existing one keeps its mode. Nothing is
// written through a symbolic link, at the file's name or at the temporary one.
void WriteFile(const std::string& path, const std::string& bytes, bool exists, mode_t mode) {
  std::string tmp = path + ".tmp" + std::to_string(getpid());
  ::unlink(tmp.c_str());  // a leftover of an earlier run, or a planted link
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    mode_t newMode = exists                                              ? mode & 07777
                     : DataFile::SharedDirectory(DataFile::Folder(path)) ? 0660
                                                                         : 0600;
    bool ok = ::fchmod(fd, newMode) == 0 && DataFile::WriteAll(fd, bytes);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return;
    ::unlink(tmp.c_str());
  }
  // The directory refuses new files (or the rename failed, as in a sticky shared folder for a
  // file of another member): write the file in place, if it may be used at all.
  std::u16string error;
  fd = DataFile::Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600, error);
  if (fd < 0) return;
  DataFile::WriteAll(fd, bytes);
  ::close(fd);
}

}  // namespace

std::u16string LeerINI(const std::u16string& file, const std::u16string& section,
                       const std::u16string& key, const std::u16string& defaultValue) {
  std::string bytes;
  if (!ReadFile(Text::ToUtf8(file), bytes)) return Cut(defaultValue);
  TakeByteOrderMark(bytes);
  std::string wantSection = Text::ToUtf8(section);
  std::string wantKey = Text::ToUtf8(key);
  bool inSection = false;
  for (const Line& line : SplitLines(bytes)) {
    std::string_view name, k, v;
    if (SectionName(line.text, name)) {
      if (inSection) break;  // the first section of that name is the one that counts
      inSection = SameName(name, wantSection);
    } else if (inSection && KeyValue(line.text, k, v) && SameName(k, wantKey)) {
      return Cut(Unquote(Text::FromUtf8(v)));
    }
  }
  return Cut(defaultValue);
}

void EscribirINI(const std::u16string& file, const std::u16string& section,
                 const std::u16string& key, const std::u16string& value) {
  std::string path = Text::ToUtf8(file);
  struct stat st {};
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return;  // a link, a folder, a device: never written
  std::string bytes;
  if (exists && !ReadFile(path, bytes)) return;
  const bool byteOrderMark = TakeByteOrderMark(bytes);

  std::vector<Line> lines = SplitLines(bytes);
  std::string eol = !lines.empty() && lines.front().end == "\n" ? "\n" : "\r\n";
  std::string wantSection = OneLine(section);
  std::string wantKey = OneLine(key);
  std::string newValue = ValueText(value);

  // Find the section, the key inside it and the last non-blank line of the section.
  size_t sectionLine = lines.size(), keyLine = lines.size(), lastLine = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i].text, name)) {
      if (sectionLine != lines.size()) break;
      if (SameName(name, wantSection)) sectionLine = lastLine = i;
    } else if (sectionLine != lines.size()) {
      if (!Trim(lines[i].text).empty()) lastLine = i;
      if (KeyValue(lines[i].text, k, v) && SameName(k, wantKey)) {
        keyLine = i;
        break;
      }
    }
  }

  if (keyLine != lines.size()) {
    // Keep the key's own spelling; only the value changes.
    std::string_view k, v;
    KeyValue(lines[keyLine].text, k, v);
    lines[keyLine].text = std::string(k) + "=" + newValue;
  } else {
    if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
    Line entry{wantKey + "=" + newValue, eol};
    if (sectionLine == lines.size()) {
      lines.push_back({"[" + wantSection + "]", eol});
      lines.push_back(entry);
    } else {
      if (lines[lastLine].end.empty()) lines[lastLine].end = eol;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastLine + 1), entry);
    }
  }

  std::string out;
  out.reserve(bytes.size() + newValue.size() + wantKey.size() + wantSection.size() + 11);
  if (byteOrderMark) out += kByteOrderMark;
  for (const Line& line : lines) out += line.text + line.end;
  WriteFile(path, out, exists, st.st_mode);
}

}  // namespace kestrola::INI
