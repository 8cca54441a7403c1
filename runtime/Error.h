#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrola {

// Run-time error numbers shared by every class of the program.
enum ErrorNumber : int32_t {
  kErrInvalidCall = 5,        // invalid procedure call or argument
  kErrOverflow = 6,           // overflow
  kErrOutOfMemory = 7,        // out of memory
  kErrSubscript = 9,          // subscript out of range
  kErrTypeMismatch = 13,      // type mismatch
  kErrOutOfStack = 28,        // out of stack space
  kErrInternal = 51,          // internal error
  kErrInvalidUseOfNull = 94,  // invalid use of null
  kErrDuplicateKey = 457,     // key already associated with an element of this collection
};

// A numbered run-time error with the source that raised it and a description.
// Classes raise it and catch nothing; event handlers and database operations trap it.
class Error : public std::runtime_error {
 public:
  Error(int32_t number, std::u16string source, std::u16string description);

  int32_t Number() const { return number_; }
  const std::u16string& Source() const { return source_; }
  const std::u16string& Description() const { return description_; }

  // The platform's standard description for an error number ("Overflow", ...).
  static std::u16string StandardDescription(int32_t number);
  // An error with the standard description of its number.
  static Error Standard(int32_t number, std::u16string source = u"");

 private:
  int32_t number_;
  std::u16string source_;
  std::u16string description_;
};

}  // namespace kestrola
