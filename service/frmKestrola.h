#pragma once

#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "service/BotonGrafico.h"
#include "service/Servicio.h"

namespace kestrola {

// The service window: the on/off button, today's activity log and the one-second timer that
// drives the print queue. Its fields (settings, queue query, on/off flag) live in Datos().
class frmKestrola : public QMainWindow {
 public:
  // One queue cycle, run on each timer tick while the service is on.
  using Ciclo = std::function<void(frmKestrola&)>;
  // Counts the running copies of an executable name (ContarInstancias by default).
  using Contador = std::function<int16_t(const std::u16string&)>;

  explicit frmKestrola(QWidget* parent = nullptr);

  // Start-up: ends at once (Terminar() turns true) when another copy runs; otherwise shows
  // today's log, loads config.ini and switches the timer on or off. Errors are logged as
  // "Error desconocido en Form Load".
  void Form_Load();
  // The on/off switch: logs "Servicio Detenido" / "Servicio Activo", stops or starts the
  // timer, swaps the button's pictures and shows the log again.
  void cmdService_Click();
  // One tick: runs the queue cycle unless one is still running. Errors are logged as
  // "Error desconocido en Timer".
  void Timer1_Timer();

  // True when Form_Load found another copy of the program: the window must not show.
  bool Terminar() const { return terminar_; }

  Servicio& Datos() { return datos_; }
  const Servicio& Datos() const { return datos_; }
  void SetCiclo(Ciclo ciclo) { ciclo_ = std::move(ciclo); }
  void SetContador(Contador contador) { contador_ = std::move(contador); }

  // Fills txtActividad with the text of LeerLog and scrolls to its newest line.
  void MostrarActividad(const std::u16string& textoLog);
  // LeerLog's text (each line framed by carriage returns) as one line per log line.
  static std::u16string TextoParaMostrar(const std::u16string& textoLog);

  // Waits while the window keeps repainting and taking clicks: the pause between jobs.
  static void EsperarProcesandoEventos(std::chrono::milliseconds espera);

  BotonGrafico* cmdService;
  QPlainTextEdit* txtActividad;
  QTimer* Timer1;

 protected:
  // Closing the window switches the service off, so that a cycle waiting between jobs starts
  // no further job and the program can end.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CargarImagenes(const char16_t* picture, const char16_t* downPicture);

  Servicio datos_;
  Ciclo ciclo_;
  Contador contador_;
  bool terminar_ = false;
  bool enCiclo_ = false;
};

}  // namespace kestrola
