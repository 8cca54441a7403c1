#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrola {

// Text printed with one set of attributes.
struct ReceiptSpan {
  std::u16string text;
  bool fontB = false;
  int widthMul = 1;   // 1..8
  int heightMul = 1;  // 1..8
  bool bold = false;
  bool underline = false;
  bool red = false;
};

// One thing the printer does, in paper order.
struct ReceiptItem {
  enum class Kind { Line, Barcode, Cut, Drawer };
  Kind kind = Kind::Line;
  std::vector<ReceiptSpan> spans;  // Line: the text up to its line feed
  bool fontB = false;              // Line: the font in effect at the line feed
  int heightMul = 1;
  int barcodeType = 0;  // Barcode: the GS k type, its data and the settings in effect
  std::string barcodeData;
  int barcodeHeight = 162;
  int moduleWidth = 3;
  int hriPosition = 0;
};

// Reads the ESC/POS bytes of a document back into what the printer would do with them.
// Understands the commands our documents use; other commands are skipped, and any input is
// accepted.
class EscPosReader {
 public:
  static std::vector<ReceiptItem> Read(std::string_view bytes);
};

}  // namespace kestrola
