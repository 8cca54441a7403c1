#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Variant.h"

namespace kestrola {

class Connection;

// Cursor and lock types of a recordset.
inline constexpr int adOpenForwardOnly = 0;
inline constexpr int adOpenStatic = 3;
inline constexpr int adLockReadOnly = 1;
inline constexpr int adLockOptimistic = 3;

// The rows of a query, read whole when it opens (a static snapshot: RecordCount is exact and
// later changes in the database do not show). Values keep the column's kind: 16- and 32-bit
// integers, 64-bit integers as a 32-bit integer when they fit and as a decimal otherwise,
// decimals, floats and doubles, text, dates, booleans, binary data as a byte array, and a
// database NULL as the null value.
class Recordset {
 public:
  Recordset() = default;

  // Rows the recordset asks the driver for at a time; at least 1.
  int32_t CacheSize() const { return cacheSize_; }
  void SetCacheSize(int32_t rows);

  // Runs the query on the open connection and reads its rows. On return the recordset is on its
  // first row, or at its end when there is none. A statement that returns no rows leaves the
  // recordset closed. Failures raise kestrola::Error and leave the driver's records in the
  // connection's Errors(). The cursor and lock types are accepted for any value: the recordset
  // always holds a snapshot and never writes back.
  void Open(std::u16string_view source, Connection& activeConnection, int cursorType = adOpenStatic,
            int lockType = adLockOptimistic, int options = -1);
  void Close();
  // adStateClosed (0) or adStateOpen (1).
  int State() const { return open_ ? 1 : 0; }

  // The number of rows.
  int32_t RecordCount() const;
  // True once the recordset has moved past its last row (at once when it has none). The name
  // differs from the usual one because EOF is a macro of the C library.
  bool Eof() const;
  bool Bof() const;
  void MoveNext();
  void MoveFirst();

  // The value of a column of the current row, by name (letter case does not count) or by
  // 0-based position. Error 3265 for an unknown column, 3021 when there is no current row.
  const Variant& Fields(std::u16string_view name) const;
  const Variant& Fields(int index) const;
  int FieldCount() const;
  const std::u16string& FieldName(int index) const;

 private:
  void RequireOpen() const;
  const Variant& Value(size_t column) const;

  int32_t cacheSize_ = 1;
  bool open_ = false;
  size_t position_ = 0;
  std::vector<std::u16string> names_;
  std::vector<Variant> values_;  // row after row, names_.size() values each
  size_t rowCount_ = 0;
};

// The value of a DECIMAL or NUMERIC column from the text the driver gives for it: a decimal,
// or the text itself when it is not one that fits (NaN, more than 28 significant digits).
Variant NumericTextValue(std::u16string text);

}  // namespace kestrola
