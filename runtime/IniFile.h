#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrola {

// One line of an initialisation file and what it is.
struct IniLine {
  enum class Kind {
    Blank,    // nothing but blanks
    Comment,  // first character ";" or "#"
    Section,  // "[name]"
    Entry,    // "key=value"
    Other,    // none of these
  };
  Kind kind = Kind::Blank;
  std::string text;    // the line as written, without its end
  std::string end;     // "\r\n", "\n", "\r", or "" for a last line without one
  std::string name;    // Section: its name; Entry: its key
  std::string value;   // Entry: its value
  bool closed = true;  // Section: false when the "]" is missing (the name is the rest)
};

// The initialisation files of the program (config.ini, printers.ini), read and written by one
// set of rules:
//  - UTF-8 text; a byte-order mark at the start belongs to no line and is kept on rewrite;
//  - a line ends with CR LF, LF or a lone CR, and keeps its own end, so a rewrite changes no
//    byte of the lines it does not touch;
//  - blanks (spaces, tabs) around a line, a name and a value do not count;
//  - a line that starts with ";" or "#" is a comment;
//  - "[name]" starts a section; "key=value" is an entry, split at the first "=";
//  - one pair of double quotes around a section name or a key is removed, and one pair of
//    double or single quotes around a value, so quotes keep blanks in a value ("  p w  ");
//  - section names and keys are compared without regard to case.
// Lookups by section and key (Get, ReadValue) follow the private-profile functions that
// config.ini was made for: only the first section of a name counts, and a value is cut to
// 9999 characters (the reader's 10000-character buffer with its terminating zero).
class IniFile {
 public:
  IniFile() = default;
  explicit IniFile(std::string_view bytes);

  // What a single line (without its end) is, by the rules above.
  static IniLine Classify(std::string_view text);

  const std::vector<IniLine>& Lines() const { return lines_; }
  bool HasByteOrderMark() const { return byteOrderMark_; }

  // The value of `key` in the first section named `section`; nothing when either is absent.
  std::optional<std::u16string> Get(std::u16string_view section, std::u16string_view key) const;
  // Sets `key` in the first section named `section` to `value`, adding the key at the end of
  // the section, or the section at the end of the file, when absent. The key keeps its own
  // spelling. A line break in a name or value becomes a blank, so that no write can add lines;
  // a value that starts or ends with a blank or a quote is written inside double quotes, so
  // that Get gives it back unchanged.
  void Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);
  // The file's text: the byte-order mark, then every line with its end.
  std::string Bytes() const;

  // The value of `key` in `section` of the file at `path`, or `defaultValue` when the file
  // (or a refused one: see DataFile), the section or the key is absent; cut to 9999
  // characters. A key present with an empty value gives the empty text.
  static std::u16string ReadValue(const std::string& path, std::u16string_view section,
                                  std::u16string_view key, std::u16string_view defaultValue);
  // Sets `key` in `section` of the file at `path`, creating the file (readable by its owner
  // only, by the group too in a shared folder), the section or the key as needed. The new
  // content replaces the file whole or not at all; a link, a folder or a device in the file's
  // place is never written. A write the system refuses is ignored.
  static void WriteValue(const std::string& path, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value);

 private:
  std::vector<IniLine> lines_;
  bool byteOrderMark_ = false;
};

}  // namespace kestrola
