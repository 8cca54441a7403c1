#include "service/Servicio.h"

#include "db/BaseDatos.h"
#include "runtime/Application.h"
#include "runtime/Convert.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "service/INI.h"

namespace kestrola {

void Servicio::CargarConfiguracion() {
  ArchivoConfig = Application::DataPath() + u"/config.ini";
  Seccion = u"Kestrola";

  ServicioActivo = Convert::NumberToText(
      Convert::Val(INI::LeerINI(ArchivoConfig, Seccion, u"ServicioActivo", u"1")));
  ServerDB = INI::LeerINI(ArchivoConfig, Seccion, u"ServerDB", u"(local)");
  NameDB = INI::LeerINI(ArchivoConfig, Seccion, u"NameDB", u"master");
  std::u16string usuario = BaseDatos::UsuarioWindows();
  UserDB = INI::LeerINI(ArchivoConfig, Seccion, u"UserDB", usuario);
  PwdDB = INI::LeerINI(ArchivoConfig, Seccion, u"PwdDB", u"");
  ErrorConfiguracion.clear();
  std::u16string textoTerminal = INI::LeerINI(ArchivoConfig, Seccion, u"Terminal", u"1");
  try {
    Terminal = Convert::ToInteger(textoTerminal);
  } catch (const Error& e) {
    ErrorConfiguracion =
        u"Terminal=" + textoTerminal + u" en config.ini no se puede usar: " +
        (e.Number() == kErrOverflow ? u"el número de terminal debe estar entre -32768 y 32767"
                                    : u"el número de terminal debe ser un número entero");
    throw;
  }
  std::u16string terminal = Text::FromUtf8(std::to_string(Terminal));

  INI::EscribirINI(ArchivoConfig, Seccion, u"ServicioActivo", ServicioActivo);
  INI::EscribirINI(ArchivoConfig, Seccion, u"ServerDB", ServerDB);
  INI::EscribirINI(ArchivoConfig, Seccion, u"NameDB", NameDB);
  INI::EscribirINI(ArchivoConfig, Seccion, u"UserDB", UserDB);
  INI::EscribirINI(ArchivoConfig, Seccion, u"PwdDB", PwdDB);
  INI::EscribirINI(ArchivoConfig, Seccion, u"Terminal", terminal);

  ConsultaCola = ConstruirConsultaCola(Terminal);
  Activo = Convert::Val(ServicioActivo) != 0;
}

std::u16string Servicio::ConstruirConsultaCola(int16_t terminal) {
  return u"select idtrabajo,fechahora,usuario,tipo,imp.id_impresora,imp.nombre_impresora,"
         u"red.puerto,red.modo,imp.redirigido, "
         u" red.comentario as device, red.estado_impresora"
         u" from colaimpresion cola"
         u" inner join impresora imp on imp.id_impresora = cola.id_impresora"
         u" inner join impresora red on red.id_impresora = imp.redirigido"
         u" where escribiendo=0 and red.estado_impresora='A' and red.id_terminal=" +
         Text::FromUtf8(std::to_string(terminal)) + u" order by cola.idtrabajo";
}

}  // namespace kestrola
