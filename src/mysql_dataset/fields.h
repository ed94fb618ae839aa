// The field objects of a dataset: one class per field type that the MySQL
// type mapping produces, each converting between the value representation
// of its type and the script's views of it (text, display text, integer,
// float, date-time, variant).
//
// A field holds no value of its own. Every read goes to its dataset's
// ReadFieldValue for the active record, every write to WriteFieldValue, so
// a field always shows the record the dataset has made active. Writes are
// refused with a clear error on a closed dataset, outside edit and insert
// state ("Dataset not in edit or insert mode") and on a read-only field
// ("Field '%s' cannot be modified"), so that no value is ever written where
// it would be silently dropped.
//
// Display texts use the process's regional settings (base/regional_settings.h);
// texts read and written with AsString use "." as the decimal separator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/component.h"
#include "base/date_time.h"
#include "base/format_date_time.h"
#include "base/variant.h"
#include "mysql_dataset/dataset.h"
#include "mysql_dataset/field_types.h"

namespace quill {

inline constexpr const char* kMsgFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kMsgFieldUnknownType = "Field '%s' is of an unknown type";
inline constexpr const char* kMsgDuplicateFieldName = "Duplicate field name '%s'";

class TField : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using TFieldNotifyEvent = std::function<void(TField& field)>;
  using TFieldGetTextEvent = std::function<void(TField& field, std::string& text, bool display)>;
  using TFieldSetTextEvent = std::function<void(TField& field, const std::string& text)>;
  using TFieldValidateEvent = std::function<void(TField& field, const TFieldValue* value)>;

  // The field joins no field list by itself; its dataset adds it.
  TField(TDataSet& dataset, TFieldType type);
  ~TField() override;

  // --- Description ----------------------------------------------------------

