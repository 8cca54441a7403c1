#include "printing/EscPosReader.h"

#include "printing/CodePage858.h"

namespace kestrola {

namespace {
ReceiptItem ItemOf(ReceiptItem::Kind kind) {
  ReceiptItem item;
  item.kind = kind;
  return item;
}
}  // namespace

std::vector<ReceiptItem> EscPosReader::Read(std::string_view bytes) {
  std::vector<ReceiptItem> items;
  ReceiptSpan style;  // the attributes in effect, text unused
  int barcodeHeight = 162, moduleWidth = 3, hri = 0;
  ReceiptItem line;
  bool lineOpen = false;

  auto reset = [&] {
    style = ReceiptSpan{};
    barcodeHeight = 162;
    moduleWidth = 3;
    hri = 0;
  };
  auto endLine = [&] {
    line.kind = ReceiptItem::Kind::Line;
    line.fontB = style.fontB;
    line.heightMul = style.heightMul;
    items.push_back(std::move(line));
    line = ReceiptItem{};
    lineOpen = false;
  };
  auto flushOpenLine = [&] {
    if (lineOpen) endLine();
  };
  auto addChar = [&](char16_t c) {
    auto& spans = line.spans;
    bool same = !spans.empty() && spans.back().fontB == style.fontB &&
                spans.back().widthMul == style.widthMul &&
                spans.back().heightMul == style.heightMul && spans.back().bold == style.bold &&
                spans.back().underline == style.underline && spans.back().red == style.red;
    if (!same) {
      spans.push_back(style);
      spans.back().text.clear();
    }
    spans.back().text.push_back(c);
    lineOpen = true;
  };

  const size_t n = bytes.size();
  auto at = [&](size_t k) -> int { return k < n ? static_cast<unsigned char>(bytes[k]) : -1; };
  size_t i = 0;
  while (i < n) {
    int b = at(i);
    if (b == 0x1B) {
      int cmd = at(i + 1), arg = at(i + 2);
      switch (cmd) {
        case '@':
          reset();
          i += 2;
          break;
        case 'M':
          if (arg >= 0) style.fontB = (arg & 1) != 0;
          i += 3;
          break;
        case 'E':
          if (arg >= 0) style.bold = (arg & 1) != 0;
          i += 3;
          break;
        case '-':
          if (arg >= 0) style.underline = (arg & 3) != 0;
          i += 3;
          break;
        case 'r':
          if (arg >= 0) style.red = (arg & 1) != 0;
          i += 3;
          break;
        case 'p':
          flushOpenLine();
          items.push_back(ItemOf(ReceiptItem::Kind::Drawer));
          i += 5;
          break;
        case 't':
        case 'a':
        case 'd':
        case 'J':
        case '!':
        case 'G':
        case '3':
          i += 3;
          break;
        default:
          i += 2;
          break;
      }
    } else if (b == 0x1D) {
      int cmd = at(i + 1), arg = at(i + 2);
      switch (cmd) {
        case '!':
          if (arg >= 0) {
            style.widthMul = ((arg >> 4) & 7) + 1;
            style.heightMul = (arg & 7) + 1;
          }
          i += 3;
          break;
        case 'h':
          if (arg > 0) barcodeHeight = arg;
          i += 3;
          break;
        case 'w':
          if (arg >= 1 && arg <= 6) moduleWidth = arg;
          i += 3;
          break;
        case 'H':
          if (arg >= 0) hri = arg & 3;
          i += 3;
          break;
        case 'k': {
          flushOpenLine();
          ReceiptItem code = ItemOf(ReceiptItem::Kind::Barcode);
          code.barcodeType = arg;
          code.barcodeHeight = barcodeHeight;
          code.moduleWidth = moduleWidth;
          code.hriPosition = hri;
          size_t start;
          if (arg >= 0 && arg <= 6) {  // data ends with NUL
            start = i + 3;
            size_t end = start;
            while (end < n && bytes[end] != '\0') ++end;
            if (start < n) code.barcodeData = std::string(bytes.substr(start, end - start));
            i = end + 1;
          } else {
            int len = at(i + 3);
            start = i + 4;
            size_t take =
                len < 0 ? 0 : std::min(static_cast<size_t>(len), n > start ? n - start : 0);
            if (start <= n) code.barcodeData = std::string(bytes.substr(start, take));
            i = start + take;
          }
          items.push_back(std::move(code));
          break;
        }
        case 'V':
          flushOpenLine();
          items.push_back(ItemOf(ReceiptItem::Kind::Cut));
          i += (arg == 65 || arg == 66 || arg == 97 || arg == 98 || arg == 103 || arg == 104) ? 4
                                                                                              : 3;
          break;
        default:
          i += 2;
          break;
      }
    } else if (b == '\n') {
      endLine();
      ++i;
    } else if (b < 0x20 || b == 0x7F) {
      ++i;
    } else {
      addChar(CodePage858::ToUnicode(static_cast<unsigned char>(b)));
      ++i;
    }
  }
  flushOpenLine();
  return items;
}

}  // namespace kestrola
