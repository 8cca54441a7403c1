#include "printing/Printer.h"

#include <cmath>

#include "runtime/Error.h"

namespace kestrola {

Printer::Printer(std::u16string deviceName, std::shared_ptr<PrintDestination> destination)
    : deviceName_(std::move(deviceName)), destination_(std::move(destination)) {}

void Printer::SetFontName(const std::u16string& face) {
  if (!IsDeviceFont(face)) {
    throw Error(kErrInvalidCall, u"Printer",
                u"Printer \"" + deviceName_ + u"\" does not offer the font \"" + face + u"\"");
  }
  font_.face = face;
}

void Printer::SetFontSize(double points) {
  if (!(points > 0) || !std::isfinite(points) || points > 2000) {
    throw Error::Standard(kErrInvalidCall, u"Printer");
  }
  font_.size = points;
}

void Printer::Print(const std::u16string& text) {
  encoder_.Print(font_, text);
  operations_.push_back({text, font_});
}

PrintDocument Printer::PendingDocument() const {
  return PrintDocument{deviceName_, encoder_.Started() ? encoder_.Bytes() : std::string(),
                       operations_};
}

void Printer::DiscardDocument() {
  encoder_.Clear();
  operations_.clear();
}

void Printer::EndDoc() {
  if (!encoder_.Started()) return;
  PrintDocument doc = PendingDocument();
  encoder_.Clear();
  operations_.clear();
  destination_->Send(doc);
}

}  // namespace kestrola
