#include "runtime/Error.h"

#include "runtime/Text.h"

namespace kestrola {

Error::Error(int32_t number, std::u16string source, std::u16string description)
    : std::runtime_error("error " + std::to_string(number) + ": " + Text::ToUtf8(description)),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::u16string Error::StandardDescription(int32_t number) {
  switch (number) {
    case kErrInvalidCall:
      return u"Invalid procedure call or argument";
    case kErrOverflow:
      return u"Overflow";
    case kErrOutOfMemory:
      return u"Out of memory";
    case kErrSubscript:
      return u"Subscript out of range";
    case kErrTypeMismatch:
      return u"Type mismatch";
    case kErrOutOfStack:
      return u"Out of stack space";
    case kErrInternal:
      return u"Internal error";
    case kErrInvalidUseOfNull:
      return u"Invalid use of Null";
    case kErrDuplicateKey:
      return u"This key is already associated with an element of this collection";
    default:
      return u"Application-defined or object-defined error";
  }
}

Error Error::Standard(int32_t number, std::u16string source) {
  return Error(number, std::move(source), StandardDescription(number));
}

}  // namespace kestrola
