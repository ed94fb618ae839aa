// The numeric field classes: the integer fields (one template over 32- and
// 64-bit values) and the float field, with their range checks, rounding
// and formatted texts.
#include <cmath>
#include <limits>

#include "base/errors.h"
#include "base/number_text.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/format_float.h"

namespace quill {

namespace {

[[noreturn]] void RangeError(const std::string& value, const std::string& field,
                             const std::string& low, const std::string& high) {
  throw EDatabaseError(value + " is not a valid value for field '" + field +
                       "'. The allowed range is " + low + " to " + high);
}

// A double rounded half to even into int64, or false when out of range.
bool RoundToInt64(double value, int64_t* out) {
  if (!std::isfinite(value)) return false;
  const double r = std::nearbyint(value);
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  *out = static_cast<int64_t>(r);
  return true;
}

// Whether a kept text is the very text of the value an integer field reads
// from it: values are read in the range of their type, 32 bits but for
// ftLargeint.
bool IntegerTextAsIs(std::string_view text, TFieldType type) {
  return IsCanonicalInteger(text, type == ftLargeint);
}

// The same for a float field: only an exact decimal's text.
bool DecimalTextAsIs(std::string_view text, TFieldType) { return IsPlainDecimal(text); }

}  // namespace

// --- TNumericField ------------------------------------------------------------------

TNumericField::TNumericField(TDataSet& dataset, TFieldType type) : TField(dataset, type) {
  SetAlignment(taRightJustify);
}

const std::string& TNumericField::FormatFor(bool display) const {
  return display || EditFormat.empty() ? DisplayFormat : EditFormat;
}

bool TNumericField::PeekKeptText(std::string_view* out,
                                 bool (*as_is)(std::string_view, TFieldType)) const {
  std::string_view kept;
  switch (DataSet().PeekFieldText(*this, &kept)) {
    case TDataSet::TKeptText::Null:
      *out = {};
      return true;
    case TDataSet::TKeptText::Text:
      if (!as_is(kept, DataType())) return false;
      *out = kept;
      return true;
    case TDataSet::TKeptText::Unknown:
      break;
  }
  return false;
}

bool TNumericField::TakeKeptText(std::string* out,
                                 bool (*as_is)(std::string_view, TFieldType)) const {
  std::string_view kept;
  if (!PeekKeptText(&kept, as_is)) return false;
  out->assign(kept);
  return true;
}

// --- TIntegralField and its kinds -----------------------------------------------------

template <typename T>
TIntegralField<T>::TIntegralField(TDataSet& dataset, TFieldType type)
    : TNumericField(dataset, type),
      min_range_(std::numeric_limits<T>::min()),
      max_range_(std::numeric_limits<T>::max()) {}

TSmallintField::TSmallintField(TDataSet& dataset) : TIntegerField(dataset, ftSmallint) {
  min_range_ = -32768;
  max_range_ = 32767;
}

TWordField::TWordField(TDataSet& dataset) : TIntegerField(dataset, ftWord) {
  min_range_ = 0;
  max_range_ = 65535;
}

TAutoIncField::TAutoIncField(TDataSet& dataset) : TIntegerField(dataset, ftAutoInc) {}

TLargeintField::TLargeintField(TDataSet& dataset) : TIntegralField(dataset, ftLargeint) {}

template <typename T>
void TIntegralField<T>::CheckRange(int64_t value) const {
  int64_t low = min_range_;
  int64_t high = max_range_;
  if (MinValue != 0 || MaxValue != 0) {
    low = MinValue;
    high = MaxValue;
  }
  if (value < low || value > high) {
    RangeError(std::to_string(value), DisplayName(), std::to_string(low), std::to_string(high));
  }
}

template <typename T>
T TIntegralField<T>::Value() const {
  TFieldValue v;
  return GetData(&v) ? static_cast<T>(v.Integer) : 0;
}

template <typename T>
int32_t TIntegralField<T>::AsInteger() const {
  if constexpr (sizeof(T) <= sizeof(int32_t)) {
    return Value();
  } else {
    const int64_t value = AsLargeInt();
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
      throw EConvertError(InvalidIntegerMessage(std::to_string(value)));
    }
    return static_cast<int32_t>(value);
  }
}

template <typename T>
int64_t TIntegralField<T>::AsLargeInt() const {
  if constexpr (sizeof(T) <= sizeof(int32_t)) {
    return AsInteger();
  } else {
    return Value();
  }
}

template <typename T>
std::string TIntegralField<T>::AsString() const {
  TFieldValue v;
  return GetData(&v) ? std::to_string(v.Integer) : std::string();
}

template <typename T>
std::string TIntegralField<T>::GetText(bool display) const {
  TFieldValue v;
  if (!GetData(&v)) return std::string();
  const std::string& format = FormatFor(display);
  return format.empty() ? std::to_string(v.Integer)
                        : FormatFloat(format, static_cast<double>(v.Integer));
}

template <typename T>
void TIntegralField<T>::GetTextTo(bool display, std::string* out) const {
  if (FormatFor(display).empty() && TakeKeptText(out, IntegerTextAsIs)) return;
  *out = GetText(display);
}

template <typename T>
bool TIntegralField<T>::PeekShownText(std::string_view* out) const {
  return FormatFor(true).empty() && PeekKeptText(out, IntegerTextAsIs);
}

