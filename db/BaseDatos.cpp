#include "db/BaseDatos.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "db/ConnectionString.h"
#include "log/AvisosRepetidos.h"
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

// Database failures repeat every cycle while they last (a server that refuses logins, a table
// without permission): each is written when it starts, then at most every ten minutes with a
// count, and once when the operation works again.
AvisosRepetidos& Avisos() {
  static AvisosRepetidos avisos;
  return avisos;
}

std::mutex gUltimoMutex;
std::u16string gUltimoError;

constexpr char16_t kConectar[] = u"db:conectar\n";
constexpr char16_t kConsulta[] = u"db:consulta\n";
constexpr char16_t kInstruccion[] = u"db:instruccion\n";
constexpr char16_t kTransaccion[] = u"db:transaccion\n";

// What every operation does when it fails: log the provider's records, and when the session
// with the server is gone, close the connection so that the next cycle reconnects instead of
// failing on a connection that only reports itself open.
void LogFailure(const char16_t* operacion) {
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
  std::vector<ProviderError> errors = conn.Errors();
  if (errors.empty()) return;
  std::vector<std::u16string> lineas;
  std::u16string clave = operacion;
  for (const ProviderError& e : errors) {
    lineas.push_back(Text::FromUtf8(std::to_string(e.nativeError)) + e.description + e.sqlState);
    clave += lineas.back() + u'\n';
  }
  {
    std::lock_guard lock(gUltimoMutex);
    gUltimoError.clear();
    for (const auto& e : errors) {
      if (!gUltimoError.empty()) gUltimoError += u"; ";
      gUltimoError += Log::UnaLinea(e.description) + u" (" + e.sqlState + u")";
    }
  }
  Avisos().Fallo(clave, lineas);
}

void Funciona(const char16_t* operacion, const char16_t* mensaje) {
  Avisos().ResueltosConPrefijo(operacion, mensaje);
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
    Funciona(kConectar, u"Conexión con la base de datos restablecida");
    return true;
  } catch (const Error&) {
    LogFailure(kConectar);
    return false;
  }
}

std::shared_ptr<Recordset> AbrirConsulta(std::u16string_view query, int cursorType, int lockType) {
  try {
    auto recordset = std::make_shared<Recordset>();
    recordset->SetCacheSize(kCacheSize);
    recordset->Open(query, Conexion(), cursorType, lockType, adCmdUnspecified);
    Funciona(kConsulta, u"Las consultas a la base de datos funcionan de nuevo");
    return recordset;
  } catch (const Error&) {
    LogFailure(kConsulta);
    return nullptr;
  }
}

bool Ejecutar(std::u16string_view statement) {
  try {
    Conexion().Execute(statement, adCmdUnspecified);
    Funciona(kInstruccion, u"Las instrucciones en la base de datos funcionan de nuevo");
    return true;
  } catch (const Error&) {
    LogFailure(kInstruccion);
    return false;
  }
}

bool IniciarTransaccion() {
  try {
    Conexion().BeginTrans();
    Funciona(kTransaccion, u"Las transacciones en la base de datos funcionan de nuevo");
    return true;
  } catch (const Error&) {
    LogFailure(kTransaccion);
    return false;
  }
}

bool ConfirmarTransaccion() {
  try {
    Conexion().CommitTrans();
    Funciona(kTransaccion, u"Las transacciones en la base de datos funcionan de nuevo");
    return true;
  } catch (const Error&) {
    LogFailure(kTransaccion);
    return false;
  }
}

bool DeshacerTransaccion() {
  try {
    Conexion().RollbackTrans();
    Funciona(kTransaccion, u"Las transacciones en la base de datos funcionan de nuevo");
    return true;
  } catch (const Error&) {
    LogFailure(kTransaccion);
    return false;
  }
}

std::u16string UltimoError() {
  std::lock_guard lock(gUltimoMutex);
  return gUltimoError;
}

void Reiniciar() {
  Conexion().Close();
  Conectado = false;
  Avisos() = AvisosRepetidos();
  std::lock_guard lock(gUltimoMutex);
  gUltimoError.clear();
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
