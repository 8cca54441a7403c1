#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

using namespace kestrola::testing;

TEST(JsonBagParse, LeadingWhitespaceAndStartCharacter) {
  EXPECT_EQ(Json(*Parse(" \t\r\n{}")), "{}");
  EXPECT_EQ(ParseError(""), "13: Expected either { or [ at character 1");
  EXPECT_EQ(ParseError("  x"), "13: Expected either { or [ at character 3");
  EXPECT_EQ(ParseError("\f[]"), "13: Expected either { or [ at character 1");
  EXPECT_EQ(ParseError("\"s\""), "13: Expected either { or [ at character 1");
}

TEST(JsonBagParse, TrailingTextIsIgnored) {
  EXPECT_EQ(Json(*Parse("[1] [2] garbage")), "[1]");
  EXPECT_EQ(Json(*Parse("{\"a\":1}}")), "{\"a\":1}");
}

TEST(JsonBagParse, LenientSeparators) {
  EXPECT_EQ(Json(*Parse("[1,,2,]")), "[1,2]");
  EXPECT_EQ(Json(*Parse("[,1]")), "[1]");
  EXPECT_EQ(Json(*Parse("[1 2]")), "[1,2]");
  EXPECT_EQ(Json(*Parse("[1-2]")), "[1,-2]");
  EXPECT_EQ(Json(*Parse(R"({"a":1,,"b":2,})")), R"({"a":1,"b":2})");
  EXPECT_EQ(Json(*Parse(R"({"a":1 "b":[]"c":{}})")), R"({"a":1,"b":[],"c":{}})");
  EXPECT_EQ(ParseError("{,}"), "13: Found \",\" before first item at character 2");
  EXPECT_EQ(ParseError("{\"a\":1 x}"), "13: Expected , or } at character 8");
  EXPECT_EQ(ParseError("{\"a\" 1}"), "13: Expected : at character 6");
  EXPECT_EQ(ParseError("{\"a\":true"), "13: Expected , or } at character 10");
  EXPECT_EQ(ParseError("[1,"), "13: Bad value at character 4");
}

TEST(JsonBagParse, RepeatedNameKeepsLastValueAtTheEnd) {
  EXPECT_EQ(Json(*Parse(R"({"a":1,"b":2,"a":3})")), R"({"b":2,"a":3})");
  std::string big = "{";
  for (int i = 0; i < 40; ++i) big += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  big += "\"m5\":\"again\",\"m7\":[1]}";
  auto bag = Parse(big);
  EXPECT_EQ(bag->Count(), 40);
  EXPECT_EQ(S(bag->Name(39)), "m5");
  EXPECT_EQ(S(bag->Name(40)), "m7");
  EXPECT_EQ(S(bag->Item(u"m5").AsString()), "again");
  EXPECT_EQ(bag->Item(u"m6").AsDouble(), 6);

  // In a large object too, a name repeated in another spelling (escaped, raw UTF-8) is the
  // same name, short or long, narrow or wide.
  std::string spelled = "{";
  for (int i = 0; i < 12; ++i)
    spelled += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  spelled +=
      "\"a_member_name_past_fourteen\":1,\"caf\xC3\xA9\":1,\"x\xC4\x80\":1,"
      "\"\\u006d5\":2,\"a_member_name_past_fourtee\\u006e\":2,\"caf\\u00e9\":2,\"x\\u0100\":2}";
  for (const bool utf8 : {true, false}) {
    JsonBag repeated;
    if (utf8) {
      repeated.SetJSONUtf8(spelled);
    } else {
      repeated.SetJSON(U(spelled));
    }
    EXPECT_EQ(repeated.Count(), 15) << utf8;
    EXPECT_EQ(Json(repeated).substr(Json(repeated).find("\"m11\":11,")),
              "\"m11\":11,\"m5\":2,\"a_member_name_past_fourteen\":2,\"caf\xC3\xA9\":2,"
              "\"x\xC4\x80\":2}")
        << utf8;
  }

  // Records of a list mostly have the names of the one before: a record with as many members
  // and the same first name still has its own repeat found.
  for (const int n : {4, 12}) {
    std::string list = "[", expected = "[";
    for (int r = 0; r < 3; ++r) {
      std::string record, kept;
      for (int i = 0; i < n; ++i) {
        // The last record names its second member again, in last place.
        const int name = r == 2 && i == n - 1 ? 1 : i;
        const std::string member = "\"k" + std::to_string(name) + "\":" + std::to_string(i);
        record += (i ? "," : "") + member;
        if (r < 2 || i != 1) kept += (kept.empty() ? "" : ",") + member;
      }
      list += (r ? ",{" : "{") + record + "}";
      expected += (r ? ",{" : "{") + kept + "}";
    }
    EXPECT_EQ(Json(*Parse(list + "]")), expected + "]") << n;
  }
}

