#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "service/Servicio.h"

namespace kestrola {

// The thread on which the print-queue cycle runs, so that database and printer waits never
// hold up the window.
//
// Threads: the window's thread calls Tick, Despertar, Detener and the queries; the cycle and
// the pause run on the worker's own thread. One cycle runs at a time; a tick that arrives
// while a cycle runs is kept (one at most) and starts the next cycle as soon as this one ends,
// as a timer event waiting in a busy window's queue would.
//
// What the cycle shares with the rest of the program: Servicio::Activo (atomic, written by the
// window); the other settings (written at start-up, before the first tick, then only read);
// the database module's connection and Conectado (used by the cycle alone, so by this thread
// alone); the printers registry, the log's clock and the application object (each behind its
// own lock); message boxes (QtUserInterface hands them to the window's thread).
//
// Everything the worker thread touches lives in a shared block that the thread keeps alive
// itself, so a worker that cannot be stopped in time (a statement or a printer that does not
// answer) can be left behind without touching freed memory.
class TrabajadorCola {
 public:
  // One queue cycle for the window's settings. Runs on the worker thread.
  using Ciclo = std::function<void(Servicio&)>;
  // The pause between jobs, given to the cycle.
  using Pausa = std::function<void(std::chrono::milliseconds)>;

  explicit TrabajadorCola(std::shared_ptr<Servicio> datos);
  // Stops the worker, waiting at most EsperaCierre() for the cycle to end.
  ~TrabajadorCola();
  TrabajadorCola(const TrabajadorCola&) = delete;
  TrabajadorCola& operator=(const TrabajadorCola&) = delete;

  // The cycle to run; set before the first tick.
  void SetCiclo(Ciclo ciclo);
  // A pause that ends early when the service is switched off or the worker stops, so that a
  // stop takes effect before the next job. Safe to call after this object is gone.
  Pausa PausaInterrumpible() const;

  // A cycle is due (the timer ticked). Starts the thread on first use. Never blocks on I/O.
  void Tick();
  // The service was switched off: a pause in progress ends now and a waiting tick is dropped.
  void Despertar();
  // Ends the worker: no further cycle starts, a pause ends now, and the cycle in progress may
  // finish the job it is delivering within `limite`. True when the thread ended in time; false
  // when it was left behind, still blocked.
  bool Detener(std::chrono::milliseconds limite);
  bool Detener() { return Detener(esperaCierre_); }

  // How long closing waits for a job being delivered.
  std::chrono::milliseconds EsperaCierre() const { return esperaCierre_; }
  void SetEsperaCierre(std::chrono::milliseconds espera) { esperaCierre_ = espera; }

  // True while a cycle runs.
  bool EnCiclo() const;
  // Cycles finished since the start.
  uint64_t Ciclos() const;
  // Waits until no cycle runs and none is due; false when `limite` passes first.
  bool EsperarInactivo(std::chrono::milliseconds limite) const;

  static constexpr std::chrono::milliseconds kEsperaCierre{10000};

 private:
  struct Compartido {
    std::shared_ptr<Servicio> datos;
    Ciclo ciclo;
    mutable std::mutex mutex;
    mutable std::condition_variable cambio;
    bool pendiente = false;
    bool enCiclo = false;
    bool parar = false;
    bool terminado = false;
    uint64_t ciclos = 0;

    void Ejecutar();
    void Esperar(std::chrono::milliseconds espera);
  };

  std::shared_ptr<Compartido> compartido_;
  std::thread hilo_;
  std::chrono::milliseconds esperaCierre_ = kEsperaCierre;
};

}  // namespace kestrola
