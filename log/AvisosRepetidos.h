#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kestrola {

// Keeps a failure that repeats from flooding the activity log. A failure, named by a key, is
// written when it starts; while it goes on it is written again at most once per interval,
// with how many times it happened since; and once when it clears. Writing never raises: a log
// that cannot be written must not stop the work that reports to it.
class AvisosRepetidos {
 public:
  static constexpr std::chrono::minutes kIntervalo{10};

  explicit AvisosRepetidos(std::chrono::seconds intervalo = kIntervalo) : intervalo_(intervalo) {}
  AvisosRepetidos(AvisosRepetidos&& other) noexcept : intervalo_(other.intervalo_) {
    std::lock_guard lock(other.mutex_);
    activos_ = std::move(other.activos_);
  }
  AvisosRepetidos& operator=(AvisosRepetidos&& other) noexcept {
    if (this != &other) {
      std::scoped_lock lock(mutex_, other.mutex_);
      intervalo_ = other.intervalo_;
      activos_ = std::move(other.activos_);
    }
    return *this;
  }

  // The failure `clave` happened (again), reported as these log lines.
  void Fallo(const std::u16string& clave, const std::vector<std::u16string>& lineas);
  void Fallo(const std::u16string& clave, const std::u16string& linea) {
    Fallo(clave, std::vector<std::u16string>{linea});
  }
  // The failure `clave` is over: writes `linea` with how often it happened, when it was on.
  void Resuelto(const std::u16string& clave, const std::u16string& linea);
  // Every failure whose key begins with `prefijo` is over: one line for all of them.
  void ResueltosConPrefijo(const std::u16string& prefijo, const std::u16string& linea);
  // Forgets the failure `clave` without writing anything (another line already told the end).
  void Olvidar(const std::u16string& clave);
  bool Activo(const std::u16string& clave) const;

 private:
  struct Estado {
    std::chrono::system_clock::time_point desde;
    std::chrono::system_clock::time_point escrito;  // when it was last written
    int64_t veces = 0;                              // times it happened in all
    int64_t sinEscribir = 0;                        // times since it was last written
  };
  void ResolverLocked(std::map<std::u16string, Estado>::iterator it, const std::u16string& linea);

  std::chrono::seconds intervalo_;
  mutable std::mutex mutex_;
  std::map<std::u16string, Estado> activos_;
};

}  // namespace kestrola
