#pragma once

#include <gtest/gtest.h>

#include <string>

#include "json/JsonBag.h"
#include "runtime/Text.h"
#include "tests/support/Errors.h"

namespace kestrola::testing {

inline std::u16string U(std::string_view s) {
  return Text::FromUtf8(s);
}
inline std::string S(std::u16string_view s) {
  return Text::ToUtf8(s);
}

inline std::shared_ptr<JsonBag> Parse(std::string_view text, bool decimal = false) {
  auto bag = JsonBag::Create();
  bag->SetDecimalMode(decimal);
  bag->SetJSON(U(text));
  return bag;
}

inline std::string ParseError(std::string_view text) {
  JsonBag bag;
  return ErrorTextOf([&] { bag.SetJSON(U(text)); });
}

inline std::string Json(const JsonBag& bag) {
  return S(bag.JSON());
}

}  // namespace kestrola::testing
