#include <iostream>

#include "json/JsonBag.h"

int main() {
  kestrola::JsonBag bag;
  bag.SetJSONUtf8("[\"Año 2026 – 10 €\", \"\\u200B\", 0.1]");
  std::string text = bag.JSONUtf8();  // UTF-8 straight from the document
  std::cout << text << " (" << text.size() << " bytes)\n";
}
