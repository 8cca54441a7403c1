#pragma once

// A print queue on a real database and real folder printers for the queue cycle's tests.
//
// Each test gets an application directory of its own (log files, printers.ini with "dir:"
// printers), a fresh database (PostgreSQL when KESTROLA_CYCLE_POSTGRES is 1, SQLite otherwise)
// holding the three queue tables, and a Servicio set up for terminal 1.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/BaseDatos.h"
#include "db/Connection.h"
#include "db/Recordset.h"
#include "log/Log.h"
#include "printing/Printers.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "service/Servicio.h"
#include "tests/support/DbTestEnv.h"
#include "tests/support/TempDir.h"

#ifndef KESTROLA_CYCLE_POSTGRES
#define KESTROLA_CYCLE_POSTGRES 0
#endif

namespace kestrola {

namespace fs = std::filesystem;

inline std::u16string U16(std::string_view s) {
  return Text::FromUtf8(s);
}

class CycleTestEnv : public ::testing::Test {
 protected:
  static constexpr bool kPostgres = KESTROLA_CYCLE_POSTGRES != 0;

  static void SetUpTestSuite() {
    if (kPostgres) {
      DbTestEnv::UsePostgres();
    } else {
      DbTestEnv::UseSqlite();
    }
    // No machine-wide CUPS server: the installed printers are those of printers.ini.
    setenv("CUPS_SERVER", "/nonexistent/kestrola-cups.sock", 1);
  }

  void SetUp() override {
    // Empty also when a test starts over (TearDown, then SetUp) within itself.
    app_.Clear();
    Application::SetPath(U16(app_.string()));
    Printers::Reset();
    BaseDatos::Reiniciar();

    target_ =
        kPostgres ? DbTestEnv::NewPostgresDatabase("cycle") : DbTestEnv::NewSqliteDatabase("cycle");
    Run(QueueSchema::Statements());
    UseTarget(datos_, target_, 1);
  }

  void TearDown() override {
    Log::SetClock({});
    BaseDatos::Reiniciar();
    Printers::Reset();
  }

  static void UseTarget(Servicio& datos, const DbTestEnv::Target& target, int16_t terminal) {
    datos.ServerDB = target.server;
    datos.NameDB = target.database;
    datos.UserDB = target.user;
    datos.PwdDB = target.password;
    datos.Terminal = terminal;
    datos.ConsultaCola = Servicio::ConstruirConsultaCola(terminal);
    datos.Activo = true;
  }

  // Statements on a connection of the test's own, never the service's.
  void Run(const std::vector<std::u16string>& statements) const {
    DbTestEnv::Run(target_, statements);
  }

  // The first column of every row of a query, as text ("NULL" for NULL).
  std::vector<std::string> Column(const std::u16string& query) const {
    Connection conn;
    conn.Open(BaseDatos::CadenaConexion(target_.server, target_.database), target_.user,
              target_.password);
    Recordset rs;
    rs.Open(query, conn);
    std::vector<std::string> values;
    for (; !rs.Eof(); rs.MoveNext()) {
      const Variant& v = rs.Fields(0);
      values.push_back(v.IsNull() ? "NULL" : Text::ToUtf8(v.ToText()));
    }
    rs.Close();
    conn.Close();
    return values;
  }

  std::vector<std::string> Jobs() const {
    return Column(u"select idtrabajo from colaimpresion order by idtrabajo");
  }
  std::vector<std::string> LinesOf(int job) const {
    return Column(u"select Datos from detallecolaimpresion where idtrabajo=" +
                  U16(std::to_string(job)) + u" order by idrenglon");
  }

  // A printer row; a device of "NULL" stores NULL. Its redirigido is its own number.
  void AddPrinter(int id, const std::string& device, const std::string& estado = "A",
                  int terminal = 1, int backup = 0) {
    std::string dev = device == "NULL" ? "NULL" : "'" + device + "'";
    Run(
        {U16("insert into impresora (id_impresora, nombre_impresora, puerto, modo, redirigido, "
             "comentario, estado_impresora, id_terminal, id_impresora_respaldo) values (" +
             std::to_string(id) + ", 'Impresora " + std::to_string(id) + "', 'USB', 'T', " +
             std::to_string(id) + ", " + dev + ", '" + estado + "', " + std::to_string(terminal) +
             ", " + std::to_string(backup) + ")")});
  }

  // A job with its lines (a line "NULL" stores NULL).
  void AddJob(int id, int printer, const std::vector<std::string>& lines, int escribiendo = 0) {
    std::vector<std::u16string> statements;
    statements.push_back(
        U16("insert into colaimpresion (idtrabajo, id_impresora, escribiendo, fechahora, usuario, "
            "tipo) values (" +
            std::to_string(id) + ", " + std::to_string(printer) + ", " +
            std::to_string(escribiendo) + ", '2024-05-01 10:00:00', 'caja', 'ticket')"));
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string datos = lines[i] == "NULL" ? "NULL" : "'" + lines[i] + "'";
      statements.push_back(
          U16("insert into detallecolaimpresion (idtrabajo, idrenglon, Datos) values (" +
              std::to_string(id) + ", " + std::to_string(i + 1) + ", " + datos + ")"));
    }
    Run(statements);
  }

  // printers.ini with one "dir:" printer per name, each printing into its own folder.
  void InstallPrinters(const std::vector<std::string>& names) {
    std::ofstream ini(app_ / "printers.ini", std::ios::trunc);
    ini << "[Printers]\n";
    for (const auto& n : names) {
      fs::create_directories(app_ / "out" / n);
      ini << n << "=dir:out/" << n << "\n";
    }
  }

  // The documents a folder printer received, oldest first.
  std::vector<std::string> Printed(const std::string& printer) const {
    std::vector<fs::path> files;
    if (fs::exists(app_ / "out" / printer)) {
      for (const auto& e : fs::directory_iterator(app_ / "out" / printer)) {
        if (e.path().extension() == ".bin") files.push_back(e.path());
      }
    }
    // Names begin with the date and time to the millisecond.
    std::sort(files.begin(), files.end());
    std::vector<std::string> docs;
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      docs.push_back(ss.str());
    }
    return docs;
  }

  // Every log line written so far, without its date and time.
  std::vector<std::string> LogMessages() const {
    std::vector<std::string> lines;
    for (const auto& e : fs::directory_iterator(app_)) {
      if (e.path().filename().string().rfind("log_", 0) != 0) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 19) lines.push_back(line.substr(19));
      }
    }
    return lines;
  }

  // The application directory; it goes after the test's TearDown.
  testing::TempDir app_{"cycle"};
  DbTestEnv::Target target_;
  Servicio datos_;
};

}  // namespace kestrola
