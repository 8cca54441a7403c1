#pragma once

#include <cstdint>
#include <string>

namespace kestrola {

// The number of running processes whose executable name (file name without extension, as
// Application::EXEName gives it) equals `exeName`, compared without regard to case. The
// calling process counts itself. `procRoot` is the process table to read.
int16_t ContarInstancias(const std::u16string& exeName, const std::string& procRoot = "/proc");

}  // namespace kestrola
