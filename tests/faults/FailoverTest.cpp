// One printer of a terminal failing in every way a shop meets (a TCP printer that refuses,
// resets, or holds the connection reading nothing; a missing device; a folder that cannot be
// written) while a second printer works, and printers.ini broken: the healthy printer keeps
// printing, the failing printer's jobs stay whole, it is tried again with back-off, failed
// over after the bounded time, restored once it answers (also after a restart), and the log
// says so in a few lines. The clock of the cycle and the log is the test's own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log/Log.h"
#include "printing/StreamDestination.h"
#include "printing/TcpDestination.h"
#include "tests/faults/FaultEnv.h"

namespace kestrola {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

std::vector<std::string> Receipt(int job, size_t padding = 0) {
  std::vector<std::string> lines = {"<XH>TICKET-" + std::to_string(job) + "-</XH>"};
  for (size_t done = 0; done < padding; done += 3000) lines.push_back(std::string(3000, 'x'));
  lines.push_back("FIN-" + std::to_string(job) + "-FIN");
  return lines;
}

class FailoverTest : public FaultEnv {
 protected:
  void SetUp() override {
    FaultEnv::SetUp();
    now_ = system_clock::now();
    Log::SetClock([this] { return now_; });
    // Short bounds, so that a printer holding the connection fails quickly.
    TcpDestination::SetDefaultTimeouts({300ms, 300ms, 1200ms, 200ms});
  }
  void TearDown() override {
    Log::SetClock({});
    TcpDestination::SetDefaultTimeouts({});
    FaultEnv::TearDown();
  }

  // Caja (1, backup 2) prints on `cajaUri`, Cocina (2, backup 1) into a folder.
  void TwoPrinters(const std::string& cajaUri) {
    fs::create_directories(app_ / "out" / "Cocina");
    WritePrinters({"Caja=" + cajaUri, "Cocina=dir:out/Cocina"});
    AddPrinter(1, "Caja", "A", 1, 2);
    AddPrinter(2, "Cocina", "A", 1, 1);
  }

  std::vector<std::string> Printer(int id) const {
    return Column(
        U16("select estado_impresora from impresora where id_impresora=" + std::to_string(id) +
            " union all select cast(redirigido as varchar(20)) from impresora where "
            "id_impresora=" +
            std::to_string(id)));
  }

  int CountLogged(const std::string& text) const {
    int n = 0;
    for (const auto& l : LogMessages()) n += l.find(text) != std::string::npos;
    return n;
  }

  system_clock::time_point now_;
};

struct FailureCase {
  const char* name;
  // Makes Caja fail; returns its URI.
  std::function<std::string(FailoverTest&, const fs::path& app, TcpPrinter& tcp)> fail;
  // Makes Caja work again.
  std::function<void(const fs::path& app, TcpPrinter& tcp)> heal;
  // Text the log line of the failure holds.
  const char* cause;
  // What Caja printed, once healed.
  std::function<std::vector<std::string>(const fs::path& app, TcpPrinter& tcp)> printed;
  size_t padding = 0;
  // A probe only connects: a printer that accepts connections but drops or holds documents
  // looks healthy to it.
  bool probeSeesFailure = true;
};

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> docs;
  if (!fs::exists(dir)) return docs;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    docs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return docs;
}

