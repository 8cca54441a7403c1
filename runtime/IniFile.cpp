#include "runtime/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/DataFile.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola {

namespace {

constexpr size_t kMaxValue = 9999;

// The byte-order mark that Windows editors put at the start of a UTF-8 file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// `s` without one pair of surrounding quotes, of any of the kinds in `quotes`.
std::string_view Unquote(std::string_view s, std::string_view quotes) {
  if (s.size() >= 2 && quotes.find(s.front()) != std::string_view::npos && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

bool SameName(std::string_view a, std::u16string_view b) {
  return Text::EqualsIgnoreCase(Text::FromUtf8(a), b);
}

// A name as it is looked for: without the blanks around it.
std::u16string Wanted(const std::string& name) {
  return Text::FromUtf8(Trim(name));
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
std::string OneLine(std::u16string_view text) {
  std::string s = Text::ToUtf8(std::u16string(text));
  for (char& c : s) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return s;
}

// A value as written after the "=": the reader trims blanks and removes one pair of quotes, so
// a value that starts or ends with a blank or a quote is written inside double quotes, which
// the reader takes off again. Any other value is written as it is.
std::string ValueText(std::u16string_view value) {
  std::string s = OneLine(value);
  if (s.empty()) return s;
  auto special = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
  if (special(s.front()) || special(s.back())) s = '"' + s + '"';
  return s;
}

IniLine MakeLine(std::string text, std::string end) {
  IniLine line = IniFile::Classify(text);
  line.text = std::move(text);
  line.end = std::move(end);
  return line;
}

// Replaces the file's content. The new content goes to a temporary file beside it that then
// takes its place, so a failure never leaves a half-written file; a new file is readable by its
// owner only (by the group too in a shared folder), an existing one keeps its mode. Nothing is
// written through a symbolic link, at the file's name or at the temporary one.
void ReplaceFile(const std::string& path, const std::string& bytes, bool exists, mode_t mode) {
  std::string tmp = path + ".tmp" + std::to_string(getpid());
  ::unlink(tmp.c_str());  // a leftover of an earlier run, or a planted link
  UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.Valid()) {
    mode_t newMode = exists                                              ? mode & 07777
                     : DataFile::SharedDirectory(DataFile::Folder(path)) ? 0660
                                                                         : 0600;
    bool ok = ::fchmod(fd.Get(), newMode) == 0 && WriteAll(fd.Get(), bytes);
    ok = fd.Close() == 0 && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return;
    ::unlink(tmp.c_str());
  }
  // The directory refuses new files (or the rename failed, as in a sticky shared folder for a
  // file of another member): write the file in place, if it may be used at all.
  std::u16string error;
  fd.Reset(DataFile::Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600, error));
  if (fd.Valid()) WriteAll(fd.Get(), bytes);
}

}  // namespace

IniFile::IniFile(std::string_view bytes) {
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    byteOrderMark_ = true;
    bytes.remove_prefix(kByteOrderMark.size());
  }
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t brk = bytes.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      lines_.push_back(MakeLine(std::string(bytes.substr(pos)), ""));
      break;
    }
    bool crlf = bytes[brk] == '\r' && brk + 1 < bytes.size() && bytes[brk + 1] == '\n';
    std::string end = crlf ? "\r\n" : std::string(1, bytes[brk]);
    lines_.push_back(MakeLine(std::string(bytes.substr(pos, brk - pos)), end));
    pos = brk + end.size();
  }
}

