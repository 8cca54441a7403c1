// The C++ conveniences: UTF-8 names and values, range-for over the items, UTF-8 output.

#include <string>
#include <utility>
#include <vector>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

using namespace kestrola::testing;

TEST(JsonBagInterface, NarrowStringsAreUtf8NamesAndValuesNeverBooleans) {
  JsonBag bag;
  bag.SetItem("caf\xC3\xA9", "cr\xC3\xA8me");
  bag.SetItem(std::string("n"), 1.5);
  bag.SetItem(u"w", std::string_view("wide key, narrow value"));
  EXPECT_EQ(bag.Item(u"caf\u00e9").AsString(), u"cr\u00e8me");
  EXPECT_EQ(bag.Item("caf\xC3\xA9"), bag.Item(u"caf\u00e9"));
  EXPECT_EQ(bag.Item(std::string_view("n")).AsDouble(), 1.5);
  EXPECT_TRUE(bag.Exists("w"));
  EXPECT_FALSE(bag.Exists("W"));
  auto child = bag.AddNewObject("child");
  child->SetItem("k", nullptr);
  bag.AddNewArray("list")->SetItem(Variant::Null(), "x");
  bag.Remove("n");
  EXPECT_EQ(
      bag.JSONUtf8(),
      "{\"caf\xC3\xA9\":\"cr\xC3\xA8me\",\"w\":\"wide key, narrow value\",\"child\":{\"k\":null},"
      "\"list\":[\"x\"]}");
  // A null char pointer is Null: an absent key for reading, an appended element for writing.
  const char* none = nullptr;
  EXPECT_EQ(ErrorTextOf([&] { bag.Item(none); }), "94: Key must be String or an index)");
  child = bag.AddNewArray("nulls");
  child->SetItem(none, none);
  EXPECT_EQ(Json(*child), "[null]");
  // On an array a narrow key is a name, refused as names are; it is never read as true (-1).
  EXPECT_EQ(ErrorTextOf([&] { child->Item("1"); }), "5: Array values can only be acessed by index");
  EXPECT_EQ(ErrorTextOf([&] { child->SetItem("1", 2); }),
            "5: Array values can only be changed by index or added via Null");
  EXPECT_FALSE(child->Exists("1"));
  EXPECT_EQ(ErrorTextOf([&] { child->Remove("1"); }), "5: Must remove by index for arrays");
}

TEST(JsonBagInterface, RangeForGivesNamesAndValuesInOrder) {
  auto obj = Parse(R"({"b":1,"a":"x","c":[true],"b":2})");
  std::vector<std::pair<std::string, std::string>> seen;
  for (const auto& [name, value] : *obj) {
    seen.emplace_back(S(name),
                      value.IsObject() ? Json(*value.ObjectAs<JsonBag>()) : S(value.ToText()));
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                      {"a", "x"}, {"c", "[true]"}, {"b", "2"}}));
  auto arr = Parse("[10,20,30]");
  double sum = 0;
  for (auto& item : *arr) {
    EXPECT_TRUE(item.name.empty());
    sum += item.value.AsDouble();
  }
  EXPECT_EQ(sum, 60);
  // Removing items while walking never reads past the end.
  int steps = 0;
  for (const auto& item : *arr) {
    (void)item;
    arr->Remove(1);
    ++steps;
  }
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(Json(*arr), "[30]");
  JsonBag empty;
  EXPECT_TRUE(empty.begin() == empty.end());
}

TEST(JsonBagInterface, Utf8OutputIsTheUtf16OutputConverted) {
  auto bag = JsonBag::Create();
  bag->SetItem(u"s", std::u16string(u"a\"\\/\b\f\n\r\t\x01\x7f\u0080\u009f\u00a0\u00e9\u0100\u07ff"
                                    u"\u0800\u200b\u20ac\ufeff\uffff\U0001F600") +
                         char16_t(0xD800) + u"x");
  bag->SetItem(u"n\u00e9", 0.1);
  bag->SetItem(u"i", static_cast<int32_t>(-42));
  bag->SetItem(u"d", Variant(Decimal::Parse(u"-1.50")));
  bag->SetItem(u"f", 1e300);
  bag->AddNewArray(u"e");
  bag->AddNewObject(u"o")->SetItem(u"\u00ff", true);
  for (bool ws : {false, true}) {
    bag->SetWhitespace(ws);
    const std::string utf8 = bag->JSONUtf8();
    EXPECT_EQ(utf8, S(bag->JSON())) << ws;
    // Surrogates are escaped, so the output stays valid UTF-8 and reads back the same.
    JsonBag back;
    back.SetJSONUtf8(utf8);
    back.SetWhitespace(ws);
    EXPECT_EQ(back.JSONUtf8(), utf8);
  }
  EXPECT_NE(bag->JSONUtf8().find("\\uD83D\\uDE00\\uD800x"), std::string::npos);
  // Errors are the same as for JSON.
  bag->SetItem(u"t", Variant(Date{1}));
  EXPECT_EQ(ErrorTextOf([&] { bag->JSONUtf8(); }), ErrorTextOf([&] { bag->JSON(); }));
}

}  // namespace
}  // namespace kestrola
