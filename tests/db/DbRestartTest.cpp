// A connection that the server drops while it reports open: the failing call is logged, the
// connection is closed, and the next Conectar works. Restarts the private PostgreSQL server, so
// it runs alone.
#include <gtest/gtest.h>

#include <cstdlib>

#include "db/BaseDatos.h"
#include "tests/db/LogCapture.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

void RestartServer() {
  std::string command = "bash " + std::string(KESTROLA_SOURCE_DIR) + "/scripts/pg-restart.sh " +
                        DbTestEnv::PostgresStateDir();
  ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST(DbRestartTest, LostConnectionIsClosedAndTheNextConnectWorks) {
  DbTestEnv::UsePostgres();
  DbTestEnv::Target target = DbTestEnv::NewPostgresDatabase("restart");
  LogCapture log("restart");
  BaseDatos::Reiniciar();
  ASSERT_TRUE(BaseDatos::Conectar(target.server, target.database, target.user, target.password))
      << log.All();
  ASSERT_TRUE(BaseDatos::Ejecutar(u"create table t (n INTEGER)"));
  ASSERT_TRUE(BaseDatos::Ejecutar(u"insert into t values (7)"));

  RestartServer();

  EXPECT_EQ(BaseDatos::AbrirConsulta(u"select n from t", adOpenStatic, adLockOptimistic), nullptr);
  auto lines = log.Lines();
  ASSERT_FALSE(lines.empty());
  std::string state = lines.back().substr(lines.back().size() - 5);
  EXPECT_TRUE(state.starts_with("08") || state.starts_with("57P")) << lines.back();
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateClosed);

  ASSERT_TRUE(BaseDatos::Conectar(target.server, target.database, target.user, target.password))
      << log.All();
  auto rs = BaseDatos::AbrirConsulta(u"select n from t", adOpenStatic, adLockOptimistic);
  ASSERT_NE(rs, nullptr) << log.All();
  EXPECT_EQ(rs->Fields(u"n").AsLong(), 7);
  BaseDatos::Reiniciar();
}

TEST(DbRestartTest, StatementAfterRestartIsLoggedAndClosesTheConnection) {
  DbTestEnv::UsePostgres();
  DbTestEnv::Target target = DbTestEnv::NewPostgresDatabase("restart");
  LogCapture log("restart2");
  BaseDatos::Reiniciar();
  ASSERT_TRUE(BaseDatos::Conectar(target.server, target.database, target.user, target.password));
  RestartServer();
  EXPECT_FALSE(BaseDatos::Ejecutar(u"create table t (n INTEGER)"));
  EXPECT_FALSE(log.Lines().empty());
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateClosed);
  EXPECT_TRUE(BaseDatos::Conectar(target.server, target.database, target.user, target.password));
  EXPECT_TRUE(BaseDatos::Ejecutar(u"create table t (n INTEGER)")) << log.All();
  BaseDatos::Reiniciar();
}

}  // namespace
}  // namespace kestrola