TEST(JsonBagParse, Escapes) {
  auto bag = Parse(R"(["\"\\\/\b\f\n\r\t\u00e9\u00C9", "\N\T\U0041\"", "\ud83d\ude00"])");
  EXPECT_EQ(bag->Item(1).AsString(), u"\"\\/\b\f\n\r\t\u00e9\u00c9");
  EXPECT_EQ(bag->Item(2).AsString(), u"\n\tA\"");
  EXPECT_EQ(bag->Item(3).AsString(), u"\U0001F600");
  EXPECT_EQ(ParseError(R"(["\x"])"), "13: Bad string character escape at character 4");
  EXPECT_EQ(ParseError(R"(["\u12"])"), "13: Bad string character escape at character 5");
  EXPECT_EQ(ParseError(R"(["\u12g4"])"), "13: Bad string character escape at character 5");
  EXPECT_EQ(ParseError("[\"\\"), "13: Bad string character escape at character 4");
}

TEST(JsonBagParse, StringCharacters) {
  EXPECT_EQ(ParseError("[\"a\tb\"]"), "13: Invalid string character at 4");
  EXPECT_EQ(ParseError("[\"a\\n\x01\"]"), "13: Invalid string character at 6");
  auto bag = JsonBag::Create();
  bag->SetJSON(u"[\"\x7f\u00ff\u4e2d\"]");
  EXPECT_EQ(bag->Item(1).AsString(), u"\x7f\u00ff\u4e2d");
  // Unclosed, or closed by the text's last character.
  EXPECT_EQ(ParseError("[\"abc"), "13: Expected \" at character 6");
  EXPECT_EQ(ParseError("[\"abc\""), "13: Expected \" at character 7");
  EXPECT_EQ(ParseError("{\"k"), "13: Expected \" at character 4");
}

TEST(JsonBagParse, PositionsCountUtf16Units) {
  // The emoji is two code units, so the tab is at position 5.
  EXPECT_EQ(ParseError("[\"\xF0\x9F\x98\x80\t\"]"), "13: Invalid string character at 5");
}

TEST(JsonBagParse, Numbers) {
  auto bag = Parse("[-0.5, 1E5, 1e-3, 007, 1.5e+2, 2., 123456789012345678901, 1e-400]");
  EXPECT_EQ(bag->Item(1).AsDouble(), -0.5);
  EXPECT_EQ(bag->Item(2).AsDouble(), 100000);
  EXPECT_EQ(bag->Item(3).AsDouble(), 0.001);
  EXPECT_EQ(bag->Item(4).AsDouble(), 7);
  EXPECT_EQ(bag->Item(5).AsDouble(), 150);
  EXPECT_EQ(bag->Item(6).AsDouble(), 2);
  EXPECT_EQ(bag->Item(7).AsDouble(), 123456789012345678901.0);
  EXPECT_EQ(bag->Item(8).AsDouble(), 0);
  EXPECT_EQ(Parse("[0.1]")->Item(1).AsDouble(), 0.1);  // exact, not locale dependent
  EXPECT_EQ(ParseError("[-.5]"), "13: Digit expected at character 3");
  EXPECT_EQ(ParseError("[1.2.3]"), "13: Second decimal point at character 5");
  EXPECT_EQ(ParseError("[1e+-5]"), "13: Second exponent sign at character 5");
  EXPECT_EQ(ParseError("[1e5-]"), "6: Number overflow or parse error at character 2");
  EXPECT_EQ(ParseError("[1, -]"), "6: Number overflow or parse error at character 5");
  EXPECT_EQ(ParseError("[1e]"), "6: Number overflow or parse error at character 2");
  EXPECT_EQ(ParseError("[1e999]"), "6: Number overflow or parse error at character 2");
  EXPECT_EQ(ParseError("[12"), "13: Ran off end of string while parsing a number");
  EXPECT_EQ(ParseError("[1e"), "13: Ran off end of string while parsing a number");
}

