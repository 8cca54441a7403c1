#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrola {

// What the service window holds for the life of the program: the settings read from
// config.ini, the queue query of its terminal and the on/off flag, with the start-up steps
// that fill them.
//
// Threads: the window's thread fills the settings and ConsultaCola at start-up, before the
// queue worker runs its first cycle, and never changes them afterwards; the worker only reads
// them. ConsultaDetalle belongs to the worker. Activo is written by the window (the button,
// closing) and read by the worker before every job, so it is atomic.
class Servicio {
 public:
  std::u16string ArchivoConfig;  // the application directory followed by "/config.ini"
  std::u16string Seccion;        // always "Kestrola"
  std::u16string ServicioActivo;
  std::u16string ServerDB;
  std::u16string NameDB;
  std::u16string UserDB;
  std::u16string PwdDB;
  int16_t Terminal = 0;
  std::u16string ConsultaCola;
  std::u16string ConsultaDetalle;
  std::atomic<bool> Activo = false;
  // Why a setting of config.ini cannot be used ("Terminal=abc en config.ini ..."); empty when
  // every setting read so far is fine. Set by CargarConfiguracion before it raises.
  std::u16string ErrorConfiguracion;

  // Reads the six keys of config.ini in order (defaults for absent ones), writes all six back
  // in the same order, builds ConsultaCola and sets Activo. A "Terminal" that is not a 16-bit
  // integer raises kestrola::Error after the earlier keys were read and before anything is
  // written, with ErrorConfiguracion naming the key, the value and why; Activo then stays as
  // it was.
  void CargarConfiguracion();

  // The queue query of one terminal: the ready jobs of its available printers, oldest first.
  static std::u16string ConstruirConsultaCola(int16_t terminal);
};

}  // namespace kestrola