const FailureCase kCases[] = {
    {"tcp printer refusing",
     [](FailoverTest&, const fs::path&, TcpPrinter& tcp) { return tcp.Uri(); },
     [](const fs::path&, TcpPrinter& tcp) { tcp.Listen(); }, "Connection refused",
     [](const fs::path&, TcpPrinter& tcp) { return tcp.Documents(); }},
    {"tcp printer resetting after 16 bytes",
     [](FailoverTest&, const fs::path&, TcpPrinter& tcp) {
       tcp.SetMode(TcpPrinter::Mode::Drop, 16);
       tcp.Listen();
       return tcp.Uri();
     },
     [](const fs::path&, TcpPrinter& tcp) { tcp.SetMode(TcpPrinter::Mode::Print); }, "127.0.0.1",
     [](const fs::path&, TcpPrinter& tcp) { return tcp.Documents(); }, 0, false},
    {"tcp printer holding the connection, reading nothing",
     [](FailoverTest&, const fs::path&, TcpPrinter& tcp) {
       tcp.SetMode(TcpPrinter::Mode::Hold);
       tcp.Listen();
       return tcp.Uri();
     },
     [](const fs::path&, TcpPrinter& tcp) { tcp.SetMode(TcpPrinter::Mode::Print); }, "bytes",
     [](const fs::path&, TcpPrinter& tcp) { return tcp.Documents(); }, 300000, false},
    {"missing device",
     [](FailoverTest&, const fs::path& app, TcpPrinter&) {
       return "dev:" + (app / "lp0").string();
     },
     [](const fs::path& app, TcpPrinter&) { std::ofstream(app / "lp0").flush(); },
     "No such file or directory",
     [](const fs::path& app, TcpPrinter&) {
       std::ifstream in(app / "lp0", std::ios::binary);
       std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
       return all.empty() ? std::vector<std::string>{} : std::vector<std::string>{all};
     }},
    {"folder that cannot be written",
     [](FailoverTest&, const fs::path& app, TcpPrinter&) {
       std::ofstream(app / "bloqueo") << "not a folder";
       return std::string("dir:bloqueo/out");
     },
     [](const fs::path& app, TcpPrinter&) {
       fs::remove(app / "bloqueo");
       fs::create_directories(app / "bloqueo" / "out");
     },
     "Not a directory",
     [](const fs::path& app, TcpPrinter&) { return FilesIn(app / "bloqueo" / "out"); }},
};

