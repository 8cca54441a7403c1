#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

using namespace kestrola::testing;

std::string Pretty(std::string_view text) {
  auto bag = Parse(text);
  bag->SetWhitespace(true);
  return Json(*bag);
}

TEST(JsonBagWrite, EmptyNodesInBothModes) {
  JsonBag bag;
  EXPECT_EQ(Json(bag), "{}");
  bag.SetWhitespace(true);
  EXPECT_EQ(Json(bag), "{}");
  bag.SetIsArray(true);
  EXPECT_EQ(Json(bag), "[]");
  EXPECT_EQ(Pretty(R"({"a":[],"b":{}})"), "{\r\n    \"a\":[],\r\n    \"b\":{}\r\n}");
}

TEST(JsonBagWrite, WhitespaceLayout) {
  EXPECT_EQ(Pretty(R"({"a":2})"), "{\r\n    \"a\":2\r\n}");
  EXPECT_EQ(
      Pretty(R"({"a":1,"b":[true,null,"x"],"c":{}})"),
      "{\r\n    \"a\":1,\r\n    \"b\":[\r\n        true,\r\n        null,\r\n        \"x\"\r\n"
      "    ],\r\n    \"c\":{}\r\n}");
  EXPECT_EQ(Pretty("[[1]]"), "[\r\n    [\r\n        1\r\n    ]\r\n]");
  EXPECT_EQ(Pretty("[1,[[2]]]"),
            "[\r\n    1,\r\n    [\r\n        [\r\n            2\r\n        ]\r\n    ]\r\n]");
  // Only the node being read decides the layout.
  auto bag = Parse(R"({"a":[1]})");
  bag->Item(u"a").ObjectAs<JsonBag>()->SetWhitespace(true);
  EXPECT_EQ(Json(*bag), R"({"a":[1]})");
}

TEST(JsonBagWrite, NumbersAndBooleans) {
  JsonBag bag;
  bag.SetIsArray(true);
  for (Variant v : {Variant(0.1), Variant(-2.5), Variant(1e20), Variant(1.5e-8), Variant(1e15),
                    Variant(123456789012345.0), Variant(0.0000001), Variant(int16_t{-7}),
                    Variant(int32_t{2147483647}), Variant(uint8_t{255}), Variant(1.25f),
                    Variant(Currency{-12345}), Variant(Currency{50000}),
                    Variant(Decimal::Parse(std::string_view("-79228162514264337593543950335"))),
                    Variant(true), Variant(false), Variant(), Variant::Null()}) {
    bag.SetItem(Variant::Null(), v);
  }
  EXPECT_EQ(Json(bag),
            "[0.1,-2.5,1e+20,1.5e-08,1e+15,123456789012345,0.0000001,-7,2147483647,255,1.25,"
            "-1.2345,5,-79228162514264337593543950335,true,false,null,null]");
}

TEST(JsonBagWrite, NumbersIgnoreTheUserLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  bool switched = std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8");
  auto bag = Parse("[0.1,1.5e300]");
  EXPECT_EQ(Json(*bag), "[0.1,1.5e+300]");
  std::setlocale(LC_ALL, saved.c_str());
  if (!switched) GTEST_SKIP() << "no comma-decimal locale installed";
}

TEST(JsonBagWrite, DoublesRoundTripExactly) {
  for (double d : {0.1, 1.0 / 3, 2.0 / 3e-300, 5e-324, 1.7976931348623157e308, -123.456e-7}) {
    JsonBag bag;
    bag.SetIsArray(true);
    bag.SetItem(Variant::Null(), d);
    auto back = Parse(Json(bag));
    EXPECT_EQ(back->Item(1).AsDouble(), d) << Json(bag);
  }
}

