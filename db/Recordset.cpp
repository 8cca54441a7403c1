#include "db/Recordset.h"

#include <sql.h>
#include <sqlext.h>

#include <climits>
#include <memory>

#include "db/Connection.h"
#include "db/OdbcHandle.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kestrola {

namespace {

// Raised by the readers below when an ODBC call on the statement fails; Open turns it into
// the connection's error with the statement's diagnostic records.
struct StatementFailure {};

void Check(SQLRETURN rc) {
  if (!SQL_SUCCEEDED(rc)) throw StatementFailure{};
}

// How a column is read, chosen once from the type the driver describes.
enum class ColumnKind {
  Bit,
  Tiny,
  Short,
  Long,
  BigInt,
  Real,
  Double,
  Numeric,
  Date,
  Time,
  Timestamp,
  Binary,
  Text
};

ColumnKind KindOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return ColumnKind::Bit;
    case SQL_TINYINT:
      return ColumnKind::Tiny;
    case SQL_SMALLINT:
      return ColumnKind::Short;
    case SQL_INTEGER:
      return ColumnKind::Long;
    case SQL_BIGINT:
      return ColumnKind::BigInt;
    case SQL_REAL:
      return ColumnKind::Real;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ColumnKind::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return ColumnKind::Numeric;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return ColumnKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ColumnKind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return ColumnKind::Timestamp;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return ColumnKind::Binary;
    default:
      return ColumnKind::Text;
  }
}

// Days from 1 March of year 0 in the proleptic Gregorian calendar (civil date to day number).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// A date value: whole days since 30 December 1899 and the time of day as a fraction. Before
// that day the fraction counts away from zero, as the platform's dates do.
Date MakeDate(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
              unsigned second, uint32_t nanoseconds) {
  static const int64_t epoch = DaysFromCivil(1899, 12, 30);
  double days = static_cast<double>(DaysFromCivil(year, month, day) - epoch);
  double fraction = (hour * 3600.0 + minute * 60.0 + second + nanoseconds / 1e9) / 86400.0;
  return Date{days < 0 ? days - fraction : days + fraction};
}

// Reads a character or binary column in pieces until all of it has arrived.
template <class Unit>
bool ReadChunks(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                std::basic_string<Unit>& out) {
  constexpr size_t kTerminator = std::is_same_v<Unit, char16_t> ? 1 : 0;
  // One buffer serves every read of the thread, so that a value costs no allocation beyond
  // its own text.
  thread_local std::basic_string<Unit> buffer(256, Unit{});
  out.clear();
  while (true) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, cType, buffer.data(),
                              static_cast<SQLLEN>(buffer.size() * sizeof(Unit)), &indicator);
    if (rc == SQL_NO_DATA) return true;
    Check(rc);
    if (indicator == SQL_NULL_DATA) return false;
    const size_t room = buffer.size() - kTerminator;
    const bool complete =
        indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / sizeof(Unit) <= room;
    out.append(buffer.data(), complete ? static_cast<size_t>(indicator) / sizeof(Unit) : room);
    if (complete) return true;
    // The rest is longer than the buffer: grow it to what remains when the driver says so.
    if (indicator != SQL_NO_TOTAL) {
      size_t remaining = static_cast<size_t>(indicator) / sizeof(Unit) - room + kTerminator;
      if (remaining > buffer.size()) buffer.assign(remaining, Unit{});
    }
  }
}

template <class T>
bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, T& value) {
  SQLLEN indicator = 0;
  Check(SQLGetData(stmt, column, cType, &value, sizeof value, &indicator));
  return indicator != SQL_NULL_DATA;
}

// Integer, boolean and floating-point columns.
Variant ReadNumber(SQLHSTMT stmt, SQLUSMALLINT column, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Bit: {
      unsigned char v = 0;
      if (!ReadFixed(stmt, column, SQL_C_BIT, v)) return Variant::Null();
      return Variant(v != 0);
    }
    case ColumnKind::Tiny:
    case ColumnKind::Short: {
      SQLSMALLINT v = 0;
      if (!ReadFixed(stmt, column, SQL_C_SSHORT, v)) return Variant::Null();
      if (kind == ColumnKind::Tiny && v >= 0 && v <= 255) return Variant(static_cast<uint8_t>(v));
      return Variant(static_cast<int16_t>(v));
    }
    case ColumnKind::Real: {
      SQLREAL v = 0;
      if (!ReadFixed(stmt, column, SQL_C_FLOAT, v)) return Variant::Null();
      return Variant(static_cast<float>(v));
    }
    case ColumnKind::Double: {
      SQLDOUBLE v = 0;
      if (!ReadFixed(stmt, column, SQL_C_DOUBLE, v)) return Variant::Null();
      return Variant(static_cast<double>(v));
    }
    default: {
      // Drivers such as SQLite's describe every integer column as INTEGER whatever its values,
      // so both are read as 64-bit integers and narrowed only when the value fits.
      SQLBIGINT v = 0;
      if (!ReadFixed(stmt, column, SQL_C_SBIGINT, v)) return Variant::Null();
      if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
      return Variant(Decimal::FromInt64(v));
    }
  }
}

