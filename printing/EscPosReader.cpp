#include "printing/EscPosReader.h"

#include <algorithm>

#include "printing/CodePage858.h"

namespace kestrola {

namespace {
constexpr int kEsc = 0x1B;
constexpr int kGs = 0x1D;

ReceiptItem ItemOf(ReceiptItem::Kind kind) {
  ReceiptItem item;
  item.kind = kind;
  return item;
}

// GS V with these arguments feeds before cutting and takes one more byte, the feed.
bool IsFeedCut(int arg) {
  return arg == 65 || arg == 66 || arg == 97 || arg == 98 || arg == 103 || arg == 104;
}

// The bytes an ESC command takes, ESC included. Commands that are not listed take two; those
// with an argument the preview ignores are listed all the same, so that the argument is not
// read as text.
size_t EscLength(int command) {
  switch (command) {
    case 'M':  // font
    case 'E':  // bold
    case '-':  // underline
    case 'r':  // colour
    case 't':  // code page
    case 'a':  // alignment
    case 'd':  // feed lines
    case 'J':  // feed dots
    case '!':  // print mode
    case 'G':  // double strike
    case '3':  // line spacing
      return 3;
    case 'p':  // drawer pulse: pin, on time, off time
      return 5;
    default:
      return 2;
  }
}

// The bytes a GS command other than GS k (barcode, measured by its data) takes, GS included.
size_t GsLength(int command, int arg) {
  switch (command) {
    case '!':  // character size
    case 'h':  // barcode height
    case 'w':  // barcode module width
    case 'H':  // barcode readable text position
      return 3;
    case 'V':  // cut
      return IsFeedCut(arg) ? 4 : 3;
    default:
      return 2;
  }
}

// Text of the two spans is printed alike.
bool SameLook(const ReceiptSpan& a, const ReceiptSpan& b) {
  return a.fontB == b.fontB && a.widthMul == b.widthMul && a.heightMul == b.heightMul &&
         a.bold == b.bold && a.underline == b.underline && a.red == b.red;
}

// ESC commands that switch one attribute on or off, and the bits of their argument that do it.
struct FlagCommand {
  int command;
  bool ReceiptSpan::*flag;
  int mask;
};
constexpr FlagCommand kFlagCommands[] = {
    {'M', &ReceiptSpan::fontB, 1},
    {'E', &ReceiptSpan::bold, 1},
    {'-', &ReceiptSpan::underline, 3},
    {'r', &ReceiptSpan::red, 1},
};

// What the printer holds while it reads a document: the attributes and barcode settings in
// effect, the line being filled and what it has done so far.
class Reading {
 public:
  explicit Reading(std::string_view bytes) : bytes_(bytes) {}

  std::vector<ReceiptItem> Run() {
    size_t i = 0;
    while (i < bytes_.size()) {
      const int b = At(i);
      if (b == kEsc) {
        i += Esc(At(i + 1), At(i + 2));
      } else if (b == kGs) {
        i += Gs(i);
      } else {
        Character(b);
        ++i;
      }
    }
    FlushOpenLine();
    return std::move(items_);
  }

 private:
  struct BarcodeSettings {
    int height = 162;
    int moduleWidth = 3;
    int hri = 0;
  };

  // The byte at `k`, or -1 past the end.
  int At(size_t k) const { return k < bytes_.size() ? static_cast<unsigned char>(bytes_[k]) : -1; }

  // Applies ESC `command` with its first argument; returns the bytes it takes.
  size_t Esc(int command, int arg) {
    switch (command) {
      case '@':
        style_ = ReceiptSpan{};
        barcode_ = BarcodeSettings{};
        break;
      case 'p':
        Add(ReceiptItem::Kind::Drawer);
        break;
      default:
        // An argument cut off by the end of the document (-1) leaves the attribute as it was.
        for (const FlagCommand& f : kFlagCommands) {
          if (f.command == command && arg >= 0) style_.*f.flag = (arg & f.mask) != 0;
        }
        break;
    }
    return EscLength(command);
  }

