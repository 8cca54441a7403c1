// Cost of one AbrirConsulta of the queue query: an empty queue and a 1,000-row result, through
// the driver name "SQL Server" mapped to PostgreSQL (KESTROLA_BENCH_POSTGRES=1: a private
// server on port 55433, started and stopped here) or to SQLite. The driver manager keeps the
// first mapping it reads for the life of the process, hence one executable per driver.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/BaseDatos.h"
#include "runtime/Application.h"
#include "service/Servicio.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

constexpr int kBenchPort = 55433;
const std::string kStateDir = std::string(KESTROLA_BINARY_DIR) + "/bench/pg";

// The queue query exactly as the service sends it.
std::u16string QueueQuery(int terminal) {
  return Servicio::ConstruirConsultaCola(static_cast<int16_t>(terminal));
}

// Terminal 1 has 1,000 ready jobs; terminal 2 has a printer and an empty queue.
void FillQueue() {
  for (const auto& s : QueueSchema::Statements()) BaseDatos::Ejecutar(s);
  BaseDatos::Ejecutar(
      u"insert into impresora values (1,'Caja','USB1','raw',1,'Receipt 1','A',1,1),"
      u"(2,'Barra','USB2','raw',2,'Bar','A',2,2)");
  BaseDatos::Ejecutar(
      u"with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000) "
      u"insert into colaimpresion (idtrabajo,id_impresora,escribiendo,fechahora,usuario,tipo) "
      u"select x, 1, 0, '2026-12-08 10:00:00', 'caja', 'T' from c");
}

bool Connect(const DbTestEnv::Target& t) {
  return BaseDatos::Conectar(t.server, t.database, t.user, t.password);
}

void OpenQueue(benchmark::State& state, int terminal, int32_t expectedRows) {
  const std::u16string query = QueueQuery(terminal);
  for (auto _ : state) {
    auto rs = BaseDatos::AbrirConsulta(query, adOpenStatic, adLockOptimistic);
    if (!rs || rs->RecordCount() != expectedRows) {
      state.SkipWithError("the queue query failed or returned the wrong rows");
      break;
    }
    benchmark::DoNotOptimize(rs);
  }
}

bool postgresReady = false;

void UsePostgresDatabase(benchmark::State& state) {
  if (!postgresReady) {
    state.SkipWithError("the private PostgreSQL server did not start");
    return;
  }
  DbTestEnv::UsePostgres();
  static DbTestEnv::Target target = [] {
    DbTestEnv::Target admin = DbTestEnv::PostgresAdmin();
    admin.server = DbTestEnv::PostgresServer(DbTestEnv::PostgresPort(kStateDir));
    DbTestEnv::Target t = admin;
    t.database = u"queuebench";
    DbTestEnv::Run(admin, {u"DROP DATABASE IF EXISTS queuebench", u"CREATE DATABASE queuebench"});
    Connect(t);
    FillQueue();
    return t;
  }();
  if (!Connect(target)) state.SkipWithError("cannot connect to PostgreSQL");
}

void UseSqliteDatabase(benchmark::State& state) {
  DbTestEnv::UseSqlite();
  static DbTestEnv::Target target = [] {
    DbTestEnv::Target t = DbTestEnv::NewSqliteDatabase("queuebench");
    Connect(t);
    FillQueue();
    return t;
  }();
  if (!Connect(target)) state.SkipWithError("cannot open the SQLite database");
}

[[maybe_unused]] void BM_AbrirConsulta_Postgres_EmptyQueue(benchmark::State& state) {
  UsePostgresDatabase(state);
  if (!state.error_occurred()) OpenQueue(state, 2, 0);
}
[[maybe_unused]] void BM_AbrirConsulta_Postgres_1000Rows(benchmark::State& state) {
  UsePostgresDatabase(state);
  if (!state.error_occurred()) OpenQueue(state, 1, 1000);
}
[[maybe_unused]] void BM_AbrirConsulta_Sqlite_EmptyQueue(benchmark::State& state) {
  UseSqliteDatabase(state);
  if (!state.error_occurred()) OpenQueue(state, 2, 0);
}
[[maybe_unused]] void BM_AbrirConsulta_Sqlite_1000Rows(benchmark::State& state) {
  UseSqliteDatabase(state);
  if (!state.error_occurred()) OpenQueue(state, 1, 1000);
}

// Medians over 20 repetitions; the SQLite and PostgreSQL databases are not reset in between
// (the queries only read).
#if KESTROLA_BENCH_POSTGRES
BENCHMARK(BM_AbrirConsulta_Postgres_EmptyQueue)->Repetitions(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AbrirConsulta_Postgres_1000Rows)->Repetitions(20)->Unit(benchmark::kMicrosecond);
#else
BENCHMARK(BM_AbrirConsulta_Sqlite_EmptyQueue)->Repetitions(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AbrirConsulta_Sqlite_1000Rows)->Repetitions(20)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
}  // namespace kestrola

int main(int argc, char** argv) {
  using namespace kestrola;
  benchmark::Initialize(&argc, argv);
  // Database errors go to a log in a folder of the build tree, not beside the executable.
  std::string logDir = std::string(KESTROLA_BINARY_DIR) + "/bench/db-log";
  std::filesystem::create_directories(logDir);
  Application::SetPath(Text::FromUtf8(logDir));
  std::string scripts = std::string(KESTROLA_SOURCE_DIR) + "/scripts";
  std::string start = "bash " + scripts + "/pg-start.sh " + kStateDir + " " +
                      std::to_string(kBenchPort) + " >/dev/null";
  if (KESTROLA_BENCH_POSTGRES) postgresReady = std::system(start.c_str()) == 0;
  benchmark::RunSpecifiedBenchmarks();
  BaseDatos::Reiniciar();
  if (KESTROLA_BENCH_POSTGRES) {
    std::string stop = "bash " + scripts + "/pg-stop.sh " + kStateDir;
    if (std::system(stop.c_str()) != 0) return 1;
  }
  benchmark::Shutdown();
  return 0;
}
