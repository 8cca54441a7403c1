#include "db/BaseDatos.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>

#include "runtime/Text.h"

namespace kestrola::BaseDatos {

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
