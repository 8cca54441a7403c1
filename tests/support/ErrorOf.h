#pragma once

#include <cstdint>

#include "runtime/Error.h"

namespace kestrola::testing {

// The number of the kestrola::Error that `f` raises, or 0 when it raises none.
template <class F>
int32_t ErrorOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace kestrola::testing