TEST_F(FailoverTest, FailingPrinterIsIsolatedFailedOverAndRestored) {
  for (const FailureCase& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    TcpPrinter tcp;
    const std::string uri = c.fail(*this, app_, tcp);
    TwoPrinters(uri);
    AddJob(1, 1, Receipt(1, c.padding));
    AddJob(2, 2, Receipt(2));
    AddJob(3, 1, Receipt(3));
    AddJob(4, 2, Receipt(4));
    const size_t linesOfJob1 = LinesOf(1).size();
    // The log shows a folder with its full path.
    const std::string shown =
        uri.rfind("dir:", 0) == 0 ? "dir:" + (app_ / uri.substr(4)).string() : uri;

    // The healthy printer prints at once; the failing one keeps its jobs whole.
    EstadoServicio estado;
    auto caja = [&estado] {
      for (const auto& i : estado.Foto().impresoras) {
        if (i.nombre == u"Caja") return i;
      }
      return EstadoImpresora{};
    };
    auto ciclo = std::make_unique<CicloCola>(QuickCycle());
    ciclo->SetEstado(&estado);
    auto started = std::chrono::steady_clock::now();
    ciclo->Ejecutar(datos_);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(CountContaining(Printed("Cocina"), "FIN-2-FIN"), 1);
    EXPECT_EQ(CountContaining(Printed("Cocina"), "FIN-4-FIN"), 1);
    EXPECT_EQ(Jobs(), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(LinesOf(1).size(), linesOfJob1);
    ASSERT_EQ(CountLogged("Trabajo 1 no impreso en la impresora Caja (" + shown), 1) << LogText();
    EXPECT_TRUE(Logged(c.cause)) << LogText();
    const int tries = tcp.Connections();
    EXPECT_EQ(caja().situacion, EstadoImpresora::Situacion::Fallando);
    EXPECT_EQ(Text::ToUtf8(caja().destino), shown);
    EXPECT_EQ(estado.Foto().trabajosEnEspera, 4);

    // Waiting for its next try, the printer is left alone and nothing more is logged.
    const size_t logged = LogMessages().size();
    now_ += 2s;
    ciclo->Ejecutar(datos_);
    EXPECT_EQ(tcp.Connections(), tries);
    now_ += 3s;
    ciclo->Ejecutar(datos_);  // the second try, 5 s after the first
    if (tries > 0) {
      EXPECT_EQ(tcp.Connections(), tries + 1);
    }
    EXPECT_EQ(Printer(1), (std::vector<std::string>{"A", "1"}));

    // After a minute of failures it is failed over, and the backup prints its jobs.
    now_ += 56s;
    ciclo->Ejecutar(datos_);
    EXPECT_EQ(Printer(1), (std::vector<std::string>{"D", "2"}));
    EXPECT_EQ(CountLogged("Impresora 1 Caja (" + shown + ") marcada D, redirigida a 2"), 1)
        << LogText();
    EXPECT_EQ(caja().situacion, EstadoImpresora::Situacion::Redirigida);
    EXPECT_EQ(caja().redirigidaA, u"2");
    ciclo->Ejecutar(datos_);
    EXPECT_EQ(CountContaining(Printed("Cocina"), "FIN-1-FIN"), 1);
    EXPECT_EQ(CountContaining(Printed("Cocina"), "FIN-3-FIN"), 1);
    EXPECT_TRUE(Jobs().empty());
    EXPECT_TRUE(c.printed(app_, tcp).empty());

    // A restart in between: the list of printers failed over is on disk.
    EXPECT_TRUE(fs::exists(app_ / "impresoras_redirigidas.txt"));
    ciclo = std::make_unique<CicloCola>(QuickCycle());
    ciclo->SetEstado(&estado);
    now_ += 31s;
    ciclo->Ejecutar(datos_);
    if (c.probeSeesFailure) {
      EXPECT_EQ(Printer(1), (std::vector<std::string>{"D", "2"}));
    }

    c.heal(app_, tcp);
    now_ += 31s;
    ciclo->Ejecutar(datos_);
    EXPECT_EQ(Printer(1), (std::vector<std::string>{"A", "1"})) << LogText();
    EXPECT_EQ(CountLogged("Impresora 1 Caja (" + shown + ") responde de nuevo"), 1) << LogText();
    EXPECT_FALSE(fs::exists(app_ / "impresoras_redirigidas.txt"));
    EXPECT_EQ(caja().situacion, EstadoImpresora::Situacion::Lista);

    AddJob(5, 1, Receipt(5));
    ciclo->Ejecutar(datos_);
    EXPECT_EQ(CountContaining(c.printed(app_, tcp), "FIN-5-FIN"), 1);
    EXPECT_TRUE(Jobs().empty());
    EXPECT_EQ(estado.Foto().ultimoTrabajo, 5);

    // Three lines tell the whole story: failing, failed over, back.
    EXPECT_LE(LogMessages().size(), logged + 2) << LogText();
    EXPECT_FALSE(Logged("Error desconocido")) << LogText();
  }
}

// A printer marked down by an administrator is never brought back, and neither is one this
// copy failed over whose row someone else changed meanwhile.
TEST_F(FailoverTest, DownMarksOfOthersStay) {
  TcpPrinter tcp;
  TwoPrinters(tcp.Uri());
  AddPrinter(3, "Barra", "D", 1, 2);  // taken out of service by an administrator
  AddJob(1, 1, Receipt(1));
  CicloCola ciclo = QuickCycle();
  ciclo.Ejecutar(datos_);
  now_ += 61s;
  ciclo.Ejecutar(datos_);
  ASSERT_EQ(Printer(1), (std::vector<std::string>{"D", "2"}));

  // The administrator sends Caja's jobs to Barra's queue by hand while it is down.
  Run({u"update impresora set redirigido=3 where id_impresora=1"});
  tcp.Listen();
  for (int i = 0; i < 4; ++i) {
    now_ += 31s;
    ciclo.Ejecutar(datos_);
  }
  EXPECT_EQ(Printer(1), (std::vector<std::string>{"D", "3"}));
  EXPECT_EQ(Printer(3), (std::vector<std::string>{"D", "3"}));
  EXPECT_TRUE(Logged("otro la cambió")) << LogText();
  EXPECT_FALSE(fs::exists(app_ / "impresoras_redirigidas.txt"));
}

// printers.ini that is garbled, missing, or begins with a byte-order mark: a configuration
// fault marks no printer down; the printers it still names print.
TEST_F(FailoverTest, FaultyPrintersIniMarksNoPrinterDown) {
  struct IniCase {
    const char* name;
    const char* text;  // nullptr: no file
    bool cajaPrints, cocinaPrints;
    const char* logged;
  };
  const IniCase cases[] = {
      {"garbled", "[Printers]\nCaja dir:out/Caja\nCocina=dir:out/Cocina\n\x01\x02\xff\xfe\n", false,
       true, "printers.ini línea 2"},
      {"missing", nullptr, false, false, "printers.ini: no existe"},
      {"byte-order mark",
       "\xEF\xBB\xBF[Printers]\r\nCaja=dir:out/Caja\r\nCocina=dir:out/Cocina\r\n", true, true,
       nullptr},
  };
  for (const IniCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    fs::create_directories(app_ / "out" / "Caja");
    fs::create_directories(app_ / "out" / "Cocina");
    if (c.text) std::ofstream(app_ / "printers.ini", std::ios::binary) << c.text;
    AddPrinter(1, "Caja", "A", 1, 2);
    AddPrinter(2, "Cocina", "A", 1, 1);
    AddJob(1, 1, Receipt(1));
    AddJob(2, 2, Receipt(2));

    CicloCola ciclo = QuickCycle();
    for (int i = 0; i < 3; ++i) {
      ciclo.Ejecutar(datos_);
      now_ += 1s;
    }
    EXPECT_EQ(CountContaining(Printed("Caja"), "FIN-1-FIN"), c.cajaPrints ? 1 : 0);
    EXPECT_EQ(CountContaining(Printed("Cocina"), "FIN-2-FIN"), c.cocinaPrints ? 1 : 0);
    EXPECT_EQ(Column(u"select id_impresora from impresora where estado_impresora='D'").size(), 0u);
    if (c.logged) {
      EXPECT_EQ(CountLogged(c.logged), 1) << LogText();
      // Mended, it prints what waited.
      InstallPrinters({"Caja", "Cocina"});
      ciclo.Ejecutar(datos_);
      EXPECT_TRUE(Jobs().empty()) << LogText();
      EXPECT_TRUE(Logged("Configuración de impresoras correcta de nuevo")) << LogText();
    } else {
      EXPECT_TRUE(LogMessages().empty()) << LogText();
    }
    EXPECT_LE(LogMessages().size(), 4u) << LogText();
  }
}

// What counts as delivered over TCP: every byte acknowledged by the printer.
TEST_F(FailoverTest, TcpDeliveryMeansEveryByteAcknowledged) {
  PrintDocument doc{u"Caja", std::string(60000, 'r') + "FIN", {}};
  {
    TcpPrinter slow;
    slow.SetMode(TcpPrinter::Mode::Slow);
    slow.Listen();
    TcpDestination("127.0.0.1", slow.Port(), TcpDestination::Timeouts{}).Send(doc);
    // The printer has every byte once Send returns... give its thread a moment to file it.
    for (int i = 0; i < 200 && slow.Documents().empty(); ++i) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(slow.Documents().size(), 1u);
    EXPECT_EQ(slow.Documents()[0], doc.bytes);
  }
  {
    TcpPrinter held;
    held.SetMode(TcpPrinter::Mode::Hold);
    held.Listen();
    auto started = std::chrono::steady_clock::now();
    try {
      TcpDestination("127.0.0.1", held.Port()).Send(doc);
      FAIL() << "a printer that reads nothing took the document";
    } catch (const Error& e) {
      EXPECT_NE(Text::ToUtf8(e.Description()).find("bytes"), std::string::npos)
          << Text::ToUtf8(e.Description());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  }
  {
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(TcpDestination("printer.invalid", 9100).Send(doc), Error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  }
}

// A device that takes nothing cannot hold the cycle: one nobody reads fails at once, one whose
// reader stops fails within the time-out.
TEST_F(FailoverTest, StalledDeviceFailsWithinItsTimeOut) {
  const fs::path fifo = app_ / "lp0";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  PrintDocument doc{u"Caja", std::string(300000, 'r'), {}};
  StreamDestination device(fifo.string(), StreamDestination::Mode::Device, 300ms);
  EXPECT_THROW(device.Send(doc), Error);  // no reader
  EXPECT_THROW(device.Probe(u"Caja"), Error);

  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // opens it, never reads
  ASSERT_GE(reader, 0);
  EXPECT_NO_THROW(device.Probe(u"Caja"));
  auto started = std::chrono::steady_clock::now();
  try {
    device.Send(doc);
    FAIL() << "a device that reads nothing took the document";
  } catch (const Error& e) {
    EXPECT_NE(Text::ToUtf8(e.Description()).find("took no data"), std::string::npos)
        << Text::ToUtf8(e.Description());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  ::close(reader);
}

}  // namespace
}  // namespace kestrola
