#include <iostream>

#include "json/JsonBag.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

int main() {
  kestrola::JsonBag bag;
  try {
    bag.SetJSONUtf8("{\n  \"id\": 7,\n  \"name\": Ana\n}");
  } catch (const kestrola::Error& e) {
    std::cout << "error " << e.Number() << ": " << kestrola::Text::ToUtf8(e.Description())
              << " (line " << bag.ErrorLine() << ", column " << bag.ErrorColumn() << ")\n";
  }
}
