#include "log/AvisosRepetidos.h"

#include <algorithm>
#include <exception>

#include "log/Log.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {

void Escribir(const std::u16string& linea) {
  try {
    Log::EscribirLog(linea);
  } catch (const std::exception&) {
    // The log itself cannot be written (error 75, or no memory): nothing else can report it.
  }
}

std::u16string Numero(int64_t n) {
  return Text::FromUtf8(std::to_string(n));
}

}  // namespace

void AvisosRepetidos::Fallo(const std::u16string& clave,
                            const std::vector<std::u16string>& lineas) {
  std::lock_guard lock(mutex_);
  const auto ahora = Log::Ahora();
  auto it = activos_.find(clave);
  if (it == activos_.end()) {
    activos_[clave] = Estado{ahora, ahora, 1, 0};
    for (const auto& l : lineas) Escribir(l);
    return;
  }
  Estado& e = it->second;
  ++e.veces;
  ++e.sinEscribir;
  // A clock set back counts as the interval having passed, so the failure is not hidden.
  if (ahora - e.escrito >= intervalo_ || ahora < e.escrito) {
    const std::u16string nota = u" (se repite: " + Numero(e.sinEscribir) + u" veces desde " +
                                Log::FechaHora(e.escrito) + u")";
    for (const auto& l : lineas) Escribir(l + nota);
    e.escrito = ahora;
    e.sinEscribir = 0;
  }
}

void AvisosRepetidos::ResolverLocked(std::map<std::u16string, Estado>::iterator it,
                                     const std::u16string& linea) {
  const Estado e = it->second;
  activos_.erase(it);
  Escribir(linea + u" (tras " + Numero(e.veces) + (e.veces == 1 ? u" fallo" : u" fallos") +
           u" desde " + Log::FechaHora(e.desde) + u")");
}

void AvisosRepetidos::Resuelto(const std::u16string& clave, const std::u16string& linea) {
  std::lock_guard lock(mutex_);
  auto it = activos_.find(clave);
  if (it != activos_.end()) ResolverLocked(it, linea);
}

void AvisosRepetidos::ResueltosConPrefijo(const std::u16string& prefijo,
                                          const std::u16string& linea) {
  std::lock_guard lock(mutex_);
  auto it = activos_.lower_bound(prefijo);
  if (it == activos_.end() || it->first.compare(0, prefijo.size(), prefijo) != 0) return;
  // One line for all of them: they began with the earliest and were seen as often as the most
  // frequent (they are usually found together).
  Estado todos = it->second;
  todos.veces = 0;
  while (it != activos_.end() && it->first.compare(0, prefijo.size(), prefijo) == 0) {
    todos.veces = std::max(todos.veces, it->second.veces);
    todos.desde = std::min(todos.desde, it->second.desde);
    it = activos_.erase(it);
  }
  auto [uno, _] = activos_.emplace(prefijo, todos);
  ResolverLocked(uno, linea);
}

void AvisosRepetidos::Olvidar(const std::u16string& clave) {
  std::lock_guard lock(mutex_);
  activos_.erase(clave);
}

bool AvisosRepetidos::Activo(const std::u16string& clave) const {
  std::lock_guard lock(mutex_);
  return activos_.count(clave) != 0;
}

}  // namespace kestrola
