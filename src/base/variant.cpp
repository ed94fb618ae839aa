// Variant storage, copying and conversions.
#include "base/variant.h"

#include <cassert>
#include <cmath>
#include <limits>

#include "base/date_text.h"
#include "base/errors.h"
#include "base/format_date_time.h"
#include "base/number_text.h"
#include "base/string_list.h"

namespace quill {

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Int64: return "Int64";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::Boolean: return "Boolean";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Dispatch: return "Dispatch";
    case VarType::Unknown: return "Unknown";
    case VarType::Array: return "Array";
  }
  return "Unknown";
}

Variant::Variant(IDispatch* v)
    : type_(VarType::Dispatch), ref_(olert::ComPtr<IUnknown>::Retain(v)) {}

Variant::Variant(IUnknown* v) : type_(VarType::Unknown), ref_(olert::ComPtr<IUnknown>::Retain(v)) {}

Variant::Variant(VariantArray array)
    : type_(VarType::Array), array_(std::make_unique<VariantArray>(std::move(array))) {}

Variant Variant::Null() {
  Variant v;
  v.type_ = VarType::Null;
  return v;
}

Variant Variant::FromCurrency(int64_t scaled) {
  Variant v;
  v.type_ = VarType::Currency;
  v.u_.i64 = scaled;
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.type_ = VarType::Date;
  v.u_.dbl = value;
  return v;
}

Variant::Variant(const Variant& other) { CopyFrom(other); }

Variant::Variant(Variant&& other) noexcept
    : type_(other.type_),
      u_(other.u_),
      ref_(std::move(other.ref_)),
      str_(std::move(other.str_)),
      array_(std::move(other.array_)) {
  other.type_ = VarType::Empty;
  other.u_.i64 = 0;
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    u_ = other.u_;
    ref_ = std::move(other.ref_);
    str_ = std::move(other.str_);
    array_ = std::move(other.array_);
    other.type_ = VarType::Empty;
    other.u_.i64 = 0;
  }
  return *this;
}

Variant::~Variant() { Reset(); }

void Variant::Reset() noexcept {
  ref_.Reset();
  u_.i64 = 0;
  str_.clear();
  array_.reset();
  type_ = VarType::Empty;
}

void Variant::CopyFrom(const Variant& other) {
  type_ = other.type_;
  u_ = other.u_;
  str_ = other.str_;
  if (other.array_) array_ = std::make_unique<VariantArray>(*other.array_);
  ref_ = other.ref_;
}

bool Variant::IsNumeric() const {
  return type_ == VarType::Integer || type_ == VarType::Int64 || type_ == VarType::Double ||
         type_ == VarType::Currency;
}

int64_t Variant::RawInt() const {
  assert(type_ == VarType::Integer || type_ == VarType::Int64 || type_ == VarType::Boolean);
  return u_.i64;
}
double Variant::RawDouble() const {
  assert(type_ == VarType::Double || type_ == VarType::Date);
  return u_.dbl;
}
int64_t Variant::RawCurrency() const {
  assert(type_ == VarType::Currency);
  return u_.i64;
}
const std::string& Variant::RawString() const {
  assert(type_ == VarType::String);
  return str_;
}
IDispatch* Variant::RawDispatch() const {
  assert(type_ == VarType::Dispatch);
  return static_cast<IDispatch*>(ref_.get());
}
IUnknown* Variant::RawUnknown() const {
  assert(type_ == VarType::Dispatch || type_ == VarType::Unknown);
  return ref_.get();
}
const VariantArray& Variant::RawArray() const {
  assert(type_ == VarType::Array && array_);
  return *array_;
}
VariantArray& Variant::RawArray() {
  assert(type_ == VarType::Array && array_);
  return *array_;
}

void Variant::ThrowCannotConvert(VarType to) const {
  throw EVariantError(std::string("Could not convert variant of type (") + VarTypeName(type_) +
                      ") into type (" + VarTypeName(to) + ")");
}

namespace {

[[noreturn]] void ThrowOverflow(VarType from, VarType to) {
  throw EVariantError(std::string("Overflow while converting variant of type (") +
                      VarTypeName(from) + ") into type (" + VarTypeName(to) + ")");
}

// Banker's rounding of a double to int64, with the range checked.
bool RoundToInt64(double v, int64_t* out) {
  if (!std::isfinite(v)) return false;
  double r = std::nearbyint(v);  // the default rounding mode is to nearest even
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  *out = static_cast<int64_t>(r);
  return true;
}

// Currency (value times 10,000) to a whole number with banker's rounding.
int64_t CurrencyToInt64(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  if (r > 5000 || (r == 5000 && (q & 1))) ++q;
  if (r < -5000 || (r == -5000 && (q & 1))) --q;
  return q;
}

}  // namespace

int64_t Variant::AsInt64() const { return ToInt64(VarType::Int64); }