// Date, time and timestamp columns, as dates of the platform (days since 30 December 1899).
Variant ReadDateTime(SQLHSTMT stmt, SQLUSMALLINT column, ColumnKind kind) {
  if (kind == ColumnKind::Date) {
    SQL_DATE_STRUCT v{};
    if (!ReadFixed(stmt, column, SQL_C_TYPE_DATE, v)) return Variant::Null();
    return Variant(MakeDate(v.year, v.month, v.day, 0, 0, 0, 0));
  }
  if (kind == ColumnKind::Time) {
    SQL_TIME_STRUCT v{};
    if (!ReadFixed(stmt, column, SQL_C_TYPE_TIME, v)) return Variant::Null();
    return Variant(MakeDate(1899, 12, 30, v.hour, v.minute, v.second, 0));
  }
  SQL_TIMESTAMP_STRUCT v{};
  if (!ReadFixed(stmt, column, SQL_C_TYPE_TIMESTAMP, v)) return Variant::Null();
  return Variant(MakeDate(v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction));
}

// A binary column, as an array of bytes.
Variant ReadBinary(SQLHSTMT stmt, SQLUSMALLINT column) {
  std::string bytes;
  if (!ReadChunks(stmt, column, SQL_C_BINARY, bytes)) return Variant::Null();
  auto array = std::make_shared<VariantArray>();
  array->elementKind = vbByte;
  array->items.reserve(bytes.size());
  for (char b : bytes) array->items.emplace_back(static_cast<uint8_t>(b));
  return Variant(std::move(array));
}

Variant ReadValue(SQLHSTMT stmt, SQLUSMALLINT column, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Bit:
    case ColumnKind::Tiny:
    case ColumnKind::Short:
    case ColumnKind::Long:
    case ColumnKind::BigInt:
    case ColumnKind::Real:
    case ColumnKind::Double:
      return ReadNumber(stmt, column, kind);
    case ColumnKind::Numeric: {
      std::u16string text;
      if (!ReadChunks(stmt, column, SQL_C_WCHAR, text)) return Variant::Null();
      return NumericTextValue(std::move(text));
    }
    case ColumnKind::Date:
    case ColumnKind::Time:
    case ColumnKind::Timestamp:
      return ReadDateTime(stmt, column, kind);
    case ColumnKind::Binary:
      return ReadBinary(stmt, column);
    case ColumnKind::Text:
      break;
  }
  std::u16string text;
  if (!ReadChunks(stmt, column, SQL_C_WCHAR, text)) return Variant::Null();
  return Variant(std::move(text));
}

std::u16string ColumnName(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT& sqlType) {
  std::u16string name(256, u'\0');
  SQLSMALLINT nameLength = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  auto describe = [&] {
    Check(SQLDescribeColW(stmt, column, reinterpret_cast<SQLWCHAR*>(name.data()),
                          static_cast<SQLSMALLINT>(name.size()), &nameLength, &sqlType, &size,
                          &digits, &nullable));
  };
  describe();
  if (nameLength >= static_cast<SQLSMALLINT>(name.size())) {
    name.assign(static_cast<size_t>(nameLength) + 1, u'\0');
    describe();
  }
  name.resize(std::min(name.size(), static_cast<size_t>(nameLength < 0 ? 0 : nameLength)));
  return name;
}

}  // namespace

Variant NumericTextValue(std::u16string text) {
  Decimal d;
  if (Decimal::TryParse(Text::ToUtf8(text), d)) return Variant(d);
  return Variant(std::move(text));  // NaN or beyond 28 digits: kept as the server wrote it
}

void Recordset::SetCacheSize(int32_t rows) {
  if (rows < 1) throw Error::Standard(kErrInvalidCall, u"Recordset");
  cacheSize_ = rows;
}

