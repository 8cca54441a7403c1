// Reads keys from arbitrary file contents, writes one key and checks that the written value
// reads back and that a key of another section is unchanged by the write.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/Text.h"
#include "service/INI.h"

using namespace kestrola;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/kestrola-ini-fuzz-" + std::to_string(getpid()) + ".ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::u16string file = Text::FromUtf8(path);
  // Section and key names taken from the input's first bytes, so the fuzzer can aim at them.
  std::u16string section = u"Kestrola", key = u"Terminal";
  if (size > 2 && data[0] < 8) {
    section = std::u16string(1, char16_t(u'A' + data[1] % 26));
    key = std::u16string(1, char16_t(u'a' + data[2] % 26));
  }
  const std::u16string other = INI::LeerINI(file, u"Other", u"x", u"<none>");
  INI::LeerINI(file, section, key, u"default");
  INI::LeerINI(file, u"", u"", u"");
  INI::EscribirINI(file, section, key, u"written value");
  const std::u16string back = INI::LeerINI(file, section, key, u"default");
  if (back != u"written value") std::abort();
  if (section != u"Other" && INI::LeerINI(file, u"Other", u"x", u"<none>") != other) std::abort();
  std::remove(path.c_str());
  return 0;
}
