#include "service/frmKestrola.h"

#include <QCloseEvent>
#include <QIcon>
#include <QImage>
#include <QMenuBar>
#include <QScrollBar>
#include <QVBoxLayout>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "runtime/UserInterface.h"
#include "service/CicloCola.h"
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
      datos_(std::make_shared<Servicio>()),
      estado_(std::make_shared<EstadoServicio>()),
      trabajador_(std::make_unique<TrabajadorCola>(datos_)),
      contador_([](const std::u16string& name) { return ContarInstancias(name); }) {
  setWindowTitle(QStringLiteral("Vantor - Selvique"));
  setWindowIcon(QIcon(QStringLiteral(":/kestrola.png")));
  menuBar()->addMenu(QStringLiteral("Menu"));

  // The original client area on top, the status line under it.
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, Px(120));
  layout->setSpacing(0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setCentralWidget(central);

  auto* client = new QWidget(central);
  client->setObjectName(QStringLiteral("cliente"));
  client->setFixedSize(Px(6960), Px(4080));
  layout->addWidget(client);

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
  txtActividad->setMaximumBlockCount(kLineasActividad);

  lblEstado = new LineaEstado(central);
  lblEstado->setFixedWidth(Px(6732));
  lblEstado->setContentsMargins(0, Px(60), 0, 0);
  layout->addWidget(lblEstado, 0, Qt::AlignHCenter);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  // The status line follows the shared state; reading it only takes a lock.
  refresco_ = new QTimer(this);
  refresco_->setInterval(250);

  // The queue cycle runs on the worker, pausing between jobs until a stop cuts the pause short.
  auto ciclo = std::make_shared<CicloCola>(trabajador_->PausaInterrumpible());
  // The cycle reports printers, database and jobs into the status the window shows; the
  // lambda keeps that status alive as long as the cycle can run.
  ciclo->SetEstado(estado_.get());
  trabajador_->SetCiclo([ciclo, estado = estado_](Servicio& datos) { ciclo->Ejecutar(datos); });

  seguidor_ = std::make_unique<SeguidorLog>(
      [this](std::vector<std::u16string> lineas, bool nuevoArchivo) {
        QMetaObject::invokeMethod(
            this,
            [this, lineas = std::move(lineas), nuevoArchivo] {
              AgregarActividad(lineas, nuevoArchivo);
            },
            Qt::QueuedConnection);
      },
      [this](const std::u16string& error) {
        estado_->Actualizar([&error](FotoEstado& f) { f.errorLog = error; });
        QMetaObject::invokeMethod(
            this, [this, error] { CambioEstadoLog(error); }, Qt::QueuedConnection);
      });

  connect(cmdService, &QPushButton::clicked, this, [this] { cmdService_Click(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
  connect(refresco_, &QTimer::timeout, this, [this] { MostrarEstado(); });
  refresco_->start();
  MostrarEstado();
}

frmKestrola::~frmKestrola() {
  DetenerServicio();
}

void frmKestrola::Form_Load() {
  try {
    if (contador_(Application::EXEName()) > 1) {
      terminar_ = true;
      return;
    }
    // Today's file is made now, as reading the log always did; a log that cannot be written
    // does not stop the service (the follower reports it and keeps trying).
    try {
      Log::CrearArchivoDelDia();
    } catch (const Error& e) {
      // Said at once (a link or a foreign file in the log's place, a full disk), not only when
      // the first line fails to be written.
      const std::u16string error = e.Description();
      estado_->Actualizar([&error](FotoEstado& f) { f.errorLog = error; });
      CambioEstadoLog(error);
    }
    seguidor_->Iniciar();
    datos_->CargarConfiguracion();
    if (datos_->Activo) {
      Timer1->start();
    } else {
      Timer1->stop();
    }
  } catch (...) {
    // An event handler is an outer edge: whatever its body raises (settings that cannot be
    // read, a process list or a thread that cannot be had) ends the start-up with a log line
    // instead of leaving the window half set up or ending the program.
    const std::u16string motivo = datos_->ErrorConfiguracion;
    estado_->Actualizar([&motivo](FotoEstado& f) { f.errorConfiguracion = motivo; });
    try {
      Log::EscribirLog(u"Error desconocido en Form Load");
      // Which setting to fix, in words.
      if (!motivo.empty()) Log::EscribirLog(motivo);
    } catch (const Error& e) {
      ShowError(e.Description());
    } catch (const std::exception&) {
      // No memory even for the log line: the status line still names the setting.
    }
  }
  MostrarEstado();
}

void frmKestrola::cmdService_Click() {
  try {
    if (datos_->Activo) {
      seguidor_->Escribir(u"Servicio Detenido");
      datos_->Activo = false;
      Timer1->stop();
      // A pause between jobs ends now; the job being printed is finished.
      trabajador_->Despertar();
      CargarImagenes(u"/start.jpg", u"/start_down.jpg");
    } else {
      seguidor_->Escribir(u"Servicio Activo");
      Timer1->start();
      datos_->Activo = true;
      CargarImagenes(u"/stop.jpg", u"/stop_down.jpg");
    }
  } catch (const Error& e) {
    ShowError(e.Description());
  } catch (const std::exception& e) {
    ShowError(Text::FromUtf8(e.what()));
  }
  // The box follows the log from now on, even after a start-up that failed early.
  seguidor_->Iniciar();
  MostrarEstado();
}

void frmKestrola::Timer1_Timer() {
  trabajador_->Tick();
}

bool frmKestrola::DetenerServicio() {
  Timer1->stop();
  bool terminado = trabajador_->Detener();
  seguidor_->Detener();
  return terminado;
}

void frmKestrola::closeEvent(QCloseEvent* event) {
  datos_->Activo = false;
  Timer1->stop();
  trabajador_->Despertar();
  QMainWindow::closeEvent(event);
}

void frmKestrola::CargarImagenes(const char16_t* picture, const char16_t* downPicture) {
  // The files are read on the I/O thread; the button changes when they arrive. A later click
  // wins over the pictures of an earlier one still on their way.
  const uint64_t turno = ++turnoImagenes_;
  const std::u16string up = Application::Path() + picture;
  const std::u16string down = Application::Path() + downPicture;
  seguidor_->Encargar([this, turno, up, down] {
    QImage imageUp(ToQt(up));
    QImage imageDown(ToQt(down));
    QMetaObject::invokeMethod(
        this, [=, this] { PonerImagenes(turno, imageUp, imageDown, up, down); },
        Qt::QueuedConnection);
  });
}

void frmKestrola::PonerImagenes(uint64_t turno, const QImage& up, const QImage& down,
                                const std::u16string& upPath, const std::u16string& downPath) {
  if (turno != turnoImagenes_) return;
  // A picture that cannot be loaded leaves the button's current one and is reported.
  std::u16string missing;
  if (up.isNull()) {
    missing = upPath;
  } else {
    cmdService->SetPicture(QPixmap::fromImage(up));
  }
  if (down.isNull()) {
    missing += (missing.empty() ? u"" : u", ") + downPath;
  } else {
    cmdService->SetDownPicture(QPixmap::fromImage(down));
  }
  if (!missing.empty()) ShowError(u"No se puede cargar la imagen " + missing);
}

void frmKestrola::AgregarActividad(const std::vector<std::u16string>& lineas, bool nuevoArchivo) {
  if (nuevoArchivo) {
    txtActividad->clear();
    actividadVacia_ = true;
  }
  if (lineas.empty()) return;
  std::u16string texto;
  for (const auto& l : lineas) {
    if (!texto.empty() || &l != &lineas.front()) texto += u'\n';
    texto += l;
  }
  QScrollBar* bar = txtActividad->verticalScrollBar();
  // Follow the newest line unless the cashier scrolled up to read.
  bool alFinal = bar->value() == bar->maximum();
  if (actividadVacia_) {
    txtActividad->setPlainText(ToQt(texto));
    actividadVacia_ = false;
  } else {
    txtActividad->appendPlainText(ToQt(texto));
  }
  if (alFinal) {
    txtActividad->moveCursor(QTextCursor::End);
    bar->setValue(bar->maximum());
  }
}

void frmKestrola::CambioEstadoLog(const std::u16string& error) {
  if (error.empty()) {
    avisoLog_ = false;
  } else if (!avisoLog_) {
    // One message per failure; the status line keeps showing it until the log works again.
    avisoLog_ = true;
    ShowError(u"No se puede escribir la bitácora: " + error +
              u". El servicio sigue funcionando y se vuelve a intentar.");
  }
  MostrarEstado();
}

void frmKestrola::MostrarEstado() {
  const bool activo = datos_->Activo;
  estado_->Actualizar([activo](FotoEstado& f) { f.servicioActivo = activo; });
  lblEstado->Mostrar(estado_->Foto());
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
