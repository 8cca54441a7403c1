#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "log/AvisosRepetidos.h"
#include "printing/Printers.h"
#include "runtime/Variant.h"
#include "service/EstadoServicio.h"
#include "service/Servicio.h"

namespace kestrola {

class Printer;
class Recordset;
class clsPrint;

// One print-queue cycle: reads the ready jobs of the terminal, prints each on its printer,
// deletes it, and fails a printer that cannot be selected over to its backup.
//
// A printer that fails while printing keeps its job whole in the queue and does not hold up
// the jobs of other printers: it is tried again after a back-off (jobs of a printer waiting
// for its next try are passed over), and once it has failed for `redirigirTras` it is failed
// over to its backup like an unselectable printer. Every printer this copy failed over is
// listed in a small file in the application directory and probed every `sondeo`; once it
// answers, its state and redirection are set back to what they were. A printer marked down by
// anyone else is never touched. A faulty printers.ini fails no printer over.
//
// What a cycle remembers for the rest of the run: the printers that fail, jobs that cannot be
// printed (logged once, then skipped), and jobs printed whose deletes failed (not printed
// again; only their deletes are retried while the row is the same job).
class CicloCola {
 public:
  // Waits between jobs. The window's pause keeps handling events while it waits.
  using Pausa = std::function<void(std::chrono::milliseconds)>;
  // The time by which back-off, failover and probes are measured.
  using Reloj = std::function<std::chrono::system_clock::time_point()>;

  struct Tiempos {
    // Waits before the next try after the first, second, ... failure; the last repeats.
    std::vector<std::chrono::seconds> espera{std::chrono::seconds(5), std::chrono::seconds(15),
                                             std::chrono::seconds(30), std::chrono::seconds(60)};
    // How long a printer fails before it is failed over to its backup.
    std::chrono::seconds redirigirTras{60};
    // How often a printer this copy failed over is probed.
    std::chrono::seconds sondeo{30};
  };

  static constexpr std::chrono::milliseconds kPausa{1000};
  // The file in the application directory that lists the printers this copy failed over.
  static constexpr char16_t kArchivoRedirigidas[] = u"impresoras_redirigidas.txt";

  // With no pause given, the thread sleeps.
  explicit CicloCola(Pausa pausa = {});
  CicloCola(Pausa pausa, Tiempos tiempos);

  // One cycle for the window's settings and on/off flag. Traps and logs its own failures.
  // A cycle checks datos.Activo before every job, so a stop made during the pause ends it.
  void Ejecutar(Servicio& datos);

  // Where the cycle reports what it is doing; null for nowhere.
  void SetEstado(EstadoServicio* estado) { estado_ = estado; }
  // The clock of back-off, failover and probes; empty for the log's clock.
  void SetReloj(Reloj reloj) { reloj_ = std::move(reloj); }

  // A value of the database as a whole number; nothing for NULL, text, fractions and numbers
  // beyond 64 bits.
  static std::optional<int64_t> NumeroEntero(const Variant& value);

 private:
  using Instante = std::chrono::system_clock::time_point;

  // A printer device that failed while printing.
  struct Fallo {
    Instante desde;
    Instante proximo;  // no try before this
    int intentos = 0;
    std::u16string causa;
    std::u16string destino;
  };
  // A printer this copy failed over, with what it held before.
  struct Redirigida {
    std::u16string dispositivo;
    std::optional<std::u16string> estadoAntes;
    std::optional<int64_t> redirigidoAntes;
    std::optional<int64_t> respaldo;  // the redirigido this copy set
    Instante proximoSondeo{};
  };

  // A queue row whose job and printer numbers and device name could be read.
  struct Fila {
    int64_t trabajo;
    std::u16string nombre;  // the job number as the log shows it
    int64_t impresora;
    std::u16string dispositivo;
    std::optional<int64_t> efectiva;  // the printer the job is redirected to, if any
  };

  void Ciclo(Servicio& datos);
  // Handles one queue row; false when the job was passed over without being handled.
  bool Trabajo(Servicio& datos, Recordset& cola, clsPrint& impresora);
  // What identifies a job beyond its number, which the database may give to a new job once
  // this one is deleted.
  static std::u16string Huella(Recordset& cola);
  // The fingerprint and the lines of a job, as remembered for a job whose deletes failed.
  static std::u16string Completa(const std::u16string& huella,
                                 const std::vector<std::u16string>& lineas);
  // True when the row is a job printed earlier in this run whose deletes are still owed (they
  // are retried); forgets the debt when the number now belongs to another job.
  bool SoloFaltaBorrar(Servicio& datos, int64_t trabajo, const std::u16string& huella);
  // True when the row's printer waits for its next try after failing; one that has failed
  // long enough is failed over to its backup.
  bool EnEspera(const Fila& fila);
  // A printer that cannot be selected: failed over to its backup (true), or left alone while
  // printers.ini is faulty (false: the job was passed over).
  bool NoSeleccionada(const Fila& fila, const Printers::Catalog& catalogo);
  // Prints the lines and deletes the job; a printer failure keeps the job whole in the queue.
  void Imprimir(const Fila& fila, clsPrint& impresora, Printer& printer,
                const std::u16string& destino, const std::vector<std::u16string>& lineas,
                const std::u16string& huella);
  const Printers::Catalog& Catalogo();
  // The lines of a job, or nothing (logged once when `informar`) when one is not text.
  std::optional<std::vector<std::u16string>> Renglones(Servicio& datos, int64_t idTrabajo,
                                                       bool informar);
  // Deletes the job's lines and the job in one transaction; true when both are gone.
  static bool BorrarTrabajo(int64_t idTrabajo);
  // Logs once per run that a job is left in the queue, and why.
  void Omitir(const std::u16string& trabajo, const std::u16string& motivo);

  void FalloImpresora(const std::u16string& dispositivo, const std::u16string& destino,
                      int64_t idTrabajo, const std::u16string& causa);
  void ImpresoraFunciona(const std::u16string& dispositivo, const std::u16string& destino);
  // Fails printer idImpresora over to its backup and remembers what it held before.
  void Redirigir(int64_t idImpresora, const std::u16string& dispositivo,
                 const std::u16string& destino, const std::u16string& causa);
  // Probes at most one printer this copy failed over whose probe is due.
  void Sondear();
  void Restaurar(int64_t idImpresora, const std::u16string& destino);
  void CargarRedirigidas();
  void GuardarRedirigidas();

  Instante Ahora() const;
  void Publicar(const std::u16string& dispositivo, int64_t id, const std::u16string& destino,
                EstadoImpresora::Situacion situacion, const std::u16string& causa,
                const std::u16string& redirigidaA = {});

  Pausa pausa_;
  Tiempos tiempos_;
  Reloj reloj_;
  EstadoServicio* estado_ = nullptr;
  AvisosRepetidos avisos_;
  std::set<std::u16string> omitidos_;
  // Printed jobs whose deletes failed, with the row and lines that identify the job.
  std::map<int64_t, std::u16string> sinBorrar_;
  std::map<std::u16string, Fallo> fallos_;
  std::map<int64_t, Redirigida> redirigidas_;
  bool redirigidasCargadas_ = false;
  // The installed printers, read at most once per cycle and only when needed.
  std::unique_ptr<Printers::PinnedCatalog> catalogo_;
};

}  // namespace kestrola
