#include <iostream>

#include <kestrola/json/JsonBag.h>
#include <kestrola/jsonscript/cJSONScript.h>
#include <kestrola/runtime/Text.h>

using namespace kestrola;

int main() {
  JsonBag bag;
  bag.SetJSON(u"{\"shop\": \"Kestrola\", \"items\": [1, 2.5, true]}");
  bag.SetItem(u"open", true);
  std::cout << Text::ToUtf8(bag.JSON()) << "\n";

  cJSONScript script;
  std::cout << Text::ToUtf8(script.Eval(u"{\"return\": \"hello from a script\"}")) << "\n";
}
