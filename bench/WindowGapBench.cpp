// The longest wait of the window's event loop while the queue worker is stuck, measured with
// a 10 ms probe timer on Qt's offscreen platform over 2 s of the fault and a stop click.
// KESTROLA_GAP_FAULT selects the fault, one executable each (the ODBC driver manager keeps
// the first driver mapping it reads):
//   printer: a receipt printer that takes no data (a device file nobody reads), on SQLite;
//   login:   a database server that accepts the connection and never answers (PostgreSQL
//            driver against a silent listener).
// Counters: worst_gap_ms (the window), sleeper_gap_ms (a thread that only sleeps 10 ms at a
// time: the machine's own scheduling delay), stop_ms (click to "Servicio detenido").
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "db/Connection.h"
#include "runtime/Application.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "service/frmKestrola.h"
#include "tests/support/DbTestEnv.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Medida {
  qint64 peor = 0;
  qint64 control = 0;
  qint64 parada = 0;
};

// Runs the event loop for `duracion` while measuring; `accion` runs once at `momento`.
Medida Medir(frmKestrola& w, std::chrono::milliseconds duracion) {
  Medida m;
  std::atomic<bool> parar{false};
  std::atomic<qint64> control{0};
  std::thread dormilon([&] {
    auto antes = std::chrono::steady_clock::now();
    while (!parar) {
      std::this_thread::sleep_for(10ms);
      auto ahora = std::chrono::steady_clock::now();
      control = std::max<qint64>(
          control, std::chrono::duration_cast<std::chrono::milliseconds>(ahora - antes).count());
      antes = ahora;
    }
  });
  QTimer sonda;
  QElapsedTimer reloj;
  sonda.setInterval(10);
  QObject::connect(&sonda, &QTimer::timeout, [&] {
    if (reloj.isValid()) {
      m.peor = std::max(m.peor, reloj.restart());
    } else {
      reloj.start();
    }
  });
  sonda.start();
  w.Timer1_Timer();
  QTest::qWait(static_cast<int>(duracion.count()));
  QElapsedTimer parada;
  parada.start();
  QTest::mouseClick(w.cmdService, Qt::LeftButton);
  while (!w.lblEstado->text().startsWith(QStringLiteral("Servicio detenido")) &&
         parada.elapsed() < 5000) {
    QTest::qWait(5);
  }
  m.parada = parada.elapsed();
  QTest::qWait(300);
  parar = true;
  dormilon.join();
  m.control = control;
  return m;
}

fs::path AppDir(const char* name) {
  fs::path dir = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* image : {"start.jpg", "start_down.jpg", "stop.jpg", "stop_down.jpg"}) {
    fs::copy_file(fs::path(KESTROLA_SOURCE_DIR) / "assets" / image, dir / image);
  }
  Application::SetPath(Text::FromUtf8(dir.string()));
  return dir;
}

void WriteConfig(const fs::path& dir, const DbTestEnv::Target& t) {
  std::ofstream(dir / "config.ini")
      << "[Kestrola]\nServicioActivo=1\nServerDB=" << Text::ToUtf8(t.server)
      << "\nNameDB=" << Text::ToUtf8(t.database) << "\nUserDB=" << Text::ToUtf8(t.user)
      << "\nPwdDB=" << Text::ToUtf8(t.password) << "\nTerminal=1\n";
}

void Report(benchmark::State& state, const Medida& m) {
  state.counters["worst_gap_ms"] = static_cast<double>(m.peor);
  state.counters["sleeper_gap_ms"] = static_cast<double>(m.control);
  state.counters["stop_ms"] = static_cast<double>(m.parada);
}

// Loads and shows the window, whose queue cycle starts at once, and measures the gaps of its
// event loop over 2 s.
Medida ShowAndMeasure(benchmark::State& state, frmKestrola& w) {
  w.SetContador([](const std::u16string&) { return int16_t{1}; });
  w.Form_Load();
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) state.SkipWithError("window not shown");
  QTest::qWait(300);
  return Medir(w, 2000ms);
}

#if KESTROLA_GAP_FAULT_PRINTER
void BM_WindowGap_PrinterTakesNoData(benchmark::State& state) {
  DbTestEnv::UseSqlite();
  fs::path dir = AppDir("kestrola-gap-printer");
  const fs::path device = dir / "lp0";
  ::mkfifo(device.c_str(), 0600);
  std::ofstream(dir / "printers.ini") << "[Printers]\nCaja=dev:" << device.string() << "\n";
  DbTestEnv::Target t = DbTestEnv::NewSqliteDatabase("gap");
  {
    Connection c;
    c.Open(u"server=" + t.server + u";driver={SQL Server};database=" + t.database, t.user,
           t.password);
    for (const auto& s : QueueSchema::Statements()) c.Execute(s);
    c.Execute(u"insert into impresora values (1,'Caja','USB1','raw',1,'Caja','A',1,1)");
    c.Execute(u"insert into colaimpresion values (1,1,0,'2026-12-08 10:00:00','caja','T')");
    // A receipt larger than the pipe holds, so that its delivery waits on the reader.
    c.Execute(u"insert into detallecolaimpresion values (1,1,'TICKET')");
    for (int i = 2; i <= 2000; ++i) {
      c.Execute(u"insert into detallecolaimpresion values (1," + Text::FromUtf8(std::to_string(i)) +
                u",'" + std::u16string(60, u'x') + u"')");
    }
    c.Close();
  }
  WriteConfig(dir, t);
  for (auto _ : state) {
    // The device is open (the printer is on) but takes no data until the measurement ends.
    const int lectura = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    frmKestrola w;
    Medida m = ShowAndMeasure(state, w);
    // The device starts reading: the worker delivers the job and ends.
    std::thread lector([&] {
      char buffer[4096];
      while (lectura >= 0) {
        pollfd p{lectura, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) break;
        ssize_t n = ::read(lectura, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN)) break;  // the writer closed
      }
      if (lectura >= 0) ::close(lectura);
    });
    w.DetenerServicio();
    lector.join();
    state.SetIterationTime(2.0);
    Report(state, m);
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_WindowGap_PrinterTakesNoData)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#else
void BM_WindowGap_DatabaseNeverAnswers(benchmark::State& state) {
  DbTestEnv::UsePostgres();
  fs::path dir = AppDir("kestrola-gap-login");
  // A server that takes the connection into its backlog and never says a word.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(fd, 16);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  DbTestEnv::Target t{DbTestEnv::PostgresServer(ntohs(addr.sin_port)), u"kestrola", u"kestrola",
                      u"kestrola"};
  WriteConfig(dir, t);
  for (auto _ : state) {
    frmKestrola w;
    Medida m = ShowAndMeasure(state, w);
    // The listener goes away: the waiting login fails and the worker ends.
    ::close(fd);
    fd = -1;
    w.DetenerServicio();
    state.SetIterationTime(2.0);
    Report(state, m);
  }
  if (fd >= 0) ::close(fd);
  fs::remove_all(dir);
}
BENCHMARK(BM_WindowGap_DatabaseNeverAnswers)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace kestrola

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  kestrola::RecordingUserInterface ui;
  kestrola::Application::SetUi(&ui);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kestrola::Application::SetUi(nullptr);
  return 0;
}
