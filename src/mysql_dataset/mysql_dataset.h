// TMySQLDataset: a dataset over the cached result of one SQL query.
//
// Opening runs the statements of SQL on a connection of its Server (the
// first statement that returns rows wins; later statements are not sent),
// reads every row into the row cache, describes every result column
// (TFieldInfo), optionally completes the description from "show columns
// from" (defaults, enum and set values), and makes one typed field per
// column. From then on navigation, bookmarks and field values work on the
// cached rows alone; the server is contacted again to write changes back
// and to refresh.
//
// Every value is held as the text the server sent (blob columns as bytes):
// ReadFieldValue converts it for the field's type, WriteFieldValue makes the
// text the server will take back. Editing writes straight through to the
// cached row, so the cache always shows what the dataset believes the
// server holds; a written row is never read back.
//
// SQL comes from five templates (SQL, SQLUpdate, SQLInsert, SQLDelete,
// SQLBatch) whose macros, written between the MacroDel delimiters, are
// replaced when a statement is about to be sent (ExpandSQL): "$" macros
// computed from the dataset's properties, key columns and current record,
// field macros giving a field's value as an SQL literal, named macros from
// Macros, and PROMPT macros that ask the user. With nothing but TableName
// set the default templates read the whole table and write rows back keyed
// by the primary key.
//
// A dataset can be narrowed by a Filter and by a master link (MasterSource,
// MasterFields); both become one condition that the expansion inserts into
// every SELECT it sends, and a detail re-reads its rows whenever its master
// moves, opens or closes.
//
// The class is what scripts and shells see; its work is done by narrower
// parts, each in its own file: TColumnDescription (the columns, and their
// completion from the tables' structure through a process-wide cache),
// TSqlExpander (the macros), TRowCondition (filter and master link) and
// TRowSearch (Locate and Lookup over the cached rows).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/string_list.h"
#include "base/variant.h"
#include "mysql_dataset/column_description.h"
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/macros.h"
#include "mysql_dataset/record_cache.h"
#include "mysql_dataset/row_condition.h"
#include "mysql_dataset/sql_expander.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"

namespace quill {

// A generated update or delete found no row to write: the row was changed or
// deleted by someone else since it was read.
inline constexpr const char* kMsgRowNotFound =
    "Row not found: it was changed or deleted by another user";

// Where FetchResult reads a result from: the client library's result, or a
// stand-in in tests.
class TResultReader {
 public:
  virtual ~TResultReader() = default;
  virtual std::vector<MySQLFieldDesc> Fields() = 0;
  // Moves to the next row; false at the end. Raises EDatabaseError when
  // reading fails.
  virtual bool Next() = 0;
  // The current row: values[i] null for NULL, else lengths[i] bytes.
  virtual const char* const* Values() const = 0;
  virtual const unsigned long* Lengths() const = 0;
};

class TMasterDataLink;

class TMySQLDataset : public TDataSet, public IMySQLServerClient {
  QUILL_DECLARE_CLASS()

 public:
  using TExecSQLEvent = std::function<void(TMySQLDataset& dataset, std::string& sql, bool& go_on)>;

  explicit TMySQLDataset(TComponent* owner = nullptr);
  // Closes without close events; never fails, with or without a Server.
  ~TMySQLDataset() override;

  // --- Properties -----------------------------------------------------------
  // Setters of what the dataset reads (Server, DatabaseName, TableName,
  // ShareConnection, SQL) close an open dataset and drop a result cached
  // while closed when the value changes.

  TMySQLServer* Server() const { return server_; }
  // A server given while DatabaseName is empty lends its DatabaseName.
  void SetServer(TMySQLServer* server);
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  bool ShareConnection() const { return share_connection_; }
  void SetShareConnection(bool value);
  bool AllFieldValues() const { return all_field_values_; }
  void SetAllFieldValues(bool value) { all_field_values_ = value; }
  bool ReadOnly() const { return read_only_; }
  // Notifies the consumers when the value changes.
  void SetReadOnly(bool value);
  bool CachedUpdates() const { return cached_updates_; }
  // While on, the statements of posts, deletes and ExecStatements are held
  // back in PendingStatements; they are sent, in order, when the dataset
  // is refreshed or closed. Switching it off refreshes an open dataset
  // first (sending what was held back) and sends them at once while closed;
  // any change notifies the consumers.
  void SetCachedUpdates(bool value);

