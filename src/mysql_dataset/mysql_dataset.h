// TMySQLDataset: a dataset over the cached result of one SQL query.
//
// Opening runs the statements of SQL on a connection of its Server (the
// first statement that returns rows wins; later statements are not sent),
// reads every row into the row cache, describes every result column
// (TFieldInfo), optionally completes the description from "show columns
// from" (defaults, enum and set values), and makes one typed field per
// column. From then on navigation, bookmarks and field values work on the
// cached rows alone; the server is contacted again to write changes back
// (the editing hooks) and to refresh.
//
// Every value is held as the text the server sent (blob columns as bytes):
// ReadFieldValue converts it for the field's type, WriteFieldValue makes the
// text the server will take back. Editing writes straight through to the
// cached row, so the cache always shows what the dataset believes the
// server holds.
//
// The editing hooks here keep the cache right but send nothing yet: the
// statements come from the templates once the macro engine expands them
// (ExpandSQL, RunTemplate).
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
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/macros.h"
#include "mysql_dataset/record_cache.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"

namespace quill {

// The description of one result column.
struct TFieldInfo {
  std::string Name;        // column name as the server reports it
  std::string Table;       // source table (alias); empty when computed or temporary
  std::string OrgTable;    // the table's real name (for "show columns from")
  std::string Default;     // default value text
  std::string EnumValues;  // ENUM/SET: "\"a\",\"b\""; empty otherwise
  uint8_t FieldType = 0;   // server type code; 247 ENUM, 248 SET
  uint32_t Length = 0;     // width; in characters for text columns
  uint32_t MaxLength = 0;
  uint32_t Flags = 0;      // the server's column flags
  uint32_t Decimals = 0;
  uint32_t CharsetNr = 0;  // 63: binary
  bool Modified = false;   // given a value in the current record

  bool IsBlob() const { return (Flags & kBlobFlag) != 0; }
  bool IsBinary() const { return CharsetNr == kBinaryCharsetNr; }
};

// The field type and size a column maps to.
struct TColumnMapping {
  TFieldType Type = ftUnknown;
  int32_t Size = 0;
};
// DECIMAL (0 and 246), FLOAT, DOUBLE: ftFloat. TINY, SHORT: ftWord when
// unsigned, else ftSmallint. LONG: ftLargeint when unsigned, else ftInteger.
// NULL: ftVariant. TIMESTAMP, DATETIME, NEWDATE: ftDateTime. LONGLONG:
// ftLargeint. INT24: ftInteger. DATE: ftDate. TIME: ftTime. YEAR: ftWord.
// ENUM, SET: ftString of Length. Blobs: ftBlob in the binary character set
// (the binary flag when the set is unknown), else ftMemo, of Length. VAR_STRING, STRING: ftString up to Length 2048, else ftMemo. JSON:
// ftMemo. Anything else: ftUnknown.
TColumnMapping MapColumnType(const TFieldInfo& info);

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
  // Switching it off refreshes an open dataset first (sending what was held
  // back); any change notifies the consumers.
  void SetCachedUpdates(bool value);

  // The query and the four editing templates. Editing SQL's lines while the
  // dataset is open closes it.
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