// Doubles in the plain range are written as the shortest text that reads back exactly, in
// fixed notation. Checked against the standard library's shortest fixed form over short
// decimals of every length, random bit patterns and neighbours of short decimals (which sit
// next to the rounding edges).
TEST(JsonBagWrite, PlainDoublesAreShortestRoundTripText) {
  std::mt19937_64 random(12345);
  std::vector<double> values = {
      0.1,       0.5,  1.5,      0.3,        2.675,   1e-7,   1.0000001e-7, 999999999999999.9,
      0.1 + 0.2, 5e-7, 0.000123, 123456.789, 1.0 / 3, 2.0 / 3};
  for (int i = 0; i < 20000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 17);
    uint64_t m = random() % 100000000000000000ull;
    for (int k = digits; k < 17; ++k) m /= 10;
    double v = static_cast<double>(m) / std::pow(10.0, static_cast<int>(random() % 22));
    values.push_back(v);
    values.push_back(std::nextafter(v, 0.0));
    values.push_back(std::nextafter(v, 1e300));
    uint64_t bits = (random() % ((1023ull + 50) - (1023ull - 24)) + (1023ull - 24)) << 52 |
                    (random() & ((1ull << 52) - 1));
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  JsonBag bag;
  bag.SetIsArray(true);
  std::string expected = "[";
  for (double v : values) {
    for (double x : {v, -v}) {
      if (!(std::fabs(x) >= 1e-7 && std::fabs(x) < 1e15)) continue;
      bag.SetItem(Variant::Null(), x);
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
      expected.append(buf, r.ptr).push_back(',');
    }
  }
  expected.back() = ']';
  const std::string written = Json(bag);
  ASSERT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
}

TEST(JsonBagWrite, StringEscapes) {
  JsonBag bag;
  bag.SetIsArray(true);
  bag.SetItem(Variant::Null(), u"\"\\/\b\f\n\r\t\x01\x1f\x7f\u0080\u009f\u00a0\u00e9\u20ac");
  bag.SetItem(Variant::Null(), u"\u034e\u034f\u200a\u200b\u200f\u2010\u2027\u2028\u202e\u202f");
  bag.SetItem(Variant::Null(), u"\u2060\ufe00\ufe01\ufe0f\ufe10\ufeff\ufffc\ufffd\ufffe\U0001F600");
  EXPECT_EQ(Json(bag),
            "[\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001F\\u007F\\u0080\\u009F\u00a0\u00e9\u20ac\","
            "\"\u034e\\u034F\u200a\\u200B\\u200F\u2010\u2027\\u2028\\u202E\u202f\","
            "\"\\u2060\ufe00\\uFE01\\uFE0F\ufe10\\uFEFF\ufffc\\uFFFD\ufffe\\uD83D\\uDE00\"]");
  JsonBag obj;
  obj.SetItem(u"a\"b\u200b", 1);
  EXPECT_EQ(Json(obj), "{\"a\\\"b\\u200B\":1}");
}

// Long strings are copied in blocks up to the first character that needs care. Put one such
// character at every place of strings around the block sizes, in names and values, in text
// held as bytes and (with a CJK character added) as 16-bit units, in both output encodings.
TEST(JsonBagWrite, EscapesAtEveryPlaceOfLongStrings) {
  struct Case {
    char16_t c;
    const char* written;
  };
  const Case cases[] = {{u'"', "\\\""},      {u'\\', "\\\\"},     {u'\n', "\\n"},
                        {0x1F, "\\u001F"},   {0x7F, "\\u007F"},   {0x80, "\\u0080"},
                        {0xE9, "\u00e9"},    {0x200B, "\\u200B"}, {0x4E2D, "\u4e2d"},
                        {0xD800, "\\uD800"}, {u' ', " "},         {u'~', "~"}};
  for (const Case& k : cases) {
    for (size_t len : {1, 7, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33, 47}) {
      for (size_t at = 0; at < len; ++at) {
        for (const char* tail : {"", "\u4e2d"}) {
          std::u16string text(len, u'x');
          text[at] = k.c;
          if (*tail) text += u'\u4e2d';
          const std::string expected = "\"" + std::string(at, 'x') + k.written +
                                       std::string(len - at - 1, 'x') + tail + "\"";
          JsonBag array;
          array.SetIsArray(true);
          array.SetItem(Variant::Null(), text);
          JsonBag object;
          object.SetItem(text, 1);
          SCOPED_TRACE(::testing::Message()
                       << "unit " << int{k.c} << " at " << at << " of " << len);
          EXPECT_EQ(Json(array), "[" + expected + "]");
          EXPECT_EQ(array.JSONUtf8(), "[" + expected + "]");
          EXPECT_EQ(Json(object), "{" + expected + ":1}");
          EXPECT_EQ(object.JSONUtf8(), "{" + expected + ":1}");
        }
      }
    }
  }
}