  // The query, the three editing templates and SQLBatch (run only by whoever
  // hands it to ExecStatements). Editing SQL's lines while the dataset is
  // open closes it; any change of any of the five re-collects Macros.
  TStringList& SQL() { return *sql_; }
  const TStringList& SQL() const { return *sql_; }
  // Each setter replaces the lines only when the text differs.
  void SetSQL(const TStringList& lines);
  TStringList& SQLUpdate() { return *sql_update_; }
  void SetSQLUpdate(const TStringList& lines);
  TStringList& SQLInsert() { return *sql_insert_; }
  void SetSQLInsert(const TStringList& lines);
  TStringList& SQLDelete() { return *sql_delete_; }
  void SetSQLDelete(const TStringList& lines);
  TStringList& SQLBatch() { return *sql_batch_; }
  void SetSQLBatch(const TStringList& lines);

  // --- Macros -----------------------------------------------------------------

  const std::string& FieldName() const { return field_name_; }
  // Names separated by "," or ";" for the $FIELDNAME macros and for the
  // columns an insert always writes. Replaced only when it differs ignoring
  // case.
  void SetFieldName(const std::string& names);
  // "open,close", the macro delimiters; "[,]" by default.
  std::string MacroDel() const { return macro_open_ + "," + macro_close_; }
  // A text other than MacroDel() sets the opener to its first and the closer
  // to its second word, words being separated by "," or ";".
  void SetMacroDel(const std::string& text);
  const std::string& MacroOpen() const { return macro_open_; }
  const std::string& MacroClose() const { return macro_close_; }
  bool MacrosEnabled() const { return macros_enabled_; }
  // Off: statements are sent as written, and no condition is inserted.
  void SetMacrosEnabled(bool value) { macros_enabled_ = value; }
  TMySQLMacros& Macros() { return *macros_; }
  const TMySQLMacros& Macros() const { return *macros_; }
  // Copies the values of the macros whose names exist in both.
  void SetMacros(const TMySQLMacros& macros) { macros_->AssignValues(macros); }

  // `sql` with every macro replaced (see MacroValue); whitespace between
  // tokens becomes at most one blank. With `apply_condition` and a
  // condition (BuildCondition), a second pass expands the result again and
  // inserts the condition into a SELECT: before its first WHERE, GROUP,
  // HAVING, ORDER, LIMIT or PROCEDURE keyword, else at its end. Never fails
  // on malformed SQL; fails only where a macro does ($RELOAD).
  virtual std::string ExpandSQL(std::string_view sql, bool apply_condition);
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
  //   $PRIMARYFIELDS&VALUES    the same over PrimaryFields (every column
  //                            without a primary key)
  //   $UNIQUEFIELDS&VALUES, $MULTIFIELDS&VALUES, $FIELDNAMES&VALUES
  //                            the same over UniqueFields, MultiFields,
  //                            FieldName
  //   $FIELDNAMES&VALUES$COMMA `name`=value,... over FieldName
  //   [OLD$]field              the field's value as a literal (OLD: as it
  //                            was when editing began)
  //   any other                the named macro's value verbatim, else ""
  // Read-only fields are left out of the lists but not of the key
  // conditions, which take the values the row had when editing began. A NULL
  // value in a key condition gives (`name` IS NULL).
  std::string MacroValue(const std::string& name);
  // Rebuilds Macros from the names bracketed in the five templates, every
  // value empty (values given before are lost). Nothing while
  // MacrosEnabled is off. Runs whenever a template changes.
  void CollectMacroNames();
  // The SQL literal of `field` in `record`: a hexadecimal literal for a blob
  // field (NULL for no bytes), NULL for no value, else the text escaped by
  // the connection between single quotes.
  std::string ValueLiteral(const TField& field, const TRecordBuffer& record) const;
  // "0x" and two upper-case hexadecimal digits per byte; "NULL" for no bytes.
  static std::string HexStr(std::string_view bytes);
  // The text of $FIELDS: "*" while the fields are the default ones (or there
  // is no data field), else the data fields' names joined by ",".
  std::string FieldListText() const;
  // `name` quoted for the connection's server (unchanged without one).
  std::string QuoteName(const std::string& name) const;
  // `text` escaped for use between single quotes, by the connection when
  // there is one.
  std::string EscapeString(std::string_view text) const;

