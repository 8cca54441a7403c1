#include <gtest/gtest.h>

#include <filesystem>

#include "db/BaseDatos.h"
#include "db/ConnectionString.h"
#include "db/OdbcDiagnostics.h"
#include "runtime/Error.h"
#include "tests/db/LogCapture.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

using Text::ToUtf8;

TEST(ConnectionStringTest, BuildsTheExactTextWithNothingAddedOrQuoted) {
  EXPECT_EQ(BaseDatos::CadenaConexion(u"(local)", u"master"),
            u"server=(local);driver={SQL Server};database=master");
  EXPECT_EQ(BaseDatos::CadenaConexion(u"db;port=1", u"a b{c}"),
            u"server=db;port=1;driver={SQL Server};database=a b{c}");
  EXPECT_EQ(BaseDatos::CadenaConexion(u"", u""), u"server=;driver={SQL Server};database=");
}

TEST(ConnectionStringTest, QuotesOnlyValuesThatNeedIt) {
  EXPECT_EQ(ConnectionString::QuoteValue(u"plain pw"), u"plain pw");
  EXPECT_EQ(ConnectionString::QuoteValue(u""), u"");
  EXPECT_EQ(ConnectionString::QuoteValue(u"a;b"), u"{a;b}");
  EXPECT_EQ(ConnectionString::QuoteValue(u"{x"), u"{{x}");
  EXPECT_EQ(ConnectionString::QuoteValue(u"S3cret;pw}x"), u"{S3cret;pw}}x}");
  EXPECT_EQ(ConnectionString::QuoteValue(u"}}"), u"{}}}}}");
}

TEST(ConnectionStringTest, AppendsUserAndPasswordEvenWhenEmpty) {
  EXPECT_EQ(
      ConnectionString::WithCredentials(u"server=s;driver={SQL Server};database=d", u"sa", u""),
      u"server=s;driver={SQL Server};database=d;UID=sa;PWD=;");
  EXPECT_EQ(ConnectionString::WithCredentials(u"server=s;", u"", u"p;w"),
            u"server=s;UID=;PWD={p;w};");
  EXPECT_EQ(ConnectionString::WithCredentials(u"", u"u", u"p"), u"UID=u;PWD=p;");
}

TEST(OdbcDiagnosticsTest, MapsARecordToOneLogLine) {
  ProviderError e = OdbcDiagnostics::MakeProviderError(
      u"42601", 1, u"ERROR: syntax error at or near \"SELEC\";\nError while executing the query");
  EXPECT_EQ(e.nativeError, 1);
  EXPECT_EQ(e.sqlState, u"42601");
  EXPECT_EQ(e.description,
            u"ERROR: syntax error at or near \"SELEC\"; Error while executing the query");

  e = OdbcDiagnostics::MakeProviderError(std::u16string_view(u"08S01\0\0", 7), -7,
                                         u"lost\r\n\r\n  more \n");
  EXPECT_EQ(e.sqlState, u"08S01");
  EXPECT_EQ(e.nativeError, -7);
  EXPECT_EQ(e.description, u"lost   more");
}

TEST(OdbcDiagnosticsTest, RecognisesConnectionLostStates) {
  for (auto s : {u"08S01", u"08001", u"08003", u"57P01", u"57P02", u"57P03"}) {
    EXPECT_TRUE(OdbcDiagnostics::IsConnectionLostState(s)) << ToUtf8(s);
  }
  for (auto s : {u"42601", u"HY000", u"57014", u"01000", u"", u"08"}) {
    EXPECT_FALSE(OdbcDiagnostics::IsConnectionLostState(s)) << ToUtf8(s);
  }
}

// The module on a connection that never opened: no provider errors, so nothing is logged.
TEST(BaseDatosTest, OperationsOnAClosedConnectionFailQuietly) {
  LogCapture log("closed");
  BaseDatos::Reiniciar();
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateClosed);
  EXPECT_EQ(BaseDatos::AbrirConsulta(u"select 1", adOpenStatic, adLockOptimistic), nullptr);
  EXPECT_FALSE(BaseDatos::Ejecutar(u"delete from colaimpresion"));
  EXPECT_TRUE(log.Lines().empty()) << log.All();
}

// The driver manager alone: an odbcinst.ini without "SQL Server" makes the open fail with the
// manager's own record, which is logged as native error, description and SQL state.
TEST(BaseDatosTest, UnknownDriverIsLoggedAndLeavesTheConnectionClosed) {
  LogCapture log("nodriver");
  DbTestEnv::UseDriver("odbc-empty");
  BaseDatos::Reiniciar();

  EXPECT_FALSE(BaseDatos::Conectar(u"(local)", u"master", u"sa", u""));
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateClosed);
  ASSERT_FALSE(BaseDatos::Conexion().Errors().empty());
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), BaseDatos::Conexion().Errors().size()) << log.All();
  const ProviderError& first = BaseDatos::Conexion().Errors().front();
  std::string expected =
      std::to_string(first.nativeError) + ToUtf8(first.description) + ToUtf8(first.sqlState);
  EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("SQL Server"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - expected.size()), expected);
}

TEST(RecordsetTest, ClosedRecordsetAndBadArgumentsRaise) {
  Recordset rs;
  EXPECT_EQ(rs.State(), adStateClosed);
  try {
    rs.RecordCount();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrObjectClosed);
  }
  EXPECT_THROW(rs.SetCacheSize(0), Error);
  Connection closed;
  try {
    rs.Open(u"select 1", closed);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), kErrObjectClosed);
  }
}

}  // namespace
}  // namespace kestrola
