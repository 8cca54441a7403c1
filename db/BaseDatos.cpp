#include "db/BaseDatos.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>

#include "db/ConnectionString.h"
#include "log/Log.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola::BaseDatos {

bool Conectado = false;

Connection& Conexion() {
  static Connection connection;
  return connection;
}

namespace {

// What every operation does when it fails: log the provider's records, and when the session
// with the server is gone, close the connection so that the next cycle reconnects instead of
// failing on a connection that only reports itself open.
void LogFailure() {
  Connection& conn = Conexion();
  const bool lost = conn.State() == adStateOpen && conn.IsConnectionLost();
  struct CloseWhenLost {
    bool lost;
    ~CloseWhenLost() {
      if (lost) Conexion().Close();
    }
  } closer{lost};
  // A log that cannot be written must not turn the failure into an error of the caller: the
  // operation still reports false, so that a transaction left open is rolled back and a
  // printed job is not printed again.
  try {
    Log::EscribirErrores(conn.Errors());
  } catch (const Error&) {
  }
}

}  // namespace

std::u16string CadenaConexion(std::u16string_view server, std::u16string_view database) {
  return ConnectionString::Build(server, database);
}

bool Conectar(std::u16string_view server, std::u16string_view database, std::u16string_view user,
              std::u16string_view password) {
  try {
    Connection& conn = Conexion();
    conn.SetCommandTimeout(kCommandTimeout);
    if (conn.State() == adStateOpen) conn.Close();
    conn.Open(CadenaConexion(server, database), user, password, adConnectUnspecified);
    return true;
  } catch (const Error&) {
    LogFailure();
    return false;
  }
}

std::shared_ptr<Recordset> AbrirConsulta(std::u16string_view query, int cursorType, int lockType) {
  try {
    auto recordset = std::make_shared<Recordset>();
    recordset->SetCacheSize(kCacheSize);
    recordset->Open(query, Conexion(), cursorType, lockType, adCmdUnspecified);
    return recordset;
  } catch (const Error&) {
    LogFailure();
    return nullptr;
  }
}

bool Ejecutar(std::u16string_view statement) {
  try {
    Conexion().Execute(statement, adCmdUnspecified);
    return true;
  } catch (const Error&) {
    LogFailure();
    return false;
  }
}

bool IniciarTransaccion() {
  try {
    Conexion().BeginTrans();
    return true;
  } catch (const Error&) {
    LogFailure();
    return false;
  }
}

bool ConfirmarTransaccion() {
  try {
    Conexion().CommitTrans();
    return true;
  } catch (const Error&) {
    LogFailure();
    return false;
  }
}

bool DeshacerTransaccion() {
  try {
    Conexion().RollbackTrans();
    return true;
  } catch (const Error&) {
    LogFailure();
    return false;
  }
}

void Reiniciar() {
  Conexion().Close();
  Conectado = false;
}

std::u16string UsuarioWindows() {
  // A 25-character buffer: a name of up to 24 characters comes back whole, a longer one
  // leaves the buffer untouched and the result empty.
  char buffer[25] = {};
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) {
    size_t n = std::strlen(pw->pw_name);
    if (n < sizeof buffer) std::memcpy(buffer, pw->pw_name, n);
  }
  return Text::FromUtf8(buffer);
}

}  // namespace kestrola::BaseDatos
