#pragma once

// Test support for everything that talks to a database through the driver name "SQL Server".
//
// PostgreSQL: the private server of the CTest fixture "postgres" (scripts/pg-start.sh into
// <build>/tests/pg, 127.0.0.1, port 55432 or the next free one, see PostgresPort()). A test
// executable that needs it sets the test property FIXTURES_REQUIRED postgres. SQLite: needs no
// server; each database is a file in the build tree.
//
//   DbTestEnv::UsePostgres();                               // or UseSqlite()
//   auto target = DbTestEnv::NewPostgresDatabase("cycle");  // or NewSqliteDatabase("cycle")
//   BaseDatos::Conectar(target.server, target.database, target.user, target.password);
//
// UsePostgres/UseSqlite select, with ODBCSYSINI, a private odbcinst.ini that maps "SQL Server"
// to the driver; call one of them before the first connection of the process. The
// driver manager keeps the first mapping it reads until the process ends, so one test
// executable talks to one of the two drivers only.
//
// Queue tables: run QueueSchema::Statements() (db/schema/QueueSchema.h) on a new database.
// Every database of the private server is dropped with it when the fixture stops.

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/schema/QueueSchema.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola::DbTestEnv {

inline constexpr int kPostgresPort = 55432;

// The four settings Conectar takes.
struct Target {
  std::u16string server;
  std::u16string database;
  std::u16string user;
  std::u16string password;
};

// Folder of the PostgreSQL fixture (pg-start.sh STATE_DIR).
inline std::string PostgresStateDir() {
  return std::string(KESTROLA_BINARY_DIR) + "/tests/pg";
}

// Selects the odbcinst.ini of <build>/tests/<folder>, which the build writes when it is
// configured (cmake/OdbcTestMappings.cmake): tests only read it, so tests running side by side
// never see it half-written.
inline void UseDriver(const std::string& folder) {
  const std::string dir = std::string(KESTROLA_BINARY_DIR) + "/tests/" + folder;
  if (!std::filesystem::exists(dir + "/odbcinst.ini")) {
    throw std::runtime_error(dir + "/odbcinst.ini is missing: configure the build again");
  }
  setenv("ODBCSYSINI", dir.c_str(), 1);
}

inline void UsePostgres() {
  UseDriver("odbc-postgres");
}

inline void UseSqlite() {
  UseDriver("odbc-sqlite");
}

// The port of the private server: pg-start.sh takes the first free one from 55432 upwards
// and writes it into its state folder.
inline int PostgresPort(const std::string& stateDir = PostgresStateDir()) {
  std::ifstream in(stateDir + "/port");
  int port = 0;
  return (in >> port) ? port : kPostgresPort;
}

// The server setting for the private PostgreSQL: the port travels inside it, since the
// connection string puts nothing between the server and the next attribute.
inline std::u16string PostgresServer(int port = PostgresPort()) {
  return u"127.0.0.1;port=" + Text::FromUtf8(std::to_string(port));
}

// The superuser of the private server, on its maintenance database.
inline Target PostgresAdmin() {
  return {PostgresServer(), u"postgres", u"kestrola", u"kestrola"};
}

// A name no other test of this run uses: prefix, process id and a counter.
inline std::string UniqueName(std::string_view prefix) {
  static std::atomic<int> counter{0};
  return std::string(prefix) + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// Runs statements on a database with a connection of its own, never the service's.
inline void Run(const Target& target, const std::vector<std::u16string>& statements) {
  Connection conn;
  conn.Open(ConnectionString::Build(target.server, target.database), target.user, target.password);
  for (const auto& s : statements) conn.Execute(s);
  conn.Close();
}

// A new, empty database on the private server, owned by the superuser. `prefix` must be a
// lower-case identifier.
inline Target NewPostgresDatabase(std::string_view prefix) {
  std::u16string name = Text::FromUtf8(UniqueName(prefix));
  // CREATE DATABASE copies template1 and is refused while another session copies it too, so
  // a refusal is retried a few times.
  for (int attempt = 1;; ++attempt) {
    try {
      Run(PostgresAdmin(), {u"DROP DATABASE IF EXISTS " + name, u"CREATE DATABASE " + name});
      break;
    } catch (const Error& e) {
      if (attempt == 5) {
        throw std::runtime_error("cannot create the test database: " +
                                 Text::ToUtf8(e.Description()));
      }
      usleep(200000);
    }
  }
  Target target = PostgresAdmin();
  target.database = name;
  return target;
}

// A new, empty SQLite database file (the driver creates it at the first connection).
inline Target NewSqliteDatabase(std::string_view prefix) {
  std::string folder = std::string(KESTROLA_BINARY_DIR) + "/tests/sqlite";
  std::filesystem::create_directories(folder);
  std::string path = folder + "/" + UniqueName(prefix) + ".db";
  std::filesystem::remove(path);
  return {u"(local)", Text::FromUtf8(path), u"", u""};
}

}  // namespace kestrola::DbTestEnv
