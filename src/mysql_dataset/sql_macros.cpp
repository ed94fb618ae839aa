// The MySQL dataset's side of the macro language: collecting the macro
// names of its templates, and expanding statements with a TSqlExpander over
// the dataset (its names, condition, columns, fields and records).
#include <string>

#include "mysql_dataset/mysql_dataset.h"
#include "mysql_dataset/sql_expander.h"

namespace quill {

namespace {

// The dataset as the macros see it.
class TDatasetMacroContext : public TMacroContext {
 public:
  explicit TDatasetMacroContext(TMySQLDataset& dataset) : ds_(dataset) {}
  std::string QuoteName(const std::string& name) const override { return ds_.QuoteName(name); }
  std::string EscapeString(std::string_view text) const override {
    return ds_.EscapeString(text);
  }
  const std::string& DatabaseName() const override { return ds_.DatabaseName(); }
  const std::string& TableName() const override { return ds_.TableName(); }
  const std::string& FieldNames() const override { return ds_.FieldName(); }
  std::string Condition() const override { return ds_.BuildCondition(); }
  std::string FieldListText() const override { return ds_.FieldListText(); }
  void ReloadPrivileges() override {
    if (ds_.Server() != nullptr) ds_.Server()->ReloadPrivileges();
  }
  const TColumnDescription& Columns() const override { return ds_.Columns(); }
  const TField* LookupField(std::string_view name) const override {
    return ds_.LookupField(name);
  }
  const TMySQLRecord* CurrentRecord() const override {
    return static_cast<const TMySQLRecord*>(ds_.ActiveRecordBuffer());
  }
  const TMySQLRecord* EditStartRecord() const override { return ds_.EditStartCopy(); }
  const TMySQLMacros& Macros() const override { return ds_.Macros(); }

 private:
  TMySQLDataset& ds_;
};

}  // namespace

void TMySQLDataset::CollectMacroNames() {
  if (!macros_enabled_) return;
  macros_->Clear();
  const std::string del = MacroDel();
  for (const TStringList* list :
       {sql_.get(), sql_update_.get(), sql_insert_.get(), sql_delete_.get(), sql_batch_.get()}) {
    macros_->ParseSQL(list->Text(), del, true);
  }
}

std::string TMySQLDataset::QuoteName(const std::string& name) const {
  return server_ != nullptr ? server_->QuoteName(name) : name;
}

std::string TMySQLDataset::EscapeString(std::string_view text) const {
  return server_ != nullptr ? server_->EscapeString(text) : ClientEscapeString(nullptr, text);
}

std::string TMySQLDataset::ExpandSQL(std::string_view sql, bool apply_condition) {
  TDatasetMacroContext context(*this);
  TSqlExpander expander(context, macro_open_, macro_close_);
  std::string out = expander.Expand(sql, apply_condition);
  AddExpansionNotes(expander.Notes());
  return out;
}

void TMySQLDataset::AddExpansionNotes(const TExpansionNotes& notes) {
  expansion_.KeyCondition = expansion_.KeyCondition || notes.KeyCondition;
  expansion_.AllColumnsKey = expansion_.AllColumnsKey || notes.AllColumnsKey;
  expansion_.Limit = expansion_.Limit || notes.Limit;
}

std::string TMySQLDataset::MacroValue(const std::string& name) {
  TDatasetMacroContext context(*this);
  TSqlExpander expander(context, macro_open_, macro_close_);
  std::string out = expander.MacroValue(name);
  AddExpansionNotes(expander.Notes());
  return out;
}

std::string TMySQLDataset::HexStr(std::string_view bytes) { return TSqlExpander::HexStr(bytes); }

std::string TMySQLDataset::ValueLiteral(const TField& field, const TRecordBuffer& buffer) const {
  return TSqlExpander::Literal(field, static_cast<const TMySQLRecord&>(buffer),
                               [this](std::string_view text) { return EscapeString(text); });
}

std::string TMySQLDataset::FieldListText() const {
  if (DefaultFields() || FieldCount() == 0) return "*";
  std::string out;
  for (int i = 0; i < FieldCount(); ++i) {
    const TField& field = Field(i);
    if (field.FieldKind() != fkData) continue;
    if (!out.empty()) out += ',';
    out += field.FieldName();
  }
  return out.empty() ? "*" : out;
}

}  // namespace quill
