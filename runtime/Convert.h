#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrola::Convert {

// The platform's Val: leading blanks (space, tab, line feed, carriage return) skipped, blanks
// inside the number ignored, the longest leading decimal number read with "." as decimal mark
// and an optional exponent (E or D); &H and &O prefixes read hexadecimal and octal integers.
// 0 when the text does not begin with a number. Never fails.
double Val(std::u16string_view text);

// Conversion to a 16-bit integer: a number in text ("." decimal point, optional sign and
// exponent, blanks around) rounded half to even. Error 13 when the text is not a number,
// error 6 outside -32768..32767.
int16_t ToInteger(std::u16string_view text);
int16_t ToInteger(double value);

// Rounds half to even to an integer (as double).
double RoundHalfEven(double value);

// Shortest text that reads back as the same double, "." as decimal point; integral values
// have no decimal point ("2", "-0" becomes "0"). Large and small magnitudes use an exponent
// written "1E+20" / "1E-07" as the platform's standard number format does.
std::u16string NumberToText(double value);
// Same digits as NumberToText but in JSON form: lower-case exponent, no "+" ("1e+20" -> "1e20").
std::string DoubleToJson(double value);

// Parses a double from invariant text (from_chars); returns false when the text is not wholly
// a number.
bool ParseDouble(std::string_view text, double& out);

}  // namespace kestrola::Convert
