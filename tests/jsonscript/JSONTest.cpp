#include <gtest/gtest.h>

#include <string>

#include "jsonscript/JSON.h"
#include "runtime/Collection.h"
#include "runtime/Dictionary.h"
#include "runtime/Text.h"

using kestrola::Collection;
using kestrola::Decimal;
using kestrola::Dictionary;
using kestrola::ObjectRef;
using kestrola::Variant;
using kestrola::Text::U;
namespace JSON = kestrola::JSON;

namespace {

std::shared_ptr<Dictionary> ParseObject(std::string_view text) {
  ObjectRef root = JSON::ParseJson(U(text));
  auto dict = std::dynamic_pointer_cast<Dictionary>(root);
  EXPECT_TRUE(dict) << text;
  return dict ? dict : std::make_shared<Dictionary>();
}

std::shared_ptr<Collection> ParseArray(std::string_view text) {
  ObjectRef root = JSON::ParseJson(U(text));
  auto list = std::dynamic_pointer_cast<Collection>(root);
  EXPECT_TRUE(list) << text;
  return list ? list : std::make_shared<Collection>();
}

std::string Errors() {
  return kestrola::Text::ToUtf8(JSON::LastParseErrors());
}

Variant Dec(std::string_view s) {
  return Variant(Decimal::Parse(s));
}

}  // namespace

TEST(JSONParse, TextThatIsNotAContainerIsInvalidJson) {
  for (const char* text : {"", "   ", "abc", "// only a comment", "1", "\"a\"", "\r\n\t"}) {
    EXPECT_EQ(JSON::ParseJson(U(text)), nullptr) << text;
    EXPECT_EQ(Errors(), "Invalid JSON") << text;
  }
  // The next parse starts afresh.
  ParseArray("[]");
  EXPECT_EQ(Errors(), "");
}

TEST(JSONParse, EmptyContainersAndTrailingText) {
  EXPECT_EQ(ParseObject("{}")->Count(), 0);
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ParseArray("[]")->Count(), 0);
  EXPECT_EQ(Errors(), "");

  auto paren = ParseObject("({\"a\":1})");
  EXPECT_EQ(paren->Item(u"a"), Dec("1"));
  EXPECT_EQ(Errors(), "");

  auto trailing = ParseObject("/* note */ {\"a\": 1} trailing words");
  EXPECT_EQ(trailing->Count(), 1);
  EXPECT_EQ(Errors(), "");
}

TEST(JSONParse, ValuesOfEveryKind) {
  auto list = ParseArray("[\"s\", 's2', -1.5e2, 0.10, true, false, null, {\"k\": [1]}, []]");
  EXPECT_EQ(Errors(), "");
  ASSERT_EQ(list->Count(), 9);
  EXPECT_EQ(list->Item(1), Variant(u"s"));
  EXPECT_EQ(list->Item(2), Variant(u"s2"));
  EXPECT_EQ(list->Item(3), Dec("-150"));
  EXPECT_TRUE(list->Item(4).IsDecimal());
  EXPECT_EQ(list->Item(4).AsDecimal().ToString(), u"0.1");
  EXPECT_EQ(list->Item(5), Variant(true));
  EXPECT_EQ(list->Item(6), Variant(false));
  EXPECT_TRUE(list->Item(7).IsNull());
  auto inner = list->Item(8).ObjectAs<Dictionary>();
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->Item(u"k").ObjectAs<Collection>()->Item(1), Dec("1"));
  EXPECT_EQ(list->Item(9).ObjectAs<Collection>()->Count(), 0);
}

