#include "db/Connection.h"

#include <sql.h>
#include <sqlext.h>

#include <langinfo.h>

#include <climits>
#include <clocale>
#include <cstring>

#include "db/ConnectionString.h"
#include "db/OdbcDiagnostics.h"
#include "db/OdbcHandle.h"
#include "runtime/Error.h"

namespace kestrola {

namespace {

// The process-wide ODBC environment (ODBC 3 behaviour). It is allocated on first use and lives
// as long as the process, like the connections made from it.
SQLHENV Environment() {
  static SQLHENV env = [] {
    // For drivers without wide-character entry points (SQLite's), the driver manager converts
    // our UTF-16 text to the character set of the process locale. Under the default "C"
    // locale that is ASCII and every other character would be lost, so text of the program
    // travels as UTF-8, the system encoding.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    SQLHENV handle = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
      throw Error(kErrProvider, u"ODBC", u"The ODBC environment could not be created");
    }
    SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return handle;
  }();
  return env;
}

}  // namespace

Connection::~Connection() {
  Close();
}

void Connection::SetCommandTimeout(int32_t seconds) {
  if (seconds < 0) throw Error::Standard(kErrInvalidCall, u"Connection");
  commandTimeout_ = seconds;
}

void Connection::SetConnectionTimeout(int32_t seconds) {
  if (seconds < 0) throw Error::Standard(kErrInvalidCall, u"Connection");
  connectionTimeout_ = seconds;
}

void Connection::Fail(int16_t handleType, void* handle, const char16_t* source) {
  std::vector<ProviderError> records = OdbcDiagnostics::Read(handleType, handle);
  errors_.insert(errors_.end(), records.begin(), records.end());
  std::u16string description;
  for (const ProviderError& e : errors_) {
    if (e.sqlState.size() == 5 && e.sqlState.substr(0, 2) != u"01") {
      description = e.description;
      break;
    }
  }
  if (description.empty() && !errors_.empty()) description = errors_.front().description;
  if (description.empty()) description = u"The ODBC call failed without a diagnostic record";
  throw Error(kErrProvider, source, description);
}

void Connection::CollectInfo(int16_t handleType, void* handle) {
  std::vector<ProviderError> records = OdbcDiagnostics::Read(handleType, handle);
  errors_.insert(errors_.end(), records.begin(), records.end());
}

void Connection::Open(std::u16string_view connectionString, std::u16string_view userId,
                      std::u16string_view password, int /*options*/) {
  errors_.clear();
  if (State() == adStateOpen) {
    throw Error::Standard(kErrObjectOpen, u"Connection");
  }
  std::u16string full = ConnectionString::WithCredentials(connectionString, userId, password);
  if (full.size() > SHRT_MAX) {
    throw Error(kErrInvalidCall, u"Connection", u"The connection string is too long");
  }
  SQLHENV env = Environment();
  ConnectionHandle handle;
  if (!handle.Allocate(env)) Fail(SQL_HANDLE_ENV, env, u"Connection");
  SQLHDBC dbc = handle.Get();
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(connectionTimeout_)), 0);
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(full.data()),
                                   static_cast<SQLSMALLINT>(full.size()), nullptr, 0, &outLength,
                                   SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    errors_ = OdbcDiagnostics::Read(SQL_HANDLE_DBC, dbc);
    std::u16string description =
        errors_.empty() ? u"The connection could not be opened" : errors_.front().description;
    throw Error(kErrProvider, u"Connection", description);
  }
  if (rc == SQL_SUCCESS_WITH_INFO) CollectInfo(SQL_HANDLE_DBC, dbc);
  dbc_ = handle.Release();
}

void Connection::Close() {
  if (dbc_ == nullptr) return;
  SQLHDBC dbc = dbc_;
  dbc_ = nullptr;
  if (!SQL_SUCCEEDED(SQLDisconnect(dbc))) {
    // An open transaction blocks the disconnect; it is rolled back first.
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void Connection::Execute(std::u16string_view commandText, int /*options*/) {
  errors_.clear();
  if (State() != adStateOpen) {
    throw Error::Standard(kErrObjectClosed, u"Connection");
  }
  if (commandText.size() > static_cast<size_t>(INT32_MAX)) {
    throw Error(kErrInvalidCall, u"Connection", u"The statement is too long");
  }
  StatementHandle handle;
  if (!handle.Allocate(dbc_)) Fail(SQL_HANDLE_DBC, dbc_, u"Connection");
  SQLHSTMT stmt = handle.Get();
  SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(commandTimeout_)), 0);
  std::u16string text(commandText);
  SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()),
                                static_cast<SQLINTEGER>(text.size()));
  // Every result of the statement is walked through, so that a failure in a later part of a
  // batch is reported too.
  while (true) {
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) Fail(SQL_HANDLE_STMT, stmt, u"Connection");
    if (rc == SQL_SUCCESS_WITH_INFO) CollectInfo(SQL_HANDLE_STMT, stmt);
    rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) break;
  }
}

void Connection::BeginTrans() {
  errors_.clear();
  if (State() != adStateOpen) {
    throw Error::Standard(kErrObjectClosed, u"Connection");
  }
  SQLRETURN rc = SQLSetConnectAttr(
      dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
  if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_, u"Connection");
  if (rc == SQL_SUCCESS_WITH_INFO) CollectInfo(SQL_HANDLE_DBC, dbc_);
}

void Connection::EndTrans(bool commit) {
  errors_.clear();
  if (State() != adStateOpen) {
    throw Error::Standard(kErrObjectClosed, u"Connection");
  }
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK);
  bool ended = SQL_SUCCEEDED(rc);
  if (!ended) {
    std::vector<ProviderError> records = OdbcDiagnostics::Read(SQL_HANDLE_DBC, dbc_);
    errors_.insert(errors_.end(), records.begin(), records.end());
    // A commit the server refused leaves the work undone; it is rolled back so that the
    // connection does not stay inside the failed transaction.
    if (commit) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  } else if (rc == SQL_SUCCESS_WITH_INFO) {
    CollectInfo(SQL_HANDLE_DBC, dbc_);
  }
  // Automatic commit comes back on whatever the outcome, for the statements that follow.
  SQLRETURN on = SQLSetConnectAttr(
      dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
  if (!ended) {
    std::u16string description =
        errors_.empty() ? u"The transaction could not be ended" : errors_.front().description;
    throw Error(kErrProvider, u"Connection", description);
  }
  if (!SQL_SUCCEEDED(on)) Fail(SQL_HANDLE_DBC, dbc_, u"Connection");
}

void Connection::CommitTrans() {
  EndTrans(true);
}

void Connection::RollbackTrans() {
  EndTrans(false);
}

bool Connection::IsConnectionLost() const {
  for (const ProviderError& e : errors_) {
    if (OdbcDiagnostics::IsConnectionLostState(e.sqlState)) return true;
  }
  if (dbc_ == nullptr) return false;
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLRETURN rc = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

}  // namespace kestrola
