#pragma once

#include <cstddef>

// A limit on the memory a tool holds through operator new. A tool that links this file counts
// every block it allocates; an allocation that would take it over the limit fails with
// std::bad_alloc, which the tool reports as error 7 ("Out of memory") instead of exhausting
// the machine.
namespace kestrola::tools {

inline constexpr size_t kDefaultMemoryLimit = size_t{1} << 30;  // 1 GiB

// Sets the limit in bytes (the default is kDefaultMemoryLimit).
void SetMemoryLimit(size_t bytes);
// True once an allocation has been refused for the limit.
bool MemoryLimitReached();

}  // namespace kestrola::tools
