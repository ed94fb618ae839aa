// The macro language of the SQL templates: the two expansion passes (the
// second, for a SELECT with a condition, also inserts the condition), the
// value of every macro, SQL literals of field values, and PROMPT macros
// answered through the UI services.
#include "mysql_dataset/sql_expander.h"

#include <cassert>
#include <memory>
#include <string>
#include <vector>

#include "base/shared_text_cache.h"
#include "base/utf8.h"
#include "mysql_dataset/fields.h"
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

// A statement read with the expansion configuration, token by token: what
// a pass needs of each, so that a statement sent again (every page opens
// the same few) is not read again. The texts of all tokens stand one after
// another in one string, and so do the words, so that a kept statement
// costs about twice its text and a few bytes a token.
class ExpansionTokens {
 public:
  struct Token {
    uint8_t kind;
    bool blank_follows;  // a blank stands right after the token
    uint32_t text_at, text_length;
    uint32_t word_at, word_length;  // identifiers and the end: the text trimmed, in capitals
  };

  void Add(uint8_t kind, bool blank_follows, std::string_view text) {
    Token t{kind, blank_follows, static_cast<uint32_t>(texts_.size()),
            static_cast<uint32_t>(text.size()), static_cast<uint32_t>(words_.size()), 0};
    texts_.append(text);
    if (kind == ptIdentifier || kind == ptEnd) {
      const std::string word = UpperCase(Trim(text));
      words_.append(word);
      t.word_length = static_cast<uint32_t>(word.size());
    }
    tokens_.push_back(t);
  }
  const std::vector<Token>& Tokens() const { return tokens_; }
  std::string_view Text(const Token& t) const {
    return std::string_view(texts_).substr(t.text_at, t.text_length);
  }
  std::string_view Word(const Token& t) const {
    return std::string_view(words_).substr(t.word_at, t.word_length);
  }

 private:
  std::vector<Token> tokens_;
  std::string texts_;
  std::string words_;
};

// Statements longer than this are read for their one pass.
constexpr size_t kMaxCachedStatement = 2048;
constexpr size_t kMaxCachedStatements = 128;

std::shared_ptr<const ExpansionTokens> ReadForExpansion(std::string_view sql,
                                                        std::string_view open,
                                                        std::string_view close) {
  auto read = [&] {
    auto tokens = std::make_shared<ExpansionTokens>();
    TBasicParser parser(sql);
    ConfigureForExpansion(parser, open, close);
    for (;;) {
      const TTokenProps& token = parser.NextToken(false);
      tokens->Add(token.Kind, parser.CharAtReadPos() == ' ', token.Text);
      if (token.Kind == ptEnd) break;
    }
    return std::shared_ptr<const ExpansionTokens>(std::move(tokens));
  };
  if (sql.size() > kMaxCachedStatement) return read();
  static auto* cache = new SharedTextCache<ExpansionTokens>(kMaxCachedStatements);  // used from exit paths too
  // The delimiters' lengths first, so that no two (open, close, sql) meet.
  std::string key = std::to_string(open.size()) + ',' + std::to_string(close.size()) + ',';
  key.append(open).append(close).append(sql);
  return cache->Get(key, read);
}

}  // namespace

// --- Expansion --------------------------------------------------------------------

std::string TSqlExpander::Expand(std::string_view sql, bool apply_condition) {
  std::string once = Pass(sql, false);
  if (!apply_condition || context_.Condition().empty()) return once;
  // Macro values may themselves hold macros; the second pass expands those
  // too while it inserts the condition.
  return Pass(once, true);
}

