#include "service/INI.h"

#include "runtime/IniFile.h"
#include "runtime/Text.h"

namespace kestrola::INI {

// A link, a foreign owner's file or anything but a regular file counts as unreadable
// (DataFile); start-up checks config.ini beforehand and says why it cannot be used.
std::u16string LeerINI(const std::u16string& file, const std::u16string& section,
                       const std::u16string& key, const std::u16string& defaultValue) {
  return IniFile::ReadValue(Text::ToUtf8(file), section, key, defaultValue);
}

void EscribirINI(const std::u16string& file, const std::u16string& section,
                 const std::u16string& key, const std::u16string& value) {
  IniFile::WriteValue(Text::ToUtf8(file), section, key, value);
}

}  // namespace kestrola::INI
