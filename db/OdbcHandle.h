#pragma once

#include <sql.h>

namespace kestrola {

// Frees one ODBC handle of the given type (SQL_HANDLE_STMT, SQL_HANDLE_DBC, ...) when it goes
// out of scope, so that every path out of a database call, a thrown error included, gives the
// handle back to the driver.
template <SQLSMALLINT Type>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  explicit OdbcHandle(SQLHANDLE handle) : handle_(handle) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  ~OdbcHandle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(Type, handle_);
  }
  SQLHANDLE Get() const { return handle_; }
  // Allocates the handle under `parent` (an environment for a connection, a connection for a
  // statement); false when the driver manager refuses, with the reason on `parent`.
  bool Allocate(SQLHANDLE parent) { return SQL_SUCCEEDED(SQLAllocHandle(Type, parent, &handle_)); }
  // Gives the handle up without freeing it.
  SQLHANDLE Release() {
    SQLHANDLE h = handle_;
    handle_ = SQL_NULL_HANDLE;
    return h;
  }

 private:
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using StatementHandle = OdbcHandle<SQL_HANDLE_STMT>;
using ConnectionHandle = OdbcHandle<SQL_HANDLE_DBC>;

}  // namespace kestrola