TEST(JsonBagWrite, UnsupportedKindsFailWithError51) {
  JsonBag bag;
  bag.SetIsArray(true);
  bag.SetItem(Variant::Null(), Date{2.0});
  EXPECT_EQ(ErrorTextOf([&] { bag.JSON(); }), "51: , unknown/unsupported type = 7");
  auto obj = Parse(R"({"x":{"y":1}})");
  auto x = obj->Item(u"x").ObjectAs<JsonBag>();
  x->SetItem(u"d", Date{1.0});
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }), "51: d, unknown/unsupported type = 7");
  x->SetItem(u"d", ErrorValue{5});
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }), "51: d, unknown/unsupported type = 10");
  auto arr = std::make_shared<VariantArray>();
  arr->elementKind = vbString;
  x->SetItem(u"d", arr);
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }), "51: d, unknown/unsupported type = 8200");
  x->SetItem(u"d", std::numeric_limits<double>::infinity());
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }), "51: d, value Infinity failed to serialize");
  x->SetItem(u"d", ObjectRef());
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }).substr(0, 3), "91:");
  x->SetItem(u"d", std::make_shared<Object>());
  EXPECT_EQ(ErrorTextOf([&] { obj->JSON(); }).substr(0, 3), "13:");
  x->Remove(u"d");
  EXPECT_EQ(Json(*obj), R"({"x":{"y":1}})");
}

TEST(JsonBagWrite, ReadingTwiceGivesTheSameText) {
  auto bag = Parse(R"({"a":[1,2,{"b":"c"}],"d":null})");
  std::u16string first = bag->JSON();
  EXPECT_EQ(bag->JSON(), first);
}

TEST(JsonBagWrite, RoundTripKeepsTreeAndOrder) {
  JsonBag bag;
  bag.SetItem(u"z", u"last? no, first");
  bag.SetItem(u"e", Variant());
  bag.SetItem(u"n", int32_t{42});
  auto list = bag.AddNewArray(u"list");
  list->SetItem(Variant::Null(), true);
  list->AddNewObject()->SetItem(u"\u00e9\t", u"\U0001F600\u200b");
  std::u16string text = bag.JSON();
  JsonBag back;
  back.SetJSON(text);
  EXPECT_EQ(back.JSON(), text);
  EXPECT_EQ(back.Item(u"e").VarType(), vbNull);
  EXPECT_EQ(back.Item(u"n").VarType(), vbDouble);
  EXPECT_EQ(S(back.Name(1)), "z");
  auto inner = back.Item(u"list").ObjectAs<JsonBag>()->Item(2).ObjectAs<JsonBag>();
  EXPECT_EQ(inner->Item(u"\u00e9\t").AsString(), u"\U0001F600\u200b");
  back.SetWhitespace(true);
  JsonBag again;
  again.SetJSON(back.JSON());
  EXPECT_EQ(again.JSON(), text);
}

TEST(JsonBagWrite, DeepTreesFailCleanly) {
  auto root = JsonBag::Create();
  root->SetIsArray(true);
  auto node = root;
  for (int i = 0; i < 8200; ++i) node = node->AddNewArray();
  root->SetWhitespace(true);
  EXPECT_EQ(ErrorTextOf([&] { root->JSON(); }).substr(0, 2), "6:");
  root->SetWhitespace(false);
  EXPECT_EQ(root->JSON().size(), 2u * 8201);
  // A node that contains itself cannot be written.
  node->SetItem(Variant::Null(), root);
  EXPECT_EQ(ErrorTextOf([&] { root->JSON(); }).substr(0, 3), "28:");
  node->Clear();
}

}  // namespace
}  // namespace kestrola
