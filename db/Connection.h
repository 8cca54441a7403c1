#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/ProviderError.h"
#include "runtime/Error.h"

namespace kestrola {

// Connection states.
inline constexpr int adStateClosed = 0;
inline constexpr int adStateOpen = 1;
// Options value that leaves the choice to the provider (a synchronous open or command).
inline constexpr int adConnectUnspecified = -1;
inline constexpr int adCmdUnspecified = -1;

class Recordset;

// A connection to a database through the ODBC driver manager (wide-character calls).
// Every failure raises kestrola::Error and leaves the driver's diagnostic records in Errors()
// until the next call.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Seconds a statement may run; applied to every statement. 0 means no limit.
  int32_t CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int32_t seconds);
  // Seconds an open may take to log in. 0 means no limit.
  int32_t ConnectionTimeout() const { return connectionTimeout_; }
  void SetConnectionTimeout(int32_t seconds);

  // adStateClosed (0) or adStateOpen (1).
  int State() const { return dbc_ != nullptr ? adStateOpen : adStateClosed; }

  // Opens the connection: the connection string followed by the user and the password as their
  // own attributes. Raises error 3705 when the connection is already open.
  void Open(std::u16string_view connectionString, std::u16string_view userId,
            std::u16string_view password, int options = adConnectUnspecified);
  // Closes the connection; nothing happens when it is closed. Never fails: a connection the
  // server has dropped is released all the same.
  void Close();
  // Runs a statement; any rows it returns are discarded.
  void Execute(std::u16string_view commandText, int options = adCmdUnspecified);

  // Transactions: BeginTrans turns automatic commit off, so that the statements after it form
  // one unit; CommitTrans and RollbackTrans end that unit and turn automatic commit back on.
  // Each raises kestrola::Error when the connection is closed or the driver refuses.
  void BeginTrans();
  void CommitTrans();
  void RollbackTrans();

  // The diagnostic records of the last call, in the provider's order.
  const std::vector<ProviderError>& Errors() const { return errors_; }

  // After a failed call: true when the session with the server is gone, that is when the driver
  // reports the connection dead or a record of Errors() has a connection-lost state. Such a
  // connection fails every further call until it is closed and opened again.
  bool IsConnectionLost() const;

 private:
  friend class Recordset;
  void* Handle() const { return dbc_; }
  // Collects the records of a handle into Errors() and raises the error for them.
  [[noreturn]] void Fail(int16_t handleType, void* handle, const char16_t* source);
  void CollectInfo(int16_t handleType, void* handle);
  void EndTrans(bool commit);

  void* dbc_ = nullptr;
  int32_t commandTimeout_ = 30;
  int32_t connectionTimeout_ = 15;
  std::vector<ProviderError> errors_;
};

}  // namespace kestrola
