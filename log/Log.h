#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "log/ProviderError.h"

// The activity log: one plain-text file a day, log_yyyymmdd.log in the application data
// directory (Application::DataPath). Every operation opens the day's file, does its work and
// closes it again. A symbolic link or a file of a foreign owner in the file's place is refused
// (error 75 with a message that names the file and the reason); the log never writes through it.
//
// A log line is the local date and time as "yyyy-mm-dd hh:mm:ss" immediately followed by the
// message and a carriage return and line feed. Files are UTF-8.
//
// Failures to open, write or read the file raise kestrola::Error (number 75, path/file access
// error) to the caller; only CrearDirectorio traps its own errors.
//
// Every operation may be called from any thread: the service's threads (window, queue worker,
// log follower) write lines concurrently, each line with one append.
namespace kestrola::Log {

// Appends one line: the current date and time immediately followed by the message. Control
// characters inside the message (CR, LF, TAB, ...) are replaced, so that a value taken from
// the database or a driver cannot break the line or forge another one.
void EscribirLog(std::u16string_view message);
// The message as one line: CR, LF and TAB become blanks, other control characters "?".
std::u16string UnaLinea(std::u16string_view message);
// One line per record, in order: native error, description and SQL state, no separators.
void EscribirErrores(const std::vector<ProviderError>& errors);
// Today's file as display text: each line framed by carriage returns. Creates the file
// (beginning with one empty line) when it is missing.
std::u16string LeerLog();
// Opens today's file for appending (created when missing), creating the application
// directory first when it is missing.
std::ofstream AbrirLog();
// Creates every missing level of `path`; true when the directory exists afterwards.
bool CrearDirectorio(const std::u16string& path);

// Full path of the log file of the day that holds `when` (local time).
std::u16string NombreArchivo(std::chrono::system_clock::time_point when);
// The date-time text that starts every log line (local time, "yyyy-mm-dd hh:mm:ss").
std::u16string FechaHora(std::chrono::system_clock::time_point when);

// With the echo on, EscribirLog also writes each line (without its CR LF) to standard output,
// so that a supervisor or the system journal collects it. Off by default.
void SetEcho(bool on);

// Creates today's file (beginning with one empty line, as LeerLog does) when it is missing.
void CrearArchivoDelDia();

// The complete lines appended to a log file from byte `desde` on, for following it as it
// grows. Only the last `maximo` lines are kept, and only about the last `maximoBytes` bytes
// are read, so memory stays bounded whatever the file's size. A line still being written
// (no line end yet) is left for the next call. `inodo` is the file's identity returned by the
// previous call (0 when unknown): a file replaced by another one is read from its start.
struct Fragmento {
  std::vector<std::u16string> lineas;
  uint64_t siguiente = 0;   // where the next call starts
  uint64_t inodo = 0;       // the file's identity, for the next call
  bool recortado = false;   // older lines were skipped to respect the bounds
  bool reiniciado = false;  // the file was replaced or cut short: read from its start
};
Fragmento LeerDesde(const std::u16string& archivo, uint64_t desde, size_t maximo,
                    uint64_t maximoBytes = uint64_t{8} << 20, uint64_t inodo = 0);

// How the last attempt to write the log went, from any thread: empty after a line was
// written, otherwise the reason it could not be.
std::u16string ErrorEscritura();
// Opens today's file for appending and closes it, writing nothing, to learn whether a failing
// log works again; ErrorEscritura tells the result.
void ProbarEscritura();

// The current time as the log sees it.
std::chrono::system_clock::time_point Ahora();

// The clock the log reads; tests replace it to cross midnight. An empty function restores
// the system clock.
using Clock = std::function<std::chrono::system_clock::time_point()>;
void SetClock(Clock clock);
// The time by the log's clock.
std::chrono::system_clock::time_point Ahora();

}  // namespace kestrola::Log
