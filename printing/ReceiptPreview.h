#pragma once

#include <string>
#include <string_view>

#include <QImage>

namespace kestrola {

// Draws what a receipt printer makes of a document's ESC/POS bytes: an 80 mm receipt 576
// dots wide, font A 12 x 24 and font B 9 x 17 dots scaled by the size commands, bold,
// underline, red, CODE128 barcodes as bars, a dashed line at each cut and a mark where the
// cash drawer opens. Works without a display.
class ReceiptPreview {
 public:
  static constexpr int kWidth = 576;

  static QImage Render(std::string_view bytes);
  // Writes the picture as PNG; false when the file cannot be written.
  static bool WritePng(std::string_view bytes, const std::string& path);
  // Makes every "dir:" printer write a PNG beside each document.
  static void Install();
};

}  // namespace kestrola
