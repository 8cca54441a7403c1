// The database server stopped in the middle of a queue and started again, on a PostgreSQL
// server of these tests' own (the shared one of the fixture keeps running for the others):
// the cycle logs, reconnects by itself and prints the rest, every job once.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "printing/DirDestination.h"
#include "tests/faults/FaultEnv.h"

namespace kestrola {
namespace {

// A server per test process, so that tests run side by side do not stop each other's.
std::string StateDir() {
  return std::string(KESTROLA_BINARY_DIR) + "/tests/faults-pg-" + std::to_string(getpid());
}

int Script(const std::string& script, const std::string& args) {
  std::string command = "bash " + script + " " + StateDir() + " " + args;
  return std::system(command.c_str());
}

class DatabaseFaultTest : public FaultEnv {
 protected:
  static void SetUpTestSuite() {
    FaultEnv::SetUpTestSuite();
    ASSERT_EQ(Script(std::string(KESTROLA_SOURCE_DIR) + "/scripts/pg-start.sh", "56432"), 0);
  }
  static void TearDownTestSuite() {
    Script(std::string(KESTROLA_SOURCE_DIR) + "/scripts/pg-stop.sh", "");
    fs::remove_all(StateDir());
  }

  void SetUp() override {
    FaultEnv::SetUp();
    // The queue moves to a database on the server of this suite.
    DbTestEnv::Target admin = {DbTestEnv::PostgresServer(DbTestEnv::PostgresPort(StateDir())),
                               u"postgres", u"kestrola", u"kestrola"};
    std::u16string name = U16(DbTestEnv::UniqueName("faults"));
    DbTestEnv::Run(admin, {u"CREATE DATABASE " + name});
    target_ = admin;
    target_.database = name;
    Run(QueueSchema::Statements());
    UseTarget(datos_, target_, 1);
  }
  void TearDown() override {
    DirDestination::SetPreviewWriter({});
    if (stopped_) StartServer();
    FaultEnv::TearDown();
  }

  void StopServer() {
    ASSERT_EQ(Script(kPause, "stop"), 0);
    stopped_ = true;
  }
  void StartServer() {
    ASSERT_EQ(Script(kPause, "start"), 0);
    stopped_ = false;
  }

  void AddJobs(int count) {
    InstallPrinters({"Caja"});
    AddPrinter(1, "Caja");
    for (int job = 1; job <= count; ++job) {
      AddJob(job, 1, {"<XH>TICKET</XH>", "FIN-" + std::to_string(job) + "-FIN"});
    }
  }

  // Every job printed exactly once, and the queue empty.
  void ExpectEachPrintedOnce(int count) {
    std::vector<std::string> docs = Printed("Caja");
    EXPECT_EQ(docs.size(), static_cast<size_t>(count));
    for (int job = 1; job <= count; ++job) {
      EXPECT_EQ(CountContaining(docs, "FIN-" + std::to_string(job) + "-FIN"), 1) << job;
    }
    EXPECT_TRUE(Jobs().empty());
    EXPECT_TRUE(Column(u"select idtrabajo from detallecolaimpresion").empty());
  }

  const std::string kPause = std::string(KESTROLA_SOURCE_DIR) + "/tests/faults/pg-pause.sh";
  bool stopped_ = false;
};

TEST_F(DatabaseFaultTest, ServerStoppedBetweenJobsThenStartedPrintsTheRestOnce) {
  AddJobs(5);
  int pauses = 0;
  CicloCola ciclo = QuickCycle([&] {
    if (++pauses == 2) StopServer();
  });

  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Printed("Caja").size(), 2u);
  EXPECT_TRUE(Logged("Error desconocido en Timer")) << LogText();

  // While the server is down each cycle tries to connect once and logs the driver's errors.
  size_t before = LogMessages().size();
  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);
  EXPECT_GT(LogMessages().size(), before);
  EXPECT_EQ(Printed("Caja").size(), 2u);
  EXPECT_FALSE(BaseDatos::Conectado);

  StartServer();
  ciclo.Ejecutar(datos_);
  ExpectEachPrintedOnce(5);
}

// The server goes away right after a document was written, before the job's deletes: the job
// is not printed again once the server is back, only its deletes are made.
TEST_F(DatabaseFaultTest, ServerStoppedBeforeTheDeletesOfAPrintedJob) {
  AddJobs(4);
  int documents = 0;
  DirDestination::SetPreviewWriter([&](std::string_view, const std::string&) {
    if (++documents == 2) StopServer();
    return true;
  });
  CicloCola ciclo = QuickCycle();

  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Printed("Caja").size(), 2u);
  ciclo.Ejecutar(datos_);

  StartServer();
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"2", "3", "4"}));
  ciclo.Ejecutar(datos_);
  ExpectEachPrintedOnce(4);
  EXPECT_TRUE(Logged("Error desconocido en Timer")) << LogText();
}

}  // namespace
}  // namespace kestrola
