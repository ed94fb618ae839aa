// The field classes: value conversions between each field type's
// representation and the script's views of a value, display texts, the
// write checks, and the published-property tables of every field class.
// The numeric fields' conversions are in numeric_fields.cpp.
#include "mysql_dataset/fields.h"

#include <cmath>
#include <limits>

#include "base/date_text.h"
#include "base/errors.h"
#include "base/format_date_time.h"
#include "base/number_text.h"
#include "base/published.h"
#include "base/string_list.h"
#include "mysql_dataset/format_float.h"
#include "mysql_dataset/sql_date_text.h"

namespace quill {

namespace {

// --- Published properties ------------------------------------------------------
// Readers and writers cast to the class whose table holds the entry; the
// lookup guarantees the object is of that class or a descendant.

template <class C>
const C& As(const TObject& o) {
  return static_cast<const C&>(o);
}
template <class C>
C& As(TObject& o) {
  return static_cast<C&>(o);
}

#define QUILL_STRING_MEMBER(Class, Name, member)                             \
  StringProp(                                                                \
      Name, [](const TObject& o) { return Variant(As<Class>(o).member); },   \
      [](TObject& o, const Variant& v) { As<Class>(o).member = v.AsString(); })
#define QUILL_BOOL_MEMBER(Class, Name, member, def)                           \
  BooleanProp(                                                                \
      Name, [](const TObject& o) { return Variant(As<Class>(o).member); },    \
      [](TObject& o, const Variant& v) { As<Class>(o).member = v.AsBoolean(); }, def)

const PropertyInfo kFieldProps[] = {
    EnumProp(
        "Alignment", AlignmentNames(),
        [](const TObject& o) { return Variant(static_cast<int32_t>(As<TField>(o).Alignment())); },
        [](TObject& o, const Variant& v) {
          As<TField>(o).SetAlignment(static_cast<TAlignment>(v.AsInteger()));
        },
        "taLeftJustify"),
    EnumProp(
        "AutoGenerateValue", AutoRefreshFlagNames(),
        [](const TObject& o) {
          return Variant(static_cast<int32_t>(As<TField>(o).AutoGenerateValue()));
        },
        [](TObject& o, const Variant& v) {
          As<TField>(o).SetAutoGenerateValue(static_cast<TAutoRefreshFlag>(v.AsInteger()));
        },
        "arNone"),
    QUILL_STRING_MEMBER(TField, "CustomConstraint", CustomConstraint),
    QUILL_STRING_MEMBER(TField, "ConstraintErrorMessage", ConstraintErrorMessage),
    QUILL_STRING_MEMBER(TField, "DefaultExpression", DefaultExpression),
    StringProp(
        "DisplayLabel", [](const TObject& o) { return Variant(As<TField>(o).DisplayLabel()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetDisplayLabel(v.AsString()); }),
    IntegerProp(
        "DisplayWidth", [](const TObject& o) { return Variant(As<TField>(o).DisplayWidth()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetDisplayWidth(v.AsInteger()); }),
    EnumProp(
        "FieldKind", FieldKindNames(),
        [](const TObject& o) { return Variant(static_cast<int32_t>(As<TField>(o).FieldKind())); },
        [](TObject& o, const Variant& v) {
          As<TField>(o).SetFieldKind(static_cast<TFieldKind>(v.AsInteger()));
        },
        "fkData"),
    StringProp(
        "FieldName", [](const TObject& o) { return Variant(As<TField>(o).FieldName()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetFieldName(v.AsString()); }),
    BooleanProp(
        "HasConstraints",
        [](const TObject& o) { return Variant(As<TField>(o).HasConstraints()); }, nullptr),
    IntegerProp(
        "Index", [](const TObject& o) { return Variant(static_cast<int32_t>(As<TField>(o).Index())); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetIndex(v.AsInteger()); }),
    QUILL_STRING_MEMBER(TField, "ImportedConstraint", ImportedConstraint),
    ObjectProp(
        "LookupDataSet", &TDataSet::StaticClassInfo,
        [](const TObject& o) -> TObject* { return As<TField>(o).LookupDataSet; },
        [](TObject& o, TObject* value) {
          As<TField>(o).LookupDataSet =
              value != nullptr && value->InheritsFrom(TDataSet::StaticClassInfo)
                  ? static_cast<TDataSet*>(value)
                  : nullptr;
        }),
    QUILL_STRING_MEMBER(TField, "LookupKeyFields", LookupKeyFields),
    QUILL_STRING_MEMBER(TField, "LookupResultField", LookupResultField),
    QUILL_STRING_MEMBER(TField, "KeyFields", KeyFields),
    QUILL_BOOL_MEMBER(TField, "LookupCache", LookupCache, "False"),
    QUILL_STRING_MEMBER(TField, "Origin", Origin),
    SetProp(
        "ProviderFlags", ProviderFlagNames(),
        [](const TObject& o) { return Variant(As<TField>(o).ProviderFlags()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetProviderFlags(v.AsInteger()); }, "3"),
    BooleanProp(
        "ReadOnly", [](const TObject& o) { return Variant(As<TField>(o).ReadOnly()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetReadOnly(v.AsBoolean()); }, "False"),
    BooleanProp(
        "Required", [](const TObject& o) { return Variant(As<TField>(o).Required()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetRequired(v.AsBoolean()); }, "False"),
    BooleanProp(
        "Visible", [](const TObject& o) { return Variant(As<TField>(o).Visible()); },
        [](TObject& o, const Variant& v) { As<TField>(o).SetVisible(v.AsBoolean()); }, "True"),
    EventProp("OnChange"),
    EventProp("OnGetText"),
    EventProp("OnSetText"),
    EventProp("OnValidate"),
};

PropertyInfo SizeProp(std::string_view def) {
  return IntegerProp(
      "Size", [](const TObject& o) { return Variant(As<TField>(o).Size()); },
      [](TObject& o, const Variant& v) { As<TField>(o).SetSize(v.AsInteger()); }, def);
}

const PropertyInfo kStringFieldProps[] = {
    QUILL_STRING_MEMBER(TStringField, "EditMask", EditMask),
    QUILL_BOOL_MEMBER(TStringField, "FixedChar", FixedChar, "False"),
    SizeProp("20"),
    QUILL_BOOL_MEMBER(TStringField, "Transliterate", Transliterate, "True"),
};

const PropertyInfo kNumericFieldProps[] = {
    EnumProp(
        "Alignment", AlignmentNames(),
        [](const TObject& o) { return Variant(static_cast<int32_t>(As<TField>(o).Alignment())); },
        [](TObject& o, const Variant& v) {
          As<TField>(o).SetAlignment(static_cast<TAlignment>(v.AsInteger()));
        },
        "taRightJustify"),
    QUILL_STRING_MEMBER(TNumericField, "DisplayFormat", DisplayFormat),
    QUILL_STRING_MEMBER(TNumericField, "EditFormat", EditFormat),
};

const PropertyInfo kIntegerFieldProps[] = {
    IntegerProp(
        "MaxValue", [](const TObject& o) { return Variant(As<TIntegerField>(o).MaxValue); },
        [](TObject& o, const Variant& v) { As<TIntegerField>(o).MaxValue = v.AsInteger(); }, "0"),
    IntegerProp(
        "MinValue", [](const TObject& o) { return Variant(As<TIntegerField>(o).MinValue); },
        [](TObject& o, const Variant& v) { As<TIntegerField>(o).MinValue = v.AsInteger(); }, "0"),
};

const PropertyInfo kLargeintFieldProps[] = {
    Int64Prop(
        "MaxValue", [](const TObject& o) { return Variant(As<TLargeintField>(o).MaxValue); },
        [](TObject& o, const Variant& v) { As<TLargeintField>(o).MaxValue = v.AsInt64(); }, "0"),
    Int64Prop(
        "MinValue", [](const TObject& o) { return Variant(As<TLargeintField>(o).MinValue); },
        [](TObject& o, const Variant& v) { As<TLargeintField>(o).MinValue = v.AsInt64(); }, "0"),
};

const PropertyInfo kFloatFieldProps[] = {
    QUILL_BOOL_MEMBER(TFloatField, "currency", Currency, "False"),
    FloatProp(
        "MaxValue", [](const TObject& o) { return Variant(As<TFloatField>(o).MaxValue); },
        [](TObject& o, const Variant& v) { As<TFloatField>(o).MaxValue = v.AsDouble(); }, "0"),
    FloatProp(
        "MinValue", [](const TObject& o) { return Variant(As<TFloatField>(o).MinValue); },
        [](TObject& o, const Variant& v) { As<TFloatField>(o).MinValue = v.AsDouble(); }, "0"),
    IntegerProp(
        "Precision", [](const TObject& o) { return Variant(As<TFloatField>(o).Precision); },
        [](TObject& o, const Variant& v) { As<TFloatField>(o).Precision = v.AsInteger(); }, "15"),
};

const PropertyInfo kDateTimeFieldProps[] = {
    QUILL_STRING_MEMBER(TDateTimeField, "DisplayFormat", DisplayFormat),
    QUILL_STRING_MEMBER(TDateTimeField, "EditMask", EditMask),
};

const PropertyInfo kBlobFieldProps[] = {
    EnumProp(
        "BlobType", BlobTypeNames(),
        [](const TObject& o) {
          return Variant(static_cast<int32_t>(As<TBlobField>(o).BlobType() - ftBlob));
        },
        [](TObject& o, const Variant& v) {
          const int32_t index = v.AsInteger();
          if (index >= 0 && index <= ftTypedBinary - ftBlob) {
            As<TBlobField>(o).SetBlobType(static_cast<TFieldType>(ftBlob + index));
          }
        }),
    SizeProp("0"),
};

const PropertyInfo kMemoFieldProps[] = {
    QUILL_BOOL_MEMBER(TMemoField, "Transliterate", Transliterate, "True"),
};

#undef QUILL_STRING_MEMBER
#undef QUILL_BOOL_MEMBER

bool IsWriteState(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

template <class F>
std::unique_ptr<TField> Make(TDataSet& dataset) {
  return std::make_unique<F>(dataset);
}

}  // namespace

// --- Class infos -------------------------------------------------------------------

const TClassInfo TField::StaticClassInfo{"TField", &TComponent::StaticClassInfo, kFieldProps};
const TClassInfo TStringField::StaticClassInfo{"TStringField", &TField::StaticClassInfo,
                                               kStringFieldProps};
const TClassInfo TNumericField::StaticClassInfo{"TNumericField", &TField::StaticClassInfo,
                                                kNumericFieldProps};
const TClassInfo TIntegerField::StaticClassInfo{"TIntegerField", &TNumericField::StaticClassInfo,
                                                kIntegerFieldProps};
const TClassInfo TSmallintField::StaticClassInfo{"TSmallintField",
                                                 &TIntegerField::StaticClassInfo, {}};
const TClassInfo TWordField::StaticClassInfo{"TWordField", &TIntegerField::StaticClassInfo, {}};
const TClassInfo TAutoIncField::StaticClassInfo{"TAutoIncField", &TIntegerField::StaticClassInfo,
                                                {}};
const TClassInfo TLargeintField::StaticClassInfo{"TLargeintField",
                                                 &TNumericField::StaticClassInfo,
                                                 kLargeintFieldProps};
const TClassInfo TFloatField::StaticClassInfo{"TFloatField", &TNumericField::StaticClassInfo,
                                              kFloatFieldProps};
const TClassInfo TDateTimeField::StaticClassInfo{"TDateTimeField", &TField::StaticClassInfo,
                                                 kDateTimeFieldProps};
const TClassInfo TDateField::StaticClassInfo{"TDateField", &TDateTimeField::StaticClassInfo, {}};
const TClassInfo TTimeField::StaticClassInfo{"TTimeField", &TDateTimeField::StaticClassInfo, {}};
const TClassInfo TVariantField::StaticClassInfo{"TVariantField", &TField::StaticClassInfo, {}};
const TClassInfo TBlobField::StaticClassInfo{"TBlobField", &TField::StaticClassInfo,
                                             kBlobFieldProps};
const TClassInfo TMemoField::StaticClassInfo{"TMemoField", &TBlobField::StaticClassInfo,
                                             kMemoFieldProps};
const TClassInfo TUnknownField::StaticClassInfo{"TUnknownField", &TField::StaticClassInfo, {}};

TFieldClass DefaultFieldClass(TFieldType type) {
  switch (type) {
    case ftString: return &Make<TStringField>;
    case ftSmallint: return &Make<TSmallintField>;
    case ftInteger: return &Make<TIntegerField>;
    case ftWord: return &Make<TWordField>;
    case ftAutoInc: return &Make<TAutoIncField>;
    case ftLargeint: return &Make<TLargeintField>;
    case ftFloat: return &Make<TFloatField>;
    case ftDate: return &Make<TDateField>;
    case ftTime: return &Make<TTimeField>;
    case ftDateTime: return &Make<TDateTimeField>;
    case ftVariant: return &Make<TVariantField>;
    case ftBlob: return &Make<TBlobField>;
    case ftMemo: return &Make<TMemoField>;
    default: return nullptr;
  }
}

// --- TField -----------------------------------------------------------------------

TField::TField(TDataSet& dataset, TFieldType type)
    : TComponent(&dataset), dataset_(&dataset), data_type_(type) {}

TField::~TField() = default;

void TField::SetFieldName(const std::string& name) {
  for (int i = 0; i < dataset_->FieldCount(); ++i) {
    const TField& other = dataset_->Field(i);
    if (&other != this && SameText(other.FieldName(), name)) {
      throw EDatabaseError(FormatMessage(kMsgDuplicateFieldName, name));
    }
  }
  field_name_ = name;
}

const std::string& TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataset_->Active()) dataset_->Fail(kMsgDataSetOpen);
  field_kind_ = kind;
}

int TField::Index() const { return dataset_->IndexOfField(this); }
void TField::SetIndex(int index) { dataset_->MoveField(this, index); }

bool TField::HasConstraints() const {
  return !CustomConstraint.empty() || !ImportedConstraint.empty();
}

bool TField::GetData(TFieldValue* dest) const { return dataset_->ReadFieldValue(*this, dest); }

void TField::CheckWritable() const {
  if (!dataset_->Active()) dataset_->Fail(kMsgDataSetClosed);
  if (read_only_) throw EDatabaseError(FormatMessage(kMsgFieldReadOnly, DisplayName()));
  if (field_no_ > 0 && !IsWriteState(dataset_->State())) dataset_->Fail(kMsgNotEditing);
}

void TField::SetData(const TFieldValue* source) {
  CheckWritable();
  dataset_->WriteFieldValue(*this, source);
}

void TField::Validate(const TFieldValue* value) {
  if (OnValidate) OnValidate(*this, value);
}

bool TField::IsNull() const { return !GetData(nullptr); }

bool TField::ReadAsString(std::string* out) const {
  const bool has_value = !IsNull();
  *out = AsString();
  return has_value;
}

void TField::AccessError(const char* type_name) const {
  throw EDatabaseError("Cannot access field '" + DisplayName() + "' as type " + type_name);
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(std::string_view) { AccessError("String"); }
int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
int64_t TField::AsLargeInt() const { AccessError("Largeint"); }
void TField::SetAsLargeInt(int64_t) { AccessError("Largeint"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
Variant TField::AsVariant() const { AccessError("Variant"); }
void TField::SetAsVariant(const Variant&) { AccessError("Variant"); }

void TField::Clear() { SetData(nullptr); }

std::string TField::GetText(bool) const { return AsString(); }

std::string TField::Text() const {
  std::string text;
  if (OnGetText) {
    OnGetText(const_cast<TField&>(*this), text, false);
  } else {
    text = GetText(false);
  }
  return text;
}

std::string TField::DisplayText() const {
  std::string text;
  ReadDisplayText(&text);
  return text;
}

void TField::ReadDisplayText(std::string* out) const {
  if (OnGetText) {
    out->clear();
    OnGetText(const_cast<TField&>(*this), *out, true);
  } else {
    GetTextTo(true, out);
  }
}

void TField::SetText(std::string_view text) {
  if (OnSetText) {
    OnSetText(*this, std::string(text));
  } else {
    SetAsString(text);
  }
}

// --- TTextBackedField and TStringField ----------------------------------------------

std::string TTextBackedField::AsString() const {
  std::string text;
  GetTextData(&text);
  return text;
}

bool TTextBackedField::ReadAsString(std::string* out) const { return GetTextData(out); }

void TTextBackedField::SetAsString(std::string_view text) {
  TFieldValue v;
  v.Text.assign(text);
  SetData(&v);
}

std::string TTextBackedField::GetText(bool) const { return AsString(); }

void TTextBackedField::GetTextTo(bool, std::string* out) const { GetTextData(out); }

bool TTextBackedField::PeekShownText(std::string_view* out) const {
  switch (DataSet().PeekStringText(*this, out)) {
    case TDataSet::TKeptText::Text:
      return true;
    case TDataSet::TKeptText::Null:
      *out = {};
      return true;
    case TDataSet::TKeptText::Unknown:
      break;
  }
  return false;
}

Variant TTextBackedField::AsVariant() const {
  TFieldValue v;
  return GetData(&v) ? Variant(std::move(v.Text)) : Variant::Null();
}

void TTextBackedField::SetAsVariant(const Variant& value) {
  if (value.IsClear()) {
    Clear();
  } else {
    SetAsString(value.AsString());
  }
}

TStringField::TStringField(TDataSet& dataset) : TTextBackedField(dataset, ftString) {
  SetSize(20);
}

int32_t TStringField::AsInteger() const {
  const std::string text = AsString();
  if (text.empty()) return 0;
  int32_t value = 0;
  if (!TryStrToInt(text, &value)) throw EConvertError(InvalidIntegerMessage(text));
  return value;
}

void TStringField::SetAsInteger(int32_t value) { SetAsString(std::to_string(value)); }

int64_t TStringField::AsLargeInt() const {
  const std::string text = AsString();
  if (text.empty()) return 0;
  int64_t value = 0;
  if (!TryStrToInt64(text, &value)) throw EConvertError(InvalidIntegerMessage(text));
  return value;
}

void TStringField::SetAsLargeInt(int64_t value) { SetAsString(std::to_string(value)); }

double TStringField::AsFloat() const {
  const std::string text = AsString();
  if (text.empty()) return 0;
  return StrToFloatDot(text);
}

void TStringField::SetAsFloat(double value) { SetAsString(FloatToStrDot(value)); }

TDateTime TStringField::AsDateTime() const {
  const std::string text = AsString();
  if (text.empty()) return 0;
  TDateTime value = 0;
  if (!TryStrToDateTime(text, &value)) throw EConvertError(InvalidDateTimeMessage(text));
  return value;
}

void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToSqlText(value)); }

// --- TDateTimeField and kin -------------------------------------------------------------------

TDateTimeField::TDateTimeField(TDataSet& dataset, TFieldType type) : TField(dataset, type) {}

TDateTime TDateTimeField::AsDateTime() const {
  TFieldValue v;
  return GetData(&v) ? v.DateTime : 0.0;
}

std::string TDateTimeField::GetText(bool display) const {
  std::string text;
  GetTextTo(display, &text);
  return text;
}

namespace {

// The parts of a kept text in the server's fixed form for a field of
// `type`; false when the text must be read as a TDateTime.
bool KeptDateTimeParts(TFieldType type, std::string_view text, DateParts* date, TimeParts* time) {
  switch (type) {
    case ftDate:
      *time = TimeParts{};
      return ServerDateParts(text, date);
    case ftTime: {
      static const DateParts day_zero = DecodeDate(0);
      *date = day_zero;
      return ServerTimeParts(text, time);
    }
    default:
      // A TIMESTAMP's text in this form reads as a DATETIME's does.
      return text.size() == 19 && text[10] == ' ' && ServerDateParts(text.substr(0, 10), date) &&
             ServerTimeParts(text.substr(11), time);
  }
}

}  // namespace

void TDateTimeField::GetTextTo(bool display, std::string* out) const {
  const bool formatted = display && !DisplayFormat.empty();
  // A column's cells share the format: it is read once, not per cell.
  if (formatted && (display_format_ == nullptr || display_format_->Text() != DisplayFormat)) {
    display_format_ = RegionalDateTimeFormat(DisplayFormat);
  }
  // The server's own text is taken apart directly when it can be.
  std::string_view kept;
  switch (DataSet().PeekFieldText(*this, &kept)) {
    case TDataSet::TKeptText::Null:
      out->clear();
      return;
    case TDataSet::TKeptText::Text: {
      DateParts date;
      TimeParts time;
      if (!KeptDateTimeParts(DataType(), kept, &date, &time)) break;
      if (formatted) {
        display_format_->Format(date, time, out);
        return;
      }
      switch (DataType()) {
        case ftDate: DateToStr(date, out); break;
        case ftTime: TimeToStr(time, out); break;
        default: DateTimeToStr(date, time, out); break;
      }
      return;
    }
    case TDataSet::TKeptText::Unknown:
      break;
  }
  TFieldValue v;
  if (!GetData(&v)) {
    out->clear();
    return;
  }
  if (formatted) {
    display_format_->Format(v.DateTime, out);
    return;
  }
  switch (DataType()) {
    case ftDate: DateToStr(v.DateTime, out); break;
    case ftTime: TimeToStr(v.DateTime, out); break;
    default: DateTimeToStr(v.DateTime, out); break;
  }
}

std::string TDateTimeField::AsString() const { return GetText(false); }

void TDateTimeField::SetAsString(std::string_view text) {
  if (Trim(text).empty()) {
    Clear();
    return;
  }
  TDateTime value = 0;
  if (!TryStrToDateTime(text, &value)) {
    const std::string t(text);
    switch (DataType()) {
      case ftDate: throw EConvertError(InvalidDateMessage(t));
      case ftTime: throw EConvertError(InvalidTimeMessage(t));
      default: throw EConvertError(InvalidDateTimeMessage(t));
    }
  }
  SetAsDateTime(value);
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  TFieldValue v;
  switch (DataType()) {
    case ftDate:
      v.DateTime = std::trunc(value);
      break;
    case ftTime:
      v.DateTime = std::fabs(value - std::trunc(value));
      break;
    default:
      v.DateTime = value;
      break;
  }
  SetData(&v);
}

double TDateTimeField::AsFloat() const { return AsDateTime(); }
void TDateTimeField::SetAsFloat(double value) { SetAsDateTime(value); }

Variant TDateTimeField::AsVariant() const {
  TFieldValue v;
  return GetData(&v) ? Variant::FromDate(v.DateTime) : Variant::Null();
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  if (value.IsClear()) {
    Clear();
  } else if (value.Type() == VarType::String) {
    SetAsString(value.RawString());
  } else {
    SetAsDateTime(value.AsDateTime());
  }
}

// --- TVariantField ------------------------------------------------------------------------------

TVariantField::TVariantField(TDataSet& dataset) : TTextBackedField(dataset, ftVariant) {}

// --- TBlobField ------------------------------------------------------------------------------------

TBlobField::TBlobField(TDataSet& dataset, TFieldType type)
    : TField(dataset, type), blob_type_(type) {}

std::string TBlobField::AsString() const {
  if (!DataSet().Active()) return std::string();
  std::unique_ptr<TStream> stream =
      DataSet().OpenBlobStream(const_cast<TBlobField&>(*this), TDataSet::TBlobStreamMode::Read);
  return stream->ReadAll();
}

void TBlobField::SetAsString(std::string_view text) {
  CheckWritable();
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw EDatabaseError("Blob value too large for field '" + DisplayName() + "'");
  }
  std::unique_ptr<TStream> stream = DataSet().OpenBlobStream(*this, TDataSet::TBlobStreamMode::Write);
  stream->WriteAll(std::string(text));
}

void TBlobField::Clear() {
  // NULL, not empty bytes: an empty content is a value of its own.
  TField::Clear();
}

Variant TBlobField::AsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(AsString());
}

void TBlobField::SetAsVariant(const Variant& value) {
  if (value.IsClear()) {
    Clear();
  } else {
    SetAsString(value.AsString());
  }
}

std::string TBlobField::GetText(bool display) const {
  if (!display) return AsString();
  const bool memo = DataType() == ftMemo;
  if (IsNull()) return memo ? "(Memo)" : "(Blob)";
  return memo ? "(MEMO)" : "(BLOB)";
}

// --- TUnknownField -----------------------------------------------------------------------------------

TUnknownField::TUnknownField(TDataSet& dataset) : TTextBackedField(dataset, ftUnknown) {}

// --- TStream ---------------------------------------------------------------------------------------------

std::string TStream::ReadAll() {
  Seek(0, TSeekOrigin::FromBeginning);
  const int32_t size = Size();
  std::string out(static_cast<size_t>(std::max(size, 0)), '\0');
  const int32_t got = size > 0 ? Read(out.data(), size) : 0;
  out.resize(static_cast<size_t>(std::max(got, 0)));
  return out;
}

void TStream::WriteAll(const std::string& bytes) {
  if (!bytes.empty()) Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace quill
