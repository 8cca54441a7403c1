#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "log/ProviderError.h"

// The activity log: one plain-text file a day, log_yyyymmdd.log in the application directory.
// Every operation opens the day's file, does its work and closes it again.
namespace kestrola::Log {

// Appends one line: the current date and time immediately followed by the message.
void EscribirLog(std::u16string_view message);
// One line per record, in order: native error, description and SQL state, no separators.
void EscribirErrores(const std::vector<ProviderError>& errors);
// Today's file as display text: each line framed by carriage returns. Creates the file
// (beginning with one empty line) when it is missing.
std::u16string LeerLog();
// Creates every missing level of `path`; true when the directory exists afterwards.
bool CrearDirectorio(const std::u16string& path);

}  // namespace kestrola::Log
