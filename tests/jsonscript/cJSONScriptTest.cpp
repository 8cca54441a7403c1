#include <gtest/gtest.h>

#include <string>

#include "jsonscript/JSON.h"
#include "jsonscript/cJSONScript.h"
#include "runtime/Decimal.h"
#include "runtime/Error.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "tests/support/Errors.h"

using kestrola::cJSONScript;
using kestrola::Decimal;
using kestrola::Error;
using kestrola::kErrObjectRequired;
using kestrola::MessageIcon;
using kestrola::RecordingUserInterface;
using kestrola::Variant;
using kestrola::Text::ToUtf8;
using kestrola::Text::U;

namespace {

class ScriptTest : public ::testing::Test {
 protected:
  std::string Run(std::string_view script) { return ToUtf8(js.Eval(U(script))); }
  // The error number a script fails with, 0 when it does not fail.
  int FailureOf(std::string_view script) {
    return kestrola::testing::ErrorNumberOf([&] { js.Eval(U(script)); });
  }

  RecordingUserInterface ui;
  cJSONScript js{ui};
};

// `inner` placed inside `depth` nested arrays, counting the script's root array.
std::string Nested(int depth, std::string_view inner) {
  return std::string(depth - 1, '[') + "[" + std::string(inner) + "]" + std::string(depth - 1, ']');
}

constexpr const char* kExceeded = "ERROR: Nesting level exceeded.";

}  // namespace

TEST_F(ScriptTest, TextsNullsAndEmptyScripts) {
  EXPECT_EQ(Run("[]"), "");
  EXPECT_EQ(Run("[{}]"), "");
  EXPECT_EQ(Run("[\"a\", null, \"b\"]"), "anullb");
  EXPECT_EQ(Run("[[\"a\", [null, true, 1.50, false]]]"), "anulltrue1.5false");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ScriptTest, ExecCommandOfPlainValues) {
  EXPECT_EQ(js.ExecCommand(Variant(Decimal::Parse("1.5"))), u"1.5");
  EXPECT_EQ(js.ExecCommand(Variant(true)), u"true");
  EXPECT_EQ(js.ExecCommand(Variant(false)), u"false");
  EXPECT_EQ(js.ExecCommand(Variant::Null()), u"null");
  EXPECT_EQ(js.ExecCommand(Variant()), u"");
  EXPECT_EQ(js.ExecCommand(Variant(2.25)), u"2.25");
  EXPECT_EQ(js.ExecCommand(Variant(u"t")), u"t");
}

TEST_F(ScriptTest, VariablesPersistAcrossEvals) {
  EXPECT_EQ(Run("[{\"set\": {\"name\": \"x\", \"value\": \"1\"}}, {\"get\": {\"name\": \"x\"}}]"),
            "1");
  EXPECT_EQ(Run("[{\"get\": {\"name\": \"x\"}}]"), "1");
  // Names are case-sensitive; an absent or empty variable gives the default.
  EXPECT_EQ(Run("[{\"get\": {\"name\": \"X\", \"default\": \"none\"}}]"), "none");
  EXPECT_EQ(Run("[{\"get\": {\"name\": \"y\"}}]"), "");
  // The value is evaluated once, when it is set, and replaced by a later set.
  EXPECT_EQ(Run("[{\"set\": {\"name\": \"x\", \"value\": [\"a\", {\"get\": {\"name\": \"x\"}}]}},"
                " {\"get\": {\"name\": \"x\"}}]"),
            "a1");
  cJSONScript other(ui);
  EXPECT_EQ(ToUtf8(other.Eval(u"[{\"get\": {\"name\": \"x\", \"default\": \"fresh\"}}]")), "fresh");
}

TEST_F(ScriptTest, CommandsOfOneObjectRunInKeyOrder) {
  EXPECT_EQ(Run("[{\"set\": {\"name\": \"k\", \"value\": \"v\"}, \"get\": {\"name\": \"k\"},"
                " \"return\": \"!\"}]"),
            "v!");
  EXPECT_EQ(Run("[{\"Return\": \"text\"}, {\"RETURN\": \"{\\\"not\\\": 1}\"}]"),
            "text{\"not\": 1}");
}

