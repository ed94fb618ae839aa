// Editing and posting in the MySQL dataset: running statement lists (split,
// macro expansion, OnExecSQL, statements held back by CachedUpdates), the
// editing hooks the generic layer calls, and how they keep the row cache in
// step with what was sent.
//
// A written row is never read back from the server: the cache takes the
// values the dataset itself holds, with the server's insert id in the
// auto-increment column. Columns a post did not write (and columns whose
// default the server computes) stay NULL in the cache until a refresh.
#include <algorithm>
#include <cassert>

#include "mysql_dataset/mysql_dataset.h"
#include "platform/ui/ui_services.h"
#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

// Servers before this version did not report insert ids.
constexpr uint32_t kInsertIdFrom = 32112;
// Statements shorter than this are no statements (a stray ";" and such).
constexpr size_t kShortestStatement = 3;

// Marks the statements of a post or delete as writes of the current row
// while they run.
class RowWriteScope {
 public:
  explicit RowWriteScope(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~RowWriteScope() { flag_ = saved_; }
  RowWriteScope(const RowWriteScope&) = delete;
  RowWriteScope& operator=(const RowWriteScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

// --- Statements -------------------------------------------------------------------

bool TMySQLDataset::ExecStatements(const TStringList& lines, bool expand, bool defer) {
  TStringList statements;
  statements.Assign(lines);
  SplitStatements(statements);
  if (statements.Count() == 0) return false;
  for (int i = 0; i < statements.Count(); ++i) ExecStatement(statements[i], expand, defer);
  return true;
}

bool TMySQLDataset::ExecStatement(std::string_view sql, bool expand, bool defer) {
  std::string text(sql);
  bool keyed_row = false;
  if (expand) {
    if (macros_enabled_) macros_->ParseSQL(text, MacroDel(), true);
    expansion_ = TExpansionNotes{};
    text = ExpandSQL(text, true);
    if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    keyed_row = writing_row_ && expansion_.KeyCondition && IsRowWrite(text);
    // A condition over every column may match identical twins of the row;
    // the write must still touch one row only.
    if (keyed_row && expansion_.AllColumnsKey && !expansion_.Limit) text += " LIMIT 1";
  }
  if (text.size() < kShortestStatement) return true;
  if (defer) {
    pending_.Add(std::move(text));
    pending_keyed_.resize(static_cast<size_t>(pending_.Count()), false);
    pending_keyed_.back() = keyed_row;
    return true;
  }
  SendNow(std::move(text), keyed_row);
  return true;
}

bool TMySQLDataset::IsRowWrite(std::string_view sql) {
  const std::string word = UpperCase(ExtractWord(1, sql, " \t\r\n("));
  return word == "UPDATE" || word == "DELETE";
}

void TMySQLDataset::SendNow(std::string text, bool keyed_row) {
  const ui::BusyCursor busy;
  EnsureLink();
  if (OnExecSQL) {
    bool go_on = true;
    OnExecSQL(*this, text, go_on);
    if (!go_on) throw EAbort();
  }
  real_sql_ = text;
  if (server_ != nullptr && server_->IntVer() < kKeepsFinalSemicolonFrom && !text.empty() &&
      text.back() == ';') {
    text.pop_back();
  }
  SendStatement(text, keyed_row);
}

void TMySQLDataset::SendStatement(const std::string& sql, bool keyed_row) {
  if (server_ == nullptr || link_ == nullptr) throw EDatabaseError("No server connection");
  const uint32_t version = server_->IntVer();
  SelectOwnDatabase();
  const bool accepted = ClientRealQuery(link_, sql);
  TColumnDescription::StatementSent(*server_, sql);
  if (!accepted) RaiseServerError(link_, "", version);
  const uint64_t affected = ClientAffectedRows(link_);
  affected_rows_ = std::to_string(affected);
  last_insert_id_ = version < kInsertIdFrom ? "0" : std::to_string(ClientInsertId(link_));
  // Rows left unread would put the link out of step with the server.
  MySQLResult rows = ClientUseResult(link_);
  rows.Free();
  // Connections count matched rows (found-rows flag): 0 means the row the
  // statement was keyed on is no longer there as it was read.
  if (keyed_row && affected == 0) throw EDatabaseError(kMsgRowNotFound);
}

void TMySQLDataset::ApplyPending() {
  // One statement leaves the list only once the server took it, so that a
  // refusal loses nothing and nothing is ever sent twice.
  while (pending_.Count() > 0) {
    const std::string sql = pending_[0];
    const bool keyed_row = !pending_keyed_.empty() && pending_keyed_.front();
    SendNow(sql, keyed_row);
    pending_.Delete(0);
    if (!pending_keyed_.empty()) pending_keyed_.erase(pending_keyed_.begin());
  }
}

void TMySQLDataset::DiscardPending() {
  pending_.Clear();
  pending_keyed_.clear();
}

bool TMySQLDataset::RunTemplate(const TStringList& lines) {
  return ExecStatements(lines, macros_enabled_, cached_updates_);
}

// --- Editing hooks ----------------------------------------------------------------

void TMySQLDataset::HookEditStart() {
  edit_start_copy_.reset();
  const auto* active = static_cast<const TMySQLRecord*>(ActiveBuffer());
  if (active == nullptr) return;
  edit_start_copy_ = std::make_unique<TMySQLRecord>(active->Columns());
  edit_start_copy_->CopyFrom(*active);
}

void TMySQLDataset::HookInsertStart() {
  // Key columns and the columns named in FieldName are always written by
  // an insert, matched by whole name: a column id is not a part of userid.
  // A default the server computes is left to the server.
  const std::string wanted = PrimaryFields() + "," + field_name_;
  for (int i = 0; i < ColumnCount(); ++i) {
    TFieldInfo& info = ColumnInfo(i);
    if (info.ServerDefault) continue;
    for (int n = 1; n <= 255; ++n) {
      const std::string word = ExtractWord(static_cast<uint8_t>(n), wanted, ",;");
      if (word.empty()) break;
      if (SameText(Trim(word), info.Name)) {
        info.Modified = true;
        break;
      }
    }
  }
}

void TMySQLDataset::HookCancel() {
  if (edit_start_copy_ != nullptr && CursorInRows()) {
    for (int i = 0; i < ColumnCount() && i < edit_start_copy_->Columns(); ++i) {
      if (!ColumnInfo(i).Modified) continue;
      const TCell cell = edit_start_copy_->Cell(i);
      rows_->SetCell(cursor_, i,
                     cell.Null ? std::nullopt : std::optional<std::string_view>(cell.Bytes));
    }
  }
  edit_start_copy_.reset();
  // Flags left by a cancelled insert would mark columns of the next edit.
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = false;
}

bool TMySQLDataset::AnyColumnModified() const {
  for (int i = 0; i < ColumnCount(); ++i) {
    if (ColumnInfo(i).Modified) return true;
  }
  return false;
}

void TMySQLDataset::HookPost() {
  if (State() == dsEdit) {
    // The cached row holds the new values already. Nothing written, nothing
    // to send: the default update would have an empty set list.
    if (AnyColumnModified()) {
      const RowWriteScope row_write(writing_row_);
      RunTemplate(*sql_update_);
    }
  } else if (State() == dsInsert) {
    if (RunTemplate(*sql_insert_)) AddInsertedRow();
  }
  edit_start_copy_.reset();
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = false;
}

TMySQLDataset::TRecordValues TMySQLDataset::SaveRecordValues() const {
  TRecordValues saved;
  const auto* active = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  if (active == nullptr) return saved;
  saved.Cells = std::make_unique<TMySQLRecord>(active->Columns());
  saved.Cells->CopyFrom(*active);
  // Blobs of a cached row being edited live in the row.
  if (State() == dsEdit && CursorInRows()) {
    const TRecordView row = rows_->View(cursor_);
    for (int i = 0; i < row.Columns() && i < saved.Cells->Columns(); ++i) {
      const TCell cell = row.Cell(i);
      saved.Cells->SetCell(i, cell.Null ? std::nullopt : std::optional<std::string_view>(cell.Bytes));
    }
  }
  saved.Modified.reserve(static_cast<size_t>(ColumnCount()));
  for (int i = 0; i < ColumnCount(); ++i) saved.Modified.push_back(ColumnInfo(i).Modified);
  return saved;
}

void TMySQLDataset::RestoreRecordValues(const TRecordValues& saved) {
  auto* active = static_cast<TMySQLRecord*>(ActiveRecordBuffer());
  if (active == nullptr || saved.Cells == nullptr || saved.Cells->Columns() != active->Columns() ||
      saved.Modified.size() != static_cast<size_t>(ColumnCount())) {
    return;
  }
  const bool in_row = State() == dsEdit && CursorInRows();
  for (int i = 0; i < active->Columns(); ++i) {
    const TCell cell = saved.Cells->Cell(i);
    const std::optional<std::string_view> value =
        cell.Null ? std::nullopt : std::optional<std::string_view>(cell.Bytes);
    active->SetCell(i, value);
    if (in_row) rows_->SetCell(cursor_, i, value);
  }
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = saved.Modified[static_cast<size_t>(i)];
  DataEvent(TDataEvent::RecordChange);
}

void TMySQLDataset::AddInsertedRow() {
  assert(State() == dsInsert && ActiveBuffer() != nullptr && rows_ != nullptr);
  const auto& buffer = static_cast<const TMySQLRecord&>(*ActiveBuffer());
  TMySQLRecord row(ColumnCount());
  row.RowNumber = buffer.RowNumber;
  row.BookmarkFlag = buffer.BookmarkFlag;
  for (int i = 0; i < ColumnCount() && i < buffer.Columns(); ++i) {
    TFieldInfo& info = ColumnInfo(i);
    const TCell cell = buffer.Cell(i);
    if (cell.Null || !info.Modified) continue;
    if (info.Flags & kAutoIncrementFlag) {
      // The id of the last statement that really ran: with CachedUpdates
      // that is not this row's insert.
      const bool known =
          server_ != nullptr && link_ != nullptr && server_->IntVer() >= kInsertIdFrom;
      last_insert_id_ = known ? std::to_string(ClientInsertId(link_)) : "0";
      row.SetCell(i, last_insert_id_);
    } else {
      row.SetCell(i, cell.Bytes);
    }
    info.Modified = false;
  }
  const int64_t at = cursor_ < 0 ? RowsCount() : std::min(cursor_, RowsCount());
  rows_->Insert(at, row);
  rows_->Renumber();
  cursor_ = at;
  assert(rows_->Row(at).RowNumber == at);
}

void TMySQLDataset::HookDelete() {
  // While an edit is open the key condition reads the row as it was before
  // the edit (EditStartCopy); the copy and the flags stay until the server
  // took the delete, so that a refused delete can still be cancelled.
  bool ran = false;
  {
    const RowWriteScope row_write(writing_row_);
    ran = RunTemplate(*sql_delete_);
  }
  edit_start_copy_.reset();
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = false;
  if (!ran || !CursorInRows()) return;
  rows_->Remove(cursor_);
  while (cursor_ >= RowsCount()) --cursor_;
  rows_->Renumber();
}

}  // namespace quill