  TDataSet& DataSet() const { return *dataset_; }
  TFieldType DataType() const { return data_type_; }
  const std::string& FieldName() const { return field_name_; }
  // Fails with "Duplicate field name '%s'" when another field of the dataset
  // has that name (ignoring case).
  void SetFieldName(const std::string& name);
  // The 1-based column number the field is bound to; 0 when not bound.
  int FieldNo() const { return field_no_; }
  void SetFieldNo(int number) { field_no_ = number; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t size) { size_ = size; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  // The label set, or the FieldName when none was set.
  const std::string& DisplayLabel() const { return DisplayName(); }
  void SetDisplayLabel(const std::string& label) { display_label_ = label; }
  // The label when set, else FieldName: the name messages use.
  const std::string& DisplayName() const;
  int32_t DisplayWidth() const { return display_width_ > 0 ? display_width_ : DefaultWidth(); }
  void SetDisplayWidth(int32_t width) { display_width_ = width; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { alignment_ = value; }
  TFieldKind FieldKind() const { return field_kind_; }
  // Fails with "Cannot perform this operation on an open dataset" while the
  // dataset is active.
  void SetFieldKind(TFieldKind kind);
  // Position in the dataset's field list; setting moves the field.
  int Index() const;
  void SetIndex(int index);
  int32_t ProviderFlags() const { return provider_flags_; }
  void SetProviderFlags(int32_t flags) { provider_flags_ = flags; }
  TAutoRefreshFlag AutoGenerateValue() const { return auto_generate_value_; }
  void SetAutoGenerateValue(TAutoRefreshFlag value) { auto_generate_value_ = value; }
  // True for blob, memo and their kin.
  virtual bool IsBlob() const { return false; }
  // True when any constraint text is set.
  bool HasConstraints() const;

  // Texts kept for scripts; the dataset does not act on them.
  std::string CustomConstraint, ConstraintErrorMessage, DefaultExpression, ImportedConstraint;
  std::string Origin, LookupKeyFields, LookupResultField, KeyFields;
  TDataSet* LookupDataSet = nullptr;
  bool LookupCache = false;

  // --- Value ----------------------------------------------------------------
  // Readers give the type's empty value (0, "", 0.0) for NULL. Setters raise
  // EConvertError for text that is no value of the type, EDatabaseError for
  // a value outside the field's range and for writes the dataset refuses.

  // True when the active record holds no value for the field, and when
  // there is no active record at all.
  bool IsNull() const;
  virtual std::string AsString() const;
  virtual void SetAsString(std::string_view text);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(int64_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  // Stores what AsString() gives into *out, reusing its capacity, so that
  // reading many values costs no allocation per value. Answers whether a
  // value was read: false for NULL, and for a text that reads as NULL.
  virtual bool ReadAsString(std::string* out) const;
  // Null for NULL; otherwise the value in its natural variant type.
  virtual Variant AsVariant() const;
  // Empty and Null clear the field; other values are converted to the type.
  virtual void SetAsVariant(const Variant& value);
  Variant Value() const { return AsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }
  // The edit text (OnGetText may replace it).
  std::string Text() const;
  // Sets the field from an edit text (through OnSetText when assigned).
  void SetText(std::string_view text);
  // The text a page shows (OnGetText may replace it): "" for NULL, except
  // for blob fields.
  std::string DisplayText() const;
  // Stores what DisplayText() gives into *out, reusing its capacity, so that
  // rendering many rows costs no allocation per value.
  void ReadDisplayText(std::string* out) const;
  // The same text without a copy, when it is a text the dataset keeps as
  // it is (valid until the active record changes); false when it has to
  // be made (with ReadDisplayText).
  bool PeekDisplayText(std::string_view* out) const { return !OnGetText && PeekShownText(out); }
  // Sets the field to NULL.
  virtual void Clear();

  // Calls OnValidate with the value about to be written (null: NULL).
  void Validate(const TFieldValue* value);

  TFieldNotifyEvent OnChange;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;
  TFieldValidateEvent OnValidate;

 protected:
  // The value through the dataset; false for NULL.
  bool GetData(TFieldValue* dest) const;
  // The value's text through the dataset into *out (capacity kept).
  bool GetTextData(std::string* out) const { return dataset_->ReadFieldText(*this, out); }
  // Writes through the dataset after the checks described at the top.
  void SetData(const TFieldValue* source);
  // Fails unless the field can be written now.
  void CheckWritable() const;
  // The text without OnGetText: the display text or the edit text.
  virtual std::string GetText(bool display) const;
  // The same into *out (capacity kept); by default GetText's.
  virtual void GetTextTo(bool display, std::string* out) const { *out = GetText(display); }
  // GetText(true) as a view of a kept text, when it is one; by default never.
  virtual bool PeekShownText(std::string_view*) const { return false; }
  virtual int32_t DefaultWidth() const { return 10; }
  [[noreturn]] void AccessError(const char* type_name) const;

 private:
  TDataSet* dataset_;
  TFieldType data_type_;
  std::string field_name_;
  std::string display_label_;
  int field_no_ = 0;
  int32_t size_ = 0;
  int32_t display_width_ = 0;
  int32_t provider_flags_ = kDefaultProviderFlags;
  bool required_ = false;
  bool read_only_ = false;
  bool visible_ = true;
  TAlignment alignment_ = taLeftJustify;
  TFieldKind field_kind_ = fkData;
  TAutoRefreshFlag auto_generate_value_ = arNone;
};

// Common base of the fields whose value is the column's text as it stands
// (string, variant and unknown fields): reading gives the text, writing
// stores the text given, and a variant value is that text (Null for none).
class TTextBackedField : public TField {
 public:
  std::string AsString() const override;
  bool ReadAsString(std::string* out) const override;
  void SetAsString(std::string_view text) override;
  Variant AsVariant() const override;
  // Empty or Null clears the field; any other value is stored as its text.
  void SetAsVariant(const Variant& value) override;

 protected:
  TTextBackedField(TDataSet& dataset, TFieldType type) : TField(dataset, type) {}
  std::string GetText(bool display) const override;
  void GetTextTo(bool display, std::string* out) const override;
  bool PeekShownText(std::string_view* out) const override;
};

// Text of at most Size characters (the MySQL string field accepts any size).
class TStringField : public TTextBackedField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TStringField(TDataSet& dataset);
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;

  std::string EditMask;
  bool FixedChar = false;
  bool Transliterate = true;

 protected:
  int32_t DefaultWidth() const override { return Size(); }
};

// Common base of the numeric fields: display and edit formats
// (FormatFloat patterns), right-aligned.
class TNumericField : public TField {
  QUILL_DECLARE_CLASS()

 public:
  TNumericField(TDataSet& dataset, TFieldType type);
  std::string DisplayFormat;
  std::string EditFormat;

 protected:
  // The format a text uses: DisplayFormat for display texts and for edit
  // texts without an EditFormat, else EditFormat.
  const std::string& FormatFor(bool display) const;
  // For a text without a format: when the dataset keeps the value's text
  // and `as_is(text, DataType())` says it is the very text of the value,
  // *out becomes that text (empty for no value) and the answer is true.
  bool TakeKeptText(std::string* out, bool (*as_is)(std::string_view, TFieldType)) const;
  // The same as a view of the kept text.
  bool PeekKeptText(std::string_view* out, bool (*as_is)(std::string_view, TFieldType)) const;
};

// Common base of the integer fields, over T (int32_t or int64_t) values:
// text in decimal (or DisplayFormat/EditFormat), writes checked against
// MinValue..MaxValue when either is set, else against the range the field
// kind allows; doubles are rounded, and fail out of range.
template <typename T>
class TIntegralField : public TNumericField {
 public:
  std::string AsString() const override;
  // Empty text clears the field; other text must be an integer.
  void SetAsString(std::string_view text) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

  T MinValue = 0;
  T MaxValue = 0;

 protected:
  TIntegralField(TDataSet& dataset, TFieldType type);
  std::string GetText(bool display) const override;
  // Without a format, a kept text that is the number's own decimal text is
  // taken as it is.
  void GetTextTo(bool display, std::string* out) const override;
  bool PeekShownText(std::string_view* out) const override;
  void CheckRange(int64_t value) const;
  // The value, 0 for none.
  T Value() const;
  int64_t min_range_;
  int64_t max_range_;
};

extern template class TIntegralField<int32_t>;
extern template class TIntegralField<int64_t>;

// 32-bit integers.
class TIntegerField : public TIntegralField<int32_t> {
  QUILL_DECLARE_CLASS()

 public:
  explicit TIntegerField(TDataSet& dataset) : TIntegerField(dataset, ftInteger) {}

 protected:
  TIntegerField(TDataSet& dataset, TFieldType type) : TIntegralField(dataset, type) {}
  int32_t DefaultWidth() const override { return 11; }
};

class TSmallintField : public TIntegerField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TSmallintField(TDataSet& dataset);

 protected:
  int32_t DefaultWidth() const override { return 6; }
};

class TWordField : public TIntegerField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TWordField(TDataSet& dataset);

