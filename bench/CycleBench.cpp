// The queue cycle's own cost with the pause between jobs removed: a cycle of 20 ready jobs of
// five markup lines each (reported per job), and an idle cycle over an empty queue. The
// printer writes to /dev/null, so the figures are the database work, the markup and the
// ESC/POS encoding. KESTROLA_BENCH_POSTGRES=1: a private PostgreSQL on port 55434, started
// and stopped here; 0: SQLite. One executable per driver, since the driver manager keeps the
// first mapping of "SQL Server" it reads.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/BaseDatos.h"
#include "printing/Printers.h"
#include "runtime/Application.h"
#include "service/CicloCola.h"
#include "service/Servicio.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

constexpr int kBenchPort = 55434;
constexpr int kJobsPerCycle = 20;
const std::string kStateDir = std::string(KESTROLA_BINARY_DIR) + "/bench/pg-cycle";

Servicio datos;
bool ready = false;

void Exec(const std::u16string& statement) {
  if (!BaseDatos::Ejecutar(statement)) ready = false;
}

// Jobs first..first+kJobsPerCycle-1 for printer 1, five lines each.
void AddJobs(int first) {
  std::u16string jobs = u"insert into colaimpresion values ";
  std::u16string lines = u"insert into detallecolaimpresion values ";
  for (int j = first; j < first + kJobsPerCycle; ++j) {
    std::u16string id = Text::FromUtf8(std::to_string(j));
    jobs += (j == first ? u"(" : u",(") + id + u",1,0,'2026-12-08 10:00:00','caja','T')";
    const char16_t* texts[] = {u"<XH>TICKET</XH>", u"1 x Cafe con leche          2,50",
                               u"<B>TOTAL                     2,50</B>", u"<CAJA>", u"<CORTE>"};
    for (int l = 0; l < 5; ++l) {
      lines += (j == first && l == 0 ? u"(" : u",(") + id + u"," +
               Text::FromUtf8(std::to_string(l + 1)) + u",'" + texts[l] + u"')";
    }
  }
  Exec(jobs);
  Exec(lines);
}

void Setup(const DbTestEnv::Target& target) {
  datos.ServerDB = target.server;
  datos.NameDB = target.database;
  datos.UserDB = target.user;
  datos.PwdDB = target.password;
  datos.Terminal = 1;
  datos.ConsultaCola = Servicio::ConstruirConsultaCola(1);
  datos.Activo = true;
  ready = BaseDatos::Conectar(target.server, target.database, target.user, target.password);
  BaseDatos::Conectado = ready;
  for (const auto& s : QueueSchema::Statements()) Exec(s);
  Exec(u"insert into impresora values (1,'Caja','USB1','raw',1,'Caja','A',1,1)");
}

void BM_Cycle_PerJob(benchmark::State& state) {
  if (!ready) {
    state.SkipWithError("no database");
    return;
  }
  CicloCola ciclo([](std::chrono::milliseconds) {});
  int next = 1;
  for (auto _ : state) {
    state.PauseTiming();
    AddJobs(next);
    next += kJobsPerCycle;
    state.ResumeTiming();
    ciclo.Ejecutar(datos);
  }
  state.SetItemsProcessed(state.iterations() * kJobsPerCycle);
  // Seconds per job.
  state.counters["per_job"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kJobsPerCycle),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Cycle_Idle(benchmark::State& state) {
  if (!ready) {
    state.SkipWithError("no database");
    return;
  }
  CicloCola ciclo([](std::chrono::milliseconds) {});
  for (auto _ : state) ciclo.Ejecutar(datos);
}

BENCHMARK(BM_Cycle_PerJob)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Cycle_Idle)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace kestrola

int main(int argc, char** argv) {
  using namespace kestrola;
  benchmark::Initialize(&argc, argv);
  namespace fs = std::filesystem;
  // The application directory: the log and printers.ini with one printer writing nowhere.
  const std::string app = std::string(KESTROLA_BINARY_DIR) + "/bench/cycle-app";
  fs::create_directories(app);
  std::ofstream(app + "/printers.ini") << "[Printers]\nCaja=file:/dev/null\n";
  Application::SetPath(Text::FromUtf8(app));
  setenv("CUPS_SERVER", "/nonexistent/kestrola-cups.sock", 1);

  const std::string scripts = std::string(KESTROLA_SOURCE_DIR) + "/scripts";
  bool postgres = KESTROLA_BENCH_POSTGRES != 0;
  if (postgres) {
    DbTestEnv::UsePostgres();
    std::string start = "bash " + scripts + "/pg-start.sh " + kStateDir + " " +
                        std::to_string(kBenchPort) + " >/dev/null";
    if (std::system(start.c_str()) == 0) {
      DbTestEnv::Target admin = DbTestEnv::PostgresAdmin();
      admin.server = DbTestEnv::PostgresServer(kBenchPort);
      DbTestEnv::Run(admin,
                     {u"DROP DATABASE IF EXISTS cycle_bench", u"CREATE DATABASE cycle_bench"});
      admin.database = u"cycle_bench";
      Setup(admin);
    }
  } else {
    DbTestEnv::UseSqlite();
    const std::string file = app + "/cycle_bench.db";
    fs::remove(file);
    Setup({u"(local)", Text::FromUtf8(file), u"", u""});
  }
  benchmark::RunSpecifiedBenchmarks();
  BaseDatos::Reiniciar();
  int rc = 0;
  if (postgres) {
    std::string stop = "bash " + scripts + "/pg-stop.sh " + kStateDir;
    rc = std::system(stop.c_str()) == 0 ? 0 : 1;
  }
  benchmark::Shutdown();
  return rc;
}
