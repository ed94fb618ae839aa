// The MySQL dataset: the link to the connection, running the query and
// caching its result, and the cursor operations the generic layer calls.
// Field values as text both ways live in field_values.cpp, the column
// description in column_description.cpp, the macro engine in sql_macros.cpp, editing and
// statement execution in editing.cpp, master/detail links, filters and
// search in master_detail.cpp.
#include "mysql_dataset/mysql_dataset.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <exception>
#include <limits>

#include "base/errors.h"
#include "base/number_text.h"
#include "base/published.h"
#include "base/utf8.h"
#include "mysql_dataset/blob_stream.h"
#include "mysql_dataset/master_data_link.h"
#include "mysql_dataset/mysql_string_field.h"
#include "mysql_dataset/sql_date_text.h"
#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

// --- Published properties --------------------------------------------------------

const TMySQLDataset& D(const TObject& o) { return static_cast<const TMySQLDataset&>(o); }
TMySQLDataset& D(TObject& o) { return static_cast<TMySQLDataset&>(o); }

#define QUILL_DATASET_STRING(Name, getter, setter)                     \
  StringProp(                                                           \
      Name, [](const TObject& o) { return Variant(D(o).getter()); },    \
      [](TObject& o, const Variant& v) { D(o).setter(v.AsString()); })
#define QUILL_DATASET_BOOL(Name, getter, setter, def)                  \
  BooleanProp(                                                          \
      Name, [](const TObject& o) { return Variant(D(o).getter()); },    \
      [](TObject& o, const Variant& v) { D(o).setter(v.AsBoolean()); }, def)
// The template lists are owned by the dataset: assigning a list copies its
// lines, assigning nothing leaves them alone.
#define QUILL_DATASET_LIST(Name, getter, setter)                                       \
  ObjectProp(                                                                           \
      Name, &TStringList::StaticClassInfo,                                              \
      [](const TObject& o) -> TObject* { return &const_cast<TMySQLDataset&>(D(o)).getter(); }, \
      [](TObject& o, TObject* value) {                                                  \
        if (value != nullptr && value->InheritsFrom(TStringList::StaticClassInfo)) {    \
          D(o).setter(static_cast<const TStringList&>(*value));                         \
        }                                                                               \
      })

const PropertyInfo kMySQLDatasetProps[] = {
    QUILL_DATASET_STRING("TableName", TableName, SetTableName),
    QUILL_DATASET_STRING("FieldName", FieldName, SetFieldName),
    QUILL_DATASET_STRING("MacroDel", MacroDel, SetMacroDel),
    ObjectProp(
        "Macros", &TMySQLMacros::StaticClassInfo,
        [](const TObject& o) -> TObject* { return &const_cast<TMySQLDataset&>(D(o)).Macros(); },
        [](TObject& o, TObject* value) {
          if (value != nullptr && value->InheritsFrom(TMySQLMacros::StaticClassInfo)) {
            D(o).SetMacros(static_cast<const TMySQLMacros&>(*value));
          }
        }),
    QUILL_DATASET_BOOL("MacrosEnabled", MacrosEnabled, SetMacrosEnabled, "True"),
    QUILL_DATASET_LIST("SQL", SQL, SetSQL),
    QUILL_DATASET_LIST("SQLUpdate", SQLUpdate, SetSQLUpdate),
    QUILL_DATASET_LIST("SQLInsert", SQLInsert, SetSQLInsert),
    QUILL_DATASET_LIST("SQLDelete", SQLDelete, SetSQLDelete),
    QUILL_DATASET_LIST("SQLBatch", SQLBatch, SetSQLBatch),
    ObjectProp(
        "Server", &TMySQLServer::StaticClassInfo,
        [](const TObject& o) -> TObject* { return D(o).Server(); },
        [](TObject& o, TObject* value) {
          D(o).SetServer(value != nullptr && value->InheritsFrom(TMySQLServer::StaticClassInfo)
                             ? static_cast<TMySQLServer*>(value)
                             : nullptr);
        }),
    QUILL_DATASET_STRING("DatabaseName", DatabaseName, SetDatabaseName),
    QUILL_DATASET_BOOL("CachedUpdates", CachedUpdates, SetCachedUpdates, "False"),
    QUILL_DATASET_BOOL("ReadOnly", ReadOnly, SetReadOnly, "False"),
    QUILL_DATASET_BOOL("ShareConnection", ShareConnection, SetShareConnection, "True"),
    QUILL_DATASET_STRING("MasterFields", MasterFields, SetMasterFields),
    ObjectProp(
        "MasterSource", &TDataSource::StaticClassInfo,
        [](const TObject& o) -> TObject* { return D(o).MasterSource(); },
        [](TObject& o, TObject* value) {
          D(o).SetMasterSource(value != nullptr && value->InheritsFrom(TDataSource::StaticClassInfo)
                                   ? static_cast<TDataSource*>(value)
                                   : nullptr);
        }),
    QUILL_DATASET_BOOL("AllFieldValues", AllFieldValues, SetAllFieldValues, ""),
    QUILL_DATASET_BOOL("Filtered", Filtered, SetFiltered, "False"),
    QUILL_DATASET_STRING("Filter", Filter, SetFilter),
    EventProp("OnExecSQL"),
};

