#include "log/AvisosRepetidos.h"
#include "log/Log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "tests/support/LocalTime.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

using testing::LocalTime;
using testing::ReadFile;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::SetPath(Text::FromUtf8(dir_.string()));
    Application::SetUi(&ui_);
    now_ = LocalTime(2026, 12, 8, 9, 5, 7);
    Log::SetClock([this] { return now_; });
  }
  void TearDown() override {
    Log::SetClock(nullptr);
    Application::SetUi(nullptr);
  }
  fs::path Today() const { return dir_ / "log_20261208.log"; }

  testing::TempDir dir_{"log"};
  Clock::time_point now_;
  RecordingUserInterface ui_;
};

TEST_F(LogTest, LineIsDateTimeThenMessageInTheDaysFile) {
  Log::EscribirLog(u"Servicio Activo");
  Log::EscribirLog(u"Año ñandú");
  EXPECT_EQ(ReadFile(Today()),
            "2026-12-08 09:05:07Servicio Activo\r\n2026-12-08 09:05:07A\xC3\xB1o "
            "\xC3\xB1\x61nd\xC3\xBA\r\n");
  EXPECT_EQ(Text::ToUtf8(Log::NombreArchivo(now_)), Today().string());
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(LogTest, NewDayStartsANewFileAndLeavesTheOldOne) {
  Log::EscribirLog(u"uno");
  std::string before = ReadFile(Today());
  now_ = LocalTime(2026, 12, 9, 0, 0, 1);
  Log::EscribirLog(u"dos");
  EXPECT_EQ(ReadFile(Today()), before);
  EXPECT_EQ(ReadFile(dir_ / "log_20261209.log"), "2026-12-09 00:00:01dos\r\n");
}

TEST_F(LogTest, FileNamedWhenOpenedLineStampedWhenWritten) {
  // The first reading of the clock names the file, the second one stamps the line.
  int calls = 0;
  Log::SetClock([&] {
    return ++calls == 1 ? LocalTime(2026, 12, 8, 23, 59, 59, 900)
                        : LocalTime(2026, 12, 9, 0, 0, 0, 100);
  });
  Log::EscribirLog(u"medianoche");
  EXPECT_EQ(ReadFile(Today()), "2026-12-09 00:00:00medianoche\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "log_20261209.log"));
}

TEST_F(LogTest, EscribirErroresJoinsFieldsWithoutSeparators) {
  Log::EscribirErrores({{7, u"D", u"S"}, {-2147217900, u"Invalid object name 'x'.", u"42S02"}});
  Log::EscribirErrores({});
  EXPECT_EQ(ReadFile(Today()),
            "2026-12-08 09:05:077DS\r\n"
            "2026-12-08 09:05:07-2147217900Invalid object name 'x'.42S02\r\n");
}

TEST_F(LogTest, LeerLogCreatesTheDaysFileWithOneEmptyLine) {
  EXPECT_EQ(Log::LeerLog(), u"\r\r");
  EXPECT_EQ(ReadFile(Today()), "\r\n");
  Log::EscribirLog(u"A");
  EXPECT_EQ(Log::LeerLog(), u"\r\r\r2026-12-08 09:05:07A\r");
}

TEST_F(LogTest, LeerLogFramesEveryLineWithCarriageReturns) {
  std::ofstream(Today(), std::ios::binary) << "A\r\nB\r\n";
  EXPECT_EQ(Log::LeerLog(), u"\rA\r\rB\r");
  // Bare line feeds and a last line without an end read the same way.
  std::ofstream(Today(), std::ios::binary) << "A\nB";
  EXPECT_EQ(Log::LeerLog(), u"\rA\r\rB\r");
  // Bytes that are not UTF-8 are shown as replacement characters, not dropped.
  std::ofstream(Today(), std::ios::binary) << "x\xFFy\r\n";
  EXPECT_EQ(Log::LeerLog(), u"\rx\uFFFDy\r");
}

TEST_F(LogTest, CrearDirectorioCreatesEveryLevel) {
  fs::path deep = dir_ / "a" / "b" / "c";
  EXPECT_TRUE(Log::CrearDirectorio(Text::FromUtf8(deep.string())));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(Log::CrearDirectorio(Text::FromUtf8(deep.string() + "/")));
  EXPECT_TRUE(Log::CrearDirectorio(Text::FromUtf8((dir_ / "a//d").string())));
  EXPECT_TRUE(fs::is_directory(dir_ / "a" / "d"));

  std::ofstream(dir_ / "file") << "x";
  EXPECT_FALSE(Log::CrearDirectorio(Text::FromUtf8((dir_ / "file" / "sub").string())));
  EXPECT_FALSE(Log::CrearDirectorio(u""));
}

TEST_F(LogTest, MissingApplicationDirectoryIsCreated) {
  fs::path nested = dir_ / "x" / "y";
  Application::SetPath(Text::FromUtf8(nested.string()));
  Log::EscribirLog(u"m");
  EXPECT_EQ(ReadFile(nested / "log_20261208.log"), "2026-12-08 09:05:07m\r\n");
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(LogTest, UncreatableDirectoryShowsTheBoxThenFails) {
  std::ofstream(dir_ / "file") << "x";
  std::u16string bad = Text::FromUtf8((dir_ / "file" / "sub").string());
  Application::SetPath(bad);
  EXPECT_THROW(Log::EscribirLog(u"m"), Error);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].text, u"Error en bitacora al crear el directorio " + bad);
  EXPECT_EQ(ui_.boxes[0].icon, MessageIcon::Critical);

  EXPECT_THROW(Log::LeerLog(), Error);
  EXPECT_EQ(ui_.boxes.size(), 2u);
}

TEST_F(LogTest, UnopenableFileIsAnErrorForTheCaller) {
  // A directory in the place of the day's file cannot be opened, even by root.
  fs::create_directory(Today());
  try {
    Log::EscribirLog(u"m");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 75);
  }
  EXPECT_THROW(Log::LeerLog(), Error);
}

