// The status line's text, and the log follower that feeds the activity box.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>

#include "log/Log.h"
#include "runtime/Application.h"
#include "runtime/Error.h"
#include "runtime/RecordingUserInterface.h"
#include "runtime/Text.h"
#include "service/LineaEstado.h"
#include "service/SeguidorLog.h"
#include "tests/support/LocalTime.h"
#include "tests/support/TempDir.h"

namespace kestrola {
namespace {

namespace fs = std::filesystem;
using Reloj = std::chrono::system_clock;

using testing::LocalTime;

TEST(LineaEstado, SaysWhatTheServiceIsDoingInSpanish) {
  const auto ahora = LocalTime(2026, 12, 8, 10, 35, 0);
  FotoEstado detenido;
  FotoEstado activo;
  activo.servicioActivo = true;
  FotoEstado normal = activo;
  normal.conectado = true;
  normal.trabajosEnEspera = 3;
  normal.ultimoTrabajo = 42;
  normal.ultimoTrabajoHora = LocalTime(2026, 12, 8, 10, 33, 1);
  EstadoImpresora caja;
  caja.id = 1;
  caja.nombre = u"Caja";
  EstadoImpresora barra;
  barra.id = 3;
  barra.nombre = u"Barra";
  barra.situacion = EstadoImpresora::Situacion::Fallando;
  barra.desde = LocalTime(2026, 12, 8, 10, 31, 2);
  barra.causa = u"no responde";
  EstadoImpresora cocina;
  cocina.id = 2;
  cocina.situacion = EstadoImpresora::Situacion::Redirigida;
  cocina.desde = LocalTime(2026, 12, 7, 23, 59, 10);
  cocina.redirigidaA = u"Caja";
  normal.impresoras = {caja, barra, cocina};
  FotoEstado sinBase = activo;
  sinBase.sinConexionDesde = LocalTime(2026, 12, 8, 10, 32, 5);
  sinBase.causaConexion = u"connection refused";
  FotoEstado config = detenido;
  config.errorConfiguracion = u"Terminal=abc en config.ini no se puede usar: motivo";
  config.errorLog = u"disco lleno";

  struct Case {
    const FotoEstado* foto;
    std::u16string texto;
    bool problema;
  } cases[] = {
      {&detenido, u"Servicio detenido", false},
      {&activo,
       u"Servicio activo · Base de datos: conectando\n"
       u"Trabajos en espera: 0 · Ninguno impreso todavía",
       false},
      {&normal,
       u"Servicio activo · Base de datos conectada\n"
       u"Impresora Caja: lista\n"
       u"Impresora Barra: falla desde las 10:31:02 (no responde)\n"
       u"Impresora n.º 2: redirigida a Caja desde el 07/12/2026 a las 23:59:10\n"
       u"Trabajos en espera: 3 · Último impreso: n.º 42 a las 10:33:01",
       true},
      {&sinBase,
       u"Servicio activo · Sin base de datos desde las 10:32:05 (connection refused)\n"
       u"Trabajos en espera: 0 · Ninguno impreso todavía",
       true},
      {&config,
       u"No se puede iniciar: Terminal=abc en config.ini no se puede usar: motivo\n"
       u"Servicio detenido\n"
       u"La bitácora no se puede escribir (disco lleno); se reintenta",
       true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text::ToUtf8(LineaEstado::Texto(*c.foto, ahora)), Text::ToUtf8(c.texto));
    EXPECT_EQ(LineaEstado::HayProblema(*c.foto), c.problema) << Text::ToUtf8(c.texto);
  }
}

// What the follower hands on, collected across its thread.
struct Recibido {
  std::mutex mutex;
  std::condition_variable cambio;
  std::vector<std::pair<std::vector<std::u16string>, bool>> lotes;
  std::vector<std::u16string> estados;

