#include "runtime/Variant.h"

#include "runtime/Convert.h"
#include "runtime/Error.h"

namespace kestrola {

namespace {
[[noreturn]] void Mismatch() {
  throw Error::Standard(kErrTypeMismatch, u"Variant");
}

template <class T>
const T& Get(const Variant::Storage& v) {
  if (auto p = std::get_if<T>(&v)) return *p;
  Mismatch();
}

constexpr int kKindByIndex[] = {vbEmpty,  vbNull,     vbInteger, vbLong,   vbSingle,
                                vbDouble, vbCurrency, vbDate,    vbString, vbObject,
                                vbError,  vbBoolean,  vbDecimal, vbByte,   vbArray};
}  // namespace

int Variant::VarType() const {
  if (auto a = std::get_if<std::shared_ptr<VariantArray>>(&v_)) {
    return vbArray + (*a ? (*a)->elementKind : vbVariant);
  }
  return kKindByIndex[v_.index()];
}

bool Variant::IsNumeric() const {
  switch (VarType()) {
    case vbInteger:
    case vbLong:
    case vbSingle:
    case vbDouble:
    case vbCurrency:
    case vbDecimal:
    case vbByte:
      return true;
    default:
      return false;
  }
}

const std::u16string& Variant::AsString() const {
  return Get<std::u16string>(v_);
}
const ObjectRef& Variant::AsObject() const {
  return Get<ObjectRef>(v_);
}
bool Variant::AsBoolean() const {
  return Get<bool>(v_);
}
double Variant::AsDouble() const {
  return Get<double>(v_);
}
int32_t Variant::AsLong() const {
  return Get<int32_t>(v_);
}
int16_t Variant::AsInteger() const {
  return Get<int16_t>(v_);
}
const Decimal& Variant::AsDecimal() const {
  return Get<Decimal>(v_);
}
const std::shared_ptr<VariantArray>& Variant::AsArray() const {
  return Get<std::shared_ptr<VariantArray>>(v_);
}
Currency Variant::AsCurrency() const {
  return Get<Currency>(v_);
}
Date Variant::AsDate() const {
  return Get<Date>(v_);
}
ErrorValue Variant::AsError() const {
  return Get<ErrorValue>(v_);
}
uint8_t Variant::AsByte() const {
  return Get<uint8_t>(v_);
}
float Variant::AsSingle() const {
  return Get<float>(v_);
}

double Variant::ToDouble() const {
  switch (VarType()) {
    case vbEmpty:
      return 0;
    case vbInteger:
      return std::get<int16_t>(v_);
    case vbLong:
      return std::get<int32_t>(v_);
    case vbSingle:
      return std::get<float>(v_);
    case vbDouble:
      return std::get<double>(v_);
    case vbCurrency:
      return static_cast<double>(std::get<Currency>(v_).scaled) / 10000.0;
    case vbDate:
      return std::get<Date>(v_).serial;
    case vbBoolean:
      return std::get<bool>(v_) ? -1 : 0;
    case vbDecimal:
      return std::get<Decimal>(v_).ToDouble();
    case vbByte:
      return std::get<uint8_t>(v_);
    case vbString: {
      double d;
      std::string s(AsString().begin(), AsString().end());
      for (char16_t c : AsString()) {
        if (c >= 0x80) Mismatch();
      }
      if (!Convert::ParseDouble(s, d)) Mismatch();
      return d;
    }
    default:
      Mismatch();
  }
}

std::u16string Variant::ToText() const {
  switch (VarType()) {
    case vbEmpty:
      return u"";
    case vbNull:
      throw Error::Standard(kErrInvalidUseOfNull, u"Variant");
    case vbString:
      return AsString();
    case vbBoolean:
      return AsBoolean() ? u"True" : u"False";
    case vbDecimal:
      return AsDecimal().ToString();
    case vbInteger:
    case vbLong:
    case vbByte: {
      std::string s = std::to_string(static_cast<long long>(ToDouble()));
      return std::u16string(s.begin(), s.end());
    }
    case vbCurrency: {
      // Exact: the scaled integer printed with four places, trailing zeros dropped.
      int64_t v = AsCurrency().scaled;
      Decimal d = Decimal::FromParts(
          v < 0 ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v),
          4, v < 0);
      return d.ToString();
    }
    case vbSingle:
    case vbDouble:
    case vbDate:
      return Convert::NumberToText(ToDouble());
    case vbError: {
      std::string s = "Error " + std::to_string(AsError().code);
      return std::u16string(s.begin(), s.end());
    }
    default:
      Mismatch();
  }
}

}  // namespace kestrola
