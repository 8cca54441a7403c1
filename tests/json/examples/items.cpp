#include <iostream>

#include "json/JsonBag.h"
#include "runtime/Text.h"

int main() {
  using kestrola::Text::ToUtf8;
  kestrola::JsonBag bag;
  bag.SetJSONUtf8(R"({"id": 7, "name": "Ana", "paid": true, "tags": ["a", "b"]})");
  for (const auto& [name, value] : bag) {
    std::cout << ToUtf8(name) << " (kind " << value.VarType() << ")";
    if (auto child = value.ObjectAs<kestrola::JsonBag>()) std::cout << " " << child->JSONUtf8();
    std::cout << "\n";
  }
}
