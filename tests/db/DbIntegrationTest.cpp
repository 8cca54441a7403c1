// The database module against a real server through the driver name "SQL Server": PostgreSQL
// (KESTROLA_DB_POSTGRES=1, the private server of the "postgres" fixture) or SQLite.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "db/BaseDatos.h"
#include "service/Servicio.h"
#include "tests/db/LogCapture.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

using Text::ToUtf8;
using Text::U;

constexpr bool kPostgres = KESTROLA_DB_POSTGRES;

// The queue query exactly as the service sends it.
std::u16string QueueQuery(int terminal) {
  return Servicio::ConstruirConsultaCola(static_cast<int16_t>(terminal));
}

class DbTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kPostgres) {
      DbTestEnv::UsePostgres();
      target_ = DbTestEnv::NewPostgresDatabase("dbtest");
    } else {
      DbTestEnv::UseSqlite();
      target_ = DbTestEnv::NewSqliteDatabase("dbtest");
    }
    BaseDatos::Reiniciar();
    log_ = std::make_unique<LogCapture>(
        ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { BaseDatos::Reiniciar(); }

  bool Connect() {
    return BaseDatos::Conectar(target_.server, target_.database, target_.user, target_.password);
  }
  void Run(const std::u16string& statement) {
    ASSERT_TRUE(BaseDatos::Ejecutar(statement)) << ToUtf8(statement) << "\n" << log_->All();
  }
  std::shared_ptr<Recordset> Query(const std::u16string& query) {
    return BaseDatos::AbrirConsulta(query, adOpenStatic, adLockOptimistic);
  }

  DbTestEnv::Target target_;
  std::unique_ptr<LogCapture> log_;
};

// Each driver gets its own suite name, so that the test names of the two executables differ.
#if KESTROLA_DB_POSTGRES
using PostgresDbTest = DbTestBase;
#define DB_TEST(name) TEST_F(PostgresDbTest, name)
#else
using SqliteDbTest = DbTestBase;
#define DB_TEST(name) TEST_F(SqliteDbTest, name)
#endif

DB_TEST(QueueQueryUpdateAndDeleteThroughTheSharedConnection) {
  ASSERT_TRUE(Connect()) << log_->All();
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateOpen);
  EXPECT_EQ(BaseDatos::Conexion().CommandTimeout(), 100000);
  for (const auto& s : QueueSchema::Statements()) Run(s);
  // Printer 1 serves terminal 1; printer 2 is redirected to 3 (terminal 1); printer 4 belongs
  // to terminal 2; printer 5 is down.
  Run(u"insert into impresora values (1,'Caja','USB1','raw',1,'Receipt 1','A',1,3),"
      u"(2,'Cocina','USB2','raw',3,'Kitchen','A',1,1),(3,'Barra','USB3','raw',3,'Bar','A',1,1),"
      u"(4,'Otra','USB4','raw',4,'Other','A',2,4),(5,'Rota','USB5','raw',5,'Broken','D',1,1)");
  Run(u"insert into colaimpresion (idtrabajo,id_impresora,escribiendo,fechahora,usuario,tipo) "
      u"values (9,1,0,'2026-12-08 10:00:00','ana','T'),(5,2,0,NULL,'luis','T'),"
      u"(7,1,1,NULL,'ana','T'),(8,4,0,NULL,'eva','T'),(6,5,0,NULL,'eva','T'),"
      u"(3,1,0,NULL,NULL,NULL)");

  auto queue = Query(QueueQuery(1));
  ASSERT_NE(queue, nullptr) << log_->All();
  ASSERT_EQ(queue->RecordCount(), 3);
  std::vector<int32_t> jobs;
  std::vector<std::u16string> devices;
  for (; !queue->Eof(); queue->MoveNext()) {
    jobs.push_back(queue->Fields(u"idtrabajo").AsLong());
    devices.push_back(queue->Fields(u"device").AsString());
    EXPECT_EQ(queue->Fields(u"estado_impresora").AsString(), u"A");
  }
  EXPECT_EQ(jobs, (std::vector<int32_t>{3, 5, 9}));
  EXPECT_EQ(devices, (std::vector<std::u16string>{u"Receipt 1", u"Bar", u"Receipt 1"}));
  queue->MoveFirst();
  queue->MoveNext();
  EXPECT_EQ(queue->Fields(u"ID_IMPRESORA").AsLong(), 2);  // the job's own printer
  EXPECT_EQ(queue->Fields(u"redirigido").AsLong(), 3);

  // Failover of printer 1, then the delete of job 5 and its lines.
  Run(u"update impresora set estado_impresora='D', redirigido=id_impresora_respaldo "
      u"where id_impresora=1");
  Run(u"delete from detallecolaimpresion where idtrabajo=5");
  Run(u"delete from colaimpresion where idtrabajo=5");
  Run(u"delete from colaimpresion where idtrabajo=12345");  // no row: still a success
  queue = Query(QueueQuery(1));
  ASSERT_NE(queue, nullptr);
  ASSERT_EQ(queue->RecordCount(), 2);  // jobs 3 and 9 now go to printer 3
  EXPECT_EQ(queue->Fields(u"idtrabajo").AsLong(), 3);
  EXPECT_EQ(queue->Fields(u"device").AsString(), u"Bar");
  EXPECT_EQ(queue->Fields(u"id_impresora").AsLong(), 1);
  EXPECT_TRUE(log_->Lines().empty()) << log_->All();
}

