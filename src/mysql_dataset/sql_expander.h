// TSqlExpander: the macro language of the SQL templates.
//
// A statement's macros, written between the dataset's delimiters ("[" and
// "]" by default), are replaced by their text: "$" macros computed from the
// names, the key columns and the current record, field macros giving a
// field's value as an SQL literal, named macros, and PROMPT macros that
// ask the user. Everything a macro reads comes through TMacroContext, so
// that the expander knows nothing of how a dataset keeps it.
//
// Expansion rebuilds the statement from the tokenizer's tokens, so that
// macros inside quoted strings and comments stay untouched and keywords
// are recognised only where they are keywords; whitespace between tokens
// becomes at most one blank on the way.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "mysql_dataset/column_description.h"
#include "mysql_dataset/macros.h"
#include "mysql_dataset/record_cache.h"

namespace quill {

class TField;

// What the macros read. Implemented over a dataset.
class TMacroContext {
 public:
  virtual ~TMacroContext() = default;
  // `name` quoted for the server (unchanged without one).
  virtual std::string QuoteName(const std::string& name) const = 0;
  // `text` escaped for use between single quotes.
  virtual std::string EscapeString(std::string_view text) const = 0;
  virtual const std::string& DatabaseName() const = 0;
  virtual const std::string& TableName() const = 0;
  // The names of the FieldName property, separated by "," or ";".
  virtual const std::string& FieldNames() const = 0;
  // The row condition to insert, or "" for none.
  virtual std::string Condition() const = 0;
  // The text of $FIELDS.
  virtual std::string FieldListText() const = 0;
  // $RELOAD: reloads the server's privileges; may fail.
  virtual void ReloadPrivileges() = 0;
  virtual const TColumnDescription& Columns() const = 0;
  // The field of that name (ASCII case ignored), or null.
  virtual const TField* LookupField(std::string_view name) const = 0;
  // The record the values come from, or null when there is none.
  virtual const TMySQLRecord* CurrentRecord() const = 0;
  // The row being edited as it was when the edit began, or null.
  virtual const TMySQLRecord* EditStartRecord() const = 0;
  virtual const TMySQLMacros& Macros() const = 0;
};

// What an expansion met, for the rules of row writes.
struct TExpansionNotes {
  bool KeyCondition = false;   // a key-condition macro was expanded
  bool AllColumnsKey = false;  // one of them used every column
  bool Limit = false;          // the statement has a LIMIT of its own
};

class TSqlExpander {
 public:
  // REQUIRES: `context` outlives the expander.
  TSqlExpander(TMacroContext& context, std::string_view macro_open, std::string_view macro_close)
      : context_(context), open_(macro_open), close_(macro_close) {}

  // `sql` with every macro replaced (see MacroValue). With
  // `apply_condition` and a condition, a second pass expands the result
  // again and inserts the condition into a SELECT: before its first WHERE
  // (joined to the statement's own by AND), GROUP, HAVING, ORDER, LIMIT or
  // PROCEDURE keyword, else at its end. Never fails on malformed SQL; fails
  // only where a macro does ($RELOAD, PROMPT's UI). Adds to Notes().
  std::string Expand(std::string_view sql, bool apply_condition);

  // The text of one macro, by exact name:
  //   $RELOAD                  reloads the server's privileges; ""
  //   $DATABASENAME, $TABLENAME, $FIELDNAME   the name through QuoteName
  //   $FIELDS                  FieldListText()
  //   $WHERE                   "WHERE " + condition, or "" without one
  //   PROMPT$tag$label$default$mask           the prompted value, quoted
  //   $MODIFIED$FIELDS&VALUES, $UNMODIFIED$FIELDS&VALUES   `name`=value,...
  //   $MODIFIED$FIELD$NAMES, $UNMODIFIED$FIELD$NAMES       `name`,...
  //   $MODIFIED$FIELD$VALUES, $UNMODIFIED$FIELD$VALUES     value,...
  //   $OLD$FIELDS&VALUES       (`name`=value) AND ... over every column
  //   $PRIMARYFIELDS&VALUES    the same over the primary key (every column
  //                            without one)
  //   $UNIQUEFIELDS&VALUES, $MULTIFIELDS&VALUES, $FIELDNAMES&VALUES
  //                            the same over the unique key, the non-unique
  //                            keys, FieldNames
  //   $FIELDNAMES&VALUES$COMMA `name`=value,... over FieldNames
  //   [OLD$]field              the field's value as a literal (OLD: as it
  //                            was when editing began)
  //   any other                the named macro's value verbatim, else ""
  // Read-only fields are left out of the lists but not of the key
  // conditions, which take the values the row had when editing began. A
  // NULL value in a key condition gives (`name` IS NULL).
  std::string MacroValue(const std::string& name);

  // The SQL literal of `field` in `record`: a hexadecimal literal for a
  // blob field ('' for no bytes), NULL for no value, else the text escaped
  // between single quotes.
  std::string ValueLiteral(const TField& field, const TMySQLRecord& record) const;
  // As ValueLiteral, escaping with `escape`.
  static std::string Literal(const TField& field, const TMySQLRecord& record,
                             const std::function<std::string(std::string_view)>& escape);
  // "0x" and two upper-case hexadecimal digits per byte; "NULL" for no bytes.
  static std::string HexStr(std::string_view bytes);

  const TExpansionNotes& Notes() const { return notes_; }

 private:
  std::string Pass(std::string_view sql, bool insert_condition);
  std::string PromptValue(const std::string& name);
  std::string ColumnList(bool modified, bool names, bool values);
  std::string KeyCondition(std::string_view names, bool all_columns);
  std::string FieldNameList();

  TMacroContext& context_;
  std::string open_, close_;
  TExpansionNotes notes_;
};

}  // namespace quill
