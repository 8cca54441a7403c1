#include "service/SeguidorLog.h"

#include "log/Log.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {
// At most this much of a file is read at once: the last lines of a big day's log.
constexpr uint64_t kMaximoBytes = uint64_t{8} << 20;
}  // namespace

SeguidorLog::SeguidorLog(Lineas lineas, EstadoEscritura estado)
    : SeguidorLog(std::move(lineas), std::move(estado), Opciones{}) {}

SeguidorLog::SeguidorLog(Lineas lineas, EstadoEscritura estado, Opciones opciones)
    : lineas_(std::move(lineas)), estado_(std::move(estado)), opciones_(opciones) {}

SeguidorLog::~SeguidorLog() {
  Detener();
}

void SeguidorLog::Iniciar() {
  if (hilo_.joinable()) return;
  hilo_ = std::thread([this] { Ejecutar(); });
}

void SeguidorLog::Escribir(std::u16string mensaje) {
  {
    std::lock_guard lock(mutex_);
    if (pendientes_.size() >= opciones_.maximoPendientes) {
      pendientes_.pop_front();
      ++descartados_;
    }
    pendientes_.push_back(std::move(mensaje));
  }
  cambio_.notify_all();
}

void SeguidorLog::Encargar(std::function<void()> tarea) {
  {
    std::lock_guard lock(mutex_);
    tareas_.push_back(std::move(tarea));
  }
  cambio_.notify_all();
}

void SeguidorLog::Detener() {
  {
    std::lock_guard lock(mutex_);
    parar_ = true;
  }
  cambio_.notify_all();
  if (hilo_.joinable()) hilo_.join();
}

void SeguidorLog::Ejecutar() {
  std::unique_lock lock(mutex_);
  for (;;) {
    try {
      if (!Vuelta(lock)) break;
    } catch (...) {
      // The thread's entry point: an exception leaving it would end the program. A step that
      // fails (no memory, a task or a callback that throws) is given up for this turn: its
      // task is dropped, the lines still waiting stay queued and the file is read again later.
      if (!lock.owns_lock()) lock.lock();
      if (parar_) break;
      cambio_.wait_for(lock, opciones_.intervalo, [this] { return parar_; });
    }
  }
}

bool SeguidorLog::Vuelta(std::unique_lock<std::mutex>& lock) {
  EscribirPendientes(lock);
  while (!tareas_.empty()) {
    std::function<void()> tarea = std::move(tareas_.front());
    tareas_.pop_front();
    lock.unlock();
    tarea();
    lock.lock();
  }
  if (parar_) return false;
  lock.unlock();
  Leer();
  lock.lock();
  if (parar_) return true;  // one more attempt at the waiting lines, then end
  cambio_.wait_for(lock, opciones_.intervalo, [this] {
    return parar_ || !tareas_.empty() ||
           (!pendientes_.empty() && std::chrono::steady_clock::now() >= proximoReintento_);
  });
  return true;
}

void SeguidorLog::EscribirPendientes(std::unique_lock<std::mutex>& lock) {
  const auto ahora = std::chrono::steady_clock::now();
  bool fallando = !errorInformado_.empty();
  if (fallando && ahora < proximoReintento_ && !parar_) return;

  std::u16string error;
  while (!pendientes_.empty()) {
    std::u16string mensaje = pendientes_.front();
    uint64_t descartados = descartados_;
    lock.unlock();
    try {
      if (descartados != 0) {
        Log::EscribirLog(u"Bitácora: " + Text::FromUtf8(std::to_string(descartados)) +
                         u" líneas de la ventana no se pudieron escribir");
      }
      Log::EscribirLog(mensaje);
    } catch (const Error& e) {
      error = e.Description();
    }
    lock.lock();
    if (!error.empty()) break;
    descartados_ -= descartados;
    pendientes_.pop_front();
  }
  if (error.empty() && pendientes_.empty() && fallando) {
    // Nothing of ours to write: see whether the log (failed by another writer) works again.
    lock.unlock();
    Log::ProbarEscritura();
    error = Log::ErrorEscritura();
    lock.lock();
  } else if (error.empty() && !fallando) {
    // The queue cycle writes on its own thread: its failures show here too.
    error = Log::ErrorEscritura();
  }
  if (!error.empty()) proximoReintento_ = ahora + opciones_.reintento;
  lock.unlock();
  Informar(error);
  lock.lock();
}

void SeguidorLog::Informar(const std::u16string& error) {
  if (error == errorInformado_) return;
  errorInformado_ = error;
  if (estado_) estado_(error);
}

void SeguidorLog::Leer() {
  const std::u16string hoy = Log::NombreArchivo(Log::Ahora());
  try {
    bool nuevoArchivo = false;
    if (hoy != archivo_) {
      // The day changed: the lines written to the old file before midnight come first.
      if (!archivo_.empty()) {
        Log::Fragmento resto =
            Log::LeerDesde(archivo_, posicion_, opciones_.maximoLineas, kMaximoBytes, inodo_);
        if (!resto.lineas.empty() && lineas_) lineas_(std::move(resto.lineas), resto.reiniciado);
      }
      archivo_ = hoy;
      posicion_ = 0;
      inodo_ = 0;
      nuevoArchivo = true;
    }
    Log::Fragmento f =
        Log::LeerDesde(archivo_, posicion_, opciones_.maximoLineas, kMaximoBytes, inodo_);
    posicion_ = f.siguiente;
    inodo_ = f.inodo;
    nuevoArchivo = nuevoArchivo || f.reiniciado;
    if ((nuevoArchivo || !f.lineas.empty()) && lineas_) lineas_(std::move(f.lineas), nuevoArchivo);
  } catch (const Error&) {
    // Unreadable for now (locked, replaced by a folder, ...): tried again at the next check.
  }
}

}  // namespace kestrola
