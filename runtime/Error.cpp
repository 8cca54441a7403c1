#include "runtime/Error.h"

#include "runtime/Text.h"

namespace kestrola {

Error::Error(int32_t number, std::u16string source, std::u16string description)
    : std::runtime_error("error " + std::to_string(number) + ": " + Text::ToUtf8(description)),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

namespace {

struct StandardText {
  int32_t number;
  const char16_t* text;
};

// The standard text of every error number the program raises.
constexpr StandardText kStandardTexts[] = {
    {kErrInvalidCall, u"Invalid procedure call or argument"},
    {kErrOverflow, u"Overflow"},
    {kErrOutOfMemory, u"Out of memory"},
    {kErrSubscript, u"Subscript out of range"},
    {kErrTypeMismatch, u"Type mismatch"},
    {kErrOutOfStack, u"Out of stack space"},
    {kErrInternal, u"Internal error"},
    {kErrFileAccess, u"Path/File access error"},
    {kErrObjectNotSet, u"Object variable or With block variable not set"},
    {kErrInvalidUseOfNull, u"Invalid use of Null"},
    {kErrObjectRequired, u"Object required"},
    {kErrDuplicateKey, u"This key is already associated with an element of this collection"},
    {kErrPrinter, u"Printer error"},
    {kErrNoCurrentRecord,
     u"Either BOF or EOF is True, or the current record has been deleted. Requested operation "
     u"requires a current record."},
    {kErrItemNotFound,
     u"Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {kErrObjectClosed, u"Operation is not allowed when the object is closed."},
    {kErrObjectOpen, u"Operation is not allowed when the object is open."},
    {kErrProvider, u"Unspecified error"},
};

}  // namespace

std::u16string Error::StandardDescription(int32_t number) {
  for (const StandardText& entry : kStandardTexts) {
    if (entry.number == number) return entry.text;
  }
  return u"Application-defined or object-defined error";
}

Error Error::Standard(int32_t number, std::u16string source) {
  return Error(number, std::move(source), StandardDescription(number));
}

}  // namespace kestrola