TEST(JsonBagParse, DecimalModeReachesEveryChild) {
  auto bag = Parse(R"({"a":0.1,"b":[1,{"c":2.50}]})", true);
  EXPECT_EQ(bag->Item(u"a").VarType(), vbDecimal);
  auto b = bag->Item(u"b").ObjectAs<JsonBag>();
  EXPECT_EQ(b->Item(1).VarType(), vbDecimal);
  EXPECT_TRUE(b->DecimalMode());
  auto c = b->Item(2).ObjectAs<JsonBag>();
  EXPECT_EQ(c->Item(u"c").AsDecimal().ToUtf8(), "2.5");
  EXPECT_FALSE(c->Whitespace());
  // Small children of every form too, in both modes, in a short text and in one long enough
  // for the parser to keep them as arena blocks.
  for (bool decimal : {true, false}) {
    for (size_t blanks : {0, 40000}) {
      auto small =
          Parse(R"({"e":[],"o":{},"p":[1,2.5],"t":[1,2,3],"u":{"v":4}})" + std::string(blanks, ' '),
                decimal);
      for (const char* name : {"e", "o", "p", "t", "u"}) {
        EXPECT_EQ(small->Item(name).ObjectAs<JsonBag>()->DecimalMode(), decimal) << name;
      }
      EXPECT_EQ(small->Item("p").ObjectAs<JsonBag>()->Item(2).VarType(),
                decimal ? vbDecimal : vbDouble);
      EXPECT_EQ(small->Item("u").ObjectAs<JsonBag>()->Item("v").VarType(),
                decimal ? vbDecimal : vbDouble);
    }
  }
  auto plain = Parse(R"({"a":0.1,"b":[1]})");
  EXPECT_EQ(plain->Item(u"a").VarType(), vbDouble);
  EXPECT_EQ(plain->Item(u"b").ObjectAs<JsonBag>()->Item(1).VarType(), vbDouble);
  // Digits beyond a double's precision survive in decimal mode.
  EXPECT_EQ(Json(*Parse("[1.2345678901234567890123]", true)), "[1.2345678901234567890123]");
}

TEST(JsonBagParse, Literals) {
  auto bag = Parse("[null,true,false]");
  EXPECT_EQ(bag->Item(1).VarType(), vbNull);
  EXPECT_EQ(bag->Item(2).VarType(), vbBoolean);
  EXPECT_FALSE(bag->Item(3).AsBoolean());
  EXPECT_EQ(ParseError("[Null]"), "13: Bad value at character 2");
  EXPECT_EQ(ParseError("[TRUE]"), "13: Bad value at character 2");
  EXPECT_EQ(ParseError("[nul]"), "13: Bad value at character 2");
  EXPECT_EQ(ParseError("[nullx]"), "13: Bad value at character 6");
}

TEST(JsonBagParse, FailureKeepsCompletedItemsAndSettings) {
  auto bag = JsonBag::Create();
  bag->SetWhitespace(true);
  bag->SetDecimalMode(true);
  EXPECT_NE(ErrorTextOf([&] { bag->SetJSON(u"{\"a\":1,\"b\":2,\"a\":3,\"c\":[1,2,x]}"); }), "");
  bag->SetWhitespace(false);
  EXPECT_EQ(Json(*bag), R"({"b":2,"a":3})");
  EXPECT_TRUE(bag->DecimalMode());
  EXPECT_NE(ErrorTextOf([&] { bag->SetJSON(u"[1,[2],3,x"); }), "");
  EXPECT_TRUE(bag->IsArray());
  EXPECT_EQ(Json(*bag), "[1,[2],3]");
  // A new parse starts from an empty node.
  bag->SetJSON(u"{}");
  EXPECT_FALSE(bag->IsArray());
  EXPECT_EQ(bag->Count(), 0);
}

