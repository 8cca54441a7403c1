#pragma once

#include <string>
#include <string_view>

namespace kestrola::CodePage858 {

// The Unicode character of a code page 858 byte (bytes below 0x80 are ASCII).
char16_t ToUnicode(unsigned char byte);
// The code page 858 byte of a character, or '?' when the code page lacks it.
unsigned char FromUnicode(char16_t c);

}  // namespace kestrola::CodePage858
