#include "db/OdbcDiagnostics.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <string>

namespace kestrola::OdbcDiagnostics {

ProviderError MakeProviderError(std::u16string_view sqlState, int32_t nativeError,
                                std::u16string_view message) {
  ProviderError error;
  error.nativeError = nativeError;
  error.sqlState = std::u16string(sqlState.substr(0, sqlState.find(u'\0')));
  std::u16string& text = error.description;
  text.reserve(message.size());
  bool inBreak = false;
  for (char16_t c : message) {
    if (c == u'\0') break;
    if (c == u'\r' || c == u'\n') {
      if (!inBreak && !text.empty() && text.back() != u' ') text += u' ';
      inBreak = true;
      continue;
    }
    inBreak = false;
    text += c;
  }
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.pop_back();
  return error;
}

std::vector<ProviderError> Read(int16_t handleType, void* handle) {
  std::vector<ProviderError> errors;
  if (handle == nullptr) return errors;
  std::u16string message(1024, u'\0');
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native,
                                  reinterpret_cast<SQLWCHAR*>(message.data()),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      // The message was cut: read the same record again with room for all of it.
      message.assign(static_cast<size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(handleType, handle, record, state, &native,
                          reinterpret_cast<SQLWCHAR*>(message.data()),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    size_t used = std::min(static_cast<size_t>(length < 0 ? 0 : length), message.size());
    errors.push_back(
        MakeProviderError(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5), native,
                          std::u16string_view(message.data(), used)));
  }
  return errors;
}

bool IsConnectionLostState(std::u16string_view sqlState) {
  if (sqlState.size() < 5) return false;
  if (sqlState.substr(0, 2) == u"08") return true;
  return sqlState == u"57P01" || sqlState == u"57P02" || sqlState == u"57P03";
}

}  // namespace kestrola::OdbcDiagnostics