#undef QUILL_DATASET_STRING
#undef QUILL_DATASET_BOOL
#undef QUILL_DATASET_LIST

// --- Result reading -----------------------------------------------------------------

// The client library's row-by-row result as a TResultReader.
class LibraryResultReader : public TResultReader {
 public:
  LibraryResultReader(MySQLResult& result, MySQLHandle* handle, uint32_t version)
      : result_(result), handle_(handle), version_(version) {}
  std::vector<MySQLFieldDesc> Fields() override { return result_.Fields(); }
  bool Next() override {
    if (result_.Next()) return true;
    if (ClientErrno(handle_) != 0) RaiseServerError(handle_, "", version_);
    return false;
  }
  const char* const* Values() const override { return result_.Values(); }
  const unsigned long* Lengths() const override { return result_.Lengths(); }

 private:
  MySQLResult& result_;
  MySQLHandle* handle_;
  uint32_t version_;
};

std::unique_ptr<TField> MakeMySQLStringField(TDataSet& dataset) {
  return std::make_unique<TMySQLStringField>(dataset);
}
std::unique_ptr<TField> MakeUnknownField(TDataSet& dataset) {
  return std::make_unique<TUnknownField>(dataset);
}

}  // namespace

// --- Construction -------------------------------------------------------------------

const TClassInfo TMySQLDataset::StaticClassInfo{"TMySQLDataset", &TDataSet::StaticClassInfo,
                                                kMySQLDatasetProps};

TMySQLDataset::TMySQLDataset(TComponent* owner)
    : TDataSet(owner),
      sql_(std::make_unique<TStringList>()),
      sql_update_(std::make_unique<TStringList>()),
      sql_insert_(std::make_unique<TStringList>()),
      sql_delete_(std::make_unique<TStringList>()),
      sql_batch_(std::make_unique<TStringList>()),
      macros_(std::make_unique<TMySQLMacros>()),
      master_link_(std::make_unique<TMasterDataLink>(*this)) {
  sql_->SetText("select [$FIELDS] from [$TABLENAME] [JOIN] [WHERE] [GROUPBY] [ORDER] [LIMIT]");
  sql_update_->SetText(
      "update [$TABLENAME] set [$MODIFIED$FIELDS&VALUES] where [$PRIMARYFIELDS&VALUES]");
  sql_insert_->SetText("insert into [$TABLENAME] set [$MODIFIED$FIELDS&VALUES]");
  sql_delete_->SetText("delete from [$TABLENAME] where [$PRIMARYFIELDS&VALUES]");
  sql_->OnChange = [this] { SqlChanged(); };
  for (TStringList* list : {sql_update_.get(), sql_insert_.get(), sql_delete_.get(),
                            sql_batch_.get()}) {
    list->OnChange = [this] { TemplatesChanged(); };
  }
  TemplatesChanged();
}

