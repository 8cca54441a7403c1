#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "db/BaseDatos.h"
#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "service/Arranque.h"
#include "service/Instancias.h"
#include "service/Servicio.h"
#include "service/frmKestrola.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { Application::SetPath(Text::FromUtf8(dir_.string())); }

  void WriteConfig(const std::string& content) {
    std::ofstream(dir_ / "config.ini", std::ios::binary) << content;
  }
  std::string ReadConfig() { return testing::ReadFile(dir_ / "config.ini"); }

  testing::TempDir dir_{"startup"};
};

TEST_F(StartupTest, MissingConfigIsCreatedWithTheSixDefaultsInOrder) {
  Servicio s;
  s.CargarConfiguracion();
  std::string user = Text::ToUtf8(BaseDatos::UsuarioWindows());
  EXPECT_EQ(ReadConfig(),
            "[Kestrola]\r\nServicioActivo=1\r\nServerDB=(local)\r\nNameDB=master\r\nUserDB=" +
                user + "\r\nPwdDB=\r\nTerminal=1\r\n");
  EXPECT_EQ(s.ArchivoConfig, Text::FromUtf8((dir_ / "config.ini").string()));
  EXPECT_EQ(s.Seccion, u"Kestrola");
  EXPECT_EQ(s.ServicioActivo, u"1");
  EXPECT_EQ(s.Terminal, 1);
  EXPECT_TRUE(s.Activo);
  EXPECT_EQ(s.ConsultaCola, Servicio::ConstruirConsultaCola(1));
}

TEST_F(StartupTest, ServicioActivoIsNormalisedAsANumber) {
  struct Case {
    const char* stored;
    const char* written;
    bool activo;
  };
  for (Case c : {Case{"abc", "0", false}, Case{"2", "2", true}, Case{"1", "1", true},
                 Case{" 0", "0", false}, Case{"", "0", false}, Case{"1.50x", "1.5", true}}) {
    WriteConfig(std::string("[Kestrola]\r\nServicioActivo=") + c.stored + "\r\n");
    Servicio s;
    s.CargarConfiguracion();
    EXPECT_EQ(s.Activo, c.activo) << c.stored;
    EXPECT_NE(ReadConfig().find(std::string("ServicioActivo=") + c.written + "\r\n"),
              std::string::npos)
        << c.stored << " -> " << ReadConfig();
  }
}

TEST_F(StartupTest, TerminalRoundsHalvesToEven) {
  for (auto [stored, value] : {std::pair{"2.5", 2}, std::pair{"3.5", 4}, std::pair{" -7 ", -7}}) {
    WriteConfig(std::string("[Kestrola]\r\nTerminal=") + stored + "\r\n");
    Servicio s;
    s.CargarConfiguracion();
    EXPECT_EQ(s.Terminal, value);
    EXPECT_NE(ReadConfig().find("Terminal=" + std::to_string(value) + "\r\n"), std::string::npos);
    EXPECT_EQ(s.ConsultaCola, Servicio::ConstruirConsultaCola(static_cast<int16_t>(value)));
  }
}

TEST_F(StartupTest, BadTerminalFailsBeforeAnythingIsWritten) {
  for (const char* bad : {"x", "", "40000"}) {
    std::string before = std::string("[Kestrola]\nServerDB=srv\nTerminal=") + bad + "\n";
    WriteConfig(before);
    Servicio s;
    EXPECT_THROW(s.CargarConfiguracion(), Error) << bad;
    EXPECT_EQ(ReadConfig(), before);
    EXPECT_EQ(s.ServerDB, u"srv");  // keys read before the failure stay as read
    EXPECT_FALSE(s.Activo);
    EXPECT_TRUE(s.ConsultaCola.empty());
  }
}

TEST_F(StartupTest, OtherSectionsAndKeysAreLeftAlone) {
  WriteConfig(
      "[Impresoras]\nTerminal=8\nServicioActivo=x\n[Kestrola]\nPwdDB=s3cr;t\nNota=a\nUserDB=\n");
  Servicio s;
  s.CargarConfiguracion();
  EXPECT_EQ(s.PwdDB, u"s3cr;t");
  EXPECT_EQ(s.UserDB, u"");
  std::string user = Text::ToUtf8(BaseDatos::UsuarioWindows());
  EXPECT_EQ(ReadConfig(),
            "[Impresoras]\nTerminal=8\nServicioActivo=x\n[Kestrola]\nPwdDB=s3cr;t\nNota=a\n"
            "UserDB=\nServicioActivo=1\nServerDB=(local)\nNameDB=master\nTerminal=1\n");
}

// A config.ini saved by a Windows editor: byte-order mark, a password with blanks around it.
// Every start reads the same settings and leaves the file as it was.
TEST_F(StartupTest, ConfigWithByteOrderMarkAndQuotedPasswordIsStableAcrossStarts) {
  const std::string bom = "\xEF\xBB\xBF";
  WriteConfig(bom +
              "[Kestrola]\r\nServicioActivo=0\r\nServerDB=srv\r\nNameDB=db\r\n"
              "UserDB=ana\r\nPwdDB=\"  p w  \"\r\nTerminal=3\r\n");
  const std::string expected = ReadConfig();
  for (int start = 1; start <= 3; ++start) {
    SCOPED_TRACE(start);
    Servicio s;
    s.CargarConfiguracion();
    EXPECT_FALSE(s.Activo);
    EXPECT_EQ(s.ServerDB, u"srv");
    EXPECT_EQ(s.PwdDB, u"  p w  ");
    EXPECT_EQ(s.Terminal, 3);
    EXPECT_EQ(ReadConfig(), expected);
  }
}

