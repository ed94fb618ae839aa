// Variant: the one value type that carries every value the system moves
// around: Empty, Null, 32- and 64-bit integers, double, currency, Boolean,
// date, text, dispatch and unknown references, and arrays with a lower bound.
//
// Conversions follow the rules a script host relies on. Every failure raises
// an exception whose message is what the user sees: text that is no number
// gives EConvertError ("'abc' is not a valid integer value"), a Null or an
// object that cannot become a scalar gives EVariantError ("Could not convert
// variant of type (Null) into type (Integer)").
//
// The automation VARIANT is converted to and from this type in one place next
// to the shells; nothing here knows VARIANT layouts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "platform/olert/automation.h"
#include "platform/olert/olert.h"

namespace quill {

enum class VarType : uint8_t {
  Empty,
  Null,
  Integer,   // 32-bit signed
  Int64,
  Double,
  Currency,  // int64 holding the value times 10,000
  Boolean,
  Date,      // TDateTime
  String,    // UTF-8 text
  Dispatch,  // counted IDispatch reference (may be null)
  Unknown,   // counted IUnknown reference (may be null)
  Array,     // one-dimensional, with a lower bound
};

// Name of a type as the conversion messages use it ("Integer", "String"...).
const char* VarTypeName(VarType type);

class Variant;

struct VariantArray {
  int32_t LowBound = 0;
  std::vector<Variant> Items;
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(int32_t v) : type_(VarType::Integer) { u_.i64 = v; }
  Variant(int64_t v) : type_(VarType::Int64) { u_.i64 = v; }
  Variant(double v) : type_(VarType::Double) { u_.dbl = v; }
  Variant(bool v) : type_(VarType::Boolean) { u_.i64 = v ? 1 : 0; }
  Variant(std::string v) : type_(VarType::String), str_(std::move(v)) {}
  Variant(std::string_view v) : type_(VarType::String), str_(v) {}
  Variant(const char* v) : type_(VarType::String), str_(v ? v : "") {}
  // Takes a new reference (AddRef) on a non-null pointer.
  explicit Variant(IDispatch* v);
  explicit Variant(IUnknown* v);
  explicit Variant(VariantArray array);

  static Variant Null();
  static Variant FromCurrency(int64_t scaled);
  static Variant FromDate(TDateTime value);

  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  VarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == VarType::Empty; }
  bool IsNull() const { return type_ == VarType::Null; }
  bool IsArray() const { return type_ == VarType::Array; }
  // Empty or Null.
  bool IsClear() const { return IsEmpty() || IsNull(); }
  bool IsNumeric() const;  // Integer, Int64, Double, Currency

  // Raw access. REQUIRES: the matching type (asserted).
  int64_t RawInt() const;
  double RawDouble() const;
  int64_t RawCurrency() const;
  const std::string& RawString() const;
  IDispatch* RawDispatch() const;
  IUnknown* RawUnknown() const;
  const VariantArray& RawArray() const;
  VariantArray& RawArray();

  // Conversions. Empty gives 0, "" or False. Text is read with "." as the
  // decimal separator; "True"/"False" (any case) read as Booleans. Floating
  // values go to integers with banker's rounding. Out of range gives
  // EVariantError "Invalid variant operation: overflow" style messages.
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  int64_t AsCurrency() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;
  // Text of the value: Empty and Null give "", Booleans "True"/"False",
  // numbers their shortest "." text, dates the regional "C" text.
  std::string AsString() const;

  // Same type and equal value (text compared exactly, numbers by value
  // across numeric types).
  bool operator==(const Variant& other) const;

 private:
  // Back to Empty, dropping what was held.
  void Reset() noexcept;
  void CopyFrom(const Variant& other);
  [[noreturn]] void ThrowCannotConvert(VarType to) const;
  int64_t ToInt64(VarType target) const;

  VarType type_ = VarType::Empty;
  union {
    int64_t i64;
    double dbl;
  } u_{0};
  olert::ComPtr<IUnknown> ref_;  // Dispatch and Unknown: the counted reference
  std::string str_;
  std::unique_ptr<VariantArray> array_;
};

}  // namespace quill