  // The messages received since the last change of file (call with the lock held, as the
  // conditions given to Esperar are).
  std::vector<std::u16string> Lineas() const {
    std::vector<std::u16string> out;
    for (const auto& [lineas, nuevo] : lotes) {
      if (nuevo) out.clear();
      for (const auto& l : lineas) {
        if (!l.empty()) out.push_back(l.size() >= 19 ? l.substr(19) : u"?" + l);
      }
    }
    return out;
  }
  // Waits, with the lock held, until `pred` holds.
  template <class Pred>
  bool Esperar(Pred pred) {
    std::unique_lock lock(mutex);
    return cambio.wait_for(lock, std::chrono::seconds(5), [&] { return pred(*this); });
  }
};

class SeguidorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application::SetPath(Text::FromUtf8(dir_.string()));
    Application::SetUi(&ui_);
    ahora_ = LocalTime(2026, 12, 8, 23, 59, 58).time_since_epoch().count();
    Log::SetClock([this] { return Reloj::time_point(Reloj::duration(ahora_.load())); });
  }
  void TearDown() override {
    seguidor_.reset();
    Log::SetClock(nullptr);
    Application::SetUi(nullptr);
  }
  void Iniciar() {
    SeguidorLog::Opciones opciones;
    opciones.intervalo = std::chrono::milliseconds(20);
    opciones.reintento = std::chrono::milliseconds(50);
    seguidor_ = std::make_unique<SeguidorLog>(
        [this](std::vector<std::u16string> lineas, bool nuevo) {
          std::lock_guard lock(recibido_.mutex);
          recibido_.lotes.emplace_back(std::move(lineas), nuevo);
          recibido_.cambio.notify_all();
        },
        [this](const std::u16string& error) {
          std::lock_guard lock(recibido_.mutex);
          recibido_.estados.push_back(error);
          recibido_.cambio.notify_all();
        },
        opciones);
    seguidor_->Iniciar();
  }
  void SetDia(int dia, int h, int mi, int s) {
    ahora_ = LocalTime(2026, 12, dia, h, mi, s).time_since_epoch().count();
  }
  std::string Archivo(const char* nombre) const { return testing::ReadFile(dir_ / nombre); }

  testing::TempDir dir_{"seguidor"};
  std::atomic<Reloj::rep> ahora_;
  RecordingUserInterface ui_;
  Recibido recibido_;
  std::unique_ptr<SeguidorLog> seguidor_;
};

TEST_F(SeguidorLogTest, FollowsTodaysFileAndMovesOnAtMidnight) {
  Log::EscribirLog(u"ayer");
  Iniciar();
  EXPECT_TRUE(recibido_.Esperar(
      [](Recibido& r) { return r.Lineas() == std::vector<std::u16string>{u"ayer"}; }));
  Log::EscribirLog(u"antes de medianoche");
  SetDia(9, 0, 0, 1);
  Log::EscribirLog(u"después");
  // The old file's last line comes first, then the new day's file replaces it.
  EXPECT_TRUE(recibido_.Esperar(
      [](Recibido& r) { return r.Lineas() == std::vector<std::u16string>{u"después"}; }));
  std::vector<std::u16string> todas;
  {
    std::lock_guard lock(recibido_.mutex);
    for (const auto& [lineas, nuevo] : recibido_.lotes) {
      for (const auto& l : lineas) {
        if (!l.empty()) todas.push_back(l.size() >= 19 ? l.substr(19) : u"?" + l);
      }
    }
  }
  EXPECT_EQ(todas, (std::vector<std::u16string>{u"ayer", u"antes de medianoche", u"después"}));
}

TEST_F(SeguidorLogTest, LinesThatCannotBeWrittenAreKeptAndWrittenOnceTheLogWorks) {
  Log::EscribirLog(u"inicio");
  Iniciar();
  ASSERT_TRUE(recibido_.Esperar([](Recibido& r) { return !r.Lineas().empty(); }));
  // Another writer (the queue cycle) fails first: the follower reports it too.
  fs::remove(dir_ / "log_20261208.log");
  fs::create_directory(dir_ / "log_20261208.log");
  EXPECT_THROW(Log::EscribirLog(u"del ciclo"), Error);
  EXPECT_TRUE(recibido_.Esperar([](Recibido& r) { return r.estados.size() == 1; }));
  seguidor_->Escribir(u"Servicio Detenido");
  seguidor_->Escribir(u"Servicio Activo");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  {
    std::lock_guard lock(recibido_.mutex);
    ASSERT_EQ(recibido_.estados.size(), 1u);  // one report per failure, not one per try
    EXPECT_NE(recibido_.estados[0].find(u"log_20261208.log"), std::u16string::npos);
  }
  fs::remove(dir_ / "log_20261208.log");
  EXPECT_TRUE(recibido_.Esperar([](Recibido& r) {
    return r.Lineas() == std::vector<std::u16string>{u"Servicio Detenido", u"Servicio Activo"} &&
           r.estados.size() == 2 && r.estados[1].empty();
  })) <<
      [this] {
        std::lock_guard lock(recibido_.mutex);
        std::string all;
        for (const auto& l : recibido_.Lineas()) all += Text::ToUtf8(l) + "|";
        return all + " estados " + std::to_string(recibido_.estados.size());
      }();
}

TEST_F(SeguidorLogTest, ATaskThatThrowsEndsNeitherTheThreadNorTheProgram) {
  Iniciar();
  // A picture that cannot be loaded for want of memory, say: the lines after it still go on.
  seguidor_->Encargar([] { throw std::bad_alloc(); });
  seguidor_->Escribir(u"después de la tarea");
  EXPECT_TRUE(recibido_.Esperar([](Recibido& r) {
    return r.Lineas() == std::vector<std::u16string>{u"después de la tarea"};
  }));
}

}  // namespace
}  // namespace kestrola
