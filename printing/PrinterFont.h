#pragma once

#include <cstdint>
#include <string>

namespace kestrola {

// The font attributes of a printer that decide how a printed text looks.
struct PrinterFont {
  std::u16string face = u"FontA1x1";  // a device-font name of the receipt printer
  double size = 9.5;                  // points; kept for callers, the face decides the size
  bool bold = false;
  bool underline = false;  // the second font style
  uint32_t color = 0;      // 0xRRGGBB

  bool operator==(const PrinterFont&) const = default;
};

// The device fonts a receipt printer offers.
inline constexpr const char16_t* kFaceA1x1 = u"FontA1x1";
inline constexpr const char16_t* kFaceA2x2 = u"FontA2x2";
inline constexpr const char16_t* kFaceA2x1 = u"FontA2x1";
inline constexpr const char16_t* kFaceB2x1 = u"FontB2x1";
inline constexpr const char16_t* kFaceCode128 = u"Code128";
inline constexpr const char16_t* kFaceControl = u"FontControl";

bool IsDeviceFont(const std::u16string& face);

}  // namespace kestrola
