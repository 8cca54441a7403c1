#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "log/ProviderError.h"

// The diagnostic records of the ODBC driver manager and drivers, as provider errors.
namespace kestrola::OdbcDiagnostics {

// One diagnostic record as a provider error. Line breaks inside the message become single
// blanks and trailing blanks are dropped, so that each record stays one log line.
ProviderError MakeProviderError(std::u16string_view sqlState, int32_t nativeError,
                                std::u16string_view message);

// Every diagnostic record of an ODBC handle (SQL_HANDLE_ENV/DBC/STMT and the handle), in the
// driver's order.
std::vector<ProviderError> Read(int16_t handleType, void* handle);

// True for the states that say the session with the server is gone: class 08 (connection
// exception) and PostgreSQL's 57P01 to 57P03 (server shutting down, crashed or not accepting
// connections), which it reports for the first statement after a shutdown.
bool IsConnectionLostState(std::u16string_view sqlState);

}  // namespace kestrola::OdbcDiagnostics
