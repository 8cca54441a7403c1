#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "printing/Printer.h"
#include "runtime/Error.h"

namespace kestrola {

// The receipt printer object: selects the process-wide current printer, prints receipt
// markup lines and the test receipt on it, and ends documents. Catches nothing: every
// failure reaches the caller as a kestrola::Error.
class clsPrint {
 public:
  // Makes the installed printer with exactly this device name current, with face
  // "FontA1x1". False, leaving the current printer alone, when no printer has the name.
  bool setPrinter(const std::u16string& sPrinter);
  // The installed printer whose device name contains sPrinter (the last such one), or null.
  std::shared_ptr<Printer> GetPrinter(const std::u16string& sPrinter);
  void setWidth(int16_t nWidth) { AnchoLinea_ = nWidth; }
  int16_t AnchoLinea() const { return AnchoLinea_; }
  // Prints ch repeated to fill AnchoLinea characters (ch once when the width is not
  // positive) as one line.
  void PrintLine(const std::u16string& ch);
  // Ends the document on the current printer.
  void EndDoc();

  // Prints one receipt markup line. On return texto holds the line with "<N>" replaced.
  void PrintText(std::u16string& texto);
  // Returns an empty text.
  std::u16string ajustarTexto(const std::u16string& Text, double width);
  // Prints the fixed test receipt and ends the document.
  void PrintTest();

  // The error PrintText would raise for this line, without printing anything: a "<" with no
  // ">" after it, or a line of 32,767 characters or more. Errors of the printer itself are
  // not foreseen.
  static std::optional<Error> CheckText(std::u16string_view texto);

 private:
  int16_t AnchoLinea_ = 0;
};

}  // namespace kestrola