  // --- Statements -----------------------------------------------------------------

  // Runs every statement of `lines` (split by SplitStatements) in order with
  // ExecStatement; the first failure stops the rest. False only when the
  // lines hold no statement. The dataset's own calls pass MacrosEnabled as
  // `expand` and CachedUpdates as `defer`.
  bool ExecStatements(const TStringList& lines, bool expand, bool defer);
  // Runs one statement: with `expand` its macro names join Macros and it is
  // expanded with the condition applied; a text under 3 characters is
  // skipped; with `defer` it is appended to PendingStatements; otherwise it
  // is sent on the dataset's link (connecting it when closed), after
  // OnExecSQL, and RealSQL, AffectedRows and LastInsertID follow it. Always
  // true; raises the server's "%d - %s", the link's errors, or EAbort when
  // OnExecSQL cancels.
  bool ExecStatement(std::string_view sql, bool expand, bool defer);
  // Sends the held-back statements in order, unexpanded. Each statement
  // leaves the list once sent, so a failure leaves the refused statement and
  // the ones after it held back (a held-back row write that finds no row
  // fails as it would have at once).
  virtual void ApplyPending();
  // Statements held back by CachedUpdates, oldest first.
  const TStringList& PendingStatements() const { return pending_; }
  // Forgets the held-back statements without sending them.
  void DiscardPending();

  // Raised before every statement is sent; the handler may change the text
  // or clear go_on to abandon the operation silently (EAbort).
  TExecSQLEvent OnExecSQL;

  // --- Master/detail and filter -------------------------------------------------------

  // The pairs detail-field=master-field as comma text.
  std::string MasterFields() const { return condition_.MasterFields().CommaText(); }
  // Parses comma text (items separated by "," or blanks, double quotes
  // around items holding them). A changed text hands the master field
  // names to the master link and refreshes an open dataset.
  void SetMasterFields(const std::string& fields);
  TDataSource* MasterSource() const { return master_source_; }
  // Follows `source` (null: no master) and refreshes an open dataset. Fails
  // with "Circular Reference", the link unchanged, when the source's dataset
  // is this dataset or has this dataset among its masters. From then on an
  // open dataset re-reads its rows whenever the master moves, opens or
  // closes; a failure to re-read reaches whoever moved or opened the master,
  // never a closing master.
  void SetMasterSource(TDataSource* source);
  const std::string& Filter() const { return condition_.Filter(); }
  // A changed value refreshes an open dataset.
  void SetFilter(const std::string& filter);
  bool Filtered() const { return condition_.Filtered(); }
  void SetFiltered(bool value);
  // The values of the "?" placeholders of Filter, in order; none (the
  // default) sends Filter as written. Setting them refreshes an open,
  // filtered dataset. With values, a count that differs from the Filter's
  // placeholders fails when the condition is built (sending nothing).
  const std::optional<std::vector<Variant>>& FilterParams() const {
    return condition_.FilterParams();
  }
  void SetFilterParams(std::optional<std::vector<Variant>> values);
  // The condition the expansion inserts: "(filter)" while Filtered, then
  // "(detail='master value') AND ..." for every pair whose master field
  // exists in the open master, the master values escaped. "" for none.
  std::string BuildCondition() const;

  // --- Search -------------------------------------------------------------------------

  // Tests the current row, then (when it does not match) every row from the
  // first, for a row whose `key_fields` (names separated by ";") hold
  // `key_values` (one value, or an array of one value per field; NULL
  // counts as ""). Texts compare equal, ignoring case with
  // `case_insensitive`; with `partial_key` the key only has to occur in the
  // field's text. Stays on the row found and answers true; otherwise goes
  // back to the row it started from and answers false. Posts or cancels an
  // edit first; fails on a closed dataset and with "Field '%s' not found".
  bool LocateRecord(std::string_view key_fields, const Variant& key_values, bool case_insensitive,
                    bool partial_key);
  // Moves to the first row, then LocateRecord.
  bool LocateFromFirst(std::string_view key_fields, const Variant& key_values,
                       bool case_insensitive, bool partial_key);
  // LocateRecord without options; on a match the value of `result_fields`
  // (one name: its value; several separated by ";": an array of values) of
  // the row found, else Null.
  Variant LookupValues(std::string_view key_fields, const Variant& key_values,
                       std::string_view result_fields);

