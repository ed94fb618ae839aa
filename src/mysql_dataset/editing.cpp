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
  if (expand) {
    if (macros_enabled_) macros_->ParseSQL(text, MacroDel(), true);
    text = ExpandSQL(text, true);
    if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  }
  if (text.size() < kShortestStatement) return true;
  if (defer) {
    pending_.Add(std::move(text));
    return true;
  }
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
  SendStatement(text);
  return true;
}

void TMySQLDataset::SendStatement(const std::string& sql) {
  if (server_ == nullptr || link_ == nullptr) throw EDatabaseError("No server connection");
  const uint32_t version = server_->IntVer();
  if (!ClientRealQuery(link_, sql)) RaiseServerError(link_, "", version);
  affected_rows_ = std::to_string(ClientAffectedRows(link_));
  last_insert_id_ = version < kInsertIdFrom ? "0" : std::to_string(ClientInsertId(link_));
  // Rows left unread would put the link out of step with the server.
  MySQLResult rows = ClientUseResult(link_);
  rows.Free();
}

void TMySQLDataset::ApplyPending() {
  // One statement leaves the list only once the server took it, so that a
  // refusal loses nothing and nothing is ever sent twice.
  while (pending_.Count() > 0) {
    const std::string sql = pending_[0];
    ExecStatement(sql, false, false);
    pending_.Delete(0);
  }
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
  const std::string wanted = primary_fields_ + "," + field_name_;
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
    if (AnyColumnModified()) RunTemplate(*sql_update_);
  } else if (State() == dsInsert) {
    if (RunTemplate(*sql_insert_)) AddInsertedRow();
  }
  edit_start_copy_.reset();
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = false;
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
    const bool has_value = info.IsBlob() ? !cell.Bytes.empty() : !cell.Null;
    if (!has_value || !info.Modified) continue;
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
  edit_start_copy_.reset();
  for (int i = 0; i < ColumnCount(); ++i) ColumnInfo(i).Modified = false;
  if (!RunTemplate(*sql_delete_) || !CursorInRows()) return;
  rows_->Remove(cursor_);
  while (cursor_ >= RowsCount()) --cursor_;
  rows_->Renumber();
}

}  // namespace quill
