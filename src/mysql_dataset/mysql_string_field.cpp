// The MySQL string field: column kind and permitted values, taken from the
// dataset's column description each time they are read, so that they follow
// a refreshed description.
#include "mysql_dataset/mysql_string_field.h"

#include "base/published.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

namespace {

constexpr std::string_view kStringTypeNameTable[] = {"stNone", "stNormal", "stEnum", "stSet"};

const TMySQLStringField& F(const TObject& o) { return static_cast<const TMySQLStringField&>(o); }
TMySQLStringField& F(TObject& o) { return static_cast<TMySQLStringField&>(o); }

const PropertyInfo kMySQLStringFieldProps[] = {
    EnumProp(
        "StringType", kStringTypeNameTable,
        [](const TObject& o) { return Variant(static_cast<int32_t>(F(o).StringType())); },
        [](TObject& o, const Variant& v) {
          const int32_t type = v.AsInteger();
          if (type >= stNone && type <= stSet) {
            F(o).SetStringType(static_cast<TMySQLStringTypes>(type));
          }
        },
        "stNormal"),
    ObjectProp(
        "StringValues", &TStringList::StaticClassInfo,
        [](const TObject& o) -> TObject* { return &F(o).StringValues(); },
        [](TObject& o, TObject* value) {
          if (value != nullptr && value->InheritsFrom(TStringList::StaticClassInfo)) {
            F(o).SetStringValues(static_cast<const TStringList&>(*value));
          }
        }),
};

const TFieldInfo* BoundColumn(const TField& field) {
  if (field.FieldNo() <= 0) return nullptr;
  auto* dataset = dynamic_cast<TMySQLDataset*>(&field.DataSet());
  return dataset != nullptr ? dataset->ColumnOf(field) : nullptr;
}

}  // namespace

std::span<const std::string_view> MySQLStringTypeNames() { return kStringTypeNameTable; }

const TClassInfo TMySQLStringField::StaticClassInfo{
    "TMySQLStringField", &TStringField::StaticClassInfo, kMySQLStringFieldProps};

TMySQLStringField::TMySQLStringField(TDataSet& dataset)
    : TStringField(dataset), string_values_(std::make_unique<TStringList>()) {}

TMySQLStringField::~TMySQLStringField() = default;

TMySQLStringTypes TMySQLStringField::StringType() const {
  if (const TFieldInfo* info = BoundColumn(*this)) {
    string_type_ = info->FieldType == 248 ? stSet : info->FieldType == 247 ? stEnum : stNormal;
  }
  return string_type_;
}

TStringList& TMySQLStringField::StringValues() const {
  const TFieldInfo* info = BoundColumn(*this);
  if (info != nullptr && !info->EnumValues.empty()) {
    string_values_->Clear();
    string_values_->SetCommaText(info->EnumValues);
  }
  return *string_values_;
}

void TMySQLStringField::SetStringValues(const TStringList& values) {
  if (values.Text() != string_values_->Text()) string_values_->Assign(values);
}

}  // namespace quill