  // --- The result -----------------------------------------------------------

  // The column description (column_description.h).
  const TColumnDescription& Columns() const { return columns_; }
  int ColumnCount() const { return columns_.Count(); }
  // REQUIRES (all taking an index): 0 <= index < ColumnCount().
  TFieldInfo& ColumnInfo(int index) { return columns_.Info(index); }
  const TFieldInfo& ColumnInfo(int index) const { return columns_.Info(index); }
  // The name the column's field carries: the plain name, or table.name for
  // a name several columns share.
  const std::string& ColumnDisplayName(int index) const { return columns_.DisplayName(index); }
  // Position of the column with that display name (ASCII case ignored), or -1.
  int IndexOfColumn(std::string_view display_name) const { return columns_.IndexOf(display_name); }
  // The column a field is bound to, or null.
  TFieldInfo* ColumnOf(const TField& field);
  // Distinct source tables of the columns, sorted ignoring case.
  const std::vector<std::string>& ResultTables() const { return columns_.ResultTables(); }
  // Comma-separated names of the columns in a primary, unique and
  // non-unique key, in column order.
  const std::string& PrimaryFields() const { return columns_.PrimaryFields(); }
  const std::string& UniqueFields() const { return columns_.UniqueFields(); }
  const std::string& MultiFields() const { return columns_.MultiFields(); }
  // The last statement sent, after expansion and OnExecSQL.
  const std::string& RealSQL() const { return real_sql_; }
  const std::string& AffectedRows() const { return affected_rows_; }
  const std::string& LastInsertID() const { return last_insert_id_; }
  MySQLHandle* LinkHandle() const { return link_; }

  // --- Rows and position ------------------------------------------------------

  // The cached rows, or null before a query ran.
  TRowCache* Rows() { return rows_.get(); }
  bool IsResultOpen() const override { return rows_ != nullptr; }
  // Index of the cursor's row: -1 before the first, RowCount() after the
  // last.
  int64_t Cursor() const { return cursor_; }
  // Number of cached rows while open, else 0.
  int64_t RowCount() const;
  // 0-based row number of the active record, or -1 when there is none.
  int64_t RowIndex() const;
  // Makes row n active (after posting or cancelling an edit). A number
  // outside 0..RowCount()-1 goes to the nearest row.
  void SetRowIndex(int64_t n);
  // REQUIRES: 0 <= index < RowCount().
  TRecordView RowAt(int64_t index) const { return rows_->View(index); }
  // The row being edited as it was when the edit began; null outside an
  // edit.
  const TMySQLRecord* EditStartCopy() const { return edit_start_copy_.get(); }
  // True when the upper-cased field name occurs in the upper-cased
  // MultiFields text.
  bool IsKeyField(const TField& field) const;

  // --- Link and fetching ------------------------------------------------------

  // Makes sure Server is connected and LinkHandle ready, and selects
  // DatabaseName on it. Nothing to do while active. Fails with "No server
  // selected for open", "Server could not connect" (or the server's own
  // connect error) and "No server connection".
  void EnsureLink();
  // Detaches from the server and gives back a handle of its own.
  void ReleaseLink();
  // As ReleaseLink; fails with "No server selected for close" without Server.
  void CloseLink();
  // Runs the statements of SQL and caches the result of the first that has
  // one. Fails with "Must have SQL", the server's "%d - %s", or EAbort from
  // OnExecSQL. A refused statement leaves the cached result as it was; a
  // failure while reading the rows leaves no rows.
  void FetchResult();
  // Rebuilds FieldDefs from the columns. Reachable while closed: runs
  // EnsureLink and FetchResult first (the next open then reuses that
  // result).
  void BuildFieldDefs();

  // --- Field values -------------------------------------------------------------