TEST(ConsultaCola, IsTheFixedQueryWithTheTerminal) {
  EXPECT_EQ(Servicio::ConstruirConsultaCola(-12),
            u"select idtrabajo,fechahora,usuario,tipo,imp.id_impresora,imp.nombre_impresora,"
            u"red.puerto,red.modo,imp.redirigido,  red.comentario as device, "
            u"red.estado_impresora from colaimpresion cola inner join impresora imp on "
            u"imp.id_impresora = cola.id_impresora inner join impresora red on "
            u"red.id_impresora = imp.redirigido where escribiendo=0 and "
            u"red.estado_impresora='A' and red.id_terminal=-12 order by cola.idtrabajo");
}

// Only processes of this very program file count: a process of another program file, or one
// that merely carries the name in its command line, does not.
TEST(ContarInstancias, CountsProcessesOfTheSameProgramFile) {
  fs::path proc = fs::temp_directory_path() / ("kestrola-proc-" + std::to_string(getpid()));
  fs::remove_all(proc);
  auto process = [&](const char* pid) {
    fs::create_directories(proc / pid);
    return proc / pid;
  };
  fs::create_symlink("/opt/pos/kestrola", process("10") / "exe");
  fs::create_symlink("/usr/bin/KESTROLA.exe", process("11") / "exe");
  fs::create_symlink("/opt/pos/kestrola (deleted)", process("12") / "exe");
  fs::create_symlink("/usr/bin/kestrola-old", process("13") / "exe");
  fs::create_symlink("/usr/bin/bash", process("14") / "exe");
  std::ofstream(process("15") / "cmdline", std::ios::binary)
      << std::string("/opt/pos/kestrola\0-a\0", 21);  // exe not readable: another user's
  std::ofstream(process("16") / "cmdline", std::ios::binary) << "";  // a kernel thread
  fs::create_directories(proc / "self");
  fs::create_symlink("/opt/pos/kestrola", proc / "self" / "exe");

  EXPECT_EQ(ContarInstancias(u"Kestrola", proc.string()), 2);
  EXPECT_EQ(ContarInstancias(u"bash", proc.string()), 0);
  EXPECT_EQ(ContarInstancias(u"otro", proc.string()), 0);
  fs::remove_all(proc);
  EXPECT_THROW(ContarInstancias(u"Kestrola", proc.string()), Error);
}

TEST(ContarInstancias, FindsThisProcess) {
  EXPECT_GE(ContarInstancias(Application::EXEName()), 1);
  EXPECT_GE(ContarInstancias(Text::ToUpper(Application::EXEName())), 1);
}

// Start-up refuses a data directory whose files cannot be trusted or read, with a message.
TEST_F(StartupTest, DataDirectoryCheck) {
  fs::path fresh = dir_ / "new" / "data";
  EXPECT_EQ(Arranque::ComprobarDatos(Text::FromUtf8(fresh.string())), u"");
  EXPECT_TRUE(fs::is_directory(fresh));

  std::ofstream(dir_ / "elsewhere.ini") << "[Printers]\r\n";
  fs::create_symlink(dir_ / "elsewhere.ini", fresh / "printers.ini");
  EXPECT_NE(Text::ToUtf8(Arranque::ComprobarDatos(Text::FromUtf8(fresh.string())))
                .find("printers.ini: es un enlace simb"),
            std::string::npos);
  fs::remove(fresh / "printers.ini");

  fs::create_directory(fresh / "config.ini");
  EXPECT_NE(
      Text::ToUtf8(Arranque::ComprobarDatos(Text::FromUtf8(fresh.string()))).find("config.ini"),
      std::string::npos);
  fs::remove(fresh / "config.ini");

  std::ofstream(dir_ / "file") << "x";
  EXPECT_NE(Arranque::ComprobarDatos(Text::FromUtf8((dir_ / "file").string())), u"");
}

TEST(Arranque, Options) {
  struct Case {
    std::vector<const char*> args;
    std::string appDir, error;
    bool logStdout;
  };
  for (const Case& c :
       {Case{{}, "", "", false}, Case{{"x", "--log-stdout"}, "", "", true},
        Case{{"--app-dir", "/d"}, "/d", "", false}, Case{{"--app-dir=/e"}, "/e", "", false},
        Case{{"--app-dir"}, "", "option '--app-dir' needs a folder", false},
        Case{{"--app-dir="}, "", "option '--app-dir' needs a folder", false},
        Case{{"-x"}, "", "unknown option '-x'", false}, Case{{"--", "--bogus"}, "", "", false}}) {
    std::vector<char*> argv{const_cast<char*>("kestrola")};
    for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
    Arranque::Opciones o = Arranque::LeerOpciones(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(o.appDir, c.appDir);
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(o.logStdout, c.logStdout);
  }
}

TEST(TextoParaMostrar, OneLinePerLogLine) {
  EXPECT_EQ(frmKestrola::TextoParaMostrar(u""), u"");
  EXPECT_EQ(frmKestrola::TextoParaMostrar(u"\r\r"), u"");
  EXPECT_EQ(frmKestrola::TextoParaMostrar(u"\r\r\rA\r"), u"\nA");
  EXPECT_EQ(frmKestrola::TextoParaMostrar(u"\rA\r\rB\r"), u"A\nB");
}

}  // namespace
}  // namespace kestrola
