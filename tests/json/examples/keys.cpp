#include <iostream>

#include "json/JsonBag.h"

int main() {
  kestrola::JsonBag order;
  order.SetItem("shop", "Kestrola");  // UTF-8 names and UTF-8 text values
  order.SetItem("total", 12.5);
  order.AddNewArray("lines")->SetItem(kestrola::Variant::Null(), "café");
  std::cout << order.Exists("total") << " " << order.Item("total").AsDouble() << "\n";
  order.Remove("total");
  std::cout << order.JSONUtf8() << "\n";
}
