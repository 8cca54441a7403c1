#pragma once

// Matching the kestrola::Error a piece of code raises, for tests that compare it with the
// expected number or text.
//
//   EXPECT_EQ(ErrorNumberOf([&] { bag.SetJSON(u"["); }), kErrTypeMismatch);
//   EXPECT_EQ(ErrorTextOf([&] { bag.SetJSON(u"["); }), "13: Bad value at character 2");

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola::testing {

// The kestrola::Error that `f` raises, or nothing when it raises none. Other exceptions pass
// through, so that the test reports them as they are.
template <class F>
std::optional<Error> ErrorRaisedBy(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return std::nullopt;
}

// The number of the kestrola::Error that `f` raises, or 0 when it raises none.
template <class F>
int32_t ErrorNumberOf(F&& f) {
  std::optional<Error> e = ErrorRaisedBy(f);
  return e ? e->Number() : 0;
}

// "number: description" of the kestrola::Error that `f` raises, or "" when it raises none.
template <class F>
std::string ErrorTextOf(F&& f) {
  std::optional<Error> e = ErrorRaisedBy(f);
  return e ? std::to_string(e->Number()) + ": " + Text::ToUtf8(e->Description()) : "";
}

}  // namespace kestrola::testing