IniLine IniFile::Classify(std::string_view text) {
  IniLine line;
  std::string_view t = Trim(text);
  if (t.empty()) return line;
  if (t.front() == ';' || t.front() == '#') {
    line.kind = IniLine::Kind::Comment;
  } else if (t.front() == '[') {
    line.kind = IniLine::Kind::Section;
    size_t close = t.find(']');
    line.closed = close != std::string_view::npos;
    line.name = Unquote(Trim(line.closed ? t.substr(1, close - 1) : t.substr(1)), "\"");
  } else if (size_t eq = t.find('='); eq != std::string_view::npos) {
    line.kind = IniLine::Kind::Entry;
    line.name = Unquote(Trim(t.substr(0, eq)), "\"");
    line.value = Unquote(Trim(t.substr(eq + 1)), "\"'");
  } else {
    line.kind = IniLine::Kind::Other;
  }
  return line;
}

std::optional<std::u16string> IniFile::Get(std::u16string_view section,
                                           std::u16string_view key) const {
  const std::u16string wantSection = Wanted(Text::ToUtf8(std::u16string(section)));
  const std::u16string wantKey = Wanted(Text::ToUtf8(std::u16string(key)));
  bool inSection = false;
  for (const IniLine& line : lines_) {
    if (line.kind == IniLine::Kind::Section) {
      if (inSection) break;  // the first section of that name is the one that counts
      inSection = SameName(line.name, wantSection);
    } else if (inSection && line.kind == IniLine::Kind::Entry && SameName(line.name, wantKey)) {
      return Cut(Text::FromUtf8(line.value));
    }
  }
  return std::nullopt;
}

void IniFile::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  const std::string sectionText = OneLine(section), keyText = OneLine(key);
  const std::u16string wantSection = Wanted(sectionText), wantKey = Wanted(keyText);
  const std::string newValue = ValueText(value);
  const std::string eol = !lines_.empty() && lines_.front().end == "\n" ? "\n" : "\r\n";

  // Find the section, the key inside it and the last non-blank line of the section.
  const size_t none = lines_.size();
  size_t sectionLine = none, keyLine = none, lastLine = none;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const IniLine& line = lines_[i];
    if (line.kind == IniLine::Kind::Section) {
      if (sectionLine != none) break;
      if (SameName(line.name, wantSection)) sectionLine = lastLine = i;
    } else if (sectionLine != none) {
      if (line.kind != IniLine::Kind::Blank) lastLine = i;
      if (line.kind == IniLine::Kind::Entry && SameName(line.name, wantKey)) {
        keyLine = i;
        break;
      }
    }
  }

  if (keyLine != none) {
    // Keep the key's own spelling; only the value changes.
    IniLine& line = lines_[keyLine];
    std::string_view text = Trim(line.text);
    line = MakeLine(std::string(Trim(text.substr(0, text.find('=')))) + "=" + newValue, line.end);
    return;
  }
  if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = eol;
  IniLine entry = MakeLine(keyText + "=" + newValue, eol);
  if (sectionLine == none) {
    lines_.push_back(MakeLine("[" + sectionText + "]", eol));
    lines_.push_back(std::move(entry));
  } else {
    if (lines_[lastLine].end.empty()) lines_[lastLine].end = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastLine + 1), std::move(entry));
  }
}

std::string IniFile::Bytes() const {
  std::string out;
  if (byteOrderMark_) out += kByteOrderMark;
  for (const IniLine& line : lines_) out += line.text + line.end;
  return out;
}

std::u16string IniFile::ReadValue(const std::string& path, std::u16string_view section,
                                  std::u16string_view key, std::u16string_view defaultValue) {
  std::string bytes;
  std::u16string error;
  if (DataFile::ReadAll(path, bytes, error)) {
    if (auto value = IniFile(bytes).Get(section, key)) return *value;
  }
  return Cut(std::u16string(defaultValue));
}

void IniFile::WriteValue(const std::string& path, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value) {
  struct stat st {};
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return;  // a link, a folder, a device: never written
  std::string bytes;
  std::u16string error;
  if (exists && !DataFile::ReadAll(path, bytes, error)) return;
  IniFile file(bytes);
  file.Set(section, key, value);
  ReplaceFile(path, file.Bytes(), exists, st.st_mode);
}

}  // namespace kestrola
