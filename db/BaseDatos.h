#pragma once

#include <string>

// The database module: the one shared connection to the queue database and its operations.
namespace kestrola::BaseDatos {

// The logged-on user's login name (up to 24 characters), or the empty text.
std::u16string UsuarioWindows();

}  // namespace kestrola::BaseDatos
