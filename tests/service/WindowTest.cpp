#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "service/frmKestrola.h"
#include "tests/service/WindowTestSupport.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;

using testing::ReadFile;

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

QImage Rgb(const QImage& image) {
  return image.convertToFormat(QImage::Format_RGB32);
}

// The window's own changes are waited for 3 s unless a test says otherwise.
bool Eventually(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  return testing::Eventually(done, limit);
}

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::StartOffscreenApplication("service_window_tests"); }

  void SetUp() override {
    for (const char* image : {"start.jpg", "start_down.jpg", "stop.jpg", "stop_down.jpg"}) {
      fs::copy_file(fs::path(KESTROLA_SOURCE_DIR) / "assets" / image, dir_ / image);
    }
    Application::SetPath(Text::FromUtf8(dir_.string()));
    Application::SetUi(&ui_);
    window_ = std::make_unique<frmKestrola>();
    window_->SetContador([](const std::u16string&) { return int16_t{1}; });
  }
  void TearDown() override {
    window_.reset();
    Application::SetUi(nullptr);
  }

  fs::path Config() const { return dir_ / "config.ini"; }
  std::string Log() const {
    return ReadFile(Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now())));
  }
  QImage Asset(const char* name) const {
    return Rgb(QImage(QString::fromStdString((dir_ / name).string())));
  }
  void Click() { QTest::mouseClick(window_->cmdService, Qt::LeftButton); }
  // The button's pictures are read off the window's thread: they change soon after a click.
  bool ShowsPictures(const char* up, const char* down) const {
    return Eventually([&] {
      return Rgb(window_->cmdService->Picture().toImage()) == Asset(up) &&
             Rgb(window_->cmdService->DownPicture().toImage()) == Asset(down);
    });
  }
  QString LastLine() const { return window_->txtActividad->toPlainText().split('\n').last(); }
  QString Status() const { return window_->lblEstado->text(); }
  bool LogEndsWith(const std::string& end) const {
    return Eventually([&] { return Log().ends_with(end); });
  }

  testing::TempDir dir_{"window"};
  RecordingUserInterface ui_;
  std::unique_ptr<frmKestrola> window_;
};

TEST_F(WindowTest, LayoutAndDesignTimeState) {
  frmKestrola& w = *window_;
  EXPECT_EQ(w.windowTitle(), "Vantor - Selvique");
  EXPECT_FALSE(w.windowIcon().isNull());
  EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("cliente"))->size(), QSize(464, 272));
  EXPECT_EQ(w.cmdService->text(), "");
  EXPECT_TRUE(w.txtActividad->isReadOnly());
  EXPECT_EQ(w.txtActividad->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(w.Timer1->interval(), 1000);
  EXPECT_FALSE(w.Timer1->isActive());
  EXPECT_EQ(Rgb(w.cmdService->Picture().toImage()), Asset("stop.jpg"));
  EXPECT_EQ(Rgb(w.cmdService->DownPicture().toImage()), Asset("stop_down.jpg"));
}

TEST_F(WindowTest, FirstStartCreatesTheConfigAndRuns) {
  window_->Form_Load();
  EXPECT_FALSE(window_->Terminar());
  EXPECT_TRUE(window_->Datos().Activo);
  EXPECT_TRUE(window_->Timer1->isActive());
  EXPECT_NE(ReadFile(Config()).find("Terminal=1"), std::string::npos);
  EXPECT_EQ(Log(), "\r\n");  // LeerLog created today's file with its empty line
  EXPECT_EQ(window_->txtActividad->toPlainText(), "");
  // Until the first click the button keeps the stop pictures, running or not.
  EXPECT_EQ(Rgb(window_->cmdService->Picture().toImage()), Asset("stop.jpg"));
}

