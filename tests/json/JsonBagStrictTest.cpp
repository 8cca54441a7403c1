// Strict reading (RFC 8259 exactly) and the place of a parse error (position, line, column).

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

using namespace kestrola::testing;
namespace fs = std::filesystem;

std::string StrictError(std::string_view utf8) {
  JsonBag bag;
  bag.SetStrict(true);
  return ErrorTextOf([&] { bag.SetJSONUtf8(utf8); });
}

TEST(JsonBagStrict, AcceptsEveryValidCorpusFileAndRejectsEveryInvalidOne) {
  fs::path dir = fs::path(KESTROLA_SOURCE_DIR) / "tests/json/JSONTestSuite/test_parsing";
  int valid = 0, invalid = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("y_") && !name.starts_with("n_")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    JsonBag bag;
    bag.SetStrict(true);
    int number = 0;
    try {
      bag.SetJSONUtf8(bytes);
    } catch (const Error& e) {
      number = e.Number();
    }
    if (name.starts_with("y_")) {
      ++valid;
      ASSERT_EQ(number, 0) << name;
      // What strict reading accepted, it writes back in a form it accepts again unchanged.
      const std::string text = bag.JSONUtf8();
      JsonBag back;
      back.SetStrict(true);
      back.SetJSONUtf8(text);
      EXPECT_EQ(back.JSONUtf8(), text) << name;
    } else {
      ++invalid;
      EXPECT_TRUE(number == 13 || number == 6 || number == 28) << name << ": " << number;
    }
  }
  EXPECT_EQ(valid, 95);
  EXPECT_EQ(invalid, 188);
}

TEST(JsonBagStrict, RejectsWhatTheLenientReadingForgives) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"[1 2]", "13: Expected , or ] at character 4"},
      {"[1,]", "13: Bad value at character 4"},
      {"[,1]", "13: Bad value at character 2"},
      {"[1,,2]", "13: Bad value at character 4"},
      {"[1-2]", "13: Expected , or ] at character 3"},
      {"{\"a\":1,}", "13: Expected \" at character 8"},
      {"{\"a\":1,,\"b\":2}", "13: Expected \" at character 8"},
      {"{\"a\":1 \"b\":2}", "13: Expected , or } at character 8"},
      {"{,}", "13: Found \",\" before first item at character 2"},
      {"[01]", "13: Leading zero at character 2"},
      {"[-01]", "13: Leading zero at character 3"},
      {"[1.]", "13: Digit expected at character 4"},
      {"[1.e5]", "13: Digit expected at character 4"},
      {"[1e]", "13: Digit expected at character 4"},
      {"[1e+]", "13: Digit expected at character 5"},
      {"[-]", "13: Digit expected at character 3"},
      {"[-.5]", "13: Digit expected at character 3"},
      {"[1e5-2]", "13: Expected , or ] at character 5"},
      {"[\"\\N\"]", "13: Bad string character escape at character 4"},
      {"[\"\\U0041\"]", "13: Bad string character escape at character 4"},
      {"[\"\xC3\"]", "13: Invalid string character at 3"},
      {"[\"a\xED\xA0\x80\"]", "13: Invalid string character at 4"},
      {"[1] [2]", "13: Expected end of text at character 5"},
      {"{} x", "13: Expected end of text at character 4"},
      {"42 43", "13: Expected end of text at character 4"},
      {"", "13: Bad value at character 1"},
      {" ", "13: Bad value at character 2"},
      {"nul", "13: Bad value at character 1"},
      {"\"abc", "13: Expected \" at character 5"},
      {"[1", "13: Expected , or ] at character 3"},
      {"[\"a\"", "13: Expected , or ] at character 5"},
      {"[1e999]", "6: Number overflow or parse error at character 2"},
  };
  for (const Case& c : cases) EXPECT_EQ(StrictError(c.text), c.error) << c.text;
  // The lenient default is unchanged.
  EXPECT_EQ(Json(*Parse("[1 2,,]")), "[1,2]");
  EXPECT_EQ(ParseError("42"), "13: Expected either { or [ at character 1");
}

