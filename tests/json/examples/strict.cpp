#include <iostream>

#include "json/JsonBag.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

int main() {
  for (const char* text : {"[1, 2,]", "[1 2]", "{\"a\": 01}", "42", "[1] [2]"}) {
    kestrola::JsonBag bag;
    bag.SetStrict(true);
    try {
      bag.SetJSONUtf8(text);
      std::cout << text << " -> " << bag.JSONUtf8() << "\n";
    } catch (const kestrola::Error& e) {
      std::cout << text << " -> error " << e.Number() << ": "
                << kestrola::Text::ToUtf8(e.Description()) << "\n";
    }
  }
}
