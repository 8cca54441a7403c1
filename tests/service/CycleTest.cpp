// The queue cycle against a real database (PostgreSQL or SQLite, see CycleTestEnv.h) and the
// real printing layer writing to folder printers, with the pause between jobs recorded
// instead of slept.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/BaseDatos.h"
#include "log/Log.h"
#include "printing/Printers.h"
#include "service/CicloCola.h"
#include "tests/support/CycleTestEnv.h"

namespace kestrola {
namespace {

using ::testing::HasSubstr;

bool Contains(const std::string& doc, const std::string& text) {
  return doc.find(text) != std::string::npos;
}

class CycleTest : public CycleTestEnv {
 protected:
  // A cycle whose pause records its length and how many documents were printed by then.
  CicloCola NewCycle() {
    return CicloCola([this](std::chrono::milliseconds ms) {
      pauses_.push_back(ms.count());
      size_t docs = 0;
      if (fs::exists(app_ / "out")) {
        for (const auto& e : fs::recursive_directory_iterator(app_ / "out")) {
          docs += e.path().extension() == ".bin";
        }
      }
      printedAtPause_.push_back(docs);
    });
  }

  std::vector<long> pauses_;
  std::vector<size_t> printedAtPause_;
};

// The same tests run once per database, under a suite name of their own.
#if KESTROLA_CYCLE_POSTGRES
using CyclePostgresTest = CycleTest;
#define CYCLE_TEST(name) TEST_F(CyclePostgresTest, name)
#else
using CycleSqliteTest = CycleTest;
#define CYCLE_TEST(name) TEST_F(CycleSqliteTest, name)
#endif

CYCLE_TEST(PrintsReadyJobsInJobOrderWithAPauseAfterEach) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(7, 1, {"<XH>TICKET 7</XH>", "<B>Total</B> 7,00", "<CAJA>", "<CORTE>"});
  AddJob(5, 1, {"<XH>TICKET 5</XH>", "linea 2 de 5"});
  AddJob(9, 1, {"TICKET 9"});

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);

  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 3u);
  EXPECT_TRUE(Contains(docs[0], "TICKET 5") && Contains(docs[0], "linea 2 de 5"));
  EXPECT_TRUE(Contains(docs[1], "TICKET 7"));
  EXPECT_TRUE(Contains(docs[1],
                       "\x1b"
                       "E\x01"
                       "Total"));                                   // bold on
  EXPECT_TRUE(Contains(docs[1], "\x1bp\x00\x19\xfa"));              // drawer kick
  EXPECT_TRUE(Contains(docs[1], std::string("\x1dV\x42\x00", 4)));  // feed and cut
  EXPECT_TRUE(Contains(docs[2], "TICKET 9"));
  // One pause of a second after each job, each after that job's document was written.
  EXPECT_EQ(pauses_, (std::vector<long>{1000, 1000, 1000}));
  EXPECT_EQ(printedAtPause_, (std::vector<size_t>{1, 2, 3}));

  EXPECT_TRUE(Jobs().empty());
  EXPECT_TRUE(Column(u"select idtrabajo from detallecolaimpresion").empty());
  EXPECT_EQ(datos_.ConsultaDetalle,
            u"select Datos from detallecolaimpresion where idtrabajo=9 order by idrenglon");
  EXPECT_TRUE(LogMessages().empty());
}

CYCLE_TEST(JobWithoutLinesIsEndedAndDeleted) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(3, 1, {});

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);

  // An empty document sends nothing to the printer; the job is gone all the same.
  EXPECT_TRUE(Printed("Caja").empty());
  EXPECT_TRUE(Jobs().empty());
  EXPECT_EQ(pauses_.size(), 1u);
  ASSERT_NE(Printers::Current(), nullptr);
  EXPECT_EQ(Printers::Current()->DeviceName(), u"Caja");
}

// Nothing is ready for this terminal, though the database holds a ready job of another
// terminal and one of ours still being written. Our printer is not installed, so touching it
// would fail it over. The cycle selects no printer, prints nothing, pauses for nothing, logs
// nothing and leaves every row as it was.
CYCLE_TEST(EmptyQueueSelectsNoPrinterAndLogsNothing) {
  InstallPrinters({"Cocina"});
  AddPrinter(1, "Caja");
  AddPrinter(2, "Cocina", "A", /*terminal=*/2);
  AddJob(1, 2, {"TICKET DE OTRA TERMINAL"});
  AddJob(2, 1, {"TICKET A MEDIAS"}, /*escribiendo=*/1);

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);

  EXPECT_EQ(Printers::Current(), nullptr);
  EXPECT_TRUE(Printed("Cocina").empty());
  EXPECT_TRUE(pauses_.empty());
  EXPECT_TRUE(LogMessages().empty());
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(LinesOf(1).size(), 1u);
  EXPECT_EQ(LinesOf(2).size(), 1u);
  EXPECT_EQ(Column(u"select estado_impresora from impresora order by id_impresora"),
            (std::vector<std::string>{"A", "A"}));
}