// The day's file is never written or read through a link, a FIFO or a file of a foreign
// account: the caller gets error 75 with a message that names the file and the reason.
TEST_F(LogTest, LinksFifosAndForeignFilesAreRefused) {
  fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, Today());
  struct Step {
    const char* what;
    std::function<void()> run;
  };
  auto expectRefused = [&](const char* reason) {
    for (const Step& step :
         {Step{"EscribirLog", [] { Log::EscribirLog(u"m"); }},
          Step{"LeerLog", [] { Log::LeerLog(); }}, Step{"AbrirLog", [] { Log::AbrirLog(); }}}) {
      try {
        step.run();
        ADD_FAILURE() << step.what << ": no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.Number(), 75);
        EXPECT_NE(Text::ToUtf8(e.Description()).find(reason), std::string::npos)
            << step.what << ": " << Text::ToUtf8(e.Description());
        EXPECT_NE(e.Description().find(Text::FromUtf8(Today().string())), std::u16string::npos);
      }
    }
  };
  expectRefused("enlace simb");
  EXPECT_EQ(ReadFile(victim), "precious");

  fs::remove(Today());
  ASSERT_EQ(mkfifo(Today().c_str(), 0600), 0);
  expectRefused("no es un archivo normal");

  if (geteuid() == 0) {
    fs::remove(Today());
    std::ofstream(Today()) << "old\r\n";
    ASSERT_EQ(chown(Today().c_str(), 65534, 65534), 0);
    expectRefused("pertenece al usuario");
    EXPECT_EQ(ReadFile(Today()), "old\r\n");
  }
}

