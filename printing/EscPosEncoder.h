#pragma once

#include <map>
#include <string>
#include <string_view>

#include "printing/PrinterFont.h"

namespace kestrola {

// Builds the ESC/POS bytes of one document from print operations. A command is written
// only when the printer state it sets differs from what the printer is already in.
class EscPosEncoder {
 public:
  EscPosEncoder();

  // The bytes a control-font character sends ("F" drawer, "P" cut by default).
  void SetControlBytes(char16_t c, std::string bytes);

  // One print operation: the text in the given font, then the end of the line.
  // Throws kestrola::Error (invalid argument) for barcode data the printer cannot take.
  void Print(const PrinterFont& font, std::u16string_view text);

  bool Started() const { return started_; }
  const std::string& Bytes() const { return bytes_; }
  // Forgets the document; the next print starts a new one.
  void Clear();

 private:
  struct Emitted {
    int fontB = 0;
    int sizeBits = 0;
    bool bold = false;
    bool underline = false;
    bool red = false;
    bool barcodeSetup = false;
  };
  void Start();
  void ApplyFont(const PrinterFont& font);
  void PrintBarcode(std::u16string_view text);
  void PrintControl(std::u16string_view text);
  void PrintPlain(std::u16string_view text);

  std::map<char16_t, std::string> control_;
  std::string bytes_;
  bool started_ = false;
  Emitted emitted_;
};

}  // namespace kestrola
