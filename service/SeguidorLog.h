#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrola {

// The window's link to the activity log, on a thread of its own so that the window never
// waits for the disk: it follows today's file and hands on the lines appended to it, it
// writes the lines the window logs ("Servicio Detenido", ...), keeping those it cannot write
// and trying them again, and it runs the window's other file work (the button's pictures).
//
// Threads: Escribir, Encargar, Iniciar and Detener are called from the window's thread; the
// callbacks run on the follower's thread and must only hand their data on (a queued call to the
// window).
class SeguidorLog {
 public:
  // Lines appended to the log, oldest first. `nuevoArchivo` is true for the first lines of a
  // file (at the start and when the day changes): what was shown before is another day's.
  using Lineas = std::function<void(std::vector<std::u16string> lineas, bool nuevoArchivo)>;
  // The log's state changed: empty when it can be written again, else why it cannot.
  using EstadoEscritura = std::function<void(const std::u16string& error)>;

  struct Opciones {
    size_t maximoLineas = 5000;                 // lines handed on from a file that is far ahead
    std::chrono::milliseconds intervalo{250};   // how often the file is checked
    std::chrono::milliseconds reintento{2000};  // how often a failing log is tried again
    size_t maximoPendientes = 10000;            // window lines kept while the log fails
  };

  SeguidorLog(Lineas lineas, EstadoEscritura estado);
  SeguidorLog(Lineas lineas, EstadoEscritura estado, Opciones opciones);
  ~SeguidorLog();
  SeguidorLog(const SeguidorLog&) = delete;
  SeguidorLog& operator=(const SeguidorLog&) = delete;

  // Starts following today's file from its beginning (its last lines, within the bounds).
  void Iniciar();
  // Appends a line to the log soon, in the order given; never blocks on the disk.
  void Escribir(std::u16string mensaje);
  // Runs other file work of the window (loading pictures) on this thread, after the lines
  // given before it were tried. The task hands its result back itself.
  void Encargar(std::function<void()> tarea);
  // Writes what is still waiting (one attempt) and ends the thread.
  void Detener();

 private:
  void Ejecutar();
  // One turn of the thread: write, run the tasks, read, wait. False once it is to end.
  bool Vuelta(std::unique_lock<std::mutex>& lock);
  // Each step runs on the follower's thread.
  void EscribirPendientes(std::unique_lock<std::mutex>& lock);
  void Leer();
  void Informar(const std::u16string& error);

  Lineas lineas_;
  EstadoEscritura estado_;
  Opciones opciones_;

  std::mutex mutex_;
  std::condition_variable cambio_;
  std::deque<std::u16string> pendientes_;
  std::deque<std::function<void()>> tareas_;
  uint64_t descartados_ = 0;
  bool parar_ = false;
  std::thread hilo_;

  // Owned by the follower's thread.
  std::u16string archivo_;
  uint64_t posicion_ = 0;
  uint64_t inodo_ = 0;
  std::u16string errorInformado_;
  std::chrono::steady_clock::time_point proximoReintento_{};
};

}  // namespace kestrola