// Long arrays are built in pieces while they are read. Every item must arrive, in order and
// once, at any length, at the root or nested, in both input forms, and the array must then
// behave like any other; a parse that fails in or after one keeps what the root had completed.
TEST(JsonBagParse, LongArraysKeepEveryItemInOrder) {
  auto item = [](size_t i) -> std::string {
    switch (i % 6) {
      case 0:
        return std::to_string(i);
      case 1:
        return "\"s" + std::to_string(i) + "\"";
      case 2:
        return "\"a string long enough to be held apart " + std::to_string(i) + "\"";
      case 3:
        return "[" + std::to_string(i) + ",{\"k\":null}]";
      case 4:
        return "{\"n\":" + std::to_string(i) + "}";
      default:
        return i % 4 ? "true" : "null";
    }
  };
  auto items = [&](size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += (i ? "," : "") + item(i);
    return text;
  };
  for (size_t n : {255, 256, 257, 511, 512, 513, 1000, 4099}) {
    const std::string array = "[" + items(n) + "]";
    for (const std::string& text :
         {array, "{\"a\":" + array + ",\"b\":[" + array + "," + array + "]}"}) {
      JsonBag fromUtf16, fromUtf8;
      fromUtf16.SetJSON(U(text));
      fromUtf8.SetJSONUtf8(text);
      ASSERT_TRUE(S(fromUtf16.JSON()) == text) << n;
      ASSERT_TRUE(fromUtf8.JSONUtf8() == text) << n;
    }
    // The long array changes like any other.
    auto bag = Parse(array);
    ASSERT_EQ(bag->Count(), static_cast<int32_t>(n));
    bag->SetItem(Variant::Null(), Variant(u"end"));
    bag->Remove(1);
    bag->SetItem(2, Variant(2.5));
    EXPECT_EQ(bag->Count(), static_cast<int32_t>(n));
    EXPECT_EQ(S(bag->Item(static_cast<int32_t>(n)).AsString()), "end");
    EXPECT_EQ(bag->Item(2).AsDouble(), 2.5);
    EXPECT_EQ(S(bag->Item(1).AsString()), "s1");
    // A failure in a long root array keeps the items before it; one in a long child array
    // drops the child only.
    JsonBag failed;
    EXPECT_NE(ErrorTextOf([&] { failed.SetJSONUtf8("[" + items(n) + ",x]"); }), "");
    EXPECT_TRUE(failed.JSONUtf8() == array) << n;
    EXPECT_NE(ErrorTextOf([&] { failed.SetJSON(U("[1,[" + items(n) + ",x]]")); }), "");
    EXPECT_EQ(failed.JSONUtf8(), "[1]") << n;
    EXPECT_NE(ErrorTextOf([&] { failed.SetJSON(U("[" + items(n) + ",[1,x]]")); }), "");
    EXPECT_TRUE(failed.JSONUtf8() == array) << n;
  }
}

TEST(JsonBagParse, NestingDepthIsBounded) {
  const int limit = JsonBag::kMaxDepth;
  std::string ok(limit, '[');
  ok += std::string(limit, ']');
  EXPECT_EQ(ParseError(ok), "");
  std::string deep(limit + 1, '[');
  EXPECT_EQ(ParseError(deep), "28: Out of stack space at character " + std::to_string(limit + 1));
  EXPECT_EQ(ParseError(std::string(1000000, '[')).substr(0, 3), "28:");
}

TEST(JsonBagParse, LongNamesAreSharedButIndependent) {
  auto bag = Parse(R"([{"a long member name":1},{"a long member name":2}])");
  auto first = bag->Item(1).ObjectAs<JsonBag>();
  auto second = bag->Item(2).ObjectAs<JsonBag>();
  bag.reset();
  first->Remove(u"a long member name");
  EXPECT_EQ(second->Item(u"a long member name").AsDouble(), 2);
  EXPECT_EQ(S(second->Name(1)), "a long member name");
}

// Strings are scanned several code units at a time and stored one byte per unit when they
// can be: a special character at any position of texts of many lengths must be found, kept
// and decoded, and a raw control character must fail at its own position.
TEST(JsonBagParse, SpecialCharacterAtEveryPositionOfLongStrings) {
  const std::pair<std::u16string, std::u16string> specials[] = {{u"\u00e9", u"\u00e9"},
                                                                {u"\u0100", u"\u0100"},
                                                                {u"\\n", u"\n"},
                                                                {u"\\\"", u"\""},
                                                                {u"\\u20AC", u"\u20ac"}};
  for (size_t length = 1; length <= 40; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (const auto& [text, value] : specials) {
        std::u16string raw(length, u'a'), expected(length, u'a');
        raw.replace(at, 1, text);
        expected.replace(at, 1, value);
        JsonBag bag;
        bag.SetJSON(u"{\"" + raw + u"\":\"" + raw + u"\"}");
        ASSERT_TRUE(bag.Exists(expected)) << length << " " << at;
        ASSERT_EQ(bag.Item(expected).AsString(), expected) << length << " " << at;
      }
      std::u16string raw(length, u'a');
      raw[at] = u'\x01';
      EXPECT_EQ(ParseError(S(u"[\"" + raw + u"\"]")),
                "13: Invalid string character at " + std::to_string(at + 3));
    }
  }
}

