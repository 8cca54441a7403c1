#include "service/INI.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "runtime/Text.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override { file_ = Text::FromUtf8((dir_ / "config.ini").string()); }

  void Write(const std::string& content) {
    std::ofstream(dir_ / "config.ini", std::ios::binary) << content;
  }
  std::string Read() { return testing::ReadFile(dir_ / "config.ini"); }
  std::u16string Leer(const std::u16string& section, const std::u16string& key,
                      const std::u16string& def = u"DEF") {
    return INI::LeerINI(file_, section, key, def);
  }

  testing::TempDir dir_{"ini"};
  std::u16string file_;
};

TEST_F(IniTest, AbsentFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Leer(u"Kestrola", u"Terminal"), u"DEF");
  Write("[Otra]\r\nTerminal=5\r\n");
  EXPECT_EQ(Leer(u"Kestrola", u"Terminal"), u"DEF");
  Write("[Kestrola]\r\nServerDB=x\r\n");
  EXPECT_EQ(Leer(u"Kestrola", u"Terminal"), u"DEF");
  EXPECT_FALSE(fs::exists(dir_ / "missing.ini"));
}

TEST_F(IniTest, NamesIgnoreCaseAndValuesAreTrimmedAndUnquoted) {
  Write(
      "; comment\n"
      "[ kestrola ]\n"
      "  serverdb  =   srv01  \n"
      "PwdDB=\"  p w  \"\n"
      "NameDB='db'\n"
      "UserDB=\"half\n"
      "Vacio=\n"
      "Igual=a=b\n"
      "[Otra]\n"
      "Terminal=9\n");
  EXPECT_EQ(Leer(u"KESTROLA", u"ServerDB"), u"srv01");
  EXPECT_EQ(Leer(u"Kestrola", u"PwdDB"), u"  p w  ");
  EXPECT_EQ(Leer(u"Kestrola", u"NameDB"), u"db");
  EXPECT_EQ(Leer(u"Kestrola", u"UserDB"), u"\"half");
  EXPECT_EQ(Leer(u"Kestrola", u"Vacio"), u"");  // present and empty is not the default
  EXPECT_EQ(Leer(u"Kestrola", u"Igual"), u"a=b");
  EXPECT_EQ(Leer(u"Kestrola", u"Terminal"), u"DEF");
  EXPECT_EQ(Leer(u"Otra", u"terminal"), u"9");
}

TEST_F(IniTest, LongValuesAreCutTo9999Characters) {
  Write("[K]\r\nv=" + std::string(12000, 'x') + "\r\n");
  EXPECT_EQ(Leer(u"K", u"v"), std::u16string(9999, u'x'));
  EXPECT_EQ(Leer(u"K", u"w", std::u16string(10005, u'y')), std::u16string(9999, u'y'));
}

