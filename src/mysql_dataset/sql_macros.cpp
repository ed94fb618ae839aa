// The macro engine of the MySQL dataset: collecting the macro names of the
// templates, expanding a statement (the first pass replaces macros, the
// second, for a SELECT with a condition, also inserts the condition), the
// value of every macro, SQL literals of field values, and PROMPT macros
// answered through the UI services.
//
// Expansion rebuilds the statement from the tokenizer's tokens, so that
// macros inside quoted strings and comments stay untouched and keywords
// are recognised only where they are keywords; whitespace between tokens
// becomes at most one blank on the way.
#include <cassert>
#include <string>

#include "base/utf8.h"
#include "mysql_dataset/mysql_dataset.h"
#include "platform/ui/ui_services.h"
#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

// The key-condition lists use at most this many names (a one-byte word
// number).
constexpr uint8_t kMaxKeyNames = 255;
// The prompt's input box takes at most this many characters.
constexpr size_t kPromptMaxChars = 255;

// Keywords before which a SELECT's condition is inserted.
bool IsClauseKeyword(std::string_view upper) {
  return upper == "WHERE" || upper == "GROUP" || upper == "HAVING" || upper == "ORDER" ||
         upper == "LIMIT" || upper == "PROCEDURE";
}

void DropLast(std::string& text, size_t count) {
  text.resize(text.size() >= count ? text.size() - count : 0);
}

}  // namespace

// --- Names ------------------------------------------------------------------------

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

// --- Expansion --------------------------------------------------------------------

std::string TMySQLDataset::ExpandSQL(std::string_view sql, bool apply_condition) {
  std::string once = ExpandPass(sql, false);
  if (!apply_condition || BuildCondition().empty()) return once;
  // Macro values may themselves hold macros; the second pass expands those
  // too while it inserts the condition.
  return ExpandPass(once, true);
}

std::string TMySQLDataset::ExpandPass(std::string_view sql, bool insert_condition) {
  TBasicParser parser(sql);
  ConfigureForExpansion(parser, macro_open_, macro_close_);
  const std::string del = MacroDel();
  std::string out;
  out.reserve(sql.size() + 64);
  bool first_word_seen = false;
  bool is_select = false;
  bool inserted = false;
  std::string condition;
  for (;;) {
    const TTokenProps& token = parser.NextToken(false);
    const bool blank_follows = parser.CharAtReadPos() == ' ';
    const uint8_t kind = token.Kind;
    if (kind == ptBracket) {
      out += MacroValue(ExtractWord(1, token.Text, del));
    } else if (kind == ptIdentifier || kind == ptEnd) {
      const std::string word = UpperCase(Trim(token.Text));
      if (word == "LIMIT") expansion_.Limit = true;
      if (!first_word_seen) {
        first_word_seen = true;
        is_select = word == "SELECT";
        if (insert_condition) condition = BuildCondition();
      }
      if (is_select && !inserted && !condition.empty() &&
          (kind == ptEnd || IsClauseKeyword(word))) {
        inserted = true;
        if (word == "WHERE") {
          // The statement's own condition follows with AND.
          out += " WHERE " + condition + " AND ";
          continue;
        }
        out += " WHERE " + condition + " ";
      }
      out += token.Text;
    } else {
      out += token.Text;
    }
    if (kind == ptEnd) break;
    if (blank_follows) out += ' ';
  }
  return out;
}

// --- Macro values -------------------------------------------------------------------

std::string TMySQLDataset::MacroValue(const std::string& name) {
  if (name == "$RELOAD") {
    if (server_ != nullptr) server_->ReloadPrivileges();
    return std::string();
  }
  if (name == "$DATABASENAME") return QuoteName(database_name_);
  if (name == "$TABLENAME") return QuoteName(table_name_);
  if (name == "$FIELDNAME") return QuoteName(ExtractWord(1, field_name_, ",;"));
  if (name == "$FIELDS") return FieldListText();
  if (name == "$WHERE") {
    const std::string condition = BuildCondition();
    return condition.empty() ? std::string() : "WHERE " + condition;
  }
  if (ExtractWord(1, name, "$") == "PROMPT") return PromptValue(name);
  if (name == "$MODIFIED$FIELDS&VALUES") return ColumnList(true, true, true);
  if (name == "$UNMODIFIED$FIELDS&VALUES") return ColumnList(false, true, true);
  if (name == "$MODIFIED$FIELD$NAMES") return ColumnList(true, true, false);
  if (name == "$UNMODIFIED$FIELD$NAMES") return ColumnList(false, true, false);
  if (name == "$MODIFIED$FIELD$VALUES") return ColumnList(true, false, true);
  if (name == "$UNMODIFIED$FIELD$VALUES") return ColumnList(false, false, true);
  if (name == "$OLD$FIELDS&VALUES") return KeyCondition({}, true);
  if (name == "$PRIMARYFIELDS&VALUES") {
    return primary_fields_.empty() ? KeyCondition({}, true) : KeyCondition(primary_fields_, false);
  }
  if (name == "$UNIQUEFIELDS&VALUES") return KeyCondition(unique_fields_, false);
  if (name == "$MULTIFIELDS&VALUES") return KeyCondition(multi_fields_, false);
  if (name == "$FIELDNAMES&VALUES") return KeyCondition(field_name_, false);
  if (name == "$FIELDNAMES&VALUES$COMMA") return FieldNameList();

  // A field, then a named macro.
  std::string key = name;
  if (key == "$FIELDNAME$VALUE") key = UpperCase(ExtractWord(1, field_name_, ",;"));
  bool old = false;
  if (ExtractWord(1, key, "$") == "OLD") {
    key = ExtractWord(2, key, "$");
    old = true;
  }
  if (const TField* field = LookupField(key)) {
    const TMySQLRecord* current = CurrentRecord();
    if (current == nullptr) return std::string();
    const TMySQLRecord* record = old && edit_start_copy_ ? edit_start_copy_.get() : current;
    return ValueLiteral(*field, *record);
  }
  if (const TMySQLMacro* macro = macros_->FindMacro(key)) return macro->AsString();
  return std::string();
}