CYCLE_TEST(JobStillBeingWrittenWaitsForItsFlag) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"TICKET 1"}, /*escribiendo=*/1);

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  EXPECT_TRUE(Printed("Caja").empty());
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1"}));
  EXPECT_TRUE(pauses_.empty());

  Run({u"update colaimpresion set escribiendo=0 where idtrabajo=1"});
  ciclo.Ejecutar(datos_);
  ASSERT_EQ(Printed("Caja").size(), 1u);
  EXPECT_TRUE(Jobs().empty());
}

CYCLE_TEST(OtherTerminalsPrintersAndDownPrintersAreNotTaken) {
  InstallPrinters({"Caja", "Barra", "Cocina"});
  AddPrinter(1, "Caja", "A", /*terminal=*/2);
  AddPrinter(2, "Barra", "D", 1);
  AddPrinter(3, "Cocina", "A", 1);
  Run({u"update impresora set redirigido=2 where id_impresora=3"});  // prints through Barra
  AddJob(1, 1, {"OTRA TERMINAL"});
  AddJob(2, 2, {"IMPRESORA CAIDA"});
  AddJob(3, 3, {"REDIRIGIDA A CAIDA"});

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);

  EXPECT_TRUE(Printed("Caja").empty());
  EXPECT_TRUE(Printed("Barra").empty());
  EXPECT_TRUE(Printed("Cocina").empty());
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Printers::Current(), nullptr);
  EXPECT_TRUE(LogMessages().empty());
}

CYCLE_TEST(UnselectablePrinterFailsOverAndTheBackupPrintsNextCycle) {
  InstallPrinters({"Caja"});  // "Barra" is not installed
  AddPrinter(1, "Caja");
  AddPrinter(2, "Barra", "A", 1, /*backup=*/1);
  AddJob(4, 2, {"PARA BARRA"});

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  EXPECT_TRUE(Printed("Caja").empty());
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"4"}));
  EXPECT_EQ(Column(u"select estado_impresora from impresora where id_impresora=2"),
            (std::vector<std::string>{"D"}));
  EXPECT_EQ(Column(u"select redirigido from impresora where id_impresora=2"),
            (std::vector<std::string>{"1"}));
  EXPECT_EQ(Column(u"select estado_impresora from impresora where id_impresora=1"),
            (std::vector<std::string>{"A"}));
  EXPECT_EQ(pauses_.size(), 1u);

  ciclo.Ejecutar(datos_);
  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_TRUE(Contains(docs[0], "PARA BARRA"));
  EXPECT_TRUE(Jobs().empty());
  EXPECT_EQ(
      LogMessages(),
      (std::vector<std::string>{"Impresora 2 Barra marcada D, redirigida a 1: no está instalada"}));
}

// The driver's errors are written when the failure starts, then at most every ten minutes with
// a count, and once when the connection works again: an outage cannot flood the disk.
CYCLE_TEST(UnreachableDatabaseLogsTheDriversErrorsWithoutFlooding) {
  InstallPrinters({"Caja"});
  if (kPostgres) {
    datos_.ServerDB = DbTestEnv::PostgresServer(1);  // nothing listens on port 1
  } else {
    datos_.NameDB = U16((app_ / "no-such-folder" / "queue.db").string());
  }

  auto now = std::chrono::system_clock::now();
  Log::SetClock([&now] { return now; });
  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  std::vector<std::string> first = LogMessages();
  ASSERT_FALSE(first.empty());
  EXPECT_FALSE(BaseDatos::Conectado);

  for (int i = 0; i < 5; ++i) {
    now += std::chrono::seconds(1);
    ciclo.Ejecutar(datos_);
  }
  EXPECT_EQ(LogMessages(), first);

  now += std::chrono::minutes(10);
  ciclo.Ejecutar(datos_);
  std::vector<std::string> again = LogMessages();
  ASSERT_EQ(again.size(), 2 * first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(again[first.size() + i],
              first[i] + " (se repite: 6 veces desde " +
                  Text::ToUtf8(Log::FechaHora(now - std::chrono::seconds(605))) + ")");
  }
  for (const auto& line : again) EXPECT_THAT(line, ::testing::Not(HasSubstr("Timer")));
  EXPECT_TRUE(pauses_.empty());

  UseTarget(datos_, target_, 1);
  ciclo.Ejecutar(datos_);
  EXPECT_TRUE(BaseDatos::Conectado);
  ASSERT_EQ(LogMessages().size(), again.size() + 1);
  EXPECT_THAT(LogMessages().back(),
              HasSubstr("Conexión con la base de datos restablecida (tras 7 fallos"));
}

