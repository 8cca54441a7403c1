#pragma once

#include <cstdint>
#include <string>

#include "runtime/UniqueFd.h"

namespace kestrola {

// The number of running processes that run the same program file as this process (the target
// of procRoot/self/exe) and whose executable name (file name without extension, as
// Application::EXEName gives it) equals `exeName`, compared without regard to case. The calling
// process counts itself. A process whose program file cannot be read (one of another user) is
// not counted, nor is one that merely carries the name: a name alone proves nothing.
int16_t ContarInstancias(const std::u16string& exeName, const std::string& procRoot = "/proc");

// The single-instance lock of one application data directory: the file "kestrola.lock" there,
// locked by the copy that serves the directory for as long as that copy runs (the system drops
// the lock when the process ends, however it ends). A second copy for the same directory finds
// it taken; copies for other directories, and other programs, do not touch it. The file holds
// the process number of the holder.
class BloqueoInstancia {
 public:
  enum class Estado {
    Tomado,   // this process holds the lock
    Ocupado,  // another process holds it
    Fallo,    // the lock file cannot be used; Mensaje() says why
  };

  explicit BloqueoInstancia(const std::u16string& dataDir);
  BloqueoInstancia(const BloqueoInstancia&) = delete;
  BloqueoInstancia& operator=(const BloqueoInstancia&) = delete;

  Estado estado() const { return estado_; }
  const std::u16string& Mensaje() const { return mensaje_; }

 private:
  UniqueFd fd_;
  Estado estado_ = Estado::Fallo;
  std::u16string mensaje_;
};

}  // namespace kestrola
