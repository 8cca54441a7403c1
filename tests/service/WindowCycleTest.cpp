// The window running the queue cycle on a real (SQLite) database: it keeps taking clicks while
// a cycle waits between jobs, and a stop click ends the cycle before its next job.

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include "runtime/Application.h"
#include "runtime/RecordingUserInterface.h"
#include "service/CicloCola.h"
#include "service/frmKestrola.h"
#include "tests/service/CycleTestEnv.h"

namespace kestrola {
namespace {

class WindowCycleTest : public CycleTestEnv {
 protected:
  static void SetUpTestSuite() {
    CycleTestEnv::SetUpTestSuite();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "service_window_cycle_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }

  void SetUp() override {
    CycleTestEnv::SetUp();
    Application::SetUi(&ui_);
    for (const char* image : {"start.jpg", "start_down.jpg", "stop.jpg", "stop_down.jpg"}) {
      fs::copy_file(fs::path(KESTROLA_SOURCE_DIR) / "assets" / image, app_ / image);
    }
  }
  void TearDown() override {
    Application::SetUi(nullptr);
    CycleTestEnv::TearDown();
  }

  RecordingUserInterface ui_;
};

TEST_F(WindowCycleTest, StopClickDuringACycleLeavesTheLaterJobsQueued) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"PRIMERO"});
  AddJob(2, 1, {"SEGUNDO"});
  AddJob(3, 1, {"TERCERO"});

  frmKestrola window;
  window.SetContador([](const std::u16string&) { return int16_t{1}; });
  window.Form_Load();  // writes config.ini with its defaults; the settings are set below
  UseTarget(window.Datos(), target_, 1);
  window.show();

  bool waiting = false;
  CicloCola ciclo([&waiting](std::chrono::milliseconds ms) {
    waiting = true;
    frmKestrola::EsperarProcesandoEventos(ms);
    waiting = false;
  });
  window.SetCiclo([&ciclo](frmKestrola& w) { ciclo.Ejecutar(w.Datos()); });

  // What the window shows right after the click, while the cycle still waits.
  bool clickedWhileWaiting = false;
  QString shownAfterClick;
  size_t printedAtClick = 0;
  QTimer::singleShot(300, &window, [&] {
    clickedWhileWaiting = waiting;
    QTest::mouseClick(window.cmdService, Qt::LeftButton);
    shownAfterClick = window.txtActividad->toPlainText();
    printedAtClick = Printed("Caja").size();
  });
  window.Timer1_Timer();

  EXPECT_TRUE(clickedWhileWaiting);
  EXPECT_TRUE(shownAfterClick.endsWith(QStringLiteral("Servicio Detenido")));
  EXPECT_EQ(printedAtClick, 1u);
  EXPECT_FALSE(window.Datos().Activo);
  EXPECT_FALSE(window.Timer1->isActive());

  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_NE(docs[0].find("PRIMERO"), std::string::npos);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"2", "3"}));
}

TEST_F(WindowCycleTest, TicksDuringACycleDoNotStartAnother) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"UNICO"});

  frmKestrola window;
  int cycles = 0;
  CicloCola ciclo([&window](std::chrono::milliseconds) {
    // A tick arriving while the cycle waits.
    window.Timer1_Timer();
  });
  window.SetCiclo([&](frmKestrola& w) {
    ++cycles;
    ciclo.Ejecutar(w.Datos());
  });
  UseTarget(window.Datos(), target_, 1);
  window.Timer1_Timer();

  EXPECT_EQ(cycles, 1);
  EXPECT_EQ(Printed("Caja").size(), 1u);
}

}  // namespace
}  // namespace kestrola