 protected:
  int32_t DefaultWidth() const override { return 5; }
};

class TAutoIncField : public TIntegerField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TAutoIncField(TDataSet& dataset);
};

// 64-bit integers; AsInteger fails for a value out of the 32-bit range.
class TLargeintField : public TIntegralField<int64_t> {
  QUILL_DECLARE_CLASS()

 public:
  explicit TLargeintField(TDataSet& dataset);

 protected:
  int32_t DefaultWidth() const override { return 15; }
};

// Doubles. Display text: general format with Precision significant digits
// (15 by default) unless DisplayFormat is set. A dataset that holds the
// value as exact decimal text (TFieldValue::Text) shows that text instead,
// and a text written with SetAsString reaches it unchanged.
class TFloatField : public TNumericField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TFloatField(TDataSet& dataset);
  std::string AsString() const override;
  void SetAsString(std::string_view text) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

  bool Currency = false;
  double MinValue = 0;
  double MaxValue = 0;
  int32_t Precision = 15;

 protected:
  std::string GetText(bool display) const override;
  // An exact decimal's kept text in plain notation is taken as it is.
  void GetTextTo(bool display, std::string* out) const override;
  bool PeekShownText(std::string_view* out) const override;

 private:
  // Range checks, then writes the value with its text (empty: none).
  void Store(double value, std::string_view text);
};

// Date and time of day together; TDateField and TTimeField keep one part.
// Display text: DisplayFormat, else the regional short date and long time
// ("c": the time is left out at midnight).
class TDateTimeField : public TField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TDateTimeField(TDataSet& dataset) : TDateTimeField(dataset, ftDateTime) {}
  std::string AsString() const override;
  // Reads "yyyy-mm-dd" or the regional "m/d/yyyy", with or without a time.
  void SetAsString(std::string_view text) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

  std::string DisplayFormat;
  std::string EditMask;

 protected:
  TDateTimeField(TDataSet& dataset, TFieldType type);
  std::string GetText(bool display) const override;
  void GetTextTo(bool display, std::string* out) const override;
  int32_t DefaultWidth() const override { return 18; }

 private:
  // DisplayFormat as last compiled (its text tells whether it is current).
  mutable std::shared_ptr<const TDateTimeFormat> display_format_;
};

class TDateField : public TDateTimeField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TDateField(TDataSet& dataset) : TDateTimeField(dataset, ftDate) {}

 protected:
  int32_t DefaultWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TTimeField(TDataSet& dataset) : TDateTimeField(dataset, ftTime) {}

 protected:
  int32_t DefaultWidth() const override { return 10; }
};

// A variant holding the column's text (columns of the NULL type).
class TVariantField : public TTextBackedField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TVariantField(TDataSet& dataset);
};

// Bytes read and written through the dataset's blob streams. The string
// value is the whole content; the display text is "(BLOB)" with a value and
// "(Blob)" without one ("(MEMO)" / "(Memo)" for memo fields).
class TBlobField : public TField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TBlobField(TDataSet& dataset) : TBlobField(dataset, ftBlob) {}
  bool IsBlob() const override { return true; }
  std::string AsString() const override;
  // Replaces the whole content.
  void SetAsString(std::string_view text) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  // Empties the content (a blob's NULL).
  void Clear() override;
  // The blob kind shown to scripts (a value of BlobTypeNames()).
  TFieldType BlobType() const { return blob_type_; }
  void SetBlobType(TFieldType type) { blob_type_ = type; }

 protected:
  TBlobField(TDataSet& dataset, TFieldType type);
  std::string GetText(bool display) const override;

 private:
  TFieldType blob_type_;
};

class TMemoField : public TBlobField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TMemoField(TDataSet& dataset) : TBlobField(dataset, ftMemo) {}
  bool Transliterate = true;
};

// A column whose server type has no field type of its own (BIT, GEOMETRY
// and the like). Its value is the column's bytes as the server sent them,
// readable as text; writing stores the text given.
class TUnknownField : public TTextBackedField {
  QUILL_DECLARE_CLASS()

 public:
  explicit TUnknownField(TDataSet& dataset);
};

// The usual field class of each field type, or null for types without one.
TFieldClass DefaultFieldClass(TFieldType type);

}  // namespace quill