TEST_F(WindowTest, EachClickLogsOneLineTogglesTheTimerAndSwapsPictures) {
  window_->Form_Load();
  std::string config = ReadFile(Config());
  size_t lines = CountLines(Log());

  Click();
  EXPECT_TRUE(LogEndsWith("Servicio Detenido\r\n"));
  EXPECT_EQ(CountLines(Log()), lines + 1);
  EXPECT_FALSE(window_->Datos().Activo);
  EXPECT_FALSE(window_->Timer1->isActive());
  EXPECT_TRUE(ShowsPictures("start.jpg", "start_down.jpg"));
  EXPECT_TRUE(Eventually([&] { return LastLine().endsWith("Servicio Detenido"); }));
  EXPECT_TRUE(Status().startsWith(QStringLiteral("Servicio detenido")));

  Click();
  EXPECT_TRUE(LogEndsWith("Servicio Activo\r\n"));
  EXPECT_EQ(CountLines(Log()), lines + 2);
  EXPECT_TRUE(window_->Datos().Activo);
  EXPECT_TRUE(window_->Timer1->isActive());
  EXPECT_TRUE(ShowsPictures("stop.jpg", "stop_down.jpg"));
  EXPECT_TRUE(Eventually([&] { return LastLine().endsWith("Servicio Activo"); }));
  EXPECT_TRUE(Status().startsWith(QStringLiteral("Servicio activo")));

  EXPECT_EQ(ReadFile(Config()), config);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(WindowTest, ActivityBoxScrollsToTheNewestLine) {
  window_->Form_Load();
  for (int i = 0; i < 60; ++i) Log::EscribirLog(u"relleno");
  Click();
  ASSERT_TRUE(Eventually([&] { return LastLine().endsWith("Servicio Detenido"); }));
  QScrollBar* bar = window_->txtActividad->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(WindowTest, StoppedStartAndClickToStart) {
  std::ofstream(Config()) << "[Kestrola]\nServicioActivo=abc\n";
  window_->Form_Load();
  EXPECT_FALSE(window_->Datos().Activo);
  EXPECT_FALSE(window_->Timer1->isActive());
  EXPECT_NE(ReadFile(Config()).find("ServicioActivo=0\n"), std::string::npos);
  Click();
  EXPECT_TRUE(window_->Timer1->isActive());
  EXPECT_TRUE(LogEndsWith("Servicio Activo\r\n"));
}

TEST_F(WindowTest, BadTerminalIsLoggedNamedAndLeavesTheServiceStopped) {
  struct Case {
    const char* value;
    const char* why;
  } cases[] = {
      {"dos", "el número de terminal debe ser un número entero"},
      {"40000", "el número de terminal debe estar entre -32768 y 32767"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    fs::remove(Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now())));
    std::string config = std::string("[Kestrola]\nServicioActivo=1\nTerminal=") + c.value + "\n";
    std::ofstream(Config()) << config;
    window_ = std::make_unique<frmKestrola>();
    window_->SetContador([](const std::u16string&) { return int16_t{1}; });
    window_->Form_Load();

    const std::string detail =
        std::string("Terminal=") + c.value + " en config.ini no se puede usar: " + c.why;
    EXPECT_NE(Log().find("Error desconocido en Form Load\r\n"), std::string::npos);
    EXPECT_TRUE(Log().ends_with(detail + "\r\n")) << Log();
    EXPECT_EQ(CountLines(Log()), 3u);
    EXPECT_EQ(ReadFile(Config()), config);
    EXPECT_FALSE(window_->Datos().Activo);
    EXPECT_FALSE(window_->Timer1->isActive());
    EXPECT_TRUE(window_->Datos().ConsultaCola.empty());
    EXPECT_FALSE(window_->Terminar());
    EXPECT_TRUE(Status().contains(QString::fromStdString(detail))) << Status().toStdString();
    EXPECT_TRUE(Status().contains(QStringLiteral("Servicio detenido")));
  }
}

TEST_F(WindowTest, AnotherCopyEndsTheStartSilently) {
  window_->SetContador([](const std::u16string&) { return int16_t{2}; });
  window_->Form_Load();
  EXPECT_TRUE(window_->Terminar());
  EXPECT_FALSE(window_->Timer1->isActive());
  EXPECT_TRUE(window_->txtActividad->toPlainText().isEmpty());
  EXPECT_FALSE(fs::exists(Config()));
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
  }
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(WindowTest, FailingInstanceCountIsAFormLoadError) {
  window_->SetContador([](const std::u16string&) -> int16_t { throw std::runtime_error("wmi"); });
  window_->Form_Load();
  EXPECT_FALSE(window_->Terminar());
  EXPECT_TRUE(Log().ends_with("Error desconocido en Form Load\r\n"));
  EXPECT_FALSE(fs::exists(Config()));
  EXPECT_TRUE(window_->txtActividad->toPlainText().isEmpty());
}

TEST_F(WindowTest, CyclesRunOffTheWindowThreadOneAtATimeAndTrapTheirErrors) {
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  std::atomic<bool> onWindowThread{false};
  window_->SetCiclo([&](Servicio&) {
    onWindowThread = QThread::currentThread() == qApp->thread();
    ++runs;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  window_->Timer1_Timer();
  ASSERT_TRUE(Eventually([&] { return window_->Trabajador().EnCiclo(); }));
  // Ticks while a cycle runs: the window goes on, and they make one more cycle, not three.
  for (int i = 0; i < 3; ++i) window_->Timer1_Timer();
  QTest::qWait(50);
  EXPECT_EQ(runs, 1);
  release = true;
  ASSERT_TRUE(window_->Trabajador().EsperarInactivo(std::chrono::seconds(5)));
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(onWindowThread);

  window_->SetCiclo([](Servicio&) { throw std::runtime_error("cycle failed"); });
  window_->Timer1_Timer();
  ASSERT_TRUE(window_->Trabajador().EsperarInactivo(std::chrono::seconds(5)));
  EXPECT_TRUE(LogEndsWith("Error desconocido en Timer\r\n"));
  window_->SetCiclo([&](Servicio&) { ++runs; });
  window_->Timer1_Timer();  // the next tick starts afresh
  ASSERT_TRUE(window_->Trabajador().EsperarInactivo(std::chrono::seconds(5)));
  EXPECT_EQ(runs, 3);
}

TEST_F(WindowTest, TimerTicksOnItsOwnWhileRunning) {
  std::atomic<int> runs{0};
  window_->SetCiclo([&](Servicio&) { ++runs; });
  window_->Form_Load();
  ASSERT_TRUE(window_->Timer1->isActive());
  window_->Timer1->setInterval(10);
  EXPECT_TRUE(Eventually([&] { return runs > 0; }));
}

TEST_F(WindowTest, MissingPictureIsReportedAfterTheSwitch) {
  window_->Form_Load();
  fs::remove(dir_ / "start.jpg");
  QImage before = Rgb(window_->cmdService->Picture().toImage());
  Click();
  EXPECT_FALSE(window_->Timer1->isActive());
  EXPECT_TRUE(LogEndsWith("Servicio Detenido\r\n"));
  ASSERT_TRUE(Eventually([&] { return ui_.boxes.size() == 1; }));
  EXPECT_EQ(Rgb(window_->cmdService->Picture().toImage()), before);
  EXPECT_EQ(Rgb(window_->cmdService->DownPicture().toImage()), Asset("start_down.jpg"));
  EXPECT_NE(ui_.boxes[0].text.find(u"start.jpg"), std::u16string::npos);
  EXPECT_EQ(ui_.boxes[0].icon, MessageIcon::Critical);
}

TEST_F(WindowTest, UnwritableLogLeavesTheButtonWorkingAndIsShownOnce) {
  window_->Form_Load();
  const fs::path today = Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now()));
  fs::remove(today);
  fs::create_directory(today);  // the day's file cannot be opened, even by root

  Click();
  EXPECT_FALSE(window_->Datos().Activo);
  EXPECT_FALSE(window_->Timer1->isActive());
  EXPECT_TRUE(ShowsPictures("start.jpg", "start_down.jpg"));
  EXPECT_TRUE(Eventually([&] { return Status().contains(QStringLiteral("bitácora")); }));
  Click();
  EXPECT_TRUE(window_->Datos().Activo);
  EXPECT_TRUE(window_->Timer1->isActive());
  EXPECT_TRUE(ShowsPictures("stop.jpg", "stop_down.jpg"));
  QTest::qWait(300);
  ASSERT_EQ(ui_.boxes.size(), 1u);  // one message, not one per click or retry
  EXPECT_NE(ui_.boxes[0].text.find(u"bitácora"), std::u16string::npos);

  // The log works again: both lines are written, in order, and the status line clears.
  fs::remove(today);
  EXPECT_TRUE(Eventually(
      [&] {
        std::string log = Log();
        size_t stop = log.find("Servicio Detenido\r\n");
        return stop != std::string::npos &&
               log.find("Servicio Activo\r\n", stop) != std::string::npos &&
               !Status().contains(QStringLiteral("bitácora"));
      },
      std::chrono::milliseconds(8000)));
  EXPECT_EQ(ui_.boxes.size(), 1u);
}

// The box keeps the last lines of a day's log, however big, and memory does not follow the
// file's size.
TEST_F(WindowTest, AHundredMegabyteLogKeepsTheBoxAndMemoryBounded) {
  auto rssKb = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0L;
  };
  const fs::path today = Text::ToUtf8(Log::NombreArchivo(std::chrono::system_clock::now()));
  {
    std::ofstream out(today, std::ios::binary);
    std::string line =
        "2026-12-08 10:00:00Trabajo 123456 no impreso: el renglón 7 no se puede "
        "imprimir: texto de relleno\r\n";
    std::string block;
    for (int i = 0; i < 1000; ++i) block += line;
    for (size_t written = 0; written < (size_t{100} << 20); written += block.size()) out << block;
  }
  std::ofstream(Config()) << "[Kestrola]\nServicioActivo=0\n";  // no cycle writes meanwhile
  const long before = rssKb();
  window_->Form_Load();
  ASSERT_TRUE(Eventually(
      [&] { return window_->txtActividad->blockCount() == frmKestrola::kLineasActividad; },
      std::chrono::milliseconds(10000)));
  Log::EscribirLog(u"después");
  ASSERT_TRUE(Eventually([&] { return LastLine().endsWith(QStringLiteral("después")); }));
  EXPECT_EQ(window_->txtActividad->blockCount(), frmKestrola::kLineasActividad);
  const long grewKb = rssKb() - before;
  std::printf("memory grew by %ld KB\n", grewKb);
  EXPECT_LT(grewKb, 64 * 1024);
}

}  // namespace
}  // namespace kestrola
