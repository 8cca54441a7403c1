#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrola::Code128 {

// The symbol values of CODE128 data written with the printer's code-set marks ("{A", "{B",
// "{C", "{S" shift, "{1".."{4" function codes, "{{" for "{"): start symbol, data, check
// symbol and stop symbol (106). Nullopt when the data is not valid.
std::optional<std::vector<int>> Encode(std::string_view data);

// Bar and space widths in modules of one symbol (six, seven for the stop symbol).
std::string_view Pattern(int symbol);

// The readable text printed under the bars: the data without its marks.
std::string ReadableText(std::string_view data);

}  // namespace kestrola::Code128
