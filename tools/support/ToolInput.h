#pragma once

#include <string>

#include "tools/support/MemoryLimit.h"

namespace kestrola::tools {

// Reads the whole of `path` into `bytes`; an empty path or "-" reads standard input. On
// failure (no such file, no permission, a folder, a read error) returns false and `error`
// says what failed, e.g. "cannot read adir: Is a directory".
bool ReadInput(const std::string& path, std::string& bytes, std::string& error);

// The memory limit option of the tools, "--memory-limit MIB": the most memory, in mebibytes,
// that the program may hold. Parses `text` as a whole number of at least 1; false otherwise.
bool ParseMebibytes(const char* text, size_t& bytes);

// What the JSON tools' command lines share: "--memory-limit MIB" and at most one input file.
struct CommonOptions {
  const char* file = nullptr;  // none (or "-"): standard input
  size_t memoryLimit = kDefaultMemoryLimit;
};

// Takes argv[i] as one of the shared options, moving `i` past the value it takes. False when it
// is none of them: an unknown option, a second file, or "--memory-limit" without a valid
// number. A tool checks its own options first.
bool TakeCommonOption(int argc, char** argv, int& i, CommonOptions& options);

// Removes a UTF-8 byte-order mark at the start: it is not part of the text.
void StripByteOrderMark(std::string& bytes);

}  // namespace kestrola::tools