TMySQLDataset::~TMySQLDataset() {
  for (TStringList* list : {sql_.get(), sql_update_.get(), sql_insert_.get(), sql_delete_.get(),
                            sql_batch_.get()}) {
    list->OnChange = nullptr;
  }
  CloseForDestruction();
  // Leaving the master now, while the dataset is whole, so that the link's
  // last notice finds a dataset that knows it is going.
  master_link_->SetDataSource(nullptr);
  try {
    ReleaseLink();
  } catch (...) {
    // Nothing may escape a destructor; the server drops its entry on the
    // destruction notice anyway.
  }
  edit_start_copy_.reset();
  DropResult();
}

void TMySQLDataset::Notification(TComponent* component, Operation operation) {
  TDataSet::Notification(component, operation);
  if (operation != Operation::Remove) return;
  if (component == server_) {
    // The server is past its own destructor: only the binding may be used
    // for a handle of our own.
    if (link_ != nullptr && !share_connection_) ClientClose(link_);
    link_ = nullptr;
    server_ = nullptr;
  }
  if (component == master_source_) {
    master_source_ = nullptr;
    master_link_->SetDataSource(nullptr);
  }
}

// --- Properties -------------------------------------------------------------------

void TMySQLDataset::InvalidateClosedResult() {
  if (Active()) return;
  DropResult();
  FieldDefs().Clear();
}

void TMySQLDataset::SetServer(TMySQLServer* server) {
  if (server == server_) return;
  CloseDataset();
  ReleaseLink();
  InvalidateClosedResult();
  server_ = server;
  if (server_ != nullptr) {
    FreeNotification(server_);
    if (database_name_.empty()) database_name_ = server_->DatabaseName();
  }
}

void TMySQLDataset::SetDatabaseName(const std::string& name) {
  if (name == database_name_) return;
  CloseDataset();
  InvalidateClosedResult();
  database_name_ = name;
}

void TMySQLDataset::SetTableName(const std::string& name) {
  if (name == table_name_) return;
  CloseDataset();
  InvalidateClosedResult();
  table_name_ = name;
}

void TMySQLDataset::SetShareConnection(bool value) {
  if (value == share_connection_) return;
  CloseDataset();
  ReleaseLink();
  InvalidateClosedResult();
  share_connection_ = value;
}

void TMySQLDataset::SetReadOnly(bool value) {
  if (value == read_only_) return;
  read_only_ = value;
  DataEvent(TDataEvent::DataSetChange);
}

void TMySQLDataset::SetCachedUpdates(bool value) {
  if (value == cached_updates_) return;
  if (!value) {
    // What was held back goes out now: with a refresh while open, so that
    // the rows show the server's state, on its own while closed.
    if (Active()) {
      RefreshRows();
    } else {
      ApplyPending();
    }
  }
  cached_updates_ = value;
  DataEvent(TDataEvent::DataSetChange);
}

void TMySQLDataset::SetTemplate(TStringList& target, const TStringList& lines) {
  if (lines.Text() != target.Text()) target.Assign(lines);
}

void TMySQLDataset::SetSQL(const TStringList& lines) { SetTemplate(*sql_, lines); }
void TMySQLDataset::SetSQLUpdate(const TStringList& lines) { SetTemplate(*sql_update_, lines); }
void TMySQLDataset::SetSQLInsert(const TStringList& lines) { SetTemplate(*sql_insert_, lines); }
void TMySQLDataset::SetSQLDelete(const TStringList& lines) { SetTemplate(*sql_delete_, lines); }
void TMySQLDataset::SetSQLBatch(const TStringList& lines) { SetTemplate(*sql_batch_, lines); }

