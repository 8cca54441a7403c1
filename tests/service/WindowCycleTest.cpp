// The window running the queue cycle on a real (SQLite) database: a stop click ends the cycle
// before its next job, and what the cycle logs reaches the activity box.

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>

#include "runtime/Application.h"
#include "runtime/RecordingUserInterface.h"
#include "service/CicloCola.h"
#include "service/frmKestrola.h"
#include "tests/service/WindowTestSupport.h"
#include "tests/support/CycleTestEnv.h"

namespace kestrola {
namespace {

using testing::Eventually;

class WindowCycleTest : public CycleTestEnv {
 protected:
  static void SetUpTestSuite() {
    CycleTestEnv::SetUpTestSuite();
    testing::StartOffscreenApplication("service_window_cycle_tests");
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

TEST_F(WindowCycleTest, StopClickDuringThePauseLeavesTheLaterJobsQueued) {
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
  window.Timer1_Timer();

  // The first job is printed; the worker now pauses a second before the next one.
  ASSERT_TRUE(Eventually([&] { return Printed("Caja").size() == 1; }));
  QTest::mouseClick(window.cmdService, Qt::LeftButton);
  EXPECT_FALSE(window.Datos().Activo);
  EXPECT_FALSE(window.Timer1->isActive());
  // The pause ends at once: the cycle is over well before the pause would have been.
  EXPECT_TRUE(window.Trabajador().EsperarInactivo(std::chrono::milliseconds(500)));
  EXPECT_TRUE(
      Eventually([&] { return window.txtActividad->toPlainText().endsWith("Servicio Detenido"); }));

  std::vector<std::string> docs = Printed("Caja");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_NE(docs[0].find("PRIMERO"), std::string::npos);
  EXPECT_EQ(Jobs(), (std::vector<std::string>{"2", "3"}));
}

TEST_F(WindowCycleTest, TheBoxShowsWhatTheCycleLogsWithinTwoSeconds) {
  InstallPrinters({"Caja"});
  AddPrinter(1, "Caja");
  AddJob(1, 1, {"NULL"});

  frmKestrola window;
  window.SetContador([](const std::u16string&) { return int16_t{1}; });
  window.Form_Load();
  UseTarget(window.Datos(), target_, 1);
  window.show();
  auto start = std::chrono::steady_clock::now();
  window.Timer1_Timer();
  EXPECT_TRUE(Eventually(
      [&] {
        return window.txtActividad->toPlainText().contains(
            QStringLiteral("Trabajo 1 no impreso: el renglón 1 es NULL"));
      },
      std::chrono::milliseconds(2000)))
      << (std::chrono::steady_clock::now() - start).count();
}

}  // namespace
}  // namespace kestrola