DB_TEST(EmptyResultIsAtItsEndAtOnce) {
  ASSERT_TRUE(Connect()) << log_->All();
  for (const auto& s : QueueSchema::Statements()) Run(s);
  auto queue = Query(QueueQuery(1));
  ASSERT_NE(queue, nullptr) << log_->All();
  EXPECT_EQ(queue->RecordCount(), 0);
  EXPECT_TRUE(queue->Eof());
  EXPECT_THROW(queue->Fields(u"device"), Error);
  EXPECT_THROW(queue->MoveNext(), Error);
}

// The shared queue schema creates the three tables once; its "when missing" form runs again on
// a database that has them and leaves their rows alone.
DB_TEST(QueueSchemaCreatesTheTablesAndItsWhenMissingFormKeepsThem) {
  ASSERT_TRUE(Connect()) << log_->All();
  const auto create = QueueSchema::Statements();
  ASSERT_EQ(create.size(), 3u);
  for (const auto& s : create) Run(s);
  Run(u"insert into impresora values (1,'Caja','USB1','raw',1,'Receipt 1','A',1,1)");
  Run(u"insert into colaimpresion values (1,1,0,NULL,'ana','T')");
  Run(u"insert into detallecolaimpresion values (1,1,'hola')");
  for (const auto& s : create) EXPECT_FALSE(BaseDatos::Ejecutar(s)) << ToUtf8(s);
  for (const auto& s : QueueSchema::Statements(true)) Run(s);
  for (const char16_t* table : {u"impresora", u"colaimpresion", u"detallecolaimpresion"}) {
    auto rows = Query(std::u16string(u"select count(*) from ") + table);
    ASSERT_NE(rows, nullptr) << log_->All();
    EXPECT_EQ(rows->Fields(0).AsLong(), 1) << ToUtf8(table);
  }
}

DB_TEST(WrongDatabaseFailsLogsAndLaterConnectWorks) {
  DbTestEnv::Target wrong = target_;
  // SQLite creates a missing file but cannot create one in a missing folder.
  wrong.database = kPostgres ? u"nosuchdb" : target_.database + u".missing/queue.db";
  EXPECT_FALSE(BaseDatos::Conectar(wrong.server, wrong.database, wrong.user, wrong.password));
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateClosed);
  const auto& errors = BaseDatos::Conexion().Errors();
  ASSERT_FALSE(errors.empty());
  auto lines = log_->Lines();
  ASSERT_EQ(lines.size(), errors.size()) << log_->All();
  std::string expected = kPostgres ? "08001" : "HY000";
  EXPECT_EQ(ToUtf8(errors[0].sqlState), expected);
  std::string text = std::to_string(errors[0].nativeError) + ToUtf8(errors[0].description) +
                     ToUtf8(errors[0].sqlState);
  EXPECT_EQ(lines[0].substr(lines[0].size() - text.size()), text);
  if (kPostgres) {
    EXPECT_NE(lines[0].find("\"nosuchdb\" does not exist"), std::string::npos) << lines[0];
  }

  ASSERT_TRUE(Connect()) << log_->All();
  auto rs = Query(u"select 1 as uno");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->Fields(u"uno").AsLong(), 1);
}

DB_TEST(PasswordsAreQuotedAndWrongOnesRefused) {
  if (!kPostgres) GTEST_SKIP() << "the SQLite driver opens files without a login";
  // queue_user's password holds ';' and '}', which only a correctly quoted attribute carries.
  EXPECT_FALSE(BaseDatos::Conectar(target_.server, target_.database, u"queue_user", u"S3cret"));
  auto lines = log_->Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("password authentication failed"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - 5), "08001");
  EXPECT_FALSE(BaseDatos::Conectar(target_.server, target_.database, u"queue_user", u""));
  EXPECT_TRUE(BaseDatos::Conectar(target_.server, target_.database, u"queue_user", u"S3cret;pw}x"))
      << log_->All();
}

DB_TEST(SyntaxErrorGivesNoRecordsetAndTheServersError) {
  ASSERT_TRUE(Connect()) << log_->All();
  EXPECT_EQ(Query(u"selec idtrabajo from colaimpresion"), nullptr);
  auto lines = log_->Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("selec"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - 5), kPostgres ? "42601" : "HY000") << lines[0];
  // The connection stays usable; a refused statement is false and logged too.
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateOpen);
  EXPECT_FALSE(BaseDatos::Ejecutar(u"delete from nosuchtable"));
  EXPECT_GT(log_->Lines().size(), lines.size());
  auto rs = Query(u"select 2 as dos");
  ASSERT_NE(rs, nullptr) << log_->All();
  EXPECT_EQ(rs->Fields(u"dos").AsLong(), 2);
}