TEST_F(ScriptTest, IfComparisons) {
  auto If = [&](const char* v1, const char* v2, const char* type) {
    return Run(std::string("[{\"if\": {\"value1\": \"") + v1 + "\", \"value2\": \"" + v2 +
               "\", \"type\": \"" + type + "\", \"true\": \"yes\", \"false\": \"no\"}}]");
  };
  EXPECT_EQ(If("B", "a", "GT"), "no");  // ordinal: "B" sorts before "a"
  EXPECT_EQ(If("B", "a", "lt"), "yes");
  EXPECT_EQ(If("ABC", "abc", "eq"), "yes");
  EXPECT_EQ(If("ABC", "abd", "Eq"), "no");
  EXPECT_EQ(If("ab", "abc", "lt"), "yes");  // a proper prefix is the smaller
  EXPECT_EQ(If("abc", "abc", "gte"), "yes");
  EXPECT_EQ(If("abc", "abc", "lte"), "yes");
  EXPECT_EQ(If("abc", "abc", "gt"), "no");
  EXPECT_EQ(If("a", "a", "ne"), "no");  // unknown type: false
  // Values are evaluated; a missing branch gives nothing.
  EXPECT_EQ(Run("[{\"if\": {\"value1\": [\"a\", \"b\"], \"value2\": \"AB\", \"type\": \"eq\","
                " \"true\": {\"return\": \"same\"}}}]"),
            "same");
  EXPECT_EQ(Run("[{\"if\": {\"value1\": \"a\", \"type\": null, \"true\": \"t\"}}]"), "");
}

TEST_F(ScriptTest, SwitchPicksTheFirstMatchingCase) {
  auto Switch = [&](const char* wanted) {
    return Run(
        std::string("[{\"switch\": {\"case\": \"") + wanted +
        "\", \"default\": \"?\", \"items\": [{\"case\": \"a\", \"return\": \"1\"},"
        " {\"case\": \"b\", \"return\": \"2\"}, {\"case\": \"B\", \"return\": \"3\"},"
        " {\"case\": null, \"return\": \"n\"}, {\"case\": 7, \"return\": [\"s\", \"7\"]}]}}]");
  };
  EXPECT_EQ(Switch("B"), "2");
  EXPECT_EQ(Switch("c"), "?");
  EXPECT_EQ(Switch("7"), "s7");
  EXPECT_EQ(Switch("null"), "?");  // a null case never matches
  EXPECT_EQ(Run("[{\"switch\": {\"items\": [{\"return\": \"empty\"}]}}]"), "empty");

  EXPECT_EQ(FailureOf("[{\"switch\": {\"case\": \"a\"}}]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[{\"switch\": {\"case\": \"a\", \"items\": [\"a\"]}}]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[{\"switch\": {\"case\": \"a\", \"items\": [{\"case\": []}]}}]"),
            kestrola::kErrTypeMismatch);
}

TEST_F(ScriptTest, TemplateCalls) {
  EXPECT_EQ(Run("[{\"total\": {\"a\": \"1\", \"b\": \"2\"}}]"), "<%TOTAL(1,2)%>");
  EXPECT_EQ(Run("[{\"Total\": \"x\"}]"), "<%TOTAL(x)%>");
  EXPECT_EQ(Run("[{\"name\": [\"a\", \"b\"]}]"), "<%NAME()%>");
  EXPECT_EQ(Run("[{\"f\": {\"a\": 1.50, \"b\": true, \"c\": \"x y\"}}]"), "<%F(1.5,true,x y)%>");
  // Arguments are not evaluated.
  EXPECT_EQ(Run("[{\"f\": {\"a\": \"{\\\"return\\\": 1}\"}}]"), "<%F({\"return\": 1})%>");
  EXPECT_EQ(FailureOf("[{\"f\": {\"a\": null}}]"), kestrola::kErrInvalidUseOfNull);
  EXPECT_EQ(FailureOf("[{\"f\": {\"a\": {\"b\": \"1\"}}}]"), kestrola::kErrTypeMismatch);
  // A text after an object in the same command object gets only its own text.
  EXPECT_EQ(Run("[{\"total\": {\"a\": \"1\"}, \"x\": \"y\"}]"), "<%TOTAL(1)%><%X(y)%>");
}

TEST_F(ScriptTest, BoxesGoThroughTheUserInterface) {
  ui.answers = {u"Ann"};
  EXPECT_EQ(Run("[{\"alert\": {\"message\": [\"hi \", \"there\"], \"title\": \"T\"}},"
                " {\"input\": {\"prompt\": \"Name?\", \"title\": \"Ask\", \"default\": \"Bob\"}},"
                " \"|\", {\"input\": {\"prompt\": \"Again?\"}}]"),
            "Ann|");
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_FALSE(ui.boxes[0].isInput);
  EXPECT_EQ(ui.boxes[0].text, u"hi there");
  EXPECT_EQ(ui.boxes[0].icon, MessageIcon::Information);
  EXPECT_EQ(ui.boxes[0].caption, u"T");
  EXPECT_TRUE(ui.boxes[1].isInput);
  EXPECT_EQ(ui.boxes[1].text, u"Name?");
  EXPECT_EQ(ui.boxes[1].caption, u"Ask");
  EXPECT_EQ(ui.boxes[1].defaultText, u"Bob");
  EXPECT_EQ(ui.boxes[2].text, u"Again?");  // no answer left: a cancel, the empty text
}

