#include "service/frmKestrola.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QMenuBar>
#include <QScrollBar>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/UserInterface.h"
#include "service/Instancias.h"

namespace kestrola {

namespace {

// Positions and sizes are those of the original layout in twips, at 15 twips a pixel.
constexpr int Px(int twips) {
  return (twips + 7) / 15;
}

QString ToQt(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

void ShowError(const std::u16string& text) {
  Application::Ui().MessageBox(text, MessageIcon::Critical, Application::EXEName());
}

}  // namespace

frmKestrola::frmKestrola(QWidget* parent)
    : QMainWindow(parent),
      contador_([](const std::u16string& name) { return ContarInstancias(name); }) {
  setWindowTitle(QStringLiteral("Vantor - Selvique"));
  setWindowIcon(QIcon(QStringLiteral(":/kestrola.png")));
  menuBar()->addMenu(QStringLiteral("Menu"));

  auto* client = new QWidget(this);
  client->setFixedSize(Px(6960), Px(4080));
  setCentralWidget(client);

  cmdService = new BotonGrafico(client);
  cmdService->setObjectName(QStringLiteral("cmdService"));
  cmdService->setGeometry(Px(120), Px(120), Px(1572), Px(492));
  // The pictures stored with the window: the stop images, until the first click.
  cmdService->SetPicture(QPixmap(QStringLiteral(":/stop.jpg")));
  cmdService->SetDownPicture(QPixmap(QStringLiteral(":/stop_down.jpg")));

  txtActividad = new QPlainTextEdit(client);
  txtActividad->setObjectName(QStringLiteral("txtActividad"));
  txtActividad->setGeometry(Px(120), Px(720), Px(6732), Px(3252));
  txtActividad->setReadOnly(true);
  txtActividad->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  connect(cmdService, &QPushButton::clicked, this, [this] { cmdService_Click(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}

void frmKestrola::Form_Load() {
  try {
    if (contador_(Application::EXEName()) > 1) {
      terminar_ = true;
      return;
    }
    MostrarActividad(Log::LeerLog());
    datos_.CargarConfiguracion();
    if (datos_.Activo) {
      Timer1->start();
    } else {
      Timer1->stop();
    }
  } catch (...) {
    try {
      Log::EscribirLog(u"Error desconocido en Form Load");
    } catch (const Error& e) {
      ShowError(e.Description());
    } catch (...) {
    }
  }
}

void frmKestrola::cmdService_Click() {
  try {
    if (datos_.Activo) {
      Log::EscribirLog(u"Servicio Detenido");
      datos_.Activo = false;
      Timer1->stop();
      CargarImagenes(u"/start.jpg", u"/start_down.jpg");
    } else {
      Log::EscribirLog(u"Servicio Activo");
      Timer1->start();
      datos_.Activo = true;
      CargarImagenes(u"/stop.jpg", u"/stop_down.jpg");
    }
    MostrarActividad(Log::LeerLog());
  } catch (const Error& e) {
    ShowError(e.Description());
  } catch (const std::exception& e) {
    ShowError(Text::FromUtf8(e.what()));
  }
}

void frmKestrola::Timer1_Timer() {
  // A cycle that lets the window handle events while it waits must not start another one.
  if (enCiclo_) return;
  enCiclo_ = true;
  try {
    if (ciclo_) ciclo_(*this);
  } catch (...) {
    try {
      Log::EscribirLog(u"Error desconocido en Timer");
    } catch (...) {
    }
  }
  enCiclo_ = false;
}

void frmKestrola::EsperarProcesandoEventos(std::chrono::milliseconds espera) {
  QEventLoop loop;
  QTimer::singleShot(espera, &loop, &QEventLoop::quit);
  loop.exec();
}

void frmKestrola::closeEvent(QCloseEvent* event) {
  datos_.Activo = false;
  Timer1->stop();
  QMainWindow::closeEvent(event);
}

void frmKestrola::CargarImagenes(const char16_t* picture, const char16_t* downPicture) {
  // A picture that cannot be loaded leaves the button's current one and is reported once the
  // switch itself is done.
  std::u16string missing;
  for (auto [name, down] : {std::pair{picture, false}, std::pair{downPicture, true}}) {
    std::u16string path = Application::Path() + name;
    QPixmap pixmap;
    if (!pixmap.load(ToQt(path))) {
      missing += (missing.empty() ? u"" : u", ") + path;
      continue;
    }
    if (down) {
      cmdService->SetDownPicture(pixmap);
    } else {
      cmdService->SetPicture(pixmap);
    }
  }
  if (!missing.empty()) {
    MostrarActividad(Log::LeerLog());
    ShowError(u"No se puede cargar la imagen " + missing);
  }
}

void frmKestrola::MostrarActividad(const std::u16string& textoLog) {
  txtActividad->setPlainText(ToQt(TextoParaMostrar(textoLog)));
  txtActividad->moveCursor(QTextCursor::End);
  txtActividad->verticalScrollBar()->setValue(txtActividad->verticalScrollBar()->maximum());
}

std::u16string frmKestrola::TextoParaMostrar(const std::u16string& textoLog) {
  // Every line comes as CR + line + CR and no line holds a CR of its own.
  std::u16string out;
  out.reserve(textoLog.size());
  size_t pos = 0;
  bool first = true;
  while (pos < textoLog.size()) {
    if (textoLog[pos] != u'\r') break;
    size_t end = textoLog.find(u'\r', pos + 1);
    if (end == std::u16string::npos) end = textoLog.size();
    if (!first) out += u'\n';
    out.append(textoLog, pos + 1, end - pos - 1);
    first = false;
    pos = end + 1;
  }
  return out;
}

}  // namespace kestrola