TEST_F(IniTest, WriteCreatesAMissingFileReadableByItsOwnerOnly) {
  INI::EscribirINI(file_, u"Kestrola", u"ServicioActivo", u"1");
  INI::EscribirINI(file_, u"Kestrola", u"ServerDB", u"(local)");
  EXPECT_EQ(Read(), "[Kestrola]\r\nServicioActivo=1\r\nServerDB=(local)\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniTest, WriteKeepsEverythingElseAndTheFileMode) {
  Write(
      "; settings\n"
      "[Otra]\n"
      "Terminal=7\n"
      "\n"
      "[KESTROLA]\n"
      "; the terminal\n"
      "terminal = 3\n"
      "Extra=keep\n"
      "\n"
      "[Ultima]\n"
      "x=1");
  fs::permissions(dir_ / "config.ini", fs::perms(0644));
  INI::EscribirINI(file_, u"Kestrola", u"Terminal", u"4");
  INI::EscribirINI(file_, u"Kestrola", u"PwdDB", u"");
  INI::EscribirINI(file_, u"Nueva", u"k", u"v");
  INI::EscribirINI(file_, u"Ultima", u"y", u"2");
  EXPECT_EQ(Read(),
            "; settings\n"
            "[Otra]\n"
            "Terminal=7\n"
            "\n"
            "[KESTROLA]\n"
            "; the terminal\n"
            "terminal=4\n"
            "Extra=keep\n"
            "PwdDB=\n"
            "\n"
            "[Ultima]\n"
            "x=1\n"
            "y=2\n"
            "[Nueva]\n"
            "k=v\n");
  EXPECT_EQ(fs::status(dir_ / "config.ini").permissions(), fs::perms(0644));
}

// Files written by other editors may end lines with a lone CR, or end without a line break:
// a write keeps every other byte and the new section still starts on a line of its own.
TEST_F(IniTest, LoneCarriageReturnsAndAMissingFinalLineBreakSurviveAWrite) {
  Write("[Other]\rX = \"quoted\r\r");
  EXPECT_EQ(Leer(u"Other", u"x"), u"\"quoted");  // an unmatched quote stays
  INI::EscribirINI(file_, u"Kestrola", u"Terminal", u"3");
  EXPECT_EQ(Read().substr(0, 21), "[Other]\rX = \"quoted\r\r");
  EXPECT_EQ(Leer(u"Other", u"x"), u"\"quoted");
  EXPECT_EQ(Leer(u"Kestrola", u"Terminal"), u"3");

  Write("[Kestrola]\nTerminal=1");  // no final line break
  INI::EscribirINI(file_, u"Kestrola", u"UserDB", u"ana");
  EXPECT_EQ(Read(), "[Kestrola]\nTerminal=1\nUserDB=ana\n");
}

TEST_F(IniTest, LineBreaksInAValueCannotForgeKeys) {
  INI::EscribirINI(file_, u"K", u"PwdDB", u"a\r\nTerminal=99");
  EXPECT_EQ(Leer(u"K", u"Terminal"), u"DEF");
  EXPECT_EQ(Leer(u"K", u"PwdDB"), u"a  Terminal=99");
}

TEST_F(IniTest, TextOutsideAsciiRoundTrips) {
  INI::EscribirINI(file_, u"Kestrola", u"UserDB", u"José Núñez");
  EXPECT_EQ(Leer(u"Kestrola", u"UserDB"), u"José Núñez");
}

// Windows editors save UTF-8 files with a byte-order mark: it is not part of the first line,
// and a rewrite keeps it.
TEST_F(IniTest, ByteOrderMarkIsNotPartOfTheFirstLineAndIsKept) {
  const std::string bom = "\xEF\xBB\xBF";
  Write(bom + "[Kestrola]\r\nServicioActivo=0\r\n");
  EXPECT_EQ(Leer(u"Kestrola", u"ServicioActivo"), u"0");
  INI::EscribirINI(file_, u"Kestrola", u"ServicioActivo", u"0");
  INI::EscribirINI(file_, u"Kestrola", u"Terminal", u"2");
  EXPECT_EQ(Read(), bom + "[Kestrola]\r\nServicioActivo=0\r\nTerminal=2\r\n");

  Write(bom);  // nothing but the mark
  INI::EscribirINI(file_, u"K", u"k", u"v");
  EXPECT_EQ(Read(), bom + "[K]\r\nk=v\r\n");
  EXPECT_EQ(Leer(u"K", u"k"), u"v");
}

// What is written is read back unchanged, however often the program reads and rewrites it:
// values that would lose blanks or quotes on reading are written inside double quotes.
TEST_F(IniTest, ValuesSurviveAnyNumberOfReadsAndWrites) {
  struct Case {
    std::u16string value;
    std::string line;
  };
  const Case cases[] = {
      {u"  p w  ", "k=\"  p w  \""},
      {u" lead", "k=\" lead\""},
      {u"trail\t", "k=\"trail\t\""},
      {u"\"quoted\"", "k=\"\"quoted\"\""},
      {u"'x'", "k=\"'x'\""},
      {u"\"", "k=\"\"\""},
      {u"a\"", "k=\"a\"\""},
      {u"   ", "k=\"   \""},
      {u"in side", "k=in side"},
      {u"a\"b", "k=a\"b"},
      {u"", "k="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Text::ToUtf8(c.value));
    Write("");
    INI::EscribirINI(file_, u"K", u"k", c.value);
    EXPECT_EQ(Read(), "[K]\r\n" + c.line + "\r\n");
    for (int start = 0; start < 3; ++start) {
      std::u16string read = Leer(u"K", u"k");
      ASSERT_EQ(read, c.value);
      INI::EscribirINI(file_, u"K", u"k", read);
    }
  }
}

TEST_F(IniTest, RefusedWriteIsIgnored) {
  std::u16string inDir = Text::FromUtf8((dir_ / "sub").string());
  fs::create_directory(dir_ / "sub");
  EXPECT_NO_THROW(INI::EscribirINI(inDir, u"K", u"k", u"v"));  // a directory, not a file
  EXPECT_NO_THROW(
      INI::EscribirINI(Text::FromUtf8((dir_ / "no" / "x.ini").string()), u"K", u"k", u"v"));
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
}

// Nobody who can write into the folder redirects the configuration: a link in its place (or in
// the place of the temporary file of a rewrite) is neither read nor written through, a FIFO
// does not hang the reader, and a file of a foreign account is not believed.
TEST_F(IniTest, LinksFifosAndForeignFilesAreNotUsed) {
  fs::path victim = dir_ / "victim.ini";
  std::ofstream(victim, std::ios::binary) << "[K]\r\nk=planted\r\n";
  fs::create_symlink(victim, dir_ / "config.ini");
  EXPECT_EQ(Leer(u"K", u"k"), u"DEF");
  INI::EscribirINI(file_, u"K", u"k", u"v");
  EXPECT_TRUE(fs::is_symlink(dir_ / "config.ini"));
  std::ifstream in(victim, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "[K]\r\nk=planted\r\n");

  fs::remove(dir_ / "config.ini");
  ASSERT_EQ(mkfifo((dir_ / "config.ini").c_str(), 0600), 0);
  EXPECT_EQ(Leer(u"K", u"k"), u"DEF");
  fs::remove(dir_ / "config.ini");

  // A link waiting at the name of the temporary file is not followed either.
  fs::create_symlink(victim, dir_ / ("config.ini.tmp" + std::to_string(getpid())));
  INI::EscribirINI(file_, u"K", u"k", u"mine");
  EXPECT_EQ(Leer(u"K", u"k"), u"mine");
  std::ifstream again(victim, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), "[K]\r\nk=planted\r\n");

  if (geteuid() == 0) {
    // Owned by "nobody", who is not in the folder's group.
    ASSERT_EQ(chown((dir_ / "config.ini").c_str(), 65534, 65534), 0);
    EXPECT_EQ(Leer(u"K", u"k"), u"DEF");
  }
}

// In a shared folder (set-group-ID) a new configuration is for the group as well.
TEST_F(IniTest, NewFileInASharedFolderIsReadableAndWritableByTheGroup) {
  fs::permissions(dir_, fs::perms::set_gid | fs::perms::owner_all | fs::perms::group_all);
  INI::EscribirINI(file_, u"K", u"k", u"v");
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

}  // namespace
}  // namespace kestrola
