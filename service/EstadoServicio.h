#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrola {

// One printer of this terminal as the cashier sees it.
struct EstadoImpresora {
  enum class Situacion {
    Lista,       // prints its jobs
    Fallando,    // its last delivery failed; retried with back-off, not yet failed over
    Redirigida,  // failed over by this copy: its jobs go to the backup printer
  };
  int64_t id = 0;          // id_impresora
  std::u16string nombre;   // device name (comentario)
  std::u16string destino;  // where it prints ("tcp://10.0.0.5:9100", "dir:receipts/Caja")
  Situacion situacion = Situacion::Lista;
  std::chrono::system_clock::time_point desde{};  // when the current situation began
  std::u16string causa;        // why it is failing or failed over; empty while ready
  std::u16string redirigidaA;  // the backup's name or number while Redirigida
};

// What the service is doing right now: one value, copied whole.
struct FotoEstado {
  bool servicioActivo = false;
  bool conectado = false;
  // Since when the database cannot be reached, and the driver's reason.
  std::optional<std::chrono::system_clock::time_point> sinConexionDesde;
  std::u16string causaConexion;
  std::vector<EstadoImpresora> impresoras;
  int64_t trabajosEnEspera = 0;          // ready jobs of this terminal seen by the last cycle
  std::optional<int64_t> ultimoTrabajo;  // the last job printed
  std::optional<std::chrono::system_clock::time_point> ultimoTrabajoHora;
  // A setting of config.ini that cannot be used ("Terminal=abc: ..."); empty when all are fine.
  std::u16string errorConfiguracion;
  // Why today's log cannot be written; empty while it can.
  std::u16string errorLog;
};

// The service's state shared between the queue cycle's worker thread (which writes most of
// it) and the window's thread (which shows it). Every access takes the lock; readers get a
// copy, so nothing outside this class ever holds a reference into the shared value.
class EstadoServicio {
 public:
  FotoEstado Foto() const {
    std::lock_guard lock(mutex_);
    return foto_;
  }
  // Changes the state under the lock. The function must not block or call back into this.
  void Actualizar(const std::function<void(FotoEstado&)>& cambio) {
    std::lock_guard lock(mutex_);
    cambio(foto_);
  }

 private:
  mutable std::mutex mutex_;
  FotoEstado foto_;
};

}  // namespace kestrola