TEST_F(ScriptTest, ParseErrorsAreShownAndNothingRuns) {
  EXPECT_EQ(Run("[{\"set\": {\"name\": \"a\", \"value\": \"1\"}}, {\"a\""), "");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, u"Parser Error");
  EXPECT_EQ(ui.boxes[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(ui.boxes[0].text, kestrola::JSON::LastParseErrors());
  EXPECT_NE(ui.boxes[0].text, u"");
  EXPECT_EQ(Run("[{\"get\": {\"name\": \"a\"}}]"), "");  // the set never ran

  EXPECT_EQ(Run("nothing"), "");
  EXPECT_EQ(ui.boxes.back().text, u"Invalid JSON");
}

TEST_F(ScriptTest, FailuresReachTheCaller) {
  EXPECT_EQ(FailureOf("[1]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[\"a\", true]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[{\"alert\": 5}]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[{\"x\": null}]"), kErrObjectRequired);
  // A command that needs parameters but was given a text.
  EXPECT_EQ(FailureOf("[{\"get\": \"x\"}]"), kErrObjectRequired);
  EXPECT_EQ(FailureOf("[{\"set\": {\"name\": \"x\", \"value\": \"1\"}, \"alert\": \"hi\"}]"),
            kErrObjectRequired);
  // Parameters as an array, and a non-text return.
  EXPECT_EQ(FailureOf("[{\"alert\": [\"hi\"]}]"), kestrola::kErrInvalidCall);
  EXPECT_EQ(FailureOf("[{\"return\": {\"a\": \"b\"}}]"), kestrola::kErrTypeMismatch);
  EXPECT_EQ(FailureOf("[{\"set\": {\"name\": null, \"value\": \"1\"}}]"),
            kestrola::kErrInvalidUseOfNull);
  // Variables set before a failure keep their values.
  EXPECT_EQ(Run("[{\"get\": {\"name\": \"x\"}}]"), "1");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ScriptTest, RootObjectIsOneCommandObject) {
  EXPECT_EQ(Run("{\"return\": \"x\", \"t\": {\"a\": \"1\"}}"), "x<%T(1)%>");
}

TEST_F(ScriptTest, NestingLimitIsCountedExactly) {
  EXPECT_EQ(Run(Nested(41, "\"x\"")), "x");
  EXPECT_EQ(Run(Nested(42, "\"x\"")), kExceeded);
  // Evaluation of the rest continues after a refused level.
  EXPECT_EQ(Run(Nested(41, "[\"x\"], \"y\"")), std::string(kExceeded) + "y");
  // Command objects and the parameters they evaluate count as levels.
  const char* ifCommand = "{\"if\": {\"type\": \"eq\", \"true\": \"yes\"}}";
  EXPECT_EQ(Run(Nested(40, ifCommand)), "yes");
  EXPECT_EQ(Run(Nested(41, ifCommand)), kExceeded);
  EXPECT_EQ(Run(Nested(42, ifCommand)), kExceeded);
  EXPECT_EQ(js.NestingLevel(), 0);
}

TEST_F(ScriptTest, NestingLevelIsRestoredAfterAFailure) {
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(FailureOf(Nested(30, "{\"alert\": 5}")), kErrObjectRequired);
  }
  EXPECT_EQ(js.NestingLevel(), 0);
  EXPECT_EQ(Run(Nested(41, "\"x\"")), "x");
}

namespace {
// A script that sets x to 16 characters and then doubles it `times` times.
std::string Doubling(int times) {
  std::string script = "[{\"set\": {\"name\": \"x\", \"value\": \"0123456789abcdef\"}}";
  for (int i = 0; i < times; ++i) {
    script +=
        ", {\"set\": {\"name\": \"x\", \"value\": [{\"get\": {\"name\": \"x\"}}, "
        "{\"get\": {\"name\": \"x\"}}]}}";
  }
  return script + ", \"done\"]";
}
}  // namespace

TEST_F(ScriptTest, ScriptsBeyondTheMemoryLimitStopWithOutOfMemory) {
  EXPECT_EQ(js.MemoryLimit(), int64_t{1} << 30);
  js.SetMemoryLimit(1 << 20);
  EXPECT_EQ(Run(Doubling(12)), "done");  // x: 64 Ki characters
  EXPECT_EQ(FailureOf(Doubling(26)), kestrola::kErrOutOfMemory);
  // Output alone, without variables: a long text repeated.
  const std::string text(100000, 'a');
  EXPECT_EQ(FailureOf("[[\"" + text + "\", \"" + text + "\", \"" + text + "\"]]"),
            kestrola::kErrOutOfMemory);
  // What a failed script held is given back: the same instance runs the small one again,
  // as often as wanted.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Run(Doubling(12)), "done");
  EXPECT_EQ(js.NestingLevel(), 0);
  EXPECT_THROW(js.SetMemoryLimit(0), Error);
}