DB_TEST(RecordCountIsExactBeyondTheCache) {
  ASSERT_TRUE(Connect()) << log_->All();
  Run(u"create table numeros (n INTEGER, texto VARCHAR(20))");
  Run(u"with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000) "
      u"insert into numeros select x, 'fila' from c");
  auto rs = Query(u"select n, texto from numeros order by n");
  ASSERT_NE(rs, nullptr) << log_->All();
  EXPECT_EQ(rs->RecordCount(), 1000);
  int32_t expected = 1;
  for (; !rs->Eof(); rs->MoveNext()) ASSERT_EQ(rs->Fields(u"n").AsLong(), expected++);
  EXPECT_EQ(expected, 1001);
}

DB_TEST(ValuesKeepTheirKindAndNullReadsAsNull) {
  ASSERT_TRUE(Connect()) << log_->All();
  Run(u"create table valores (id INTEGER, grande BIGINT, importe NUMERIC(12,2), medida DOUBLE "
      u"PRECISION, cuando TIMESTAMP, texto VARCHAR(50), nada VARCHAR(10))");
  Run(u"insert into valores values (1, 5000000000, 1234.56, 0.5, '2026-12-08 17:05:30', "
      u"'x', NULL), (NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  auto rs = Query(u"select * from valores order by id");
  ASSERT_NE(rs, nullptr) << log_->All();
  ASSERT_EQ(rs->RecordCount(), 2);
  // NULLs sort first in SQLite and last in PostgreSQL.
  if (!kPostgres) rs->MoveNext();
  EXPECT_EQ(rs->Fields(u"id").VarType(), vbLong);
  EXPECT_EQ(rs->Fields(u"id").AsLong(), 1);
  EXPECT_EQ(rs->Fields(u"grande").VarType(), vbDecimal);
  EXPECT_EQ(rs->Fields(u"grande").AsDecimal(), Decimal::FromInt64(5000000000));
  const Variant& importe = rs->Fields(u"importe");
  if (importe.IsDecimal()) {
    EXPECT_EQ(importe.AsDecimal(), Decimal::Parse(std::string_view("1234.56")));
  } else {
    EXPECT_DOUBLE_EQ(importe.ToDouble(), 1234.56);  // SQLite stores NUMERIC as a double
  }
  EXPECT_DOUBLE_EQ(rs->Fields(u"medida").AsDouble(), 0.5);
  ASSERT_EQ(rs->Fields(u"cuando").VarType(), vbDate);
  // 8 December 2026 is day 46364 after 30 December 1899; 17:05:30 is 61530 seconds.
  EXPECT_NEAR(rs->Fields(u"cuando").AsDate().serial, 46364 + 61530.0 / 86400, 1e-9);
  EXPECT_EQ(rs->Fields(u"texto").AsString(), u"x");
  EXPECT_TRUE(rs->Fields(u"nada").IsNull());
  rs->MoveFirst();
  if (kPostgres) rs->MoveNext();
  for (int c = 0; c < rs->FieldCount(); ++c) {
    EXPECT_TRUE(rs->Fields(c).IsNull()) << ToUtf8(rs->FieldName(c));
  }
  EXPECT_THROW(rs->Fields(u"nosuchcolumn"), Error);
}

DB_TEST(AccentedTextAndTheEuroSignRoundTrip) {
  ASSERT_TRUE(Connect()) << log_->All();
  Run(u"create table textos (id INTEGER, datos VARCHAR(4000))");
  std::u16string accented = u"Añejo café crème brûlée — 12,50 € ÄÖÜ ñ";
  // The driver manager hands text to SQLite's narrow-character driver through UCS-2, which
  // has no room for characters beyond the first 65,536.
  if (kPostgres) accented += u" 𝄞";
  std::u16string longText;
  while (longText.size() < 3900) longText += u"línea € ";
  Run(u"insert into textos values (1, '" + accented + u"'), (2, '" + longText + u"')");
  auto rs = Query(u"select datos from textos where datos like '%€%' order by id");
  ASSERT_NE(rs, nullptr) << log_->All();
  ASSERT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->Fields(u"Datos").AsString(), accented);
  rs->MoveNext();
  EXPECT_EQ(rs->Fields(u"Datos").AsString(), longText);
}

DB_TEST(ConnectingAgainClosesTheOpenConnectionFirst) {
  ASSERT_TRUE(Connect()) << log_->All();
  Run(u"create table t (n INTEGER)");
  ASSERT_TRUE(Connect()) << log_->All();
  EXPECT_EQ(BaseDatos::Conexion().State(), adStateOpen);
  Run(u"insert into t values (1)");
  auto rs = Query(u"select count(*) as c from t");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->Fields(u"c").AsLong(), 1);
  EXPECT_EQ(Query(u"insert into t values (2)")->State(), adStateClosed);  // no rows: closed
}

}  // namespace
}  // namespace kestrola
