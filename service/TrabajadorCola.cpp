#include "service/TrabajadorCola.h"

#include "log/Log.h"

namespace kestrola {

TrabajadorCola::TrabajadorCola(std::shared_ptr<Servicio> datos)
    : compartido_(std::make_shared<Compartido>()) {
  compartido_->datos = std::move(datos);
}

TrabajadorCola::~TrabajadorCola() {
  Detener();
}

void TrabajadorCola::SetCiclo(Ciclo ciclo) {
  std::lock_guard lock(compartido_->mutex);
  compartido_->ciclo = std::move(ciclo);
}

TrabajadorCola::Pausa TrabajadorCola::PausaInterrumpible() const {
  std::weak_ptr<Compartido> compartido = compartido_;
  return [compartido](std::chrono::milliseconds espera) {
    if (auto c = compartido.lock()) c->Esperar(espera);
  };
}

void TrabajadorCola::Compartido::Esperar(std::chrono::milliseconds espera) {
  std::unique_lock lock(mutex);
  cambio.wait_for(lock, espera, [this] { return parar || !datos->Activo; });
}

void TrabajadorCola::Compartido::Ejecutar() {
  std::unique_lock lock(mutex);
  for (;;) {
    cambio.wait(lock, [this] { return parar || pendiente; });
    if (parar) break;
    pendiente = false;
    enCiclo = true;
    // The worker thread's entry point: an exception leaving it would end the program, so every
    // failure of a cycle (even the copy of the cycle's function) is caught here, logged without
    // holding the lock, and the thread waits for the next tick.
    try {
      Ciclo actual = ciclo;
      lock.unlock();
      if (actual) actual(*datos);
    } catch (...) {
      if (lock.owns_lock()) lock.unlock();
      try {
        Log::EscribirLog(u"Error desconocido en Timer");
      } catch (...) {
        // The log cannot be written; the window shows that on its own. Still the thread's
        // edge: nothing may leave it.
      }
    }
    lock.lock();
    enCiclo = false;
    ++ciclos;
    cambio.notify_all();
  }
  terminado = true;
  cambio.notify_all();
}

void TrabajadorCola::Tick() {
  {
    std::lock_guard lock(compartido_->mutex);
    if (compartido_->parar) return;
    compartido_->pendiente = true;
  }
  compartido_->cambio.notify_all();
  if (!hilo_.joinable()) {
    hilo_ = std::thread([c = compartido_] { c->Ejecutar(); });
  }
}

void TrabajadorCola::Despertar() {
  {
    // Taken so that a pause testing the flag cannot miss this wake-up.
    std::lock_guard lock(compartido_->mutex);
    if (!compartido_->datos->Activo) compartido_->pendiente = false;
  }
  compartido_->cambio.notify_all();
}

bool TrabajadorCola::Detener(std::chrono::milliseconds limite) {
  std::unique_lock lock(compartido_->mutex);
  // The cycle checks the flag before every job: none starts after this.
  compartido_->datos->Activo = false;
  compartido_->parar = true;
  compartido_->pendiente = false;
  compartido_->cambio.notify_all();
  if (!hilo_.joinable()) return true;
  bool terminado =
      compartido_->cambio.wait_for(lock, limite, [this] { return compartido_->terminado; });
  lock.unlock();
  if (terminado) {
    hilo_.join();
  } else {
    // Blocked in a call that does not return; the thread keeps its own state alive.
    hilo_.detach();
  }
  return terminado;
}

bool TrabajadorCola::EnCiclo() const {
  std::lock_guard lock(compartido_->mutex);
  return compartido_->enCiclo;
}

uint64_t TrabajadorCola::Ciclos() const {
  std::lock_guard lock(compartido_->mutex);
  return compartido_->ciclos;
}

bool TrabajadorCola::EsperarInactivo(std::chrono::milliseconds limite) const {
  std::unique_lock lock(compartido_->mutex);
  return compartido_->cambio.wait_for(lock, limite, [this] {
    return !compartido_->enCiclo && (!compartido_->pendiente || compartido_->parar);
  });
}

}  // namespace kestrola
