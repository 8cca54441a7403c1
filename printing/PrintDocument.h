#pragma once

#include <string>
#include <vector>

#include "printing/PrinterFont.h"

namespace kestrola {

// One print operation of a document: the text and the font it was printed with.
struct PrintedText {
  std::u16string text;
  PrinterFont font;
};

// A finished document as it is handed to a destination: the ESC/POS bytes the printer
// receives, and the print operations they were built from.
struct PrintDocument {
  std::u16string printerName;
  std::string bytes;
  std::vector<PrintedText> operations;
};

}  // namespace kestrola
