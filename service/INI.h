#pragma once

#include <string>

// Reading and writing one key of an initialisation file: "[Section]" header lines followed by
// "key=value" lines, by the rules of runtime/IniFile.h. Section and key names are compared
// without regard to case; blanks around names and values are ignored and one pair of
// surrounding quotes is removed from a value. Files are UTF-8, with or without a byte-order
// mark; lines may end with CR LF or LF.
namespace kestrola::INI {

// The value of `key` in `section` of `file`, or `defaultValue` when the file, the section or
// the key is absent. A key present with an empty value gives the empty text. The result is cut
// to 9999 characters.
std::u16string LeerINI(const std::u16string& file, const std::u16string& section,
                       const std::u16string& key, const std::u16string& defaultValue);

// Sets `key` in `section` of `file` to `value`, creating the file (readable by its owner only),
// the section or the key as needed. Other sections, keys, comments, the order of the lines and
// a byte-order mark stay as they were. A value that starts or ends with a blank or a quote is
// written inside double quotes, so that LeerINI gives it back unchanged. A write the system
// refuses is ignored.
void EscribirINI(const std::u16string& file, const std::u16string& section,
                 const std::u16string& key, const std::u16string& value);

}  // namespace kestrola::INI