  bool CanModify() const override { return !read_only_; }
  // The rule of every dataset, fixed here so that the field-reading paths
  // below call it directly.
  TRecordBuffer* ActiveRecordBuffer() const final { return StateRecordBuffer(); }
  bool ReadFieldValue(const TField& field, TFieldValue* dest) override;
  TKeptText PeekFieldText(const TField& field, std::string_view* text) override;
  TKeptText PeekStringText(const TField& field, std::string_view* text) override;
  bool ReadFieldText(const TField& field, std::string* out) override;
  // Conversion or validation failures become EAbort, the value unwritten.
  void WriteFieldValue(TField& field, const TFieldValue* source) override;
  std::unique_ptr<TStream> OpenBlobStream(TField& field, TBlobStreamMode mode) override;
  // The blob of `field` in `buffer`: empty unless `buffer` is the active
  // record buffer; the cached row's bytes while browsing or editing a
  // cached row, the buffer's own bytes for a row being inserted. The view
  // is valid until the record or the row changes.
  std::string_view BlobView(const TField& field, const TRecordBuffer& buffer) const {
    return BlobCell(field, buffer).Bytes;
  }
  // As BlobView, telling NULL (no value) from empty bytes.
  TCell BlobCell(const TField& field, const TRecordBuffer& buffer) const;
  std::string BlobText(const TField& field, const TRecordBuffer& buffer) const {
    return std::string(BlobView(field, buffer));
  }
  // The active record's cells and the columns' Modified flags, so that a
  // series of field writes can be undone as one (RestoreRecordValues).
  struct TRecordValues {
    std::unique_ptr<TMySQLRecord> Cells;  // null: there was no active record
    std::vector<bool> Modified;
  };
  TRecordValues SaveRecordValues() const;
  // Puts back what SaveRecordValues took: the active record's cells (and,
  // while editing, the cached row's) and the Modified flags. Nothing when
  // the active record is gone or the columns changed since.
  void RestoreRecordValues(const TRecordValues& saved);
  // Stores a blob into `buffer` when it is the active record buffer (and
  // into the cached row while editing it). Fails with "Dataset not in edit
  // or insert mode" while filtering.
  void SetBlobText(const TField& field, TRecordBuffer& buffer, std::string_view bytes);

  // --- IMySQLServerClient -------------------------------------------------------

  TComponent& ClientComponent() override { return *this; }
  bool IsOpenForServer() const override { return Active(); }
  void CloseForServer() override { CloseDataset(); }
  bool IsDestroying() const override { return Destroying(); }

 protected:
  // --- Cursor operations ----------------------------------------------------------
  void OpenResult() override;
  void CloseResult() override;
  std::unique_ptr<TRecordBuffer> NewRecordBuffer() override;
  void InitNewRecord(TRecordBuffer& buffer) override;
  TGetResult FillRecord(TRecordBuffer& buffer, TGetMode mode, bool check) override;
  void MoveBeforeFirst() override { cursor_ = -1; }
  void MoveAfterLast() override { cursor_ = RowsCount(); }
  void MoveToBookmark(int64_t bookmark) override;
  void SetToRecord(const TRecordBuffer& buffer) override;
  int64_t ReadBookmark(const TRecordBuffer& buffer) const override;
  void WriteBookmark(TRecordBuffer& buffer, int64_t bookmark) override;
  TBookmarkFlag ReadBookmarkFlag(const TRecordBuffer& buffer) const override;
  void WriteBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) override;
  bool IsValidBookmark(std::optional<int64_t> bookmark) override;
  int OrderBookmarks(std::optional<int64_t> a, std::optional<int64_t> b) override;
  void Requery() override;
  TFieldClass FieldClassFor(TFieldType type) const override;

