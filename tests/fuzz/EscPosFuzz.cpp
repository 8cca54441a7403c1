// Any bytes read as an ESC/POS document: no crash, no hang.
#include <cstdint>
#include <string_view>

#include "printing/Code128.h"
#include "printing/EscPosReader.h"

using namespace kestrola;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& item : EscPosReader::Read(bytes)) {
    if (item.kind == ReceiptItem::Kind::Barcode) {
      Code128::Encode(item.barcodeData);
      Code128::ReadableText(item.barcodeData);
    }
  }
  Code128::Encode(bytes);
  return 0;
}
