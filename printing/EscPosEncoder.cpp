#include "printing/EscPosEncoder.h"

#include "printing/CodePage858.h"
#include "runtime/Error.h"
#include "runtime/Hex.h"

namespace kestrola {

namespace {
constexpr char kEsc = 0x1B;
constexpr char kGs = 0x1D;

std::string Cmd(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

bool IsRed(uint32_t color) {
  int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
  return r >= 128 && g < 128 && b < 128;
}

bool StartsWithCodeSet(std::u16string_view t) {
  return t.size() >= 2 && t[0] == u'{' && (t[1] == u'A' || t[1] == u'B' || t[1] == u'C');
}
}  // namespace

EscPosEncoder::EscPosEncoder() {
  control_[u'F'] = Cmd({kEsc, 'p', 0, 25, 250});
  control_[u'P'] = Cmd({kGs, 'V', 66, 0});
}

void EscPosEncoder::SetControlBytes(char16_t c, std::string bytes) {
  control_[c] = std::move(bytes);
}

void EscPosEncoder::Clear() {
  bytes_.clear();
  started_ = false;
  emitted_ = Emitted{};
}

void EscPosEncoder::Start() {
  if (started_) return;
  started_ = true;
  bytes_ = Cmd({kEsc, '@', kEsc, 't', 19});
  emitted_ = Emitted{};
}

void EscPosEncoder::Print(const PrinterFont& font, std::u16string_view text) {
  Start();
  if (font.face == kFaceControl) {
    PrintControl(text);
  } else if (font.face == kFaceCode128) {
    PrintBarcode(text);
  } else {
    ApplyFont(font);
    PrintPlain(text);
  }
}

void EscPosEncoder::ApplyFont(const PrinterFont& font) {
  int fontB = font.face == kFaceB2x1 ? 1 : 0;
  int sizeBits = 0x00;
  if (font.face == kFaceA2x2) sizeBits = 0x11;
  if (font.face == kFaceA2x1 || font.face == kFaceB2x1) sizeBits = 0x10;
  bool red = IsRed(font.color);
  if (fontB != emitted_.fontB) bytes_ += Cmd({kEsc, 'M', fontB});
  if (sizeBits != emitted_.sizeBits) bytes_ += Cmd({kGs, '!', sizeBits});
  if (font.bold != emitted_.bold) bytes_ += Cmd({kEsc, 'E', font.bold ? 1 : 0});
  if (font.underline != emitted_.underline) bytes_ += Cmd({kEsc, '-', font.underline ? 1 : 0});
  if (red != emitted_.red) bytes_ += Cmd({kEsc, 'r', red ? 1 : 0});
  emitted_.fontB = fontB;
  emitted_.sizeBits = sizeBits;
  emitted_.bold = font.bold;
  emitted_.underline = font.underline;
  emitted_.red = red;
}

void EscPosEncoder::PrintPlain(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r') {
      // CR LF becomes LF; a CR on its own moves nothing.
      continue;
    }
    if (c == u'\n') {
      bytes_.push_back('\n');
    } else if (c == u'\t') {
      bytes_.push_back(' ');
    } else if (c < 0x20 || c == 0x7F) {
      // Other control characters would reach the printer as commands.
      bytes_.push_back('?');
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      bytes_.push_back('?');  // one character outside the code page
      ++i;
    } else {
      bytes_.push_back(static_cast<char>(CodePage858::FromUnicode(c)));
    }
  }
  bytes_.push_back('\n');
}

void EscPosEncoder::PrintControl(std::u16string_view text) {
  // Each character is a command; the printer gets only the command bytes.
  for (char16_t c : text) {
    auto it = control_.find(c);
    if (it != control_.end()) bytes_ += it->second;
  }
}

void EscPosEncoder::PrintBarcode(std::u16string_view text) {
  std::string data;
  if (!StartsWithCodeSet(text)) data = "{B";
  for (char16_t c : text) {
    if (c < 0x20 || c > 0x7E) {
      throw Error(kErrInvalidCall, u"Printer",
                  u"Character not allowed in barcode data: U+" + Hex::Text<char16_t>(c, 4));
    }
    data.push_back(static_cast<char>(c));
  }
  if (data.size() > 255) {
    throw Error(kErrInvalidCall, u"Printer", u"Barcode data longer than 255 characters");
  }
  if (!emitted_.barcodeSetup) {
    bytes_ += Cmd({kGs, 'h', 80, kGs, 'w', 2, kGs, 'H', 2});
    emitted_.barcodeSetup = true;
  }
  bytes_ += Cmd({kGs, 'k', 73, static_cast<int>(data.size())});
  bytes_ += data;
  bytes_.push_back('\n');
}

bool IsDeviceFont(const std::u16string& face) {
  return face == kFaceA1x1 || face == kFaceA2x2 || face == kFaceA2x1 || face == kFaceB2x1 ||
         face == kFaceCode128 || face == kFaceControl;
}

}  // namespace kestrola