  // --- Editing hooks -----------------------------------------------------------------
  // Edit start keeps a copy of the row (the key conditions read the old
  // values from it). Post sends SQLUpdate for an edit (nothing when no
  // column was written) and SQLInsert for an insert, then adds the inserted
  // row at the cursor with the server's insert id in its auto-increment
  // column. Cancel restores the cached row from the copy. Delete sends
  // SQLDelete and removes the row. A template without statements sends
  // nothing and adds or removes no row. A refused statement leaves the
  // state, the copy and the Modified flags as they were. An UPDATE or
  // DELETE of these templates keyed by a key-condition macro must match a
  // row (connections count matched rows), else it fails with
  // kMsgRowNotFound; keyed by every column it gets LIMIT 1, so that it
  // never writes an identical twin of the row as well.
  void HookEditStart() override;
  void HookInsertStart() override;
  void HookCancel() override;
  void HookPost() override;
  void HookDelete() override;
  // Runs the statements of a template with MacrosEnabled and CachedUpdates;
  // false when it holds none.
  virtual bool RunTemplate(const TStringList& lines);
  // Sends one final statement on LinkHandle, in DatabaseName, and sets
  // AffectedRows and LastInsertID; rows it returns are dropped unread.
  // Raises the server's "%d - %s", or "No server connection" without a link.
  // With `keyed_row` (an update or delete of the current row by its key
  // condition) a statement that matched no row fails with kMsgRowNotFound.
  // Tests replace it to record what would be sent.
  virtual void SendStatement(const std::string& sql, bool keyed_row);

  // --- Where rows come from -------------------------------------------------------------
  // EnsureLink, then FetchResult when no rows are cached. Tests replace it to
  // load a prepared result with LoadResult.
  virtual void PrepareResult();
  // CloseLink. Tests without a server replace it.
  virtual void ReleaseResultLink();
  // Describes the columns and caches the rows of `reader` (replacing any
  // cached result). On failure no rows are left.
  void LoadResult(TResultReader& reader);

  void Notification(TComponent* component, Operation operation) override;

 private:
  int64_t RowsCount() const { return rows_ ? rows_->Count() : 0; }
  void DropResult();
  void InvalidateClosedResult();
  void BuildDefsFromColumns();
  std::string FieldText(const TField& field, const TFieldInfo& info, const TFieldValue& value) const;
  bool CursorInRows() const { return cursor_ >= 0 && cursor_ < RowsCount(); }
  void TemplatesChanged();
  void SqlChanged();
  void SetTemplate(TStringList& target, const TStringList& lines);
  void AddExpansionNotes(const TExpansionNotes& notes);
  // Editing.
  // True when `sql` starts with UPDATE or DELETE.
  static bool IsRowWrite(std::string_view sql);
  // OnExecSQL, RealSQL and the final-";" rule, then SendStatement.
  void SendNow(std::string text, bool keyed_row);
  // Selects DatabaseName on the link when the link's current database is
  // another one (datasets sharing one connection may name different ones).
  void SelectOwnDatabase();
  void ApplyServerInsertId(TMySQLRecord& row);
  void AddInsertedRow();
  bool AnyColumnModified() const;
  // Master/detail.
  friend class TMasterDataLink;
  void MasterChanged();
  void RefreshIfOpen();

  TMySQLServer* server_ = nullptr;
  MySQLHandle* link_ = nullptr;
  std::string database_name_;
  std::string table_name_;
  bool share_connection_ = true;
  bool all_field_values_ = true;
  bool read_only_ = false;
  bool cached_updates_ = false;

  std::unique_ptr<TStringList> sql_, sql_update_, sql_insert_, sql_delete_, sql_batch_;
  std::string field_name_;
  std::string macro_open_ = "[";
  std::string macro_close_ = "]";
  bool macros_enabled_ = true;
  std::unique_ptr<TMySQLMacros> macros_;
  TDataSource* master_source_ = nullptr;
  std::unique_ptr<TMasterDataLink> master_link_;
  // Set while the dataset re-reads its rows for its master, so that a
  // circle of links made behind SetMasterSource's back cannot recurse.
  bool following_master_ = false;
  TRowCondition condition_;
  TStringList pending_;
  // Per held-back statement: it writes the current row by its key condition.
  std::vector<bool> pending_keyed_;
  // Set while a post or delete runs its template.
  bool writing_row_ = false;
  // What the expansions since the last reset met, for the row-write rules.
  TExpansionNotes expansion_;

  TColumnDescription columns_;
  std::string real_sql_;
  std::string affected_rows_ = "0";
  std::string last_insert_id_ = "0";
  std::unique_ptr<TRowCache> rows_;
  int64_t cursor_ = -1;
  // Cells of the row being edited as they were when the edit began.
  std::unique_ptr<TMySQLRecord> edit_start_copy_;
};

}  // namespace quill