std::string TSqlExpander::Pass(std::string_view sql, bool insert_condition) {
  const std::shared_ptr<const ExpansionTokens> tokens = ReadForExpansion(sql, open_, close_);
  const std::string del = open_ + "," + close_;
  std::string out;
  out.reserve(sql.size() + 64);
  bool first_word_seen = false;
  bool is_select = false;
  bool inserted = false;
  std::string condition;
  for (const ExpansionTokens::Token& token : tokens->Tokens()) {
    const bool blank_follows = token.blank_follows;
    const uint8_t kind = token.kind;
    const std::string_view text = tokens->Text(token);
    if (kind == ptBracket) {
      out += MacroValue(ExtractWord(1, text, del));
    } else if (kind == ptIdentifier || kind == ptEnd) {
      const std::string_view word = tokens->Word(token);
      if (word == "LIMIT") notes_.Limit = true;
      if (!first_word_seen) {
        first_word_seen = true;
        is_select = word == "SELECT";
        if (insert_condition) condition = context_.Condition();
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
      out += text;
    } else {
      out += text;
    }
    if (kind == ptEnd) break;
    if (blank_follows) out += ' ';
  }
  return out;
}

std::string TSqlExpander::MacroValue(const std::string& name) {
  // The fixed names all begin with '$'; a field or a named macro is looked
  // for without going through them.
  if (!name.empty() && name[0] == '$') {
    if (name == "$RELOAD") {
      context_.ReloadPrivileges();
      return std::string();
    }
    if (name == "$DATABASENAME") return context_.QuoteName(context_.DatabaseName());
    if (name == "$TABLENAME") return context_.QuoteName(context_.TableName());
    if (name == "$FIELDNAME") return context_.QuoteName(ExtractWord(1, context_.FieldNames(), ",;"));
    if (name == "$FIELDS") return context_.FieldListText();
    if (name == "$WHERE") {
      const std::string condition = context_.Condition();
      return condition.empty() ? std::string() : "WHERE " + condition;
    }
    if (name == "$MODIFIED$FIELDS&VALUES") return ColumnList(true, true, true);
    if (name == "$UNMODIFIED$FIELDS&VALUES") return ColumnList(false, true, true);
    if (name == "$MODIFIED$FIELD$NAMES") return ColumnList(true, true, false);
    if (name == "$UNMODIFIED$FIELD$NAMES") return ColumnList(false, true, false);
    if (name == "$MODIFIED$FIELD$VALUES") return ColumnList(true, false, true);
    if (name == "$UNMODIFIED$FIELD$VALUES") return ColumnList(false, false, true);
    if (name == "$OLD$FIELDS&VALUES") return KeyCondition({}, true);
    if (name == "$PRIMARYFIELDS&VALUES") {
      const std::string& primary = context_.Columns().PrimaryFields();
      return primary.empty() ? KeyCondition({}, true) : KeyCondition(primary, false);
    }
    if (name == "$UNIQUEFIELDS&VALUES") return KeyCondition(context_.Columns().UniqueFields(), false);
    if (name == "$MULTIFIELDS&VALUES") return KeyCondition(context_.Columns().MultiFields(), false);
    if (name == "$FIELDNAMES&VALUES") return KeyCondition(context_.FieldNames(), false);
    if (name == "$FIELDNAMES&VALUES$COMMA") return FieldNameList();
  }
  if (ExtractWordView(1, name, "$") == "PROMPT") return PromptValue(name);

  // A field, then a named macro.
  std::string key = name;
  if (key == "$FIELDNAME$VALUE") key = UpperCase(ExtractWord(1, context_.FieldNames(), ",;"));
  bool old = false;
  if (ExtractWordView(1, key, "$") == "OLD") {
    key = ExtractWord(2, key, "$");
    old = true;
  }
  if (const TField* field = context_.LookupField(key)) {
    const TMySQLRecord* current = context_.CurrentRecord();
    if (current == nullptr) return std::string();
    const TMySQLRecord* start = context_.EditStartRecord();
    const TMySQLRecord* record = old && start != nullptr ? start : current;
    return ValueLiteral(*field, *record);
  }
  if (const TMySQLMacro* macro = context_.Macros().FindMacro(key)) return macro->AsString();
  return std::string();
}

std::string TSqlExpander::ColumnList(bool modified, bool names, bool values) {
  std::string out;
  const TMySQLRecord* record = context_.CurrentRecord();
  if (record == nullptr) return out;
  for (int i = 0; i < context_.Columns().Count(); ++i) {
    const TFieldInfo& info = context_.Columns().Info(i);
    if (info.Modified != modified) continue;
    const TField* field = context_.LookupField(info.Name);
    if (field == nullptr || field->ReadOnly()) continue;
    if (names && values) {
      out += context_.QuoteName(field->FieldName());
      out += '=';
      out += ValueLiteral(*field, *record);
    } else if (names) {
      out += context_.QuoteName(info.Name);
    } else {
      out += ValueLiteral(*field, *record);
    }
    out += ',';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TSqlExpander::KeyCondition(std::string_view names, bool all_columns) {
  std::string out;
  // An edited row is found by the values it had when the edit began.
  const TMySQLRecord* record = context_.EditStartRecord();
  if (record == nullptr) record = context_.CurrentRecord();
  if (record == nullptr) return out;
  notes_.KeyCondition = true;
  if (all_columns) notes_.AllColumnsKey = true;
  auto add = [&](const TField& field) {
    out += '(';
    out += context_.QuoteName(field.FieldName());
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
    for (int i = 0; i < context_.Columns().Count(); ++i) {
      if (const TField* field = context_.LookupField(context_.Columns().Info(i).Name)) add(*field);
    }
  } else {
    for (int n = 1; n <= kMaxKeyNames; ++n) {
      const std::string word = ExtractWord(static_cast<uint8_t>(n), names, ",;");
      if (word.empty()) break;
      if (const TField* field = context_.LookupField(word)) add(*field);
    }
  }
  assert(out.empty() || out.ends_with(") AND "));
  DropLast(out, 5);  // the last " AND "
  return out;
}

std::string TSqlExpander::FieldNameList() {
  std::string out;
  const TMySQLRecord* record = context_.CurrentRecord();
  if (record == nullptr) return out;
  for (int n = 1; n <= kMaxKeyNames; ++n) {
    const std::string word = ExtractWord(static_cast<uint8_t>(n), context_.FieldNames(), ",;");
    if (word.empty()) break;
    const TField* field = context_.LookupField(word);
    if (field == nullptr) continue;
    out += context_.QuoteName(field->FieldName());
    out += '=';
    out += ValueLiteral(*field, *record);
    out += ',';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TSqlExpander::PromptValue(const std::string& name) {
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
  return "'" + context_.EscapeString(answer) + "'";
}

std::string TSqlExpander::HexStr(std::string_view bytes) {
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

std::string TSqlExpander::ValueLiteral(const TField& field, const TMySQLRecord& record) const {
  return Literal(field, record,
                 [this](std::string_view text) { return context_.EscapeString(text); });
}

std::string TSqlExpander::Literal(const TField& field, const TMySQLRecord& record,
                                  const std::function<std::string(std::string_view)>& escape) {
  const int column = field.FieldNo() - 1;
  if (column < 0 || column >= record.Columns()) return "NULL";
  const TCell cell = record.Cell(column);
  if (cell.Null) return "NULL";
  // An empty blob is '' (HexStr answers NULL for no bytes).
  if (field.IsBlob()) return cell.Bytes.empty() ? "''" : HexStr(cell.Bytes);
  std::string out = "'";
  out += escape(cell.Bytes);
  out += '\'';
  return out;
}

}  // namespace quill