void TMySQLDataset::SqlChanged() {
  CloseDataset();
  InvalidateClosedResult();
  TemplatesChanged();
}

void TMySQLDataset::TemplatesChanged() { CollectMacroNames(); }

void TMySQLDataset::SetFieldName(const std::string& names) {
  if (!SameText(names, field_name_)) field_name_ = names;
}

void TMySQLDataset::SetMacroDel(const std::string& text) {
  if (text == MacroDel()) return;
  macro_open_ = ExtractWord(1, text, ",;");
  macro_close_ = ExtractWord(2, text, ",;");
}

// --- Link ---------------------------------------------------------------------------

void TMySQLDataset::EnsureLink() {
  if (Active()) return;
  if (server_ == nullptr) throw EDatabaseError("No server selected for open");
  if (!server_->Connected()) server_->Connect();
  if (!server_->Connected()) throw EDatabaseError("Server could not connect");
  // A shared handle is the server's: after a reconnect it is another one,
  // and the old pointer must not be used again.
  if (link_ != nullptr && share_connection_ && link_ != server_->Handle()) ReleaseLink();
  if (link_ == nullptr) {
    ReleaseLink();
    link_ = share_connection_ ? server_->Handle() : server_->NewHandle();
    server_->AttachDataset(this);
  }
  if (link_ == nullptr) throw EDatabaseError("No server connection");
  SelectOwnDatabase();
}

void TMySQLDataset::SelectOwnDatabase() {
  if (server_ == nullptr || link_ == nullptr || database_name_.empty()) return;
  // Asking the library costs no round trip; selecting does.
  if (ClientCurrentDb(link_) == database_name_) return;
  server_->SelectDatabase(link_, database_name_);
}

void TMySQLDataset::ReleaseLink() {
  if (server_ == nullptr || link_ == nullptr) return;
  server_->DetachDataset(this);
  if (!share_connection_) server_->DropHandle(link_);
  link_ = nullptr;
}

void TMySQLDataset::CloseLink() {
  if (server_ == nullptr) throw EDatabaseError("No server selected for close");
  ReleaseLink();
}

void TMySQLDataset::PrepareResult() {
  EnsureLink();
  if (rows_ == nullptr) FetchResult();
}

void TMySQLDataset::ReleaseResultLink() { CloseLink(); }

// --- Fetching ---------------------------------------------------------------------------

void TMySQLDataset::DropResult() {
  rows_.reset();
  columns_.Clear();
}

void TMySQLDataset::FetchResult() {
  if (sql_->Count() == 0) throw EDatabaseError("Must have SQL");
  if (server_ == nullptr || link_ == nullptr) throw EDatabaseError("No server connection");
  SelectOwnDatabase();
  TStringList statements;
  statements.Assign(*sql_);
  SplitStatements(statements);
  MySQLResult result;
  for (int i = 0; i < statements.Count(); ++i) {
    std::string text = macros_enabled_ ? ExpandSQL(statements[i], true) : statements[i];
    if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    if (OnExecSQL) {
      bool go_on = true;
      OnExecSQL(*this, text, go_on);
      if (!go_on) throw EAbort();
    }
    real_sql_ = text;
    if (server_->IntVer() < kKeepsFinalSemicolonFrom && !text.empty() && text.back() == ';') {
      text.pop_back();
    }
    const bool accepted = ClientRealQuery(link_, text);
    TColumnDescription::StatementSent(*server_, text);
    if (!accepted) RaiseServerError(link_, "", server_->IntVer());
    result = ClientUseResult(link_);
    if (result) break;
    if (ClientErrno(link_) != 0) RaiseServerError(link_, "", server_->IntVer());
  }
  DropResult();
  if (!result) {
    rows_ = std::make_unique<TRowCache>(0);
    return;
  }
  LibraryResultReader reader(result, link_, server_->IntVer());
  LoadResult(reader);
  result.Free();
  if (all_field_values_) columns_.CompleteFromTables(*server_, link_, database_name_);
}

