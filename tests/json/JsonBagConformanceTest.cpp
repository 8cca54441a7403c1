// Every file of the JSONTestSuite parsing corpus goes through JSON write and, when it parses,
// JSON read and a second parse. The expected answer follows the document parser's rules:
// y_ files are accepted and n_ files rejected, except for the lists below.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "tests/json/JsonBagTestUtil.h"

namespace kestrola {
namespace {

using namespace kestrola::testing;
namespace fs = std::filesystem;

// Valid JSON that is rejected: the text must start with "{" or "[" after blanks.
const std::set<std::string> kRejectedValid = {
    "y_string_space.json",          "y_structure_lonely_false.json",
    "y_structure_lonely_int.json",  "y_structure_lonely_negative_real.json",
    "y_structure_lonely_null.json", "y_structure_lonely_string.json",
    "y_structure_lonely_true.json", "y_structure_string_empty.json",
};

const std::set<std::string> kAcceptedInvalid = {
    // Array commas are optional and may lead, trail and repeat.
    "n_array_1_true_without_comma.json",
    "n_array_comma_and_number.json",
    "n_array_double_comma.json",
    "n_array_double_extra_comma.json",
    "n_array_extra_comma.json",
    "n_array_inner_array_no_comma.json",
    "n_array_just_comma.json",
    "n_array_missing_value.json",
    "n_array_number_and_comma.json",
    "n_array_number_and_several_commas.json",
    // After the first member, object commas may trail and repeat.
    "n_object_several_trailing_commas.json",
    "n_object_trailing_comma.json",
    "n_object_two_commas_in_a_row.json",
    // Invalid UTF-8 in a name becomes U+FFFD on reading; the trailing comma is accepted.
    "n_object_lone_continuation_byte_in_key_and_trailing_comma.json",
    // Leading zeros, a point without fraction digits, and "1 000" read as two numbers.
    "n_number_-01.json",
    "n_number_-2..json",
    "n_number_0.e1.json",
    "n_number_1_000.json",
    "n_number_2.e+3.json",
    "n_number_2.e-3.json",
    "n_number_2.e3.json",
    "n_number_neg_int_starting_with_zero.json",
    "n_number_real_without_fractional_part.json",
    "n_number_with_leading_zero.json",
    // Text after the outermost container is ignored.
    "n_array_comma_after_close.json",
    "n_array_extra_close.json",
    "n_object_trailing_comment.json",
    "n_object_trailing_comment_open.json",
    "n_object_trailing_comment_slash_open.json",
    "n_object_trailing_comment_slash_open_incomplete.json",
    "n_object_with_trailing_garbage.json",
    "n_structure_array_trailing_garbage.json",
    "n_structure_array_with_extra_array_close.json",
    "n_structure_double_array.json",
    "n_structure_object_followed_by_closing_object.json",
    "n_structure_object_with_trailing_garbage.json",
    "n_structure_trailing_#.json",
};

// Implementation-defined files that are rejected: numbers beyond the double range (error 6),
// UTF-16 text (read as UTF-8 it starts with neither bracket), and a byte-order mark, which is
// not one of the blanks allowed before the first bracket. Every other i_ file is accepted:
// lone surrogate escapes are kept as code units, invalid UTF-8 becomes U+FFFD, too small
// numbers become 0 and big integers become doubles.
const std::set<std::string> kRejectedImplementationDefined = {
    "i_number_huge_exp.json",
    "i_number_neg_int_huge_exp.json",
    "i_number_pos_double_huge_exp.json",
    "i_number_real_neg_overflow.json",
    "i_number_real_pos_overflow.json",
    "i_string_UTF-16LE_with_BOM.json",
    "i_string_utf16BE_no_BOM.json",
    "i_string_utf16LE_no_BOM.json",
    "i_structure_UTF-8_BOM_empty_object.json",
};

bool Expected(const std::string& name) {
  if (name.starts_with("y_")) return !kRejectedValid.count(name);
  if (name.starts_with("n_")) return kAcceptedInvalid.count(name) > 0;
  return !kRejectedImplementationDefined.count(name);
}

TEST(JsonBagConformance, EveryCorpusFileGetsTheExpectedAnswer) {
  // The public JSONTestSuite parsing corpus, kept in the repository so every run checks it.
  fs::path dir = fs::path(KESTROLA_SOURCE_DIR) / "tests/json/JSONTestSuite/test_parsing";
  ASSERT_TRUE(fs::is_directory(dir)) << "corpus not found at " << dir;
  int files = 0, accepted = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") continue;
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    JsonBag bag;
    bool ok = true;
    std::u16string error;
    try {
      bag.SetJSON(Text::FromUtf8(bytes));
    } catch (const Error& e) {
      ok = false;
      error = e.Description();
      EXPECT_TRUE(e.Number() == 13 || e.Number() == 6 || e.Number() == 28)
          << name << ": " << e.Number();
    }
    EXPECT_EQ(ok, Expected(name)) << name;
    // Reading the UTF-8 bytes directly gives the same document, or the same error at the same
    // position, as converting them first (the corpus holds invalid UTF-8 on purpose).
    JsonBag direct;
    std::u16string directError;
    try {
      direct.SetJSONUtf8(bytes);
    } catch (const Error& e) {
      directError = e.Description();
    }
    EXPECT_EQ(Text::ToUtf8(directError), Text::ToUtf8(error)) << name;
    EXPECT_EQ(direct.JSON(), bag.JSON()) << name;
    EXPECT_EQ(direct.JSONUtf8(), Text::ToUtf8(bag.JSON())) << name;
    // Whatever was read, parsed completely or not, can be written and read back.
    std::u16string text = bag.JSON();
    JsonBag back;
    back.SetJSON(text);
    EXPECT_EQ(back.JSON(), text) << name;
    accepted += ok;
  }
  EXPECT_EQ(files, 318);
  RecordProperty("accepted", accepted);
}

}  // namespace
}  // namespace kestrola