TEST(JSONParse, KeysQuotesAndBlanks) {
  auto d = ParseObject("{a: 1, 'b': 'x'}");
  ASSERT_EQ(d->Keys(), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(d->Item(u"b"), Variant(u"x"));

  // Blanks in names are dropped, even inside quotes.
  d = ParseObject("{\"first name\": 1, \"x\ty\": 2}");
  EXPECT_EQ(d->Keys(), (std::vector<std::u16string>{u"firstname", u"xy"}));

  // A colon inside a quoted name belongs to it; a missing comma is no error.
  d = ParseObject("{\"a:b\": 1 \"c\": 2}");
  EXPECT_EQ(d->Keys(), (std::vector<std::u16string>{u"a:b", u"c"}));
  EXPECT_EQ(Errors(), "");

  // Keys compare exactly.
  d = ParseObject("{\"A\": 1, \"a\": 2}");
  EXPECT_EQ(d->Count(), 2);

  // A leading comma is skipped.
  d = ParseObject("{, \"a\": 1}");
  EXPECT_EQ(d->Count(), 1);
  EXPECT_EQ(Errors(), "");
}

TEST(JSONParse, QuotedKeyWithoutColon) {
  auto d = ParseObject("{\"a\" 1}");
  EXPECT_EQ(Errors(), "Invalid Key at position 6 : a\r\n");
  EXPECT_EQ(d->Item(u"a"), Dec("1"));
}

TEST(JSONParse, DuplicateKeyKeepsTheFirstValueAndStops) {
  auto d = ParseObject("{\"a\": 1, \"a\": 2, \"b\": 3}");
  EXPECT_EQ(d->Count(), 1);
  EXPECT_EQ(d->Item(u"a"), Dec("1"));
  EXPECT_EQ(Errors(), "This key is already associated with an element of this collection: a\r\n");
}

TEST(JSONParse, NumbersThatRunToTheEndOrDoNotConvert) {
  auto list = ParseArray("[1, 2");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Item(1), Dec("1"));
  EXPECT_TRUE(list->Item(2).IsEmpty());
  EXPECT_EQ(Errors(), "Missing ']': [1, 2\r\n");

  list = ParseArray("[x]");
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(Errors(), "Type mismatch: x]\r\n");

  list = ParseArray("[1, -]");
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(Errors(), "Type mismatch: ]\r\n");

  list = ParseArray("[1e400, 2]");
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(Errors(), "Overflow: , 2]\r\n");

  auto d = ParseObject("{\"n\": 1.2.3}");
  EXPECT_EQ(d->Count(), 0);
  EXPECT_EQ(Errors(), "Type mismatch: n\r\n");

  // Exact decimal digits, no binary rounding.
  list = ParseArray("[0.1, 79228162514264337593543950335, 1E3]");
  EXPECT_EQ(list->Item(1).AsDecimal().ToString(), u"0.1");
  EXPECT_EQ(list->Item(2).AsDecimal().ToString(), u"79228162514264337593543950335");
  EXPECT_EQ(list->Item(3), Dec("1000"));
}

TEST(JSONParse, StringEscapes) {
  auto list = ParseArray(
      R"(["\u00e9", "\q", "a\"b", 'it\'s', "\n\t\b\f\r\/\\", "\u41xyz", "\uD83D\uDE00", "x'y"])");
  EXPECT_EQ(Errors(), "");
  ASSERT_EQ(list->Count(), 8);
  EXPECT_EQ(list->Item(1), Variant(u"\u00e9"));
  EXPECT_EQ(list->Item(2), Variant(u"q"));
  EXPECT_EQ(list->Item(3), Variant(u"a\"b"));
  EXPECT_EQ(list->Item(4), Variant(u"it's"));
  EXPECT_EQ(list->Item(5), Variant(u"\n\t\b\f\r/\\"));
  // Up to four hex digits are read, and the position always moves by four.
  EXPECT_EQ(list->Item(6), Variant(u"Az"));
  EXPECT_EQ(list->Item(7), Variant(u"\U0001F600"));
  EXPECT_EQ(list->Item(8), Variant(u"x'y"));

  // An unterminated string keeps its text; only the open array is reported.
  list = ParseArray("[\"abc");
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Item(1), Variant(u"abc"));
  EXPECT_EQ(Errors(), "Missing ']': [\"abc\r\n");

  list = ParseArray("[\"ab\\");
  EXPECT_EQ(list->Item(1), Variant(u"ab"));
}

