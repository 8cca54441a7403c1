#pragma once

#include <string>

namespace kestrola::tools {

// Reads the whole of `path` into `bytes`; an empty path or "-" reads standard input. On
// failure (no such file, no permission, a folder, a read error) returns false and `error`
// says what failed, e.g. "cannot read adir: Is a directory".
bool ReadInput(const std::string& path, std::string& bytes, std::string& error);

// The memory limit option of the tools, "--memory-limit MIB": the most memory, in mebibytes,
// that the program may hold. Parses `text` as a whole number of at least 1; false otherwise.
bool ParseMebibytes(const char* text, size_t& bytes);

}  // namespace kestrola::tools
