#include "service/LineaEstado.h"

#include <cstdio>
#include <ctime>

#include "runtime/Text.h"

namespace kestrola {

namespace {

using Reloj = std::chrono::system_clock;

std::tm Local(Reloj::time_point t) {
  std::time_t tt = Reloj::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return tm;
}

// "las 10:32:05" today, "el 08/12/2026 a las 23:59:10" on another day.
std::u16string Momento(Reloj::time_point t, Reloj::time_point ahora) {
  std::tm a = Local(t);
  std::tm b = Local(ahora);
  char text[64];
  if (a.tm_year == b.tm_year && a.tm_yday == b.tm_yday) {
    std::snprintf(text, sizeof text, "las %02d:%02d:%02d", a.tm_hour, a.tm_min, a.tm_sec);
  } else {
    std::snprintf(text, sizeof text, "el %02d/%02d/%04d a las %02d:%02d:%02d", a.tm_mday,
                  a.tm_mon + 1, a.tm_year + 1900, a.tm_hour, a.tm_min, a.tm_sec);
  }
  return Text::FromUtf8(text);
}

std::u16string Numero(int64_t n) {
  return Text::FromUtf8(std::to_string(n));
}

std::u16string Causa(const std::u16string& causa) {
  return causa.empty() ? u"" : u" (" + causa + u")";
}

std::u16string Impresora(const EstadoImpresora& imp, Reloj::time_point ahora) {
  std::u16string nombre = imp.nombre.empty() ? u"n.º " + Numero(imp.id) : imp.nombre;
  std::u16string linea = u"Impresora " + nombre + u": ";
  switch (imp.situacion) {
    case EstadoImpresora::Situacion::Lista:
      linea += u"lista";
      break;
    case EstadoImpresora::Situacion::Fallando:
      linea += u"falla desde " + Momento(imp.desde, ahora) + Causa(imp.causa);
      break;
    case EstadoImpresora::Situacion::Redirigida:
      linea += u"redirigida a " + (imp.redirigidaA.empty() ? u"su respaldo" : imp.redirigidaA) +
               u" desde " + Momento(imp.desde, ahora) + Causa(imp.causa);
      break;
  }
  return linea;
}

QString ToQt(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

LineaEstado::LineaEstado(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("lblEstado"));
  setWordWrap(true);
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void LineaEstado::Mostrar(const FotoEstado& foto) {
  QString texto = ToQt(Texto(foto, Reloj::now()));
  if (texto != text()) setText(texto);
  QString estilo = HayProblema(foto) ? QStringLiteral("color: #b00020;") : QString();
  if (estilo != styleSheet()) setStyleSheet(estilo);
}

bool LineaEstado::HayProblema(const FotoEstado& foto) {
  if (!foto.errorConfiguracion.empty() || !foto.errorLog.empty()) return true;
  if (foto.sinConexionDesde) return true;
  for (const auto& imp : foto.impresoras) {
    if (imp.situacion != EstadoImpresora::Situacion::Lista) return true;
  }
  return false;
}

std::u16string LineaEstado::Texto(const FotoEstado& foto, Reloj::time_point ahora) {
  std::u16string texto;
  auto linea = [&texto](const std::u16string& l) {
    if (!texto.empty()) texto += u'\n';
    texto += l;
  };

  if (!foto.errorConfiguracion.empty()) {
    linea(u"No se puede iniciar: " + foto.errorConfiguracion);
  }

  std::u16string servicio = foto.servicioActivo ? u"Servicio activo" : u"Servicio detenido";
  if (foto.conectado) {
    servicio += u" · Base de datos conectada";
  } else if (foto.sinConexionDesde) {
    servicio += u" · Sin base de datos desde " + Momento(*foto.sinConexionDesde, ahora) +
                Causa(foto.causaConexion);
  } else if (foto.servicioActivo) {
    servicio += u" · Base de datos: conectando";
  }
  linea(servicio);

  for (const auto& imp : foto.impresoras) linea(Impresora(imp, ahora));

  if (foto.servicioActivo || foto.trabajosEnEspera > 0 || foto.ultimoTrabajo) {
    std::u16string trabajos = u"Trabajos en espera: " + Numero(foto.trabajosEnEspera);
    if (foto.ultimoTrabajo) {
      trabajos += u" · Último impreso: n.º " + Numero(*foto.ultimoTrabajo);
      if (foto.ultimoTrabajoHora) trabajos += u" a " + Momento(*foto.ultimoTrabajoHora, ahora);
    } else {
      trabajos += u" · Ninguno impreso todavía";
    }
    linea(trabajos);
  }

  if (!foto.errorLog.empty()) {
    linea(u"La bitácora no se puede escribir (" + foto.errorLog + u"); se reintenta");
  }
  return texto;
}

}  // namespace kestrola