int64_t Variant::ToInt64(VarType target) const {
  switch (type_) {
    case VarType::Empty: return 0;
    case VarType::Integer:
    case VarType::Int64: return u_.i64;
    case VarType::Boolean: return u_.i64 ? -1 : 0;
    case VarType::Currency: return CurrencyToInt64(u_.i64);
    case VarType::Double:
    case VarType::Date: {
      int64_t out;
      if (!RoundToInt64(u_.dbl, &out)) ThrowOverflow(type_, target);
      return out;
    }
    case VarType::String: {
      int64_t out;
      if (TryStrToInt64(str_, &out)) return out;
      double d;
      if (TryStrToFloatDot(str_, &d)) {
        if (!RoundToInt64(d, &out)) ThrowOverflow(type_, target);
        return out;
      }
      throw EConvertError(InvalidIntegerMessage(str_));
    }
    default: ThrowCannotConvert(target);
  }
}

int32_t Variant::AsInteger() const {
  if (type_ == VarType::String) {
    int32_t i;
    if (TryStrToInt(str_, &i)) return i;
    int64_t wide;
    if (TryStrToInt64(str_, &wide)) ThrowOverflow(type_, VarType::Integer);
    double d;
    if (!TryStrToFloatDot(str_, &d)) throw EConvertError(InvalidIntegerMessage(str_));
  }
  int64_t v = ToInt64(VarType::Integer);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    ThrowOverflow(type_, VarType::Integer);
  }
  return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
  switch (type_) {
    case VarType::Empty: return 0;
    case VarType::Integer:
    case VarType::Int64: return static_cast<double>(u_.i64);
    case VarType::Boolean: return u_.i64 ? -1 : 0;
    case VarType::Currency: return static_cast<double>(u_.i64) / 10000.0;
    case VarType::Double:
    case VarType::Date: return u_.dbl;
    case VarType::String: {
      double d;
      if (TryStrToFloatDot(str_, &d)) return d;
      throw EConvertError(InvalidFloatMessage(str_));
    }
    default: ThrowCannotConvert(VarType::Double);
  }
}

int64_t Variant::AsCurrency() const {
  switch (type_) {
    case VarType::Currency: return u_.i64;
    case VarType::Integer:
    case VarType::Int64:
      if (u_.i64 > std::numeric_limits<int64_t>::max() / 10000 ||
          u_.i64 < std::numeric_limits<int64_t>::min() / 10000) {
        ThrowOverflow(type_, VarType::Currency);
      }
      return u_.i64 * 10000;
    default: {
      int64_t out;
      if (!RoundToInt64(AsDouble() * 10000.0, &out)) ThrowOverflow(type_, VarType::Currency);
      return out;
    }
  }
}

bool Variant::AsBoolean() const {
  switch (type_) {
    case VarType::Empty: return false;
    case VarType::Integer:
    case VarType::Int64:
    case VarType::Boolean:
    case VarType::Currency: return u_.i64 != 0;
    case VarType::Double:
    case VarType::Date: return u_.dbl != 0;
    case VarType::String: {
      std::string t = Trim(str_);
      if (SameText(t, "True")) return true;
      if (SameText(t, "False")) return false;
      double d;
      if (TryStrToFloatDot(t, &d)) return d != 0;
      throw EConvertError(InvalidBooleanMessage(str_));
    }
    default: ThrowCannotConvert(VarType::Boolean);
  }
}

TDateTime Variant::AsDateTime() const {
  switch (type_) {
    case VarType::String: {
      TDateTime out;
      if (TryStrToDateTime(str_, &out)) return out;
      double d;
      if (TryStrToFloatDot(str_, &d)) return d;
      throw EConvertError(InvalidDateTimeMessage(str_));
    }
    case VarType::Empty:
    case VarType::Integer:
    case VarType::Int64:
    case VarType::Boolean:
    case VarType::Currency:
    case VarType::Double:
    case VarType::Date: return AsDouble();
    default: ThrowCannotConvert(VarType::Date);
  }
}

std::string Variant::AsString() const {
  switch (type_) {
    case VarType::Empty:
    case VarType::Null: return std::string();
    case VarType::Integer:
    case VarType::Int64: return std::to_string(u_.i64);
    case VarType::Double: return FloatToStrDot(u_.dbl);
    case VarType::Currency: return CurrToStrDot(u_.i64);
    case VarType::Boolean: return u_.i64 ? "True" : "False";
    case VarType::Date: return DateTimeToStr(u_.dbl);
    case VarType::String: return str_;
    default: ThrowCannotConvert(VarType::String);
  }
}

bool Variant::operator==(const Variant& other) const {
  if (IsNumeric() && other.IsNumeric()) {
    if (type_ == VarType::Double || other.type_ == VarType::Double ||
        type_ == VarType::Currency || other.type_ == VarType::Currency) {
      return AsDouble() == other.AsDouble();
    }
    return u_.i64 == other.u_.i64;
  }
  if (type_ != other.type_) return false;
  switch (type_) {
    case VarType::Empty:
    case VarType::Null: return true;
    case VarType::Boolean: return u_.i64 == other.u_.i64;
    case VarType::Date: return u_.dbl == other.u_.dbl;
    case VarType::String: return str_ == other.str_;
    case VarType::Dispatch:
    case VarType::Unknown: return ref_ == other.ref_;
    case VarType::Array:
      return array_->LowBound == other.array_->LowBound && array_->Items == other.array_->Items;
    default: return false;
  }
}

}  // namespace quill
