// Printers and the log failing under a running queue cycle on the private PostgreSQL: each job
// stays queued while its printer fails and is printed exactly once when the printer works.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/Log.h"
#include "tests/faults/FaultEnv.h"

namespace kestrola {
namespace {

// The cycle's and the log's clock is the test's own, so that a failing printer's next try
// comes without waiting for it.
class PrinterFaultTest : public FaultEnv {
 protected:
  void SetUp() override {
    FaultEnv::SetUp();
    now_ = std::chrono::system_clock::now();
    Log::SetClock([this] { return now_; });
  }
  // Past the back-off of a printer that failed once.
  void WaitForTheNextTry() { now_ += std::chrono::seconds(6); }
  std::chrono::system_clock::time_point now_;
};

// Jobs 1..n on printer 1, each with one text that names it.
std::vector<std::string> Receipt(int job, size_t padding = 0) {
  std::vector<std::string> lines = {"<XH>TICKET-" + std::to_string(job) + "-</XH>", "Total 1,00"};
  // Long lines make a document larger than what the sockets buffer.
  for (size_t done = 0; done < padding; done += 3000) lines.push_back(std::string(3000, 'x'));
  lines.push_back("FIN-" + std::to_string(job) + "-FIN");
  return lines;
}

TEST_F(PrinterFaultTest, RefusingTcpPrinterKeepsTheJobsUntilItListens) {
  TcpPrinter printer;
  WritePrinters({"Caja=" + printer.Uri()});
  AddPrinter(1, "Caja");
  for (int job = 1; job <= 3; ++job) AddJob(job, 1, Receipt(job));

  CicloCola ciclo = QuickCycle();
  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(LinesOf(1).size(), 3u);
  EXPECT_TRUE(Logged("Trabajo 1 no impreso en la impresora Caja (" + printer.Uri() +
                     "): cannot connect to 127.0.0.1:" + std::to_string(printer.Port()) +
                     ": Connection refused"))
      << LogText();
  EXPECT_FALSE(Logged("Error desconocido en Timer")) << LogText();

  printer.Listen();
  WaitForTheNextTry();
  ciclo.Ejecutar(datos_);
  std::vector<std::string> docs = printer.Documents();
  ASSERT_EQ(docs.size(), 3u);
  for (int job = 1; job <= 3; ++job) {
    EXPECT_EQ(CountContaining(docs, "TICKET-" + std::to_string(job) + "-"), 1);
    EXPECT_EQ(CountContaining(docs, "FIN-" + std::to_string(job) + "-FIN"), 1);
  }
  EXPECT_TRUE(Jobs().empty());
}

// The printer takes the first bytes of a document and closes the connection. A small document
// is all in the socket buffers by then, a large one is still being sent; neither may count as
// printed.
TEST_F(PrinterFaultTest, TcpPrinterDroppingMidDocumentKeepsTheJob) {
  for (size_t padding : {size_t{0}, size_t{600000}}) {
    SCOPED_TRACE("padding " + std::to_string(padding));
    Run({u"delete from detallecolaimpresion", u"delete from colaimpresion",
         u"delete from impresora"});
    Printers::Reset();
    TcpPrinter printer;
    printer.SetMode(TcpPrinter::Mode::Drop, 16);
    printer.Listen();
    WritePrinters({"Caja=" + printer.Uri()});
    AddPrinter(1, "Caja");
    AddJob(1, 1, Receipt(1, padding));
    AddJob(2, 1, Receipt(2));

    CicloCola ciclo = QuickCycle();
    ciclo.Ejecutar(datos_);
    EXPECT_GE(printer.Dropped(), 1);
    EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2"})) << LogText();
    EXPECT_FALSE(LinesOf(1).empty());

    printer.SetMode(TcpPrinter::Mode::Print);
    WaitForTheNextTry();
    ciclo.Ejecutar(datos_);
    std::vector<std::string> docs = printer.Documents();
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(CountContaining(docs, "FIN-1-FIN"), 1);
    EXPECT_EQ(CountContaining(docs, "FIN-2-FIN"), 1);
    EXPECT_TRUE(Jobs().empty());
  }
}

// A folder printer whose path runs through a regular file: creating the document fails for
// every user, root included.
TEST_F(PrinterFaultTest, UnwritableFolderPrinterKeepsTheJobsUntilTheFolderExists) {
  { std::ofstream(app_ / "bloqueo") << "not a folder"; }
  WritePrinters({"Caja=dir:bloqueo/out"});
  AddPrinter(1, "Caja");
  for (int job = 1; job <= 3; ++job) AddJob(job, 1, Receipt(job));

  CicloCola ciclo = QuickCycle();
  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(Logged("Not a directory")) << LogText();

  fs::remove(app_ / "bloqueo");
  fs::create_directories(app_ / "bloqueo" / "out");
  WaitForTheNextTry();
  ciclo.Ejecutar(datos_);
  std::vector<std::string> docs;
  for (const auto& e : fs::directory_iterator(app_ / "bloqueo" / "out")) {
    std::ifstream in(e.path(), std::ios::binary);
    docs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_EQ(docs.size(), 3u);
  for (int job = 1; job <= 3; ++job) {
    EXPECT_EQ(CountContaining(docs, "FIN-" + std::to_string(job) + "-FIN"), 1);
  }
  EXPECT_TRUE(Jobs().empty());
}

// Today's log file cannot be opened (a folder holds its name, which stops root as well). The
// cycle prints as usual; its failures go unreported but lose nothing.
class LogFaultTest : public PrinterFaultTest {
 protected:
  void BlockLog() {
    fs::path log = Text::ToUtf8(Log::NombreArchivo(now_));
    fs::remove(log);
    fs::create_directories(log / "bloqueo");
  }
  void UnblockLog() { fs::remove_all(Text::ToUtf8(Log::NombreArchivo(now_))); }
};

TEST_F(LogFaultTest, CyclePrintsWhileTheLogCannotBeWritten) {
  BlockLog();
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  for (int job = 1; job <= 3; ++job) AddJob(job, 1, Receipt(job));

  CicloCola ciclo = QuickCycle();
  ciclo.Ejecutar(datos_);
  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 3u);
  for (int job = 1; job <= 3; ++job) {
    EXPECT_EQ(CountContaining(docs, "FIN-" + std::to_string(job) + "-FIN"), 1);
  }
  EXPECT_TRUE(Jobs().empty());
}

// A failing printer and a refused delete while the log cannot be written: the failures cannot
// be reported, but the job waits for its printer, is printed once, and its refused delete is
// retried without printing it again, also after the log works again.
TEST_F(LogFaultTest, FailuresWithoutALogLoseNoJobAndPrintNoneTwice) {
  BlockLog();
  { std::ofstream(app_ / "bloqueo") << "not a folder"; }
  WritePrinters({"Caja=dir:bloqueo/out"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, Receipt(1));
  AddJob(2, 1, Receipt(2));

  // A user that may print and delete lines, but not jobs.
  std::u16string role = U16(DbTestEnv::UniqueName("faults_clerk"));
  Run({u"CREATE ROLE " + role + u" LOGIN PASSWORD 'clerk'",
       u"GRANT SELECT ON impresora, colaimpresion, detallecolaimpresion TO " + role,
       u"GRANT UPDATE ON impresora TO " + role,
       u"GRANT DELETE ON detallecolaimpresion TO " + role});
  DbTestEnv::Target servicio = target_;
  servicio.user = role;
  servicio.password = u"clerk";
  UseTarget(datos_, servicio, 1);

  CicloCola ciclo = QuickCycle();
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2"}));

  fs::remove(app_ / "bloqueo");
  fs::create_directories(app_ / "bloqueo" / "out");
  auto docs = [this] {
    std::vector<std::string> all;
    for (const auto& e : fs::directory_iterator(app_ / "bloqueo" / "out")) {
      std::ifstream in(e.path(), std::ios::binary);
      all.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
  };
  WaitForTheNextTry();
  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(CountContaining(docs(), "FIN-1-FIN"), 1);
  EXPECT_EQ(CountContaining(docs(), "FIN-2-FIN"), 1);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2"}));

  UnblockLog();
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(docs().size(), 2u) << LogText();
  Run({u"GRANT DELETE ON colaimpresion TO " + role});
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(docs().size(), 2u) << LogText();
  EXPECT_TRUE(Jobs().empty()) << LogText();
  EXPECT_TRUE(Column(u"select idtrabajo from detallecolaimpresion").empty());
}

}  // namespace
}  // namespace kestrola