void Recordset::Open(std::u16string_view source, Connection& activeConnection, int /*cursorType*/,
                     int /*lockType*/, int /*options*/) {
  Connection& conn = activeConnection;
  conn.errors_.clear();
  if (open_) {
    throw Error::Standard(kErrObjectOpen, u"Recordset");
  }
  if (conn.State() != adStateOpen) {
    throw Error::Standard(kErrObjectClosed, u"Recordset");
  }
  if (source.size() > static_cast<size_t>(INT32_MAX)) {
    throw Error(kErrInvalidCall, u"Recordset", u"The query is too long");
  }
  StatementHandle handle;
  if (!handle.Allocate(conn.Handle())) conn.Fail(SQL_HANDLE_DBC, conn.Handle(), u"Recordset");
  SQLHSTMT stmt = handle.Get();

  std::vector<std::u16string> names;
  std::vector<Variant> values;
  size_t rows = 0;
  try {
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(conn.CommandTimeout())), 0);
    std::u16string text(source);
    SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()),
                                  static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA) Check(rc);
    if (rc == SQL_SUCCESS_WITH_INFO) conn.CollectInfo(SQL_HANDLE_STMT, stmt);
    // The first result that has columns is the one read; counts of affected rows that come
    // before it are skipped.
    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(stmt, &columns));
    while (columns == 0) {
      rc = SQLMoreResults(stmt);
      if (rc == SQL_NO_DATA) return;  // the statement returned no rows: stays closed
      Check(rc);
      Check(SQLNumResultCols(stmt, &columns));
    }
    std::vector<ColumnKind> kinds;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
      names.push_back(ColumnName(stmt, c, sqlType));
      kinds.push_back(KindOf(sqlType));
    }
    // Rows are taken in blocks of CacheSize: room for a block is made before it is read.
    while (true) {
      if (rows % static_cast<size_t>(cacheSize_) == 0) {
        values.reserve(values.size() + static_cast<size_t>(cacheSize_) * names.size());
      }
      rc = SQLFetch(stmt);
      if (rc == SQL_NO_DATA) break;
      Check(rc);
      for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
        values.push_back(ReadValue(stmt, c, kinds[c - 1]));
      }
      ++rows;
    }
  } catch (const StatementFailure&) {
    conn.Fail(SQL_HANDLE_STMT, stmt, u"Recordset");
  }
  names_ = std::move(names);
  values_ = std::move(values);
  rowCount_ = rows;
  position_ = 0;
  open_ = true;
}

void Recordset::Close() {
  RequireOpen();
  open_ = false;
  names_.clear();
  values_.clear();
  rowCount_ = 0;
  position_ = 0;
}

void Recordset::RequireOpen() const {
  if (!open_) {
    throw Error::Standard(kErrObjectClosed, u"Recordset");
  }
}

int32_t Recordset::RecordCount() const {
  RequireOpen();
  return rowCount_ > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(rowCount_);
}

bool Recordset::Eof() const {
  RequireOpen();
  return position_ >= rowCount_;
}

bool Recordset::Bof() const {
  RequireOpen();
  return rowCount_ == 0;
}

void Recordset::MoveNext() {
  if (Eof()) {
    throw Error::Standard(kErrNoCurrentRecord, u"Recordset");
  }
  ++position_;
}

void Recordset::MoveFirst() {
  RequireOpen();
  position_ = 0;
}

int Recordset::FieldCount() const {
  RequireOpen();
  return static_cast<int>(names_.size());
}

const std::u16string& Recordset::FieldName(int index) const {
  RequireOpen();
  if (index < 0 || static_cast<size_t>(index) >= names_.size()) {
    throw Error::Standard(kErrItemNotFound, u"Recordset");
  }
  return names_[static_cast<size_t>(index)];
}

const Variant& Recordset::Fields(std::u16string_view name) const {
  RequireOpen();
  for (size_t c = 0; c < names_.size(); ++c) {
    if (Text::EqualsIgnoreCase(names_[c], name)) return Value(c);
  }
  return Value(names_.size());
}

const Variant& Recordset::Fields(int index) const {
  RequireOpen();
  return Value(index < 0 ? names_.size() : static_cast<size_t>(index));
}

const Variant& Recordset::Value(size_t column) const {
  if (column >= names_.size()) {
    throw Error::Standard(kErrItemNotFound, u"Recordset");
  }
  if (position_ >= rowCount_) {
    throw Error::Standard(kErrNoCurrentRecord, u"Recordset");
  }
  return values_[position_ * names_.size() + column];
}

}  // namespace kestrola
