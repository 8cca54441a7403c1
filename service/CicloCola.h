#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "runtime/Variant.h"
#include "service/Servicio.h"

namespace kestrola {

class Recordset;

// One print-queue cycle: reads the ready jobs of the terminal, prints each on its printer,
// deletes it, and fails a printer that cannot be selected over to its backup. Every failure
// that ends a cycle is logged as "Error desconocido en Timer".
//
// What a cycle remembers for the rest of the run: jobs that cannot be printed (already logged,
// skipped without a new log line) and jobs printed whose deletes failed (not printed again;
// only their deletes are retried).
class CicloCola {
 public:
  // Waits between jobs. The window's pause keeps handling events while it waits.
  using Pausa = std::function<void(std::chrono::milliseconds)>;

  static constexpr std::chrono::milliseconds kPausa{1000};

  // With no pause given, the thread sleeps.
  explicit CicloCola(Pausa pausa = {});

  // One cycle for the window's settings and on/off flag. Traps and logs its own failures.
  // A cycle checks datos.Activo before every job, so a stop made during the pause ends it.
  void Ejecutar(Servicio& datos);

  // A value of the database as a whole number; nothing for NULL, text, fractions and numbers
  // beyond 64 bits.
  static std::optional<int64_t> NumeroEntero(const Variant& value);

 private:
  void Ciclo(Servicio& datos);
  // Prints one job whose printer is selected. False when the job cannot be printed.
  bool ImprimirTrabajo(Servicio& datos, class clsPrint& impresora, int64_t idTrabajo);
  // Deletes the job's lines and the job in one transaction; true when both are gone.
  static bool BorrarTrabajo(int64_t idTrabajo);
  // Logs once per run that a job is left in the queue, and why.
  void Omitir(const std::u16string& trabajo, const std::u16string& motivo);

  Pausa pausa_;
  std::set<std::u16string> omitidos_;
  std::set<int64_t> sinBorrar_;
};

}  // namespace kestrola
