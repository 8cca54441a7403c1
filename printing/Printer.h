#pragma once

#include <memory>
#include <string>

#include "printing/EscPosEncoder.h"
#include "printing/PrintDestination.h"
#include "printing/PrintDocument.h"
#include "printing/PrinterFont.h"

namespace kestrola {

// An installed receipt printer: its device name, its font state, the document being
// printed and the destination that receives finished documents.
class Printer {
 public:
  Printer(std::u16string deviceName, std::shared_ptr<PrintDestination> destination);

  const std::u16string& DeviceName() const { return deviceName_; }
  PrintDestination& Destination() { return *destination_; }

  const PrinterFont& Font() const { return font_; }
  const std::u16string& FontName() const { return font_.face; }
  // Throws kestrola::Error (invalid argument) for a face the printer does not offer.
  void SetFontName(const std::u16string& face);
  double FontSize() const { return font_.size; }
  // Throws kestrola::Error (invalid argument) for a size that is not a positive number.
  void SetFontSize(double points);
  bool FontBold() const { return font_.bold; }
  void SetFontBold(bool on) { font_.bold = on; }
  bool FontUnderline() const { return font_.underline; }
  void SetFontUnderline(bool on) { font_.underline = on; }
  uint32_t ForeColor() const { return font_.color; }
  void SetForeColor(uint32_t rgb) { font_.color = rgb & 0xFFFFFF; }

  // Prints the text with the current font and ends the line; a CR LF in the text breaks it.
  void Print(const std::u16string& text);
  // Hands the document to the destination. With nothing printed since the last end of
  // document nothing is sent. The document is finished either way: when the destination
  // fails, the error is raised and the document is discarded, so it is never sent twice.
  void EndDoc();

  // Drops the document printed so far without sending it (after a failure half-way, so that
  // the next document does not begin with part of this one).
  void DiscardDocument();
  // The document printed so far and not yet ended.
  PrintDocument PendingDocument() const;
  // The bytes a control-font character sends.
  void SetControlBytes(char16_t c, std::string bytes) {
    encoder_.SetControlBytes(c, std::move(bytes));
  }

 private:
  std::u16string deviceName_;
  std::shared_ptr<PrintDestination> destination_;
  PrinterFont font_;
  EscPosEncoder encoder_;
  std::vector<PrintedText> operations_;
};

}  // namespace kestrola
