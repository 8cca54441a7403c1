#pragma once

#include <cstdint>
#include <string>

namespace kestrola {

// One diagnostic record of the database provider: what the activity log writes for a failed
// database call. The database layer produces these; the log only reads them.
struct ProviderError {
  int32_t nativeError = 0;
  std::u16string description;
  std::u16string sqlState;
};

}  // namespace kestrola
