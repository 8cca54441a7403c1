#pragma once

#include <memory>
#include <string>
#include <vector>

#include "printing/Printers.h"
#include "printing/RecordingDestination.h"

namespace kestrola {

// Installs recording printers named as given and forgets them afterwards.
struct RecordingPrinters {
  explicit RecordingPrinters(std::vector<std::u16string> names) {
    Printers::Reset();
    std::vector<std::shared_ptr<Printer>> list;
    for (auto& n : names) {
      auto dest = std::make_shared<RecordingDestination>();
      destinations.push_back(dest);
      list.push_back(std::make_shared<Printer>(n, dest));
    }
    printers = list;
    Printers::SetInstalledForTesting(list);
  }
  ~RecordingPrinters() {
    Printers::SetInstalledForTesting(std::nullopt);
    Printers::Reset();
  }
  std::vector<std::shared_ptr<RecordingDestination>> destinations;
  std::vector<std::shared_ptr<Printer>> printers;
};

}  // namespace kestrola