CYCLE_TEST(UnprintableJobsAreSkippedOnceLoggedAndLeftWhole) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddPrinter(2, "NULL", "A", 1, 1);
  AddJob(1, 1, {"BUENO 1"});
  AddJob(2, 1, {"<B sin cierre", "resto"});
  AddJob(3, 1, {"primera", "NULL"});
  AddJob(4, 2, {"SIN NOMBRE DE IMPRESORA"});
  AddJob(5, 1, {"BUENO 5"});

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);

  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_TRUE(Contains(docs[0], "BUENO 1"));
  EXPECT_TRUE(Contains(docs[1], "BUENO 5"));
  // Nothing of the bad jobs was printed and they stay with all their lines.
  EXPECT_FALSE(Contains(docs[1], "primera"));
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"2", "3", "4"}));
  EXPECT_EQ(LinesOf(2), (std::vector<std::string>{"<B sin cierre", "resto"}));
  EXPECT_EQ(LinesOf(3), (std::vector<std::string>{"primera", "NULL"}));
  EXPECT_EQ(pauses_.size(), 5u);

  std::vector<std::string> log = LogMessages();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_THAT(log[0], HasSubstr("Trabajo 2 "));
  EXPECT_THAT(log[0], HasSubstr("renglón 1"));
  EXPECT_THAT(log[1], HasSubstr("Trabajo 3 "));
  EXPECT_THAT(log[1], HasSubstr("renglón 2 es NULL"));
  EXPECT_THAT(log[2], HasSubstr("Trabajo 4 "));
  EXPECT_THAT(log[2], HasSubstr("NULL"));

  // Later cycles skip them quietly; a corrected job prints.
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(LogMessages().size(), 3u);
  Run(
      {u"update detallecolaimpresion set Datos='<B>con cierre</B>' where idtrabajo=2 and "
       u"idrenglon=1"});
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Printed("Caja").size(), 3u);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"3", "4"}));
}

CYCLE_TEST(ServiceSwitchedOffEndsTheCycleBeforeTheNextJob) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"UNO"});
  AddJob(2, 1, {"DOS"});

  CicloCola ciclo([this](std::chrono::milliseconds) { datos_.Activo = false; });
  ciclo.Ejecutar(datos_);

  EXPECT_EQ(Printed("Caja").size(), 1u);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"2"}));
}

// The deletes of a printed job fail: the job is printed once, not again, and never left
// without its lines; once deleting works again it goes.
CYCLE_TEST(FailedDeletesNeitherReprintNorSplitTheJob) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"UNA SOLA VEZ", "segunda"});

  DbTestEnv::Target servicio = target_;
  std::u16string allowDelete;
  if (kPostgres) {
    // A user that may read the queue and delete lines, but not jobs.
    std::u16string role = U16(DbTestEnv::UniqueName("cycle_clerk"));
    Run({u"CREATE ROLE " + role + u" LOGIN PASSWORD 'clerk'",
         u"GRANT SELECT ON impresora, colaimpresion, detallecolaimpresion TO " + role,
         u"GRANT UPDATE ON impresora TO " + role,
         u"GRANT DELETE ON detallecolaimpresion TO " + role});
    servicio.user = role;
    servicio.password = u"clerk";
    allowDelete = u"GRANT DELETE ON colaimpresion TO " + role;
  } else {
    Run(
        {u"CREATE TRIGGER keep_jobs BEFORE DELETE ON colaimpresion "
         u"BEGIN SELECT RAISE(ABORT, 'jobs are kept'); END"});
    allowDelete = u"DROP TRIGGER keep_jobs";
  }
  UseTarget(datos_, servicio, 1);

  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  ASSERT_EQ(Printed("Caja").size(), 1u);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"1"}));
  EXPECT_EQ(LinesOf(1), (std::vector<std::string>{"UNA SOLA VEZ", "segunda"}));
  EXPECT_FALSE(LogMessages().empty());  // the refused delete

  ciclo.Ejecutar(datos_);
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Printed("Caja").size(), 1u);
  EXPECT_EQ(LinesOf(1).size(), 2u);

  Run({allowDelete});
  ciclo.Ejecutar(datos_);
  EXPECT_EQ(Printed("Caja").size(), 1u);
  EXPECT_TRUE(Jobs().empty());
  EXPECT_TRUE(LinesOf(1).empty());
  for (const auto& line : LogMessages()) EXPECT_THAT(line, ::testing::Not(HasSubstr("Timer")));
}

