#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/Connection.h"
#include "db/Recordset.h"

// The database module: the one shared connection to the queue database and its operations.
// Every database failure is written to the activity log (one line per provider error) and
// turned into a plain result; no operation raises a database error to its caller. A failure
// that repeats is written when it starts, then at most every ten minutes with a count, and
// once when the same kind of operation works again.
namespace kestrola::BaseDatos {

// Seconds a statement may run, set before every open.
inline constexpr int32_t kCommandTimeout = 100000;
// Rows each recordset takes from the driver at a time.
inline constexpr int32_t kCacheSize = 250;

// The program's one connection. Closed at start; opened by Conectar.
Connection& Conexion();
// The result of the last Conectar, stored there by the queue cycle.
extern bool Conectado;

// "server=" + server + ";driver={SQL Server};database=" + database.
std::u16string CadenaConexion(std::u16string_view server, std::u16string_view database);

// Opens Conexion (closing it first when open) with the connection string of server and
// database, and the user and password as their own attributes. False after logging the
// driver's errors when it does not open.
bool Conectar(std::u16string_view server, std::u16string_view database, std::u16string_view user,
              std::u16string_view password);
// A new recordset of the query, open on its first row; no object after logging the errors.
std::shared_ptr<Recordset> AbrirConsulta(std::u16string_view query, int cursorType, int lockType);
// Runs a statement; false after logging the errors.
bool Ejecutar(std::u16string_view statement);

// One transaction on Conexion: statements run between IniciarTransaccion and
// ConfirmarTransaccion take effect together, or not at all after DeshacerTransaccion. Each
// returns false after logging the errors; a confirmation that fails leaves nothing done.
bool IniciarTransaccion();
bool ConfirmarTransaccion();
bool DeshacerTransaccion();

// The driver's description of the last failure ("" before any), for the service's status.
std::u16string UltimoError();

// Closes Conexion and sets Conectado to false, and forgets the failures seen, as at the start
// of the process (for tests).
void Reiniciar();

// The logged-on user's login name (up to 24 characters), or the empty text.
std::u16string UsuarioWindows();

}  // namespace kestrola::BaseDatos
