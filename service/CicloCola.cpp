#include "service/CicloCola.h"

#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "db/BaseDatos.h"
#include "log/Log.h"
#include "printing/clsPrint.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {

std::u16string Numero(int64_t n) {
  return Text::FromUtf8(std::to_string(n));
}

// The text of a field for a log line; NULL and values without text show as such.
std::u16string TextoParaLog(const Variant& value) {
  if (value.IsNull()) return u"NULL";
  try {
    return value.ToText();
  } catch (const Error&) {
    return u"(sin texto)";
  }
}

}  // namespace

CicloCola::CicloCola(Pausa pausa) : pausa_(std::move(pausa)) {
  if (!pausa_) pausa_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
}

std::optional<int64_t> CicloCola::NumeroEntero(const Variant& value) {
  const auto& raw = value.Raw();
  if (auto p = std::get_if<int16_t>(&raw)) return *p;
  if (auto p = std::get_if<int32_t>(&raw)) return *p;
  if (auto p = std::get_if<uint8_t>(&raw)) return *p;
  if (auto p = std::get_if<Decimal>(&raw)) {
    unsigned __int128 scale = 1;
    for (int i = 0; i < p->Scale(); ++i) scale *= 10;
    if (p->Mantissa() % scale != 0) return std::nullopt;
    try {
      return p->ToInt64();
    } catch (const Error&) {
      return std::nullopt;
    }
  }
  double d;
  if (auto p = std::get_if<double>(&raw)) {
    d = *p;
  } else if (auto f = std::get_if<float>(&raw)) {
    d = *f;
  } else {
    return std::nullopt;
  }
  // Whole doubles inside the range where every integer is exact.
  constexpr double kExact = 9007199254740992.0;  // 2^53
  if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > kExact) return std::nullopt;
  return static_cast<int64_t>(d);
}

void CicloCola::Ejecutar(Servicio& datos) {
  try {
    Ciclo(datos);
  } catch (...) {
    try {
      Log::EscribirLog(u"Error desconocido en Timer");
    } catch (...) {
      // The log itself cannot be written: nothing else can report it.
    }
  }
}

void CicloCola::Omitir(const std::u16string& trabajo, const std::u16string& motivo) {
  std::u16string linea = u"Trabajo " + trabajo + u" no impreso: " + motivo;
  if (omitidos_.insert(linea).second) Log::EscribirLog(linea);
}

void CicloCola::Ciclo(Servicio& datos) {
  if (BaseDatos::Conexion().State() == adStateClosed) {
    BaseDatos::Conectado =
        BaseDatos::Conectar(datos.ServerDB, datos.NameDB, datos.UserDB, datos.PwdDB);
  }
  if (!datos.Activo || !BaseDatos::Conectado) return;

  std::shared_ptr<Recordset> cola =
      BaseDatos::AbrirConsulta(datos.ConsultaCola, adOpenStatic, adLockOptimistic);
  if (!cola) throw Error(kErrObjectClosed, u"Timer1", u"The queue could not be read");
  if (cola->RecordCount() <= 0) return;

  std::unique_ptr<clsPrint> impresora;
  while (!cola->Eof()) {
    // A stop made while the previous job printed or during the pause: no further job.
    if (!datos.Activo) return;
    if (!impresora) impresora = std::make_unique<clsPrint>();

    const Variant& idTrabajo = cola->Fields(u"idtrabajo");
    const Variant& idImpresora = cola->Fields(u"id_impresora");
    const Variant& device = cola->Fields(u"device");
    std::optional<int64_t> trabajo = NumeroEntero(idTrabajo);
    std::optional<int64_t> numeroImpresora = NumeroEntero(idImpresora);
    const std::u16string nombreTrabajo = TextoParaLog(idTrabajo);

    if (!trabajo) {
      Omitir(nombreTrabajo, u"el número de trabajo no es un entero");
    } else if (sinBorrar_.count(*trabajo) != 0) {
      // Printed earlier in this run; only the deletes are still owed.
      if (BorrarTrabajo(*trabajo)) sinBorrar_.erase(*trabajo);
    } else if (!numeroImpresora) {
      Omitir(nombreTrabajo,
             u"el número de impresora " + TextoParaLog(idImpresora) + u" no es un entero");
    } else if (device.IsNull()) {
      Omitir(nombreTrabajo, u"la impresora no tiene nombre (NULL)");
    } else if (impresora->setPrinter(device.ToText())) {
      const Variant& estado = cola->Fields(u"estado_impresora");
      if (!estado.IsNull() && estado.ToText() == u"A") {
        if (ImprimirTrabajo(datos, *impresora, *trabajo)) {
          if (!BorrarTrabajo(*trabajo)) sinBorrar_.insert(*trabajo);
        }
      }
    } else {
      BaseDatos::Ejecutar(
          u"update impresora set estado_impresora='D', redirigido=id_impresora_respaldo "
          u"where id_impresora=" +
          Numero(*numeroImpresora));
    }

    cola->MoveNext();
    pausa_(kPausa);
  }
}

bool CicloCola::ImprimirTrabajo(Servicio& datos, clsPrint& impresora, int64_t idTrabajo) {
  const std::u16string trabajo = Numero(idTrabajo);
  datos.ConsultaDetalle =
      u"select Datos from detallecolaimpresion"
      u" where idtrabajo=" +
      trabajo + u" order by idrenglon";
  std::shared_ptr<Recordset> renglones =
      BaseDatos::AbrirConsulta(datos.ConsultaDetalle, adOpenStatic, adLockOptimistic);
  if (!renglones) throw Error(kErrObjectClosed, u"Timer1", u"The job's lines could not be read");

  // Every line is checked before the first is printed, so that a job that would fail half-way
  // wastes no paper and does not hold up the jobs after it.
  std::vector<std::u16string> lineas;
  lineas.reserve(static_cast<size_t>(renglones->RecordCount()));
  for (int numero = 1; !renglones->Eof(); ++numero, renglones->MoveNext()) {
    const Variant& valor = renglones->Fields(u"Datos");
    const std::u16string renglon = u"renglón " + Numero(numero);
    if (valor.IsNull()) {
      Omitir(trabajo, u"el " + renglon + u" es NULL");
      return false;
    }
    std::u16string texto;
    try {
      texto = valor.ToText();
    } catch (const Error& e) {
      Omitir(trabajo, u"el " + renglon + u" no es texto: " + e.Description());
      return false;
    }
    if (std::optional<Error> error = clsPrint::CheckText(texto)) {
      Omitir(trabajo, u"el " + renglon + u" no se puede imprimir: " + error->Description());
      return false;
    }
    lineas.push_back(std::move(texto));
  }

  for (std::u16string& linea : lineas) impresora.PrintText(linea);
  impresora.EndDoc();
  return true;
}

bool CicloCola::BorrarTrabajo(int64_t idTrabajo) {
  const std::u16string trabajo = Numero(idTrabajo);
  if (!BaseDatos::IniciarTransaccion()) return false;
  bool borrado =
      BaseDatos::Ejecutar(u"delete from detallecolaimpresion where idtrabajo=" + trabajo) &&
      BaseDatos::Ejecutar(u"delete from colaimpresion where idtrabajo=" + trabajo);
  if (!borrado) {
    BaseDatos::DeshacerTransaccion();
    return false;
  }
  return BaseDatos::ConfirmarTransaccion();
}

}  // namespace kestrola