TEST(JsonBagStrict, KeepsAndWritesBackWhatIsValid) {
  struct Case {
    const char* text;
    const char* json;
  };
  const Case cases[] = {
      {" [1, -0.5e+2, 0, 1E2, \"\\u00e9\\n\", true, null] ",
       "[1,-50,0,100,\"\xC3\xA9\\n\",true,null]"},
      {"{\"a\":{\"b\":[]},\"a\":2}", "{\"a\":2}"},  // a repeated name keeps the last value
      {"42", "42"},
      {"-0.5", "-0.5"},
      {"\"x\"", "\"x\""},
      {" null\r\n", "null"},
      {"\"\xEF\xBF\xBD\"", "\"\\uFFFD\""},  // U+FFFD written in the text is valid
  };
  for (const Case& c : cases) {
    JsonBag bag;
    bag.SetStrict(true);
    bag.SetJSONUtf8(c.text);
    EXPECT_EQ(bag.JSONUtf8(), c.json) << c.text;
  }
  // A lone value is the only item of an array, written alone until the bag changes.
  JsonBag bag;
  bag.SetStrict(true);
  bag.SetDecimalMode(true);
  bag.SetJSON(u"0.1");
  EXPECT_TRUE(bag.IsArray());
  ASSERT_EQ(bag.Count(), 1);
  EXPECT_EQ(bag.Item(1).VarType(), vbDecimal);
  EXPECT_EQ(Json(bag), "0.1");
  bag.SetItem(Variant::Null(), true);
  EXPECT_EQ(Json(bag), "[0.1,true]");
  bag.SetJSON(u"\"s\"");
  bag.Remove(1);
  EXPECT_EQ(Json(bag), "[]");
  bag.SetJSON(u"7");
  bag.Clear();
  EXPECT_EQ(Json(bag), "{}");
}

TEST(JsonBagErrorPlace, LineAndColumnOfTheErrorPosition) {
  struct Case {
    const char* text;
    int position, line, column;
  };
  const Case cases[] = {
      {"[1,\n 2,\n x]", 10, 3, 2},
      {"[1,\r\n 2,\r\n x]", 12, 3, 2},
      {"[1,\r 2,\r x]", 10, 3, 2},
      {"\n\n", 3, 3, 1},                                      // nothing there: past the end
      {"[\"\xF0\x9F\x98\x80\", \"\xC3\xA9\t\"]", 10, 1, 10},  // columns count UTF-16 units
      {"{\"a\":\n  [1.5", 13, 2, 7},  // "Ran off end of string" has no position in its text
      {"[\"a\nb\"]", 4, 1, 4},
  };
  for (const Case& c : cases) {
    JsonBag utf8, utf16;
    std::string e8 = ErrorTextOf([&] { utf8.SetJSONUtf8(c.text); });
    std::string e16 = ErrorTextOf([&] { utf16.SetJSON(U(c.text)); });
    ASSERT_FALSE(e8.empty()) << c.text;
    EXPECT_EQ(e8, e16);
    for (const JsonBag* bag : {&utf8, &utf16}) {
      EXPECT_EQ(bag->ErrorPosition(), c.position) << c.text;
      EXPECT_EQ(bag->ErrorLine(), c.line) << c.text;
      EXPECT_EQ(bag->ErrorColumn(), c.column) << c.text;
    }
    if (e8.find("at character ") != std::string::npos || e8.find(" at ") != std::string::npos) {
      EXPECT_TRUE(e8.ends_with(" " + std::to_string(c.position))) << e8;
    }
  }
  // A later successful parse clears the place; a bag never parsed has none.
  JsonBag bag;
  EXPECT_EQ(bag.ErrorLine(), 0);
  ErrorTextOf([&] { bag.SetJSON(u"[x]"); });
  EXPECT_EQ(bag.ErrorColumn(), 2);
  bag.SetJSON(u"[1]");
  EXPECT_EQ(bag.ErrorPosition(), 0);
  EXPECT_EQ(bag.ErrorLine(), 0);
  EXPECT_EQ(bag.ErrorColumn(), 0);
}

}  // namespace
}  // namespace kestrola
