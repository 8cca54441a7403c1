// window-shot [OUT.png]: draws the service window as a shop sees it during a sample morning
// (activity box, status line with a printer failed over) on Qt's offscreen platform and saves
// it as a PNG (default docs/kestrola-window.png). Nothing connects to a database or printer.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "service/frmKestrola.h"

namespace fs = std::filesystem;
using Reloj = std::chrono::system_clock;

namespace {

// Today at hh:mm:ss, local time.
Reloj::time_point Hoy(int h, int m, int s) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  tm.tm_hour = h;
  tm.tm_min = m;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return Reloj::from_time_t(std::mktime(&tm));
}

void Wait(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A sample morning in today's log.
void WriteSampleLog() {
  using namespace kestrola;
  struct Linea {
    int h, m, s;
    const char16_t* texto;
  } lineas[] = {
      {8, 0, 2, u"Servicio Activo"},
      {9, 12, 40, u"Trabajo 1017 no impreso: el renglón 3 es NULL"},
      {10, 30, 58, u"Servicio Detenido"},
      {10, 31, 0, u"Servicio Activo"},
  };
  Reloj::time_point momento;
  Log::SetClock([&momento] { return momento; });
  for (const Linea& l : lineas) {
    momento = Hoy(l.h, l.m, l.s);
    Log::EscribirLog(l.texto);
  }
  Log::SetClock(nullptr);
}

// The status line of the sample: connected, one printer ready and one failed over to it.
void FillSampleStatus(kestrola::FotoEstado& f) {
  using namespace kestrola;
  f.conectado = true;
  EstadoImpresora caja;
  caja.id = 1;
  caja.nombre = u"Caja";
  EstadoImpresora barra;
  barra.id = 3;
  barra.nombre = u"Barra";
  barra.situacion = EstadoImpresora::Situacion::Redirigida;
  barra.desde = Hoy(10, 31, 4);
  barra.causa = u"sin respuesta";
  barra.redirigidaA = u"Caja";
  f.impresoras = {caja, barra};
  f.trabajosEnEspera = 2;
  f.ultimoTrabajo = 1042;
  f.ultimoTrabajoHora = Hoy(10, 33, 1);
}

// Shows the window over the sample and saves its picture as `out`. Returns the exit status.
int Shoot(const std::string& out) {
  using namespace kestrola;
  frmKestrola w;
  w.SetContador([](const std::u16string&) { return int16_t{1}; });
  w.Form_Load();
  w.Datos().Activo = true;  // shown as running; the timer stays off, so nothing is polled
  w.Estado()->Actualizar(FillSampleStatus);
  w.show();
  Wait(800);  // the log follower fills the box, the status line refreshes
  QPixmap shot = w.grab();
  int rc = 0;
  if (!shot.save(QString::fromStdString(out), "PNG")) {
    std::fprintf(stderr, "window-shot: cannot write %s\n", out.c_str());
    rc = 1;
  } else {
    std::printf("%s\n", out.c_str());
  }
  w.DetenerServicio();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string out =
      argc > 1 ? argv[1] : std::string(KESTROLA_SOURCE_DIR) + "/docs/kestrola-window.png";

  using namespace kestrola;
  RecordingUserInterface ui;
  Application::SetUi(&ui);
  fs::path dir = fs::temp_directory_path() / ("kestrola-shot-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  Application::SetPath(Text::FromUtf8(dir.string()));
  std::ofstream(dir / "config.ini") << "[Kestrola]\nServicioActivo=0\nTerminal=1\n";

  WriteSampleLog();
  int rc = Shoot(out);
  Application::SetUi(nullptr);
  fs::remove_all(dir);
  return rc;
}
