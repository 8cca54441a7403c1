#pragma once

#include <QImage>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/BotonGrafico.h"
#include "service/EstadoServicio.h"
#include "service/LineaEstado.h"
#include "service/SeguidorLog.h"
#include "service/Servicio.h"
#include "service/TrabajadorCola.h"

namespace kestrola {

// The service window: the on/off button, today's activity log, the status line and the
// one-second timer that drives the print queue. Its fields (settings, queue query, on/off
// flag) live in Datos().
//
// Threads: everything here runs on the window's thread and does no waiting I/O once the
// window shows. The queue cycle runs on the worker (TrabajadorCola); each timer tick only
// asks it for a cycle. The log is written and followed by SeguidorLog's thread, which hands
// new lines back through queued calls. Start-up (Form_Load) reads config.ini and makes today's
// log file on this thread, before the window shows.
//
// Failures: the service logs and shows, and nothing leaves a handler. Form_Load traps every
// failure of its body and logs "Error desconocido en Form Load" (then the setting to fix);
// the button shows what failed in a message box; a queue cycle's failure is logged as "Error
// desconocido en Timer" (CicloCola::Ejecutar, with TrabajadorCola's thread as the last net). A
// log that cannot be written is named on the status line, and once in a message box when it
// starts failing.
class frmKestrola : public QMainWindow {
 public:
  // One queue cycle; runs on the worker thread.
  using Ciclo = TrabajadorCola::Ciclo;
  // Counts the running copies of an executable name (ContarInstancias by default).
  using Contador = std::function<int16_t(const std::u16string&)>;

  // Lines the activity box keeps; older ones scroll away.
  static constexpr int kLineasActividad = 5000;

  explicit frmKestrola(QWidget* parent = nullptr);
  // Stops the service and its threads (see DetenerServicio).
  ~frmKestrola() override;

  // Start-up: ends at once (Terminar() turns true) when another copy runs; otherwise shows
  // today's log, loads config.ini and switches the timer on or off. Errors are logged as
  // "Error desconocido en Form Load"; a setting that cannot be used gets a line of its own
  // and shows in the status line.
  void Form_Load();
  // The on/off switch: logs "Servicio Detenido" / "Servicio Activo", stops or starts the
  // timer, swaps the button's pictures. Works whether or not the log can be written. The log
  // line and the pictures' files are handled on the I/O thread; the pictures change when read.
  void cmdService_Click();
  // One tick: asks the worker for a queue cycle. A tick while a cycle runs is kept for when it
  // ends; cycle errors are logged as "Error desconocido en Timer".
  void Timer1_Timer();

  // Ends the service for good: no further job starts, and the job being delivered gets
  // Trabajador().EsperaCierre() to finish. True when the worker ended; false when it is still
  // blocked (the job then stays whole in the queue and the process should end at once).
  bool DetenerServicio();

  // True when Form_Load found another copy of the program: the window must not show.
  bool Terminar() const { return terminar_; }

  Servicio& Datos() { return *datos_; }
  const Servicio& Datos() const { return *datos_; }
  // What the status line shows; the queue cycle reports into it.
  const std::shared_ptr<EstadoServicio>& Estado() const { return estado_; }
  TrabajadorCola& Trabajador() { return *trabajador_; }
  void SetCiclo(Ciclo ciclo) { trabajador_->SetCiclo(std::move(ciclo)); }
  void SetContador(Contador contador) { contador_ = std::move(contador); }

  // LeerLog's text (each line framed by carriage returns) as one line per log line.
  static std::u16string TextoParaMostrar(const std::u16string& textoLog);

  BotonGrafico* cmdService;
  QPlainTextEdit* txtActividad;
  QTimer* Timer1;
  LineaEstado* lblEstado;

 protected:
  // Closing the window switches the service off, so that the worker starts no further job and
  // the program can end.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CargarImagenes(const char16_t* picture, const char16_t* downPicture);
  void PonerImagenes(uint64_t turno, const QImage& up, const QImage& down,
                     const std::u16string& upPath, const std::u16string& downPath);
  // Appends lines from the log follower; `nuevoArchivo` replaces what the box showed.
  void AgregarActividad(const std::vector<std::u16string>& lineas, bool nuevoArchivo);
  // The log's write state changed (on the window's thread).
  void CambioEstadoLog(const std::u16string& error);
  void MostrarEstado();

  std::shared_ptr<Servicio> datos_;
  std::shared_ptr<EstadoServicio> estado_;
  std::unique_ptr<TrabajadorCola> trabajador_;
  std::unique_ptr<SeguidorLog> seguidor_;
  QTimer* refresco_;
  Contador contador_;
  bool terminar_ = false;
  bool actividadVacia_ = true;
  bool avisoLog_ = false;
  uint64_t turnoImagenes_ = 0;
};

}  // namespace kestrola