const TMySQLRecord* TMySQLDataset::CurrentRecord() const {
  return static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
}

std::string TMySQLDataset::ColumnList(bool modified, bool names, bool values) {
  std::string out;
  const TMySQLRecord* record = CurrentRecord();
  if (record == nullptr) return out;
  for (int i = 0; i < ColumnCount(); ++i) {
    const TFieldInfo& info = ColumnInfo(i);
    if (info.Modified != modified) continue;
    const TField* field = LookupField(info.Name);
    if (field == nullptr || field->ReadOnly()) continue;
    if (names && values) {
      out += QuoteName(field->FieldName());
      out += '=';
      out += ValueLiteral(*field, *record);
    } else if (names) {
      out += QuoteName(info.Name);
    } else {
      out += ValueLiteral(*field, *record);
    }
    out += ',';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TMySQLDataset::KeyCondition(std::string_view names, bool all_columns) {
  std::string out;
  // An edited row is found by the values it had when the edit began.
  const TMySQLRecord* record = edit_start_copy_ ? edit_start_copy_.get() : CurrentRecord();
  if (record == nullptr) return out;
  expansion_.KeyCondition = true;
  if (all_columns) expansion_.AllColumnsKey = true;
  auto add = [&](const TField& field) {
    out += '(';
    out += QuoteName(field.FieldName());
    const int column = field.FieldNo() - 1;
    const bool in_record = column >= 0 && column < record->Columns();
    const TCell cell = in_record ? record->Cell(column) : TCell{};
    if (cell.Null) {
      // "= NULL" is never true; a row whose key is NULL is found this way.
      out += " IS NULL";
    } else if (field.IsBlob() && cell.Bytes.empty()) {
      out += "=''";
    } else {
      out += '=';
      out += ValueLiteral(field, *record);
    }
    out += ") AND ";
  };
  if (all_columns) {
    for (int i = 0; i < ColumnCount(); ++i) {
      if (const TField* field = LookupField(ColumnInfo(i).Name)) add(*field);
    }
  } else {
    for (int n = 1; n <= kMaxKeyNames; ++n) {
      const std::string word = ExtractWord(static_cast<uint8_t>(n), names, ",;");
      if (word.empty()) break;
      if (const TField* field = LookupField(word)) add(*field);
    }
  }
  assert(out.empty() || out.ends_with(") AND "));
  DropLast(out, 5);  // the last " AND "
  return out;
}

std::string TMySQLDataset::FieldNameList() {
  std::string out;
  const TMySQLRecord* record = CurrentRecord();
  if (record == nullptr) return out;
  for (int n = 1; n <= kMaxKeyNames; ++n) {
    const std::string word = ExtractWord(static_cast<uint8_t>(n), field_name_, ",;");
    if (word.empty()) break;
    const TField* field = LookupField(word);
    if (field == nullptr) continue;
    out += QuoteName(field->FieldName());
    out += '=';
    out += ValueLiteral(*field, *record);
    out += ',';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TMySQLDataset::PromptValue(const std::string& name) {
  // PROMPT$tag$label$default$mask; the tag only keeps names apart.
  const std::string label = ExtractField(name, "$", 3);
  const std::string default_value = ExtractField(name, "$", 4);
  const std::string mask = ExtractField(name, "$", 5);
  std::string value(Utf8Prefix(default_value, kPromptMaxChars));
  const bool ok = ui::CurrentUiProvider()->InputQuery("Value for " + label, label, value,
                                                      mask.empty() ? '\0' : mask.front());
  const std::string answer =
      ok ? std::string(Utf8Prefix(value, kPromptMaxChars)) : default_value;
  // The answer is a value, not SQL: a quote typed into the box must not end
  // the literal.
  return "'" + EscapeString(answer) + "'";
}

// --- Literals -------------------------------------------------------------------------

std::string TMySQLDataset::HexStr(std::string_view bytes) {
  if (bytes.empty()) return "NULL";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 + 2 * bytes.size());
  out += "0x";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

std::string TMySQLDataset::ValueLiteral(const TField& field, const TRecordBuffer& buffer) const {
  const auto& record = static_cast<const TMySQLRecord&>(buffer);
  const int column = field.FieldNo() - 1;
  if (column < 0 || column >= record.Columns()) return "NULL";
  const TCell cell = record.Cell(column);
  if (cell.Null) return "NULL";
  // An empty blob is '' (HexStr answers NULL for no bytes).
  if (field.IsBlob()) return cell.Bytes.empty() ? "''" : HexStr(cell.Bytes);
  std::string out = "'";
  out += EscapeString(cell.Bytes);
  out += '\'';
  return out;
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
