#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// How each layer reports failure. Error numbers are defined here and nowhere else.
//
// - The toolkit (runtime/, text/, json/, jsonscript/) raises kestrola::Error and catches
//   nothing of its own; the caller decides. The module JSON is the one exception: it never
//   fails on bad input and collects its complaints, one text for the whole process, for
//   JSON::LastParseErrors. Questions are answered with plain values, not failures: the
//   Try-parsers (Decimal::TryParse, Convert::ParseDouble) say whether a text is a number, and
//   DataFile returns false or -1 with the reason as text, because a missing or refused file is
//   something its callers (the log, the service) turn into their own kind of failure.
// - printing/ raises kestrola::Error to its caller, the queue cycle, which keeps the job and
//   retries the printer. Two answers are plain values, not failures: clsPrint::setPrinter
//   says whether the printer exists (false), and clsPrint::CheckText foresees the error a
//   line would raise without printing it.
// - The activity log (log/) raises kestrola::Error (number 75) to its caller; only
//   CrearDirectorio and the repeated-failure filter (AvisosRepetidos) keep their failures to
//   themselves, because nothing else could report them.
// - The database module (db/BaseDatos.h) returns false or no recordset after logging the
//   provider's errors, and keeps the last description for the status line
//   (BaseDatos::UltimoError); the ODBC classes under it (Connection, Recordset) raise Error.
// - The service (service/) logs and shows: each event handler and thread entry point traps
//   every failure of its body, writes it to the log and leaves the window running. The steps
//   under them (the INI module, Servicio::CargarConfiguracion, ContarInstancias) raise Error
//   to that handler, as the log does.
//
// catch (...) belongs only at the outer edges (thread entry points, event handlers such as
// the queue timer and Form_Load, main and the command-line tools), each with a comment saying
// why; everywhere else a handler names what it catches, or a guard object undoes the work.
namespace kestrola {

// Run-time error numbers of the program; Error::StandardDescription gives each one's text.
enum ErrorNumber : int32_t {
  kErrInvalidCall = 5,         // invalid procedure call or argument
  kErrOverflow = 6,            // a number too large for its type
  kErrOutOfMemory = 7,         // out of memory, or over a configured memory limit
  kErrSubscript = 9,           // index or position out of range
  kErrTypeMismatch = 13,       // a value of the wrong kind; JsonBag: malformed JSON
  kErrOutOfStack = 28,         // nesting too deep
  kErrInternal = 51,           // a value that cannot be serialized
  kErrFileAccess = 75,         // a file or folder cannot be opened, read or written
  kErrObjectNotSet = 91,       // an object reference that holds no object
  kErrInvalidUseOfNull = 94,   // null where a value is needed
  kErrObjectRequired = 424,    // a value that must be an object or array and is not
  kErrDuplicateKey = 457,      // key already associated with an element of a collection
  kErrPrinter = 482,           // the printer could not be selected or did not take a document
  kErrNoCurrentRecord = 3021,  // a recordset at its end: no current row
  kErrItemNotFound = 3265,     // a recordset has no field of that name
  kErrObjectClosed = 3704,     // an operation that needs an open connection or recordset
  kErrObjectOpen = 3705,       // an operation that needs a closed connection or recordset
  kErrProvider = -2147467259,  // the database driver refused the call (0x80004005)
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