TEST(JsonBagParse, Utf8TextReadsLikeItsConversion) {
  // Positions count UTF-16 code units, not bytes: "é" is one unit, the emoji two.
  JsonBag bag;
  EXPECT_EQ(ErrorTextOf([&] { bag.SetJSONUtf8("{\"\xC3\xA9\": x}"); }),
            "13: Bad value at character 7");
  EXPECT_EQ(ErrorTextOf([&] { bag.SetJSONUtf8("[\"\xF0\x9F\x98\x80\", tru]"); }),
            "13: Bad value at character 8");
  EXPECT_EQ(ErrorTextOf([&] { bag.SetJSONUtf8("[\"\xE2\x82\xAC\x01\"]"); }),
            "13: Invalid string character at 4");
  EXPECT_EQ(ErrorTextOf([&] { bag.SetJSONUtf8("[\"\xE2\x82\xAC"); }),
            "13: Expected \" at character 4");
  EXPECT_EQ(Json(bag), "[]");

  const std::string texts[] = {
      "{\"caf\xC3\xA9\":\"\xF0\x9F\x98\x80 ok\",\"n\":-1.5e3}",
      // Invalid sequences, an encoded surrogate, escapes beside raw characters.
      "[\"\xC3\x28\",\"\xED\xA0\x80\",\"\xF8\x88\x80\x80\x80\",\"a\\u00e9\xC3\xA9\\n\xC3\"]",
      // Long names, ASCII and not, repeated: the last one wins.
      "{\"a_member_name_past_fourteen\":1,\"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
      "\xC3\xA9\xC3\xA9\":2,\"a_member_name_past_fourteen\":3,\"\xE2\x82\xAC\xE2\x82\xAC"
      "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\":4}",
      "[\"a string of plain ASCII text that is well past sixteen bytes\",\"\\\"q\\\"\"]",
      "\xEF\xBB\xBF{}",
      "{\"a\":[1,{\"b\":\"\xC3\xBF\"}],\"c\":\"\xE2\x80\x8B\"} trailing \xFF",
  };
  for (const std::string& text : texts) {
    JsonBag converted, direct;
    const std::string want = ErrorTextOf([&] { converted.SetJSON(U(text)); });
    EXPECT_EQ(ErrorTextOf([&] { direct.SetJSONUtf8(text); }), want) << text;
    EXPECT_EQ(Json(direct), Json(converted)) << text;
  }
  JsonBag names;
  names.SetJSONUtf8(texts[2]);
  EXPECT_EQ(names.Count(), 3);
  EXPECT_EQ(S(names.Name(2)), "a_member_name_past_fourteen");
}

}  // namespace
}  // namespace kestrola

namespace kestrola {
namespace {

// Every number reads as the double nearest to its decimal value (what from_chars gives), on
// each of the reader's paths: short mantissas, long ones (16 to 19 digits) and the rest.
TEST(JsonBagParse, NumbersReadAsTheNearestDouble) {
  std::vector<std::string> texts = {
      "9007199254740993",
      "9007199254740995",
      "-65.613616999999977",
      "0.30000000000000004",
      "123456789012345678",
      "1234567890123456789",
      "4.9406564584124654e-5",
      "2.2250738585072011e-308",
      "1.7976931348623157e308",
      "7.0e-10",
      "0.1e-27",
      "9999999999999999e27",
      "1e23",
      "8.98846567431158e307",
      "5e-324",
  };
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    double v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 160) - 130);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", static_cast<int>(15 + rng() % 5), v);
    texts.push_back(buf);
    // The point halfway to the next double, to 17 or 18 digits: just off a rounding boundary.
    const long double half = (static_cast<long double>(v) + std::nextafter(v, 1e300)) / 2;
    std::snprintf(buf, sizeof buf, "%.*Lg", static_cast<int>(17 + rng() % 2), half);
    texts.push_back(buf);
  }
  std::string doc = "[";
  for (const auto& t : texts) doc += t + ",";
  doc += "]";
  JsonBag bag;
  bag.SetJSONUtf8(doc);
  ASSERT_EQ(bag.Count(), static_cast<int32_t>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) {
    double want = 0;
    std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), want);
    EXPECT_EQ(bag.Item(static_cast<int32_t>(i + 1)).AsDouble(), want) << texts[i];
  }
}

}  // namespace
}  // namespace kestrola