// A job whose deletes failed is remembered with what it holds: when its number comes back for
// another job (SQLite reuses the highest number), the new job is printed, not deleted unseen.
CYCLE_TEST(OwedDeleteDoesNotTakeANewJobUnderTheSameNumber) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"PRIMERO"});
  std::vector<std::u16string> block, unblock;
  if (kPostgres) {
    block = {
        u"CREATE FUNCTION keep_jobs() RETURNS trigger LANGUAGE plpgsql AS "
        u"$$ BEGIN RAISE EXCEPTION 'jobs are kept'; END $$",
        u"CREATE TRIGGER keep_jobs BEFORE DELETE ON colaimpresion "
        u"FOR EACH ROW EXECUTE FUNCTION keep_jobs()"};
    unblock = {u"DROP TRIGGER keep_jobs ON colaimpresion"};
  } else {
    block = {
        u"CREATE TRIGGER keep_jobs BEFORE DELETE ON colaimpresion "
        u"BEGIN SELECT RAISE(ABORT, 'jobs are kept'); END"};
    unblock = {u"DROP TRIGGER keep_jobs"};
  }
  Run(block);
  CicloCola ciclo = NewCycle();
  ciclo.Ejecutar(datos_);
  ASSERT_EQ(Printed("Caja").size(), 1u);
  ASSERT_EQ(Jobs(), (std::vector<std::string>{"1"}));

  // Someone else removes the printed job, and a new one gets its number.
  Run(unblock);
  Run({u"delete from detallecolaimpresion", u"delete from colaimpresion"});
  AddJob(1, 1, {"SEGUNDO"});
  ciclo.Ejecutar(datos_);
  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_TRUE(Contains(docs[1], "SEGUNDO"));
  EXPECT_TRUE(Jobs().empty());
}

CYCLE_TEST(TwoTerminalsEachPrintOnlyTheirOwnJobs) {
  InstallPrinters({"Caja", "Cocina"});
  AddPrinter(1, "Caja", "A", 1);
  AddPrinter(2, "Cocina", "A", 2);
  for (int job = 1; job <= 12; ++job) {
    AddJob(job, job % 3 == 0 ? 2 : 1, {"JOB-" + std::to_string(job) + "-END"});
  }
  Servicio terminal2;
  UseTarget(terminal2, target_, 2);

  CicloCola uno = NewCycle();
  CicloCola dos = NewCycle();
  for (int round = 0; round < 2; ++round) {
    uno.Ejecutar(datos_);
    dos.Ejecutar(terminal2);
  }

  auto jobsIn = [](const std::vector<std::string>& docs) {
    std::vector<int> jobs;
    for (const auto& d : docs) {
      size_t at = d.find("JOB-");
      jobs.push_back(std::stoi(d.substr(at + 4)));
    }
    return jobs;
  };
  EXPECT_EQ(jobsIn(Printed("Caja")), (std::vector<int>{1, 2, 4, 5, 7, 8, 10, 11}));
  EXPECT_EQ(jobsIn(Printed("Cocina")), (std::vector<int>{3, 6, 9, 12}));
  EXPECT_TRUE(Jobs().empty());
}

#if !KESTROLA_CYCLE_POSTGRES
TEST(CycleNumbers, OnlyWholeNumbersAreJobNumbers) {
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(int32_t{42})), 42);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(int16_t{-3})), -3);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(Decimal::Parse("9000000000.00"))), 9000000000LL);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(7.0)), 7);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(Decimal::Parse("1.5"))), std::nullopt);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(Decimal::Parse("1e25"))), std::nullopt);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(7.25)), std::nullopt);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant(u"5; drop table impresora")), std::nullopt);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant::Null()), std::nullopt);
  EXPECT_EQ(CicloCola::NumeroEntero(Variant()), std::nullopt);
}

#endif

}  // namespace
}  // namespace kestrola
