#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "runtime/Decimal.h"

namespace kestrola {

// Kind codes of a Variant, numbered as the platform's variant type codes.
enum VarKind : int {
  vbEmpty = 0,
  vbNull = 1,
  vbInteger = 2,  // 16-bit integer
  vbLong = 3,     // 32-bit integer
  vbSingle = 4,   // 32-bit float
  vbDouble = 5,
  vbCurrency = 6,  // 64-bit integer scaled by 10,000
  vbDate = 7,
  vbString = 8,
  vbObject = 9,  // shared object reference
  vbError = 10,
  vbBoolean = 11,
  vbVariant = 12,  // element kind of an array of variants
  vbDecimal = 14,
  vbByte = 17,
  vbArray = 8192,  // added to the element kind
};

// Base of every object a Variant can refer to. Objects are shared by reference counting.
class Object {
 public:
  virtual ~Object() = default;
};
using ObjectRef = std::shared_ptr<Object>;

// Date: days since 30 December 1899, the fraction being the time of day.
struct Date {
  double serial = 0;
  friend bool operator==(const Date&, const Date&) = default;
};
// An error value (kind 10) carries an error number.
struct ErrorValue {
  int32_t code = 0;
  friend bool operator==(const ErrorValue&, const ErrorValue&) = default;
};
struct NullValue {
  friend bool operator==(const NullValue&, const NullValue&) = default;
};
struct EmptyValue {
  friend bool operator==(const EmptyValue&, const EmptyValue&) = default;
};

class Variant;
// An array of values of one element kind (vbVariant for mixed values).
struct VariantArray {
  int elementKind = vbVariant;
  std::vector<Variant> items;
};

// The tagged value the toolkit stores and exchanges. Empty (nothing read) and null are distinct.
class Variant {
 public:
  Variant() = default;
  Variant(NullValue) : v_(NullValue{}) {}
  Variant(int16_t v) : v_(v) {}
  Variant(int32_t v) : v_(v) {}
  Variant(float v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(Currency v) : v_(v) {}
  Variant(Date v) : v_(v) {}
  Variant(std::u16string v) : v_(std::move(v)) {}
  Variant(const char16_t* v) : v_(std::u16string(v)) {}
  Variant(ObjectRef v) : v_(std::move(v)) {}
  template <class T>
  requires std::is_base_of_v<Object, T> Variant(std::shared_ptr<T> v)
      : v_(ObjectRef(std::move(v))) {}
  Variant(ErrorValue v) : v_(v) {}
  Variant(bool v) : v_(v) {}
  Variant(Decimal v) : v_(v) {}
  Variant(uint8_t v) : v_(v) {}
  Variant(std::shared_ptr<VariantArray> v) : v_(std::move(v)) {}

  static Variant Null() { return Variant(NullValue{}); }

  // The kind code: 0 empty, 1 null, ..., 8192 + element kind for arrays.
  int VarType() const;

  bool IsEmpty() const { return std::holds_alternative<EmptyValue>(v_); }
  bool IsNull() const { return std::holds_alternative<NullValue>(v_); }
  bool IsString() const { return std::holds_alternative<std::u16string>(v_); }
  bool IsObject() const { return std::holds_alternative<ObjectRef>(v_); }
  bool IsBoolean() const { return std::holds_alternative<bool>(v_); }
  bool IsDecimal() const { return std::holds_alternative<Decimal>(v_); }
  bool IsDouble() const { return std::holds_alternative<double>(v_); }
  bool IsArray() const { return std::holds_alternative<std::shared_ptr<VariantArray>>(v_); }
  // True for the integer, float, currency, decimal and byte kinds.
  bool IsNumeric() const;

  // Direct access; raise error 13 (type mismatch) when the kind differs.
  const std::u16string& AsString() const;
  const ObjectRef& AsObject() const;
  bool AsBoolean() const;
  double AsDouble() const;
  int32_t AsLong() const;
  int16_t AsInteger() const;
  const Decimal& AsDecimal() const;
  const std::shared_ptr<VariantArray>& AsArray() const;
  Currency AsCurrency() const;
  Date AsDate() const;
  ErrorValue AsError() const;
  uint8_t AsByte() const;
  float AsSingle() const;

  // The object as a given class, or null when the value is not such an object.
  template <class T>
  std::shared_ptr<T> ObjectAs() const {
    if (auto p = std::get_if<ObjectRef>(&v_)) return std::dynamic_pointer_cast<T>(*p);
    return nullptr;
  }

  // Any numeric kind (and boolean: true is -1) as a double; error 13 for other kinds.
  double ToDouble() const;
  // The value turned into text the way the platform does it with "." as decimal point:
  // numbers shortest round-trip, booleans "True"/"False", empty "", null raises error 94.
  std::u16string ToText() const;

  friend bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }

  using Storage = std::variant<EmptyValue, NullValue, int16_t, int32_t, float, double, Currency,
                               Date, std::u16string, ObjectRef, ErrorValue, bool, Decimal, uint8_t,
                               std::shared_ptr<VariantArray>>;
  const Storage& Raw() const { return v_; }

 private:
  Storage v_;
};

}  // namespace kestrola
