#include "service/CicloCola.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "db/BaseDatos.h"
#include "log/Log.h"
#include "printing/clsPrint.h"
#include "runtime/Application.h"
#include "runtime/DataFile.h"
#include "runtime/Error.h"
#include "runtime/Hex.h"
#include "runtime/Text.h"
#include "runtime/UniqueFd.h"

namespace kestrola {

namespace {

using Situacion = EstadoImpresora::Situacion;

std::u16string Numero(int64_t n) {
  return Text::FromUtf8(std::to_string(n));
}

std::u16string Segundos(std::chrono::seconds s) {
  return Numero(s.count()) + u" s";
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

std::optional<std::u16string> Texto(const Variant& value) {
  if (value.IsNull()) return std::nullopt;
  try {
    return value.ToText();
  } catch (const Error&) {
    return std::nullopt;
  }
}

// A value for a statement: NULL, a number, or a quoted text.
std::u16string Sql(const std::optional<std::u16string>& text) {
  if (!text) return u"NULL";
  std::u16string out = u"'";
  for (char16_t c : *text) {
    out += c;
    if (c == u'\'') out += u'\'';
  }
  return out + u"'";
}
std::u16string Sql(const std::optional<int64_t>& n) {
  return n ? Numero(*n) : u"NULL";
}

// The cause of a printer failure without the "Printer "NAME": " the printing layer puts first.
std::u16string Causa(const Error& e, const std::u16string& dispositivo) {
  const std::u16string prefijo = u"Printer \"" + dispositivo + u"\": ";
  std::u16string d = e.Description();
  if (d.compare(0, prefijo.size(), prefijo) == 0) d.erase(0, prefijo.size());
  return d;
}

// "Caja (tcp://10.0.0.5:9100)", or the bare name of a printer that is not installed.
std::u16string Nombre(const std::u16string& dispositivo, const std::u16string& destino) {
  return destino.empty() ? dispositivo : dispositivo + u" (" + destino + u")";
}

// The fields of the state file are separated by tabs; these characters are written escaped.
std::u16string Escapar(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) {
    if (c == u'%' || c == u'\t' || c == u'\n' || c == u'\r') {
      out += u'%' + Hex::Text<char16_t>(c, 2);
    } else {
      out += c;
    }
  }
  return out;
}
std::u16string Desescapar(std::u16string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'%' && i + 2 < s.size()) {
      // Escapar writes upper-case digits only; anything else after a "%" is kept as it is.
      auto digit = [](char16_t c) { return c >= u'a' ? -1 : Hex::Digit(c); };
      int high = digit(s[i + 1]), low = digit(s[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char16_t>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::optional<int64_t> Entero(const std::u16string& s) {
  if (s == u"NULL" || s.empty()) return std::nullopt;
  try {
    size_t used = 0;
    long long v = std::stoll(Text::ToUtf8(s), &used);
    if (used != s.size()) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Writes a log line; a log that cannot be written must not undo what the line reports.
void Anotar(const std::u16string& linea) {
  try {
    Log::EscribirLog(linea);
  } catch (const std::exception&) {
    // The log's own failure (error 75, or no memory): the window's status line reports it.
  }
}

std::string ArchivoRedirigidas() {
  return Text::ToUtf8(Application::DataPath() + u"/" + CicloCola::kArchivoRedirigidas);
}

}  // namespace

CicloCola::CicloCola(Pausa pausa) : CicloCola(std::move(pausa), Tiempos{}) {}

CicloCola::CicloCola(Pausa pausa, Tiempos tiempos)
    : pausa_(std::move(pausa)), tiempos_(std::move(tiempos)) {
  if (!pausa_) pausa_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
  if (tiempos_.espera.empty()) tiempos_.espera.push_back(std::chrono::seconds(60));
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

CicloCola::Instante CicloCola::Ahora() const {
  return reloj_ ? reloj_() : Log::Ahora();
}

void CicloCola::Ejecutar(Servicio& datos) {
  try {
    Ciclo(datos);
    catalogo_.reset();
    avisos_.Resuelto(u"timer", u"El ciclo de impresión funciona de nuevo");
  } catch (...) {
    // The edge of the timer: any failure of the cycle (database, printer, file, memory) ends
    // this cycle only; it is logged as the system has always logged it and the next tick
    // starts afresh.
    catalogo_.reset();
    avisos_.Fallo(u"timer", u"Error desconocido en Timer");
  }
}

void CicloCola::Omitir(const std::u16string& trabajo, const std::u16string& motivo) {
  std::u16string linea = u"Trabajo " + trabajo + u" no impreso: " + motivo;
  if (omitidos_.insert(linea).second) Log::EscribirLog(linea);
}

void CicloCola::Publicar(const std::u16string& dispositivo, int64_t id,
                         const std::u16string& destino, Situacion situacion,
                         const std::u16string& causa, const std::u16string& redirigidaA) {
  if (!estado_) return;
  const Instante ahora = Ahora();
  estado_->Actualizar([&](FotoEstado& foto) {
    EstadoImpresora* e = nullptr;
    for (auto& i : foto.impresoras) {
      if (i.nombre == dispositivo) e = &i;
    }
    if (!e) {
      foto.impresoras.push_back({});
      e = &foto.impresoras.back();
      e->nombre = dispositivo;
      e->desde = ahora;
    }
    if (e->situacion != situacion) e->desde = ahora;
    e->id = id;
    if (!destino.empty()) e->destino = destino;
    e->situacion = situacion;
    e->causa = causa;
    e->redirigidaA = redirigidaA;
  });
}

const Printers::Catalog& CicloCola::Catalogo() {
  if (!catalogo_) {
    catalogo_ = std::make_unique<Printers::PinnedCatalog>();
    const Printers::Catalog& c = catalogo_->Get();
    for (const auto& problema : c.problems) {
      avisos_.Fallo(u"config:" + problema, u"Configuración de impresoras: " + problema);
    }
    if (c.problems.empty()) {
      avisos_.ResueltosConPrefijo(u"config:", u"Configuración de impresoras correcta de nuevo");
    }
  }
  return catalogo_->Get();
}

void CicloCola::Ciclo(Servicio& datos) {
  CargarRedirigidas();
  if (BaseDatos::Conexion().State() == adStateClosed) {
    BaseDatos::Conectado =
        BaseDatos::Conectar(datos.ServerDB, datos.NameDB, datos.UserDB, datos.PwdDB);
    if (estado_) {
      const bool conectado = BaseDatos::Conectado;
      const std::u16string causa = conectado ? std::u16string() : BaseDatos::UltimoError();
      const Instante ahora = Ahora();
      estado_->Actualizar([&](FotoEstado& foto) {
        foto.conectado = conectado;
        foto.causaConexion = causa;
        if (conectado) {
          foto.sinConexionDesde.reset();
        } else if (!foto.sinConexionDesde) {
          foto.sinConexionDesde = ahora;
        }
      });
    }
  }
  if (!datos.Activo || !BaseDatos::Conectado) return;

  Sondear();

  std::shared_ptr<Recordset> cola =
      BaseDatos::AbrirConsulta(datos.ConsultaCola, adOpenStatic, adLockOptimistic);
  if (!cola) throw Error(kErrObjectClosed, u"Timer1", u"The queue could not be read");
  const int64_t enEspera = cola->RecordCount();
  if (estado_) estado_->Actualizar([&](FotoEstado& f) { f.trabajosEnEspera = enEspera; });
  if (enEspera <= 0) return;

  std::unique_ptr<clsPrint> impresora;
  while (!cola->Eof()) {
    // A stop made while the previous job printed or during the pause: no further job.
    if (!datos.Activo) return;
    if (!impresora) impresora = std::make_unique<clsPrint>();
    const bool atendido = Trabajo(datos, *cola, *impresora);
    cola->MoveNext();
    if (atendido) pausa_(kPausa);
  }
}

bool CicloCola::Trabajo(Servicio& datos, Recordset& cola, clsPrint& impresora) {
  const Variant& idTrabajo = cola.Fields(u"idtrabajo");
  const Variant& idImpresora = cola.Fields(u"id_impresora");
  const Variant& device = cola.Fields(u"device");
  std::optional<int64_t> trabajo = NumeroEntero(idTrabajo);
  std::optional<int64_t> numeroImpresora = NumeroEntero(idImpresora);
  const std::u16string nombreTrabajo = TextoParaLog(idTrabajo);

  if (!trabajo) {
    Omitir(nombreTrabajo, u"el número de trabajo no es un entero");
    return true;
  }
  const std::u16string huella = Huella(cola);
  if (SoloFaltaBorrar(datos, *trabajo, huella)) return true;

  if (!numeroImpresora) {
    Omitir(nombreTrabajo,
           u"el número de impresora " + TextoParaLog(idImpresora) + u" no es un entero");
    return true;
  }
  if (device.IsNull()) {
    Omitir(nombreTrabajo, u"la impresora no tiene nombre (NULL)");
    return true;
  }
  const Fila fila{*trabajo, nombreTrabajo, *numeroImpresora, device.ToText(),
                  NumeroEntero(cola.Fields(u"redirigido"))};
  if (EnEspera(fila)) return false;

  const Printers::Catalog& catalogo = Catalogo();
  if (!impresora.setPrinter(fila.dispositivo)) return NoSeleccionada(fila, catalogo);
  avisos_.Olvidar(u"config-impresora:" + fila.dispositivo);

  const Variant& estado = cola.Fields(u"estado_impresora");
  if (estado.IsNull() || estado.ToText() != u"A") return true;

  Printer& printer = *Printers::Current();
  const std::u16string destino = printer.Destination().Uri();
  for (const auto& mal : catalogo.misconfigured) {
    if (mal == fila.dispositivo) {
      avisos_.Fallo(u"config-impresora:" + fila.dispositivo,
                    u"Trabajo " + fila.nombre + u" en espera: la impresora " + fila.dispositivo +
                        u" tiene una URI no válida en printers.ini; no se redirige");
      return false;
    }
  }

  std::optional<std::vector<std::u16string>> lineas = Renglones(datos, *trabajo, true);
  if (!lineas) return true;
  Imprimir(fila, impresora, printer, destino, *lineas, huella);
  return true;
}

std::u16string CicloCola::Huella(Recordset& cola) {
  std::u16string huella;
  for (const char16_t* campo : {u"fechahora", u"usuario", u"tipo", u"id_impresora"}) {
    huella += TextoParaLog(cola.Fields(campo));
    huella += u'\0';
  }
  return huella;
}

std::u16string CicloCola::Completa(const std::u16string& huella,
                                   const std::vector<std::u16string>& lineas) {
  std::u16string completa = huella;
  for (const auto& l : lineas) {
    completa += l;
    completa += u'\0';
  }
  return completa;
}

bool CicloCola::SoloFaltaBorrar(Servicio& datos, int64_t trabajo, const std::u16string& huella) {
  auto owed = sinBorrar_.find(trabajo);
  if (owed == sinBorrar_.end()) return false;
  std::optional<std::vector<std::u16string>> lineas = Renglones(datos, trabajo, false);
  const std::u16string completa =
      Completa(huella, lineas.value_or(std::vector<std::u16string>{u"\uFFFF"}));
  if (completa == owed->second) {
    // Printed earlier in this run; only the deletes are still owed.
    if (BorrarTrabajo(trabajo)) sinBorrar_.erase(owed);
    return true;
  }
  // Another job under the same number: the printed one is gone.
  sinBorrar_.erase(owed);
  return false;
}

bool CicloCola::EnEspera(const Fila& fila) {
  const Instante ahora = Ahora();
  auto f = fallos_.find(fila.dispositivo);
  if (f == fallos_.end() || ahora >= f->second.proximo) return false;
  if (ahora - f->second.desde >= tiempos_.redirigirTras) {
    Redirigir(fila.impresora, fila.dispositivo, f->second.destino, f->second.causa);
  }
  return true;
}

bool CicloCola::NoSeleccionada(const Fila& fila, const Printers::Catalog& catalogo) {
  if (!catalogo.complete) {
    // The printer may be missing only because the configuration is faulty: failing it over
    // would mark it down in the database every terminal shares.
    avisos_.Fallo(u"config-impresora:" + fila.dispositivo,
                  u"Trabajo " + fila.nombre + u" en espera: la impresora " + fila.dispositivo +
                      u" no está entre las instaladas y la configuración de impresoras tiene "
                      u"errores; no se redirige");
    return false;
  }
  Redirigir(fila.impresora, fila.dispositivo, {}, u"no está instalada");
  return true;
}

void CicloCola::Imprimir(const Fila& fila, clsPrint& impresora, Printer& printer,
                         const std::u16string& destino, const std::vector<std::u16string>& lineas,
                         const std::u16string& huella) {
  const std::u16string completa = Completa(huella, lineas);
  const int64_t idPublicado = fila.efectiva.value_or(fila.impresora);

  // A document left half-built by an earlier failure must not begin this one.
  printer.DiscardDocument();
  try {
    for (std::u16string linea : lineas) impresora.PrintText(linea);
    impresora.EndDoc();
  } catch (const Error& e) {
    // The job stays whole in the queue; the printer waits for its next try.
    printer.DiscardDocument();
    FalloImpresora(fila.dispositivo, destino, fila.trabajo, Causa(e, fila.dispositivo));
    const Fallo& fallo = fallos_[fila.dispositivo];
    Publicar(fila.dispositivo, idPublicado, destino, Situacion::Fallando, fallo.causa);
    if (Ahora() - fallo.desde >= tiempos_.redirigirTras) {
      Redirigir(fila.impresora, fila.dispositivo, destino, fallo.causa);
    }
    return;
  }
  ImpresoraFunciona(fila.dispositivo, destino);
  Publicar(fila.dispositivo, idPublicado, destino, Situacion::Lista, {});
  if (estado_) {
    const Instante hora = Ahora();
    const int64_t numero = fila.trabajo;
    estado_->Actualizar([&](FotoEstado& f) {
      f.ultimoTrabajo = numero;
      f.ultimoTrabajoHora = hora;
    });
  }
  if (!BorrarTrabajo(fila.trabajo)) sinBorrar_[fila.trabajo] = completa;
}

std::optional<std::vector<std::u16string>> CicloCola::Renglones(Servicio& datos, int64_t idTrabajo,
                                                                bool informar) {
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
      if (informar) Omitir(trabajo, u"el " + renglon + u" es NULL");
      return std::nullopt;
    }
    std::u16string texto;
    try {
      texto = valor.ToText();
    } catch (const Error& e) {
      if (informar) Omitir(trabajo, u"el " + renglon + u" no es texto: " + e.Description());
      return std::nullopt;
    }
    if (informar) {
      if (std::optional<Error> error = clsPrint::CheckText(texto)) {
        Omitir(trabajo, u"el " + renglon + u" no se puede imprimir: " + error->Description());
        return std::nullopt;
      }
    }
    lineas.push_back(std::move(texto));
  }
  return lineas;
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

void CicloCola::FalloImpresora(const std::u16string& dispositivo, const std::u16string& destino,
                               int64_t idTrabajo, const std::u16string& causa) {
  const Instante ahora = Ahora();
  auto [it, nuevo] = fallos_.try_emplace(dispositivo);
  Fallo& f = it->second;
  if (nuevo) f.desde = ahora;
  const size_t paso = std::min(static_cast<size_t>(f.intentos), tiempos_.espera.size() - 1);
  ++f.intentos;
  f.proximo = ahora + tiempos_.espera[paso];
  f.causa = causa;
  f.destino = destino;
  avisos_.Fallo(u"impresora:" + dispositivo,
                u"Trabajo " + Numero(idTrabajo) + u" no impreso en la impresora " +
                    Nombre(dispositivo, destino) + u": " + causa + u"; queda en la cola, " +
                    u"nuevo intento en " + Segundos(tiempos_.espera[paso]));
}

void CicloCola::ImpresoraFunciona(const std::u16string& dispositivo,
                                  const std::u16string& destino) {
  if (fallos_.erase(dispositivo) == 0) return;
  avisos_.Resuelto(u"impresora:" + dispositivo,
                   u"La impresora " + Nombre(dispositivo, destino) + u" imprime de nuevo");
}

void CicloCola::Redirigir(int64_t idImpresora, const std::u16string& dispositivo,
                          const std::u16string& destino, const std::u16string& causa) {
  auto it = redirigidas_.find(idImpresora);
  if (it == redirigidas_.end()) {
    // What the printer holds now is what a recovery puts back; it is kept on disk before the
    // printer is changed, so that a restart does not leave it down for good.
    std::shared_ptr<Recordset> rs = BaseDatos::AbrirConsulta(
        u"select estado_impresora, redirigido, id_impresora_respaldo from impresora"
        u" where id_impresora=" +
            Numero(idImpresora),
        adOpenStatic, adLockOptimistic);
    if (!rs || rs->Eof()) return;
    Redirigida r;
    r.dispositivo = dispositivo;
    r.estadoAntes = Texto(rs->Fields(u"estado_impresora"));
    r.redirigidoAntes = NumeroEntero(rs->Fields(u"redirigido"));
    r.respaldo = NumeroEntero(rs->Fields(u"id_impresora_respaldo"));
    r.proximoSondeo = Ahora() + tiempos_.sondeo;
    it = redirigidas_.emplace(idImpresora, std::move(r)).first;
    GuardarRedirigidas();
  }
  if (!BaseDatos::Ejecutar(
          u"update impresora set estado_impresora='D', redirigido=id_impresora_respaldo "
          u"where id_impresora=" +
          Numero(idImpresora))) {
    return;
  }
  const std::u16string respaldo =
      it->second.respaldo ? Numero(*it->second.respaldo) : u"ninguna (sin respaldo)";
  avisos_.Fallo(u"redirigida:" + Numero(idImpresora),
                u"Impresora " + Numero(idImpresora) + u" " + Nombre(dispositivo, destino) +
                    u" marcada D, redirigida a " + respaldo + u": " + causa);
  Publicar(dispositivo, idImpresora, destino, Situacion::Redirigida, causa, respaldo);
}

void CicloCola::Sondear() {
  const Instante ahora = Ahora();
  for (auto& [id, r] : redirigidas_) {
    if (ahora < r.proximoSondeo) continue;
    r.proximoSondeo = ahora + tiempos_.sondeo;
    std::shared_ptr<Printer> printer;
    for (const auto& p : Catalogo().printers) {
      if (p->DeviceName() == r.dispositivo) printer = p;
    }
    if (!printer) return;  // still not installed
    try {
      printer->Destination().Probe(r.dispositivo);
    } catch (const Error&) {
      return;
    }
    Restaurar(id, printer->Destination().Uri());
    return;  // one probe per cycle keeps the cycle short
  }
}

void CicloCola::Restaurar(int64_t idImpresora, const std::u16string& destino) {
  Redirigida r = redirigidas_.at(idImpresora);
  const std::u16string id = Numero(idImpresora);
  std::shared_ptr<Recordset> rs = BaseDatos::AbrirConsulta(
      u"select estado_impresora, redirigido from impresora where id_impresora=" + id, adOpenStatic,
      adLockOptimistic);
  if (!rs) return;
  const std::u16string nombre = u"Impresora " + id + u" " + Nombre(r.dispositivo, destino);
  if (rs->Eof()) {
    Anotar(nombre + u" responde de nuevo, pero ya no está en la base de datos");
  } else {
    const std::optional<std::u16string> estado = Texto(rs->Fields(u"estado_impresora"));
    const std::optional<int64_t> redirigido = NumeroEntero(rs->Fields(u"redirigido"));
    if (estado == std::u16string(u"D") && redirigido == r.respaldo) {
      // Only the values this copy set are replaced: a change made meanwhile by someone else
      // makes the update touch nothing.
      if (!BaseDatos::Ejecutar(u"update impresora set estado_impresora=" + Sql(r.estadoAntes) +
                               u", redirigido=" + Sql(r.redirigidoAntes) + u" where id_impresora=" +
                               id + u" and estado_impresora='D' and " +
                               (r.respaldo ? u"redirigido=" + Numero(*r.respaldo)
                                           : std::u16string(u"redirigido is null")))) {
        return;
      }
      Anotar(nombre + u" responde de nuevo: estado_impresora " + Sql(r.estadoAntes) +
             u" y redirigido " + Sql(r.redirigidoAntes) + u" restaurados");
    } else {
      Anotar(nombre + u" responde de nuevo, pero otro la cambió (estado_impresora " + Sql(estado) +
             u", redirigido " + Sql(redirigido) + u"); no se toca");
    }
  }
  redirigidas_.erase(idImpresora);
  GuardarRedirigidas();
  fallos_.erase(r.dispositivo);
  avisos_.Olvidar(u"redirigida:" + id);
  avisos_.Olvidar(u"impresora:" + r.dispositivo);
  Publicar(r.dispositivo, idImpresora, destino, Situacion::Lista, {});
}

void CicloCola::CargarRedirigidas() {
  if (redirigidasCargadas_) return;
  redirigidasCargadas_ = true;
  // Read like the other files of the data directory: never through a link or from a stranger.
  std::string bytes;
  std::u16string error;
  if (!DataFile::ReadAll(ArchivoRedirigidas(), bytes, error)) {
    if (!error.empty()) Anotar(error);
    return;
  }
  std::istringstream in(bytes);
  std::string raw;
  size_t numero = 0;
  while (std::getline(in, raw)) {
    ++numero;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw.empty() || raw[0] == '#') continue;
    std::vector<std::u16string> campos;
    std::u16string linea = Text::FromUtf8(raw);
    size_t inicio = 0;
    for (size_t tab; (tab = linea.find(u'\t', inicio)) != std::u16string::npos; inicio = tab + 1) {
      campos.push_back(linea.substr(inicio, tab - inicio));
    }
    campos.push_back(linea.substr(inicio));
    std::optional<int64_t> id = campos.size() == 5 ? Entero(campos[0]) : std::nullopt;
    if (!id) {
      Anotar(Text::FromUtf8(ArchivoRedirigidas()) + u" línea " +
             Numero(static_cast<int64_t>(numero)) + u": no se entiende; se ignora");
      continue;
    }
    Redirigida r;
    if (campos[1] != u"NULL") r.estadoAntes = Desescapar(campos[1]);
    r.redirigidoAntes = Entero(campos[2]);
    r.respaldo = Entero(campos[3]);
    r.dispositivo = Desescapar(campos[4]);
    r.proximoSondeo = Instante{};  // probed at once after a restart
    redirigidas_[*id] = std::move(r);
  }
}

void CicloCola::GuardarRedirigidas() {
  const std::string archivo = ArchivoRedirigidas();
  if (redirigidas_.empty()) {
    ::unlink(archivo.c_str());
    return;
  }
  std::u16string texto =
      u"# Impresoras que esta copia redirigió: id, estado y redirigido de antes, respaldo, "
      u"dispositivo\n";
  for (const auto& [id, r] : redirigidas_) {
    texto += Numero(id) + u"\t" + (r.estadoAntes ? Escapar(*r.estadoAntes) : u"NULL") + u"\t" +
             Sql(r.redirigidoAntes) + u"\t" + Sql(r.respaldo) + u"\t" + Escapar(r.dispositivo) +
             u"\n";
  }
  // Written whole under another name and then renamed, so a power cut leaves the old list or
  // the new one, never half of one.
  const std::string bytes = Text::ToUtf8(texto);
  const std::string nuevo = archivo + ".new";
  // A fresh file, never one planted under the temporary name (a link would redirect the write).
  ::unlink(nuevo.c_str());
  UniqueFd fd(::open(nuevo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660));
  bool ok = fd.Valid() && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
  if (fd.Close() != 0) ok = false;
  if (ok && ::rename(nuevo.c_str(), archivo.c_str()) == 0) {
    avisos_.Olvidar(u"guardar-redirigidas");
    return;
  }
  ::unlink(nuevo.c_str());
  avisos_.Fallo(u"guardar-redirigidas",
                u"No se puede escribir " + Text::FromUtf8(archivo) +
                    u": las impresoras redirigidas no se restaurarán tras un reinicio");
}

}  // namespace kestrola