template <typename T>
void TIntegralField<T>::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  int64_t value = 0;
  if (!TryStrToInt64(text, &value)) throw EConvertError(InvalidIntegerMessage(std::string(text)));
  SetAsLargeInt(value);
}

template <typename T>
void TIntegralField<T>::SetAsInteger(int32_t value) {
  SetAsLargeInt(value);
}

template <typename T>
void TIntegralField<T>::SetAsLargeInt(int64_t value) {
  CheckRange(value);
  TFieldValue v;
  v.Integer = value;
  SetData(&v);
}

template <typename T>
double TIntegralField<T>::AsFloat() const {
  if constexpr (sizeof(T) <= sizeof(int32_t)) {
    return AsInteger();
  } else {
    return static_cast<double>(AsLargeInt());
  }
}

template <typename T>
void TIntegralField<T>::SetAsFloat(double value) {
  int64_t rounded = 0;
  if (!RoundToInt64(value, &rounded)) {
    RangeError(FloatToStrDot(value), DisplayName(), std::to_string(min_range_),
               std::to_string(max_range_));
  }
  SetAsLargeInt(rounded);
}

template <typename T>
Variant TIntegralField<T>::AsVariant() const {
  TFieldValue v;
  return GetData(&v) ? Variant(static_cast<T>(v.Integer)) : Variant::Null();
}

template <typename T>
void TIntegralField<T>::SetAsVariant(const Variant& value) {
  if (value.IsClear()) {
    Clear();
  } else {
    SetAsLargeInt(value.AsInt64());
  }
}

template class TIntegralField<int32_t>;
template class TIntegralField<int64_t>;

// --- TFloatField ---------------------------------------------------------------------------

TFloatField::TFloatField(TDataSet& dataset) : TNumericField(dataset, ftFloat) {}

double TFloatField::AsFloat() const {
  TFieldValue v;
  return GetData(&v) ? v.Float : 0.0;
}

std::string TFloatField::AsString() const {
  TFieldValue v;
  if (!GetData(&v)) return std::string();
  // An exact decimal keeps every digit of its text.
  return v.Text.empty() ? FloatToStrDot(v.Float) : v.Text;
}

std::string TFloatField::GetText(bool display) const {
  TFieldValue v;
  if (!GetData(&v)) return std::string();
  const std::string& format = FormatFor(display);
  if (!format.empty()) return FormatFloat(format, v.Float);
  // No regional currency symbol exists in this system; a currency field
  // shows two decimals with grouped thousands.
  if (Currency) return FormatFloat("#,##0.00", v.Float);
  if (!v.Text.empty()) return v.Text;
  return FloatToStrGeneral(v.Float, Precision);
}

void TFloatField::GetTextTo(bool display, std::string* out) const {
  if (FormatFor(display).empty() && !Currency && TakeKeptText(out, DecimalTextAsIs)) return;
  *out = GetText(display);
}

bool TFloatField::PeekShownText(std::string_view* out) const {
  return FormatFor(true).empty() && !Currency && PeekKeptText(out, DecimalTextAsIs);
}

void TFloatField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  double value = 0;
  if (!TryStrToFloatDot(text, &value)) throw EConvertError(InvalidFloatMessage(std::string(text)));
  // The text goes along: a dataset that keeps exact decimals stores it
  // rather than the double's digits.
  Store(value, text);
}

void TFloatField::SetAsFloat(double value) { Store(value, {}); }

void TFloatField::Store(double value, std::string_view text) {
  if (!std::isfinite(value)) {
    RangeError(FloatToStrDot(value), DisplayName(), FloatToStrDot(-1.7976931348623157e308),
               FloatToStrDot(1.7976931348623157e308));
  }
  if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue)) {
    RangeError(FloatToStrDot(value), DisplayName(), FloatToStrDot(MinValue),
               FloatToStrDot(MaxValue));
  }
  TFieldValue v;
  v.Float = value;
  v.Text.assign(text);
  SetData(&v);
}

int32_t TFloatField::AsInteger() const {
  int64_t rounded = 0;
  const double value = AsFloat();
  if (!RoundToInt64(value, &rounded) || rounded < std::numeric_limits<int32_t>::min() ||
      rounded > std::numeric_limits<int32_t>::max()) {
    throw EConvertError(InvalidIntegerMessage(FloatToStrDot(value)));
  }
  return static_cast<int32_t>(rounded);
}

void TFloatField::SetAsInteger(int32_t value) { SetAsFloat(value); }

int64_t TFloatField::AsLargeInt() const {
  int64_t rounded = 0;
  const double value = AsFloat();
  if (!RoundToInt64(value, &rounded)) {
    throw EConvertError(InvalidIntegerMessage(FloatToStrDot(value)));
  }
  return rounded;
}

void TFloatField::SetAsLargeInt(int64_t value) { SetAsFloat(static_cast<double>(value)); }

Variant TFloatField::AsVariant() const {
  TFieldValue v;
  return GetData(&v) ? Variant(v.Float) : Variant::Null();
}

void TFloatField::SetAsVariant(const Variant& value) {
  if (value.IsClear()) {
    Clear();
  } else if (value.Type() == VarType::String) {
    SetAsString(value.RawString());
  } else {
    SetAsFloat(value.AsDouble());
  }
}

}  // namespace quill
