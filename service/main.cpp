// The print-queue service: one window that polls the queue of its terminal once a second.
// Options choose the application data directory and the echo of the activity log; without a
// display the window lives on Qt's offscreen platform, so that the service also runs headless.
#include <QApplication>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "log/Log.h"
#include "printing/ReceiptPreview.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "runtime/UserInterface.h"
#include "service/Arranque.h"
#include "service/Instancias.h"
#include "service/QtUserInterface.h"
#include "service/frmKestrola.h"

namespace {

// Tells the person at the terminal (a message box, or standard error without a display) and
// leaves the same line in the log when the log can be written.
void Avisar(const std::u16string& mensaje) {
  kestrola::Application::Ui().MessageBox(mensaje, kestrola::MessageIcon::Critical,
                                         kestrola::Application::EXEName());
  try {
    kestrola::Log::EscribirLog(mensaje);
  } catch (const std::exception&) {
    // The log is what failed (error 75) or memory ran out: the message box has said it.
  }
}

// The options that end the program at once: a bad option (status 2), help and version
// (status 0). Nothing when the service is to start.
std::optional<int> RespuestaInmediata(const kestrola::Arranque::Opciones& opciones) {
  using namespace kestrola;
  if (!opciones.error.empty()) {
    std::cerr << "kestrola: " << opciones.error << "\n" << Arranque::Uso();
    return 2;
  }
  if (opciones.ayuda) {
    std::cout << Arranque::Uso();
    return 0;
  }
  if (opciones.version) {
    std::cout << "kestrola " << KESTROLA_VERSION << "\n";
    return 0;
  }
  return std::nullopt;
}

// What must be settled before Qt starts: the platform (offscreen without a display), the
// log's echo and the application data directory.
void PrepararEntorno(const kestrola::Arranque::Opciones& opciones) {
  using namespace kestrola;
  const bool sinPantalla = Arranque::SinPantalla();
  if (sinPantalla) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::cerr << "kestrola: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset);"
                 " running on the offscreen platform\n";
  }
  Log::SetEcho(opciones.logStdout || sinPantalla);
  if (std::string dir = Arranque::DirectorioDatos(opciones); !dir.empty()) {
    Application::SetDataPath(Text::FromUtf8(dir));
  }
}

// Loads the window and runs it until it is closed; the program's exit status.
int EjecutarVentana(QApplication& app, kestrola::QtUserInterface& ui,
                    const kestrola::BloqueoInstancia& bloqueo) {
  using namespace kestrola;
  // Receipts sent to folder printers get a picture beside them.
  ReceiptPreview::Install();

  frmKestrola window;
  ui.SetParent(&window);
  if (bloqueo.estado() == BloqueoInstancia::Estado::Tomado) {
    window.SetContador([](const std::u16string&) -> int16_t { return 1; });
  }
  window.Form_Load();
  if (window.Terminar()) return 0;
  window.show();
  int rc = app.exec();
  // A job being delivered gets a bounded time to finish; a worker still blocked after it
  // (a printer or database that does not answer) is left with its job whole in the queue.
  if (!window.DetenerServicio()) std::_Exit(rc);
  Application::SetUi(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrola;
  Arranque::Opciones opciones = Arranque::LeerOpciones(argc, argv);
  if (std::optional<int> estado = RespuestaInmediata(opciones)) return *estado;
  PrepararEntorno(opciones);

  // Qt sees no arguments of ours; its own settings come from the environment.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QtUserInterface ui;
  Application::SetUi(&ui);

  // One copy per application data directory (its lock lives there; the first start creates the
  // directory).
  // A lock that cannot be used at all (a folder without write access) falls back to counting
  // the copies of this very program file.
  Log::CrearDirectorio(Application::DataPath());
  BloqueoInstancia bloqueo(Application::DataPath());
  if (bloqueo.estado() == BloqueoInstancia::Estado::Ocupado) return 0;
  if (bloqueo.estado() == BloqueoInstancia::Estado::Fallo)
    std::cerr << "kestrola: " << Text::ToUtf8(bloqueo.Mensaje()) << "\n";

  if (std::u16string problema = Arranque::ComprobarDatos(Application::DataPath());
      !problema.empty()) {
    Avisar(problema);
    Application::SetUi(nullptr);
    return 1;
  }
  return EjecutarVentana(app, ui, bloqueo);
}