  // Applies the GS command at `i`; returns the bytes it takes.
  size_t Gs(size_t i) {
    const int command = At(i + 1), arg = At(i + 2);
    switch (command) {
      case '!':
        if (arg >= 0) {
          style_.widthMul = ((arg >> 4) & 7) + 1;
          style_.heightMul = (arg & 7) + 1;
        }
        break;
      case 'h':
        if (arg > 0) barcode_.height = arg;
        break;
      case 'w':
        if (arg >= 1 && arg <= 6) barcode_.moduleWidth = arg;
        break;
      case 'H':
        if (arg >= 0) barcode_.hri = arg & 3;
        break;
      case 'k':
        return Barcode(i);
      case 'V':
        Add(ReceiptItem::Kind::Cut);
        break;
    }
    return GsLength(command, arg);
  }

  // GS k type: types 0 to 6 carry their data up to a NUL, the others a length byte and that
  // many bytes. Returns the bytes the command takes.
  size_t Barcode(size_t i) {
    FlushOpenLine();
    const size_t n = bytes_.size();
    ReceiptItem code = ItemOf(ReceiptItem::Kind::Barcode);
    code.barcodeType = At(i + 2);
    code.barcodeHeight = barcode_.height;
    code.moduleWidth = barcode_.moduleWidth;
    code.hriPosition = barcode_.hri;
    size_t next;
    if (code.barcodeType >= 0 && code.barcodeType <= 6) {
      const size_t start = i + 3;
      size_t end = start;
      while (end < n && bytes_[end] != '\0') ++end;
      if (start < n) code.barcodeData = std::string(bytes_.substr(start, end - start));
      next = end + 1;
    } else {
      const int length = At(i + 3);
      const size_t start = i + 4;
      const size_t take =
          length < 0 ? 0 : std::min(static_cast<size_t>(length), n > start ? n - start : 0);
      if (start <= n) code.barcodeData = std::string(bytes_.substr(start, take));
      next = start + take;
    }
    items_.push_back(std::move(code));
    return next - i;
  }

  // A byte that is not a command: a line feed ends the line, other control bytes are
  // ignored, and the rest are characters of code page 858.
  void Character(int b) {
    if (b == '\n') {
      EndLine();
    } else if (b >= 0x20 && b != 0x7F) {
      AddChar(CodePage858::ToUnicode(static_cast<unsigned char>(b)));
    }
  }

  void AddChar(char16_t c) {
    auto& spans = line_.spans;
    if (spans.empty() || !SameLook(spans.back(), style_)) {
      spans.push_back(style_);
      spans.back().text.clear();
    }
    spans.back().text.push_back(c);
    lineOpen_ = true;
  }

  // The line takes the font and height in effect at its line feed.
  void EndLine() {
    line_.kind = ReceiptItem::Kind::Line;
    line_.fontB = style_.fontB;
    line_.heightMul = style_.heightMul;
    items_.push_back(std::move(line_));
    line_ = ReceiptItem{};
    lineOpen_ = false;
  }

  // Text not yet ended by a line feed is printed before a cut, a barcode or the drawer.
  void FlushOpenLine() {
    if (lineOpen_) EndLine();
  }

  void Add(ReceiptItem::Kind kind) {
    FlushOpenLine();
    items_.push_back(ItemOf(kind));
  }

  std::string_view bytes_;
  std::vector<ReceiptItem> items_;
  ReceiptSpan style_;  // the attributes in effect, text unused
  BarcodeSettings barcode_;
  ReceiptItem line_;
  bool lineOpen_ = false;
};
}  // namespace

std::vector<ReceiptItem> EscPosReader::Read(std::string_view bytes) {
  return Reading(bytes).Run();
}

}  // namespace kestrola
