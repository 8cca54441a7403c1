#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "printing/PrintDestination.h"

namespace kestrola {

// Writes each document to its own file "<date>-<time>-<n>.bin" in a folder, with a PNG
// preview beside it when a preview writer is installed. A document is written and flushed
// under a hidden working name first, and only then gets its ".bin" name.
class DirDestination : public PrintDestination {
 public:
  // Draws the preview of the ESC/POS bytes into the PNG file; throws kestrola::Error or
  // returns false when it cannot.
  using PreviewWriter = std::function<bool(std::string_view bytes, const std::string& pngPath)>;
  static void SetPreviewWriter(PreviewWriter writer);

  explicit DirDestination(std::string folder) : folder_(std::move(folder)) {}
  void Send(const PrintDocument& document) override;
  void Probe(const std::u16string& printerName) override;
  std::u16string Uri() const override;

  // The path of the last document written (empty before the first).
  const std::string& LastFile() const { return lastFile_; }

 private:
  std::string folder_;
  std::string lastFile_;
};

}  // namespace kestrola
