#pragma once

#include <cstdint>
#include <string>

namespace kestrola {

// What the service window holds for the life of the program: the settings read from
// config.ini, the queue query of its terminal and the on/off flag, with the start-up steps
// that fill them.
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
  bool Activo = false;

  // Reads the six keys of config.ini in order (defaults for absent ones), writes all six back
  // in the same order, builds ConsultaCola and sets Activo. A "Terminal" that is not a 16-bit
  // integer raises kestrola::Error after the earlier keys were read and before anything is
  // written; Activo then stays as it was.
  void CargarConfiguracion();

  // The queue query of one terminal: the ready jobs of its available printers, oldest first.
  static std::u16string ConstruirConsultaCola(int16_t terminal);
};

}  // namespace kestrola