void TMySQLDataset::LoadResult(TResultReader& reader) {
  DropResult();
  try {
    columns_.Describe(reader.Fields());
    rows_ = std::make_unique<TRowCache>(ColumnCount());
    while (reader.Next()) rows_->AppendFetched(reader.Values(), reader.Lengths());
    rows_->Compact();
  } catch (...) {
    DropResult();
    throw;
  }
}

// --- Field definitions ------------------------------------------------------------------

void TMySQLDataset::BuildFieldDefs() {
  PrepareResult();
  if (rows_ != nullptr) BuildDefsFromColumns();
}

void TMySQLDataset::BuildDefsFromColumns() {
  FieldDefs().Clear();
  for (int i = 0; i < ColumnCount(); ++i) {
    const TFieldInfo& info = ColumnInfo(i);
    const TColumnMapping mapping = MapColumnType(info);
    TFieldDef& def = FieldDefs().Add(ColumnDisplayName(i), mapping.Type, mapping.Size, false);
    if (info.Table.empty()) {
      def.Set(faReadonly);
      def.InternalCalcField = true;
    }
    const bool auto_increment = (info.Flags & kAutoIncrementFlag) != 0;
    if (auto_increment) {
      def.Set(faReadonly);
      // A BIGINT or INT UNSIGNED counter passes 2^31: it stays a 64-bit
      // field, which 32-bit ftAutoInc would cut.
      if (def.DataType != ftLargeint) def.DataType = ftAutoInc;
    }
    // A default the server computes fills the column when the insert
    // leaves it out, so the script need not give it a value.
    def.Required = (info.Flags & kNotNullFlag) != 0 && !auto_increment &&
                   !def.Has(faReadonly) && !info.ServerDefault;
    if (def.Required) def.Set(faRequired);
  }
}

TFieldClass TMySQLDataset::FieldClassFor(TFieldType type) const {
  if (type == ftString) return &MakeMySQLStringField;
  // Columns of types without a field type of their own still open, as text.
  if (type == ftUnknown) return &MakeUnknownField;
  return TDataSet::FieldClassFor(type);
}

// --- Cursor operations ---------------------------------------------------------------------

void TMySQLDataset::OpenResult() {
  PrepareResult();
  if (rows_ == nullptr) rows_ = std::make_unique<TRowCache>(0);
  cursor_ = -1;
  BuildDefsFromColumns();
  if (DefaultFields()) CreateFields();
}