// The data directory, when one is set, holds the logs instead of the program's folder; in a
// shared (set-group-ID) folder a new day's file is readable and writable by the group.
TEST_F(LogTest, LogsGoToTheDataDirectory) {
  fs::path data = dir_ / "data";
  fs::create_directory(data);
  fs::permissions(data, fs::perms::set_gid | fs::perms::owner_all | fs::perms::group_all);
  Application::SetDataPath(Text::FromUtf8(data.string()));
  Log::EscribirLog(u"hola");
  Application::SetDataPath(u"");
  EXPECT_FALSE(fs::exists(Today()));
  EXPECT_EQ(ReadFile(data / "log_20261208.log"), "2026-12-08 09:05:07hola\r\n");
  struct stat st {};
  ASSERT_EQ(stat((data / "log_20261208.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

// With the echo on, each line also goes to standard output, even when the file fails.
TEST_F(LogTest, EchoWritesEachLineToStandardOutput) {
  Log::SetEcho(true);
  ::testing::internal::CaptureStdout();
  Log::EscribirLog(u"uno");
  fs::remove(Today());
  fs::create_directory(Today());
  EXPECT_THROW(Log::EscribirLog(u"dos"), Error);
  std::string out = ::testing::internal::GetCapturedStdout();
  Log::SetEcho(false);
  EXPECT_EQ(out, "2026-12-08 09:05:07uno\n2026-12-08 09:05:07dos\n");
  ::testing::internal::CaptureStdout();
  EXPECT_THROW(Log::EscribirLog(u"tres"), Error);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace kestrola

namespace kestrola {
namespace {

// A value with line breaks or other control characters cannot add or forge a line.
TEST_F(LogTest, ControlCharactersInAMessageStayOnItsLine) {
  Log::EscribirLog(u"Trabajo 7\r\n2026-12-08 09:05:07Servicio Activo\t\x1b[2J\x7f\u2028fin");
  EXPECT_EQ(ReadFile(Today()),
            "2026-12-08 09:05:07Trabajo 7  2026-12-08 09:05:07Servicio Activo ?[2J??fin\r\n");
}

// A failure repeating every second: written when it starts, then once per ten minutes with a
// count, and once when it clears; another failure keeps its own count.
TEST_F(LogTest, RepeatedFailureIsWrittenAtStartEveryTenMinutesAndWhenItClears) {
  AvisosRepetidos avisos;
  auto lines = [this] {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(Today()));
    for (std::string l; std::getline(in, l);) out.push_back(l.substr(19, l.size() - 20));
    return out;
  };
  for (int i = 0; i < 600; ++i) {
    avisos.Fallo(u"caja", u"Caja falla");
    if (i == 10) avisos.Fallo(u"cocina", u"Cocina falla");
    now_ += std::chrono::seconds(1);
  }
  EXPECT_EQ(lines(), (std::vector<std::string>{"Caja falla", "Cocina falla"}));
  avisos.Fallo(u"caja", u"Caja falla otra vez");  // 600 s after the first line
  avisos.Resuelto(u"caja", u"Caja imprime de nuevo");
  avisos.Resuelto(u"caja", u"Caja imprime de nuevo");  // nothing more: it is not on
  avisos.Fallo(u"caja", u"Caja falla");                // starts again
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "Caja falla",
                         "Cocina falla",
                         "Caja falla otra vez (se repite: 600 veces desde 2026-12-08 09:05:07)",
                         "Caja imprime de nuevo (tras 601 fallos desde 2026-12-08 09:05:07)",
                         "Caja falla",
                     }));
  EXPECT_TRUE(avisos.Activo(u"cocina"));
}

// Following a file as it grows: only complete lines, each once, within the bounds.
TEST_F(LogTest, LeerDesdeReturnsEachCompleteLineOnce) {
  const std::u16string file = Text::FromUtf8(Today().string());
  std::ofstream out(Today(), std::ios::binary);

  Log::Fragmento f = Log::LeerDesde(file, 0, 100);
  EXPECT_TRUE(f.lineas.empty());
  EXPECT_EQ(f.siguiente, 0u);

  // A line without its end, and a CR whose LF has not arrived, wait for the next call.
  out << "\r\nuno\r\ndo" << std::flush;
  f = Log::LeerDesde(file, 0, 100);
  EXPECT_EQ(f.lineas, (std::vector<std::u16string>{u"", u"uno"}));
  out << "s\r" << std::flush;
  f = Log::LeerDesde(file, f.siguiente, 100);
  EXPECT_TRUE(f.lineas.empty());
  out << "\ntres\nño\r\n" << std::flush;
  f = Log::LeerDesde(file, f.siguiente, 100);
  EXPECT_EQ(f.lineas, (std::vector<std::u16string>{u"dos", u"tres", u"ño"}));
  EXPECT_FALSE(f.recortado);
  EXPECT_EQ(f.siguiente, fs::file_size(Today()));

  // A file replaced by a shorter one is read again from its start.
  out.close();
  std::ofstream(Today(), std::ios::binary | std::ios::trunc) << "nuevo\r\n";
  f = Log::LeerDesde(file, f.siguiente, 100);
  EXPECT_TRUE(f.reiniciado);
  EXPECT_EQ(f.lineas, (std::vector<std::u16string>{u"nuevo"}));

  // No file yet is no lines, not an error.
  f = Log::LeerDesde(Text::FromUtf8((dir_ / "log_20261209.log").string()), 0, 100);
  EXPECT_TRUE(f.lineas.empty());
}

TEST_F(LogTest, LeerDesdeKeepsOnlyTheLastLinesOfABigFile) {
  const std::u16string file = Text::FromUtf8(Today().string());
  {
    std::ofstream out(Today(), std::ios::binary);
    for (int i = 0; i < 20000; ++i) out << "2026-12-08 09:05:07linea " << i << "\r\n";
  }
  // By lines.
  Log::Fragmento f = Log::LeerDesde(file, 0, 50);
  ASSERT_EQ(f.lineas.size(), 50u);
  EXPECT_TRUE(f.recortado);
  EXPECT_EQ(f.lineas.front(), u"2026-12-08 09:05:07linea 19950");
  EXPECT_EQ(f.lineas.back(), u"2026-12-08 09:05:07linea 19999");
  // By bytes: reading starts near the end, at the beginning of a whole line.
  f = Log::LeerDesde(file, 0, 100000, 1000);
  ASSERT_FALSE(f.lineas.empty());
  EXPECT_LT(f.lineas.size(), 40u);
  EXPECT_TRUE(f.lineas.front().starts_with(u"2026-12-08 09:05:07linea "));
  EXPECT_EQ(f.lineas.back(), u"2026-12-08 09:05:07linea 19999");
  EXPECT_EQ(f.siguiente, fs::file_size(Today()));
}

TEST_F(LogTest, WriteFailuresAreRecordedUntilTheLogWorksAgain) {
  Log::EscribirLog(u"uno");
  EXPECT_EQ(Log::ErrorEscritura(), u"");
  fs::remove(Today());
  fs::create_directory(Today());  // the day's file cannot be opened
  EXPECT_THROW(Log::EscribirLog(u"dos"), Error);
  EXPECT_NE(Log::ErrorEscritura().find(u"log_20261208.log"), std::u16string::npos);
  Log::ProbarEscritura();
  EXPECT_NE(Log::ErrorEscritura(), u"");
  fs::remove(Today());
  Log::ProbarEscritura();
  EXPECT_EQ(Log::ErrorEscritura(), u"");
  EXPECT_EQ(fs::file_size(Today()), 0u);  // the probe writes nothing
}

}  // namespace
}  // namespace kestrola