  // Properties of the macro engine, editing and master/detail work, held here
  // so that scripts can reach them.
  const std::string& FieldName() const { return field_name_; }
  // Replaced only when it differs ignoring case.
  void SetFieldName(const std::string& names);
  // "open,close", the macro delimiters; "[,]" by default.
  std::string MacroDel() const { return macro_open_ + "," + macro_close_; }
  void SetMacroDel(const std::string& text);
  const std::string& MacroOpen() const { return macro_open_; }
  const std::string& MacroClose() const { return macro_close_; }
  bool MacrosEnabled() const { return macros_enabled_; }
  void SetMacrosEnabled(bool value) { macros_enabled_ = value; }
  TMySQLMacros& Macros() { return *macros_; }
  // Copies the values of the macros whose names exist in both.
  void SetMacros(const TMySQLMacros& macros) { macros_->AssignValues(macros); }
  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(const std::string& fields) { master_fields_ = fields; }
  TDataSource* MasterSource() const { return master_source_; }
  void SetMasterSource(TDataSource* source);
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& filter) { filter_ = filter; }
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value) { filtered_ = value; }

  // Raised before every statement is sent; the handler may change the text
  // or clear go_on to abandon the operation silently (EAbort).
  TExecSQLEvent OnExecSQL;

  // --- The result -----------------------------------------------------------

  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // REQUIRES (all taking an index): 0 <= index < ColumnCount().
  TFieldInfo& ColumnInfo(int index) { return *columns_[static_cast<size_t>(index)].second; }
  const TFieldInfo& ColumnInfo(int index) const {
    return *columns_[static_cast<size_t>(index)].second;
  }
  // The name the column's field carries: the plain name, or table.name for
  // a name several columns share.
  const std::string& ColumnDisplayName(int index) const {
    return columns_[static_cast<size_t>(index)].first;
  }
  // Position of the column with that display name (ASCII case ignored), or -1.
  int IndexOfColumn(std::string_view display_name) const;
  // The column a field is bound to, or null.
  TFieldInfo* ColumnOf(const TField& field);
  // Distinct source tables of the columns, sorted ignoring case.
  const std::vector<std::string>& ResultTables() const { return result_tables_; }
  // Comma-separated names of the columns in a primary, unique and
  // non-unique key, in column order.
  const std::string& PrimaryFields() const { return primary_fields_; }
  const std::string& UniqueFields() const { return unique_fields_; }
  const std::string& MultiFields() const { return multi_fields_; }
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
  // The statement text to send for `sql`: the macro engine's expansion.
  // Returns `sql` unchanged until that engine plugs in here.
  virtual std::string ExpandSQL(std::string_view sql, bool apply_condition);
  // Sends the statements held back by CachedUpdates (nothing yet).
  virtual void ApplyPending() {}

  // --- Field values -------------------------------------------------------------

  bool CanModify() const override { return !read_only_; }
  bool ReadFieldValue(const TField& field, TFieldValue* dest) override;
  bool ReadFieldText(const TField& field, std::string* out) override;
  // Conversion or validation failures become EAbort, the value unwritten.
  void WriteFieldValue(TField& field, const TFieldValue* source) override;
  std::unique_ptr<TStream> OpenBlobStream(TField& field, TBlobStreamMode mode) override;
  // The blob of `field` in `buffer`: empty unless `buffer` is the active
  // record buffer; the cached row's bytes while browsing or editing a
  // cached row, the buffer's own bytes for a row being inserted. The view
  // is valid until the record or the row changes.
  std::string_view BlobView(const TField& field, const TRecordBuffer& buffer) const;
  std::string BlobText(const TField& field, const TRecordBuffer& buffer) const {
    return std::string(BlobView(field, buffer));
  }
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
  // They keep the row cache right: an edit keeps its start values, a post
  // of an insert adds the row at the cursor, a cancel restores the cached
  // row, a delete removes it. RunTemplate is where the statements of a
  // template will be sent; it sends nothing yet and answers true.
  void HookEditStart() override;
  void HookInsertStart() override;
  void HookCancel() override;
  void HookPost() override;
  void HookDelete() override;
  // Runs the statements of a template; false when it holds none.
  virtual bool RunTemplate(const TStringList& lines);

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
  void AddResultTable(const std::string& table);
  void QualifyDuplicateNames();
  void ReadTableStructure();
  void ReadOneTableStructure(const std::string& table);
  void BuildDefsFromColumns();
  std::string FieldText(const TField& field, const TFieldInfo& info, const TFieldValue& value) const;
  bool CursorInRows() const { return cursor_ >= 0 && cursor_ < RowsCount(); }
  void TemplatesChanged();
  void SqlChanged();
  void SetTemplate(TStringList& target, const TStringList& lines);

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
  std::string master_fields_;
  TDataSource* master_source_ = nullptr;
  std::string filter_;
  bool filtered_ = false;

  std::vector<std::pair<std::string, std::unique_ptr<TFieldInfo>>> columns_;
  std::vector<std::string> result_tables_;
  std::string primary_fields_, unique_fields_, multi_fields_;
  std::string real_sql_;
  std::string affected_rows_ = "0";
  std::string last_insert_id_ = "0";
  std::unique_ptr<TRowCache> rows_;
  int64_t cursor_ = -1;
  // Cells of the row being edited as they were when the edit began.
  std::unique_ptr<TMySQLRecord> edit_start_copy_;
};

}  // namespace quill