void TMySQLDataset::CloseResult() {
  std::exception_ptr failure;
  try {
    ApplyPending();
  } catch (...) {
    failure = std::current_exception();
  }
  edit_start_copy_.reset();
  rows_.reset();
  cursor_ = -1;
  if (DefaultFields()) DestroyFields();
  DropResult();
  try {
    ReleaseResultLink();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

std::unique_ptr<TRecordBuffer> TMySQLDataset::NewRecordBuffer() {
  return std::make_unique<TMySQLRecord>(ColumnCount());
}

void TMySQLDataset::InitNewRecord(TRecordBuffer& buffer) {
  auto& record = static_cast<TMySQLRecord&>(buffer);
  record.Reset(ColumnCount());
  for (int i = 0; i < ColumnCount(); ++i) {
    TFieldInfo& info = ColumnInfo(i);
    if (info.IsBlob() || info.ServerDefault) {
      // No bytes, NULL; a computed default is the server's to fill in.
      info.Modified = false;
      continue;
    }
    if (!info.Default.empty()) {
      record.SetCell(i, info.Default);
      info.Modified = true;
    } else {
      record.SetCell(i, std::string_view());
      info.Modified = false;
    }
  }
}

TGetResult TMySQLDataset::FillRecord(TRecordBuffer& buffer, TGetMode mode, bool check) {
  const int64_t count = RowsCount();
  if (count == 0) return TGetResult::AfterLast;
  // Never read outside the rows, whatever moved the cursor.
  cursor_ = std::clamp<int64_t>(cursor_, -1, count);
  TGetResult answer = TGetResult::Ok;
  switch (mode) {
    case TGetMode::Current:
      if (cursor_ < 0 || cursor_ >= count) answer = TGetResult::Error;
      break;
    case TGetMode::Next:
      if (cursor_ < count - 1) {
        ++cursor_;
      } else {
        answer = TGetResult::AfterLast;
      }
      break;
    case TGetMode::Prior:
      if (cursor_ > 0) {
        --cursor_;
      } else {
        answer = TGetResult::BeforeFirst;
      }
      break;
  }
  if (answer == TGetResult::Ok) {
    auto& record = static_cast<TMySQLRecord&>(buffer);
    record.CopyFrom(rows_->Row(cursor_), rows_->Columns());
    record.BookmarkFlag = TBookmarkFlag::Current;
  } else if (answer == TGetResult::Error && check) {
    throw EDatabaseError("No Records");
  }
  return answer;
}

void TMySQLDataset::MoveToBookmark(int64_t bookmark) {
  cursor_ = std::clamp<int64_t>(bookmark, -1, RowsCount());
}

void TMySQLDataset::SetToRecord(const TRecordBuffer& buffer) {
  cursor_ = std::clamp<int64_t>(static_cast<const TMySQLRecord&>(buffer).RowNumber, -1,
                                RowsCount());
}

int64_t TMySQLDataset::ReadBookmark(const TRecordBuffer& buffer) const {
  return static_cast<const TMySQLRecord&>(buffer).RowNumber;
}

void TMySQLDataset::WriteBookmark(TRecordBuffer& buffer, int64_t bookmark) {
  static_cast<TMySQLRecord&>(buffer).RowNumber = bookmark;
}

TBookmarkFlag TMySQLDataset::ReadBookmarkFlag(const TRecordBuffer& buffer) const {
  return static_cast<const TMySQLRecord&>(buffer).BookmarkFlag;
}

void TMySQLDataset::WriteBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) {
  static_cast<TMySQLRecord&>(buffer).BookmarkFlag = flag;
}

bool TMySQLDataset::IsValidBookmark(std::optional<int64_t> bookmark) {
  return bookmark.has_value() && RowsCount() > 0 && *bookmark >= 0 && *bookmark < RowsCount();
}

int TMySQLDataset::OrderBookmarks(std::optional<int64_t> a, std::optional<int64_t> b) {
  if (!IsValidBookmark(a)) return -1;
  if (!IsValidBookmark(b)) return 1;
  if (*a == *b) return 0;
  return *a > *b ? 1 : -1;
}

int64_t TMySQLDataset::RowCount() const { return Active() ? RowsCount() : 0; }

int64_t TMySQLDataset::RowIndex() const {
  const TRecordBuffer* buffer = ActiveRecordBuffer();
  return buffer != nullptr ? static_cast<const TMySQLRecord*>(buffer)->RowNumber : -1;
}

void TMySQLDataset::SetRowIndex(int64_t n) {
  EnsureBrowse();
  const int64_t count = RowsCount();
  if (count == 0) return;
  n = std::clamp<int64_t>(n, 0, count - 1);
  if (n == RowIndex()) return;
  if (BeforeScroll) BeforeScroll(*this);
  cursor_ = n;
  ReloadWindow();
  if (AfterScroll) AfterScroll(*this);
}

bool TMySQLDataset::IsKeyField(const TField& field) const {
  return UpperCase(MultiFields()).find(UpperCase(field.FieldName())) != std::string::npos;
}

void TMySQLDataset::Requery() {
  ApplyPending();
  if (link_ == nullptr) return;
  DisableControls();
  try {
    FetchResult();
    cursor_ = std::min(cursor_, RowsCount() - 1);
    if (cursor_ < -1) cursor_ = -1;
    ClearWindow();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

}  // namespace quill