TEST(JSONParse, LiteralsThatCannotBeRead) {
  auto d = ParseObject("{\"a\": tru}");
  EXPECT_EQ(d->Item(u"a"), Variant(false));
  EXPECT_EQ(Errors(),
            "Invalid Boolean at position 7 : tru}\r\n"
            "Missing '}': {\"a\": tru}\r\n");
  EXPECT_TRUE(d->Exists(u"tru}"));
  EXPECT_TRUE(d->Item(u"tru}").IsEmpty());

  d = ParseObject("{\"a\": nul, \"b\": 1}");
  EXPECT_TRUE(d->Item(u"a").IsEmpty());
  EXPECT_EQ(Errors().substr(0, 52), "Invalid null value at position 7 : nul, \"b\": 1}\r\n");

  // Inside an array the reader cannot move past the literal: the array stops there.
  auto list = ParseArray("[true, tru, 1]");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Item(2), Variant(false));
  EXPECT_EQ(Errors(), "Invalid Boolean at position 8 : tru, 1]\r\n");
  list = ParseArray("[[nil], 1]");
  EXPECT_EQ(Errors(), "Invalid null value at position 3 : nil], 1]\r\n");

  // The quoted rest of the text is cut, so many bad literals stay cheap.
  std::string longText = "[tru" + std::string(1000, ' ') + "]";
  ParseArray(longText);
  EXPECT_EQ(JSON::LastParseErrors().size(),
            std::u16string(u"Invalid Boolean at position 2 : \r\n").size() + JSON::kMaxQuoted);
}

TEST(JSONParse, CommentsAndParentheses) {
  struct Case {
    const char* text;
    std::vector<int> values;
  } cases[] = {
      {"[1, // two\n 2]", {1, 2}},
      {"[1, // two\r 2]", {1, 2}},
      {"[1 /* a, 9 */ , 2]", {1, 2}},
      {"[1 /* a **/ , 9 */ 3]", {1, 3}},    // "**/" does not end a block comment
      {"[1 /* a * b / 9 */ , 3]", {1, 9}},  // "*" then later "/" does
      {"[1 // x / 2]", {1, 2}},             // a lone "/" ends a line comment
      {"[ / 1 * 2 (3) ]", {1, 2, 3}},       // lone "/" and "*" are blanks
      {"[1, /* line\n 9 */ 2]", {1, 2}},    // line ends do not end block comments
  };
  for (const auto& c : cases) {
    auto list = ParseArray(c.text);
    std::vector<int> got;
    for (const Variant& v : *list) {
      got.push_back(v.IsDecimal() ? static_cast<int>(v.AsDecimal().ToInt64()) : -1);
    }
    EXPECT_EQ(got, c.values) << c.text;
  }
  // There "*/" after the 9 starts a line comment that runs to the end.
  ParseArray("[1 /* a * b / 9 */ , 3]");
  EXPECT_EQ(Errors(), "Missing ']': /* a * b / 9 */ , 3]\r\n");
  // Capitals are no literal: "True" is read as a number.
  ParseArray("[True]");
  EXPECT_EQ(Errors(), "Type mismatch: True]\r\n");
}

TEST(JSONParse, MissingCloseQuotesTheLastTwentyCharacters) {
  ParseObject("{\"alpha\": 1, \"beta\": [2, 3], \"gamma\": \"x\"");
  EXPECT_EQ(Errors(), "Missing '}': [2, 3], \"gamma\": \"x\"\r\n");
  ParseObject("{\"a\": [1, 2");
  EXPECT_EQ(Errors(), "Missing ']': {\"a\": [1, 2\r\nMissing '}': {\"a\": [1, 2\r\n");
}

TEST(JSONParse, NestedFailureStopsTheEnclosingContainers) {
  auto d = ParseObject("{\"a\": {\"b\": x}, \"c\": 1}");
  EXPECT_EQ(Errors(), "Type mismatch: b\r\n");
  ASSERT_EQ(d->Count(), 1);
  EXPECT_EQ(d->Item(u"a").ObjectAs<Dictionary>()->Count(), 0);

  auto list = ParseArray("[1, [2, {\"k\": 1, \"k\": 2}], 3]");
  EXPECT_EQ(Errors(), "This key is already associated with an element of this collection: k\r\n");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Item(2).ObjectAs<Collection>()->Count(), 2);
}

TEST(JSONParse, NestingIsBounded) {
  const int limit = JSON::kMaxNesting;
  std::string deepest = std::string(limit, '[') + std::string(limit, ']');
  ParseArray(deepest);
  EXPECT_EQ(Errors(), "");

  std::string tooDeep = std::string(limit + 1, '[') + std::string(limit + 1, ']');
  ParseArray(tooDeep);
  EXPECT_EQ(Errors(), "Out of stack space: [" + std::string(19, ']') + "\r\n");

  // A million brackets give one message, not a crash.
  auto list = ParseArray(std::string(1000000, '['));
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(Errors(), "Out of stack space: " + std::string(20, '[') + "\r\n");

  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  ParseObject(objects);
  EXPECT_EQ(Errors(), "Out of stack space: a\r\n");
}
