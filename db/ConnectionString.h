#pragma once

#include <string>
#include <string_view>

// Building the ODBC connection strings of the queue database.
namespace kestrola::ConnectionString {

// "server=" + server + ";driver={SQL Server};database=" + database, nothing added or quoted.
std::u16string Build(std::u16string_view server, std::u16string_view database);

// An attribute value as it may stand in a connection string: unchanged when it holds none of
// ';', '{' and '}', otherwise enclosed in braces with every '}' doubled.
std::u16string QuoteValue(std::u16string_view value);

// The connection string followed by the user and password attributes ("UID=...;PWD=...;"),
// each quoted with QuoteValue. An empty user or password is passed as an empty value.
std::u16string WithCredentials(std::u16string_view connectionString, std::u16string_view user,
                               std::u16string_view password);

}  // namespace kestrola::ConnectionString
