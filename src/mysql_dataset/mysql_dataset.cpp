// The MySQL dataset: the link to the connection, running the query and
// caching its result, the column description (key lists, source tables,
// qualified duplicate names, the "show columns from" pass with its reading
// of defaults), the type mapping, the cursor operations the generic layer
// calls and field values as text both ways. The macro engine lives in
// sql_macros.cpp, editing and statement execution in editing.cpp, master/
// detail links, filters and search in master_detail.cpp.
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

constexpr uint8_t kEnumType = 247;
constexpr uint8_t kSetType = 248;
constexpr uint8_t kTimestampType = 7;

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

bool IsTextType(MySQLType type) {
  switch (type) {
    case MySQLType::VarChar:
    case MySQLType::Json:
    case MySQLType::Enum:
    case MySQLType::Set:
    case MySQLType::TinyBlob:
    case MySQLType::MediumBlob:
    case MySQLType::LongBlob:
    case MySQLType::Blob:
    case MySQLType::VarString:
    case MySQLType::String:
      return true;
    default:
      return false;
  }
}

uint32_t Clamp32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

// What a column's default text stands for. Servers report literal and
// computed defaults alike in "show columns"; a computed one (current_timestamp(),
// uuid()...) written back as text would be refused or stored as that text.
enum class TDefaultKind : uint8_t { Literal, Expression, Undecided };

bool IsDecimalType(uint8_t type) { return type == 0 || type == 246; }

// The text a DECIMAL column with `scale` decimals takes and gives back: a
// number given as text digit for digit (its fraction padded with zeros to
// the scale, as the server shows it), a double in fixed notation with the
// scale's digits. So the cached text is the server's.
std::string DecimalText(const TFieldValue& value, uint32_t scale) {
  scale = std::min<uint32_t>(scale, 38);
  if (value.Text.empty()) {
    std::array<char, 400> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                            value.Float, std::chars_format::fixed,
                                            static_cast<int>(scale));
    if (error != std::errc()) return FloatToStrDot(value.Float);
    return std::string(buffer.data(), end);
  }
  const std::string& text = value.Text;
  // Only plain decimal notation is padded; anything else goes as given.
  const size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  size_t point = std::string::npos;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '.' && point == std::string::npos) {
      point = i;
    } else if (text[i] < '0' || text[i] > '9') {
      return text;
    }
  }
  const size_t fraction = point == std::string::npos ? 0 : text.size() - point - 1;
  if (fraction >= scale) return text;
  std::string out = text;
  if (point == std::string::npos) out += '.';
  out.append(scale - fraction, '0');
  return out;
}

bool IsTemporalType(uint8_t type) {
  return type == 7 || type == 10 || type == 11 || type == 12 || type == 14;
}
bool IsNumericType(uint8_t type) {
  return type <= 5 || type == 8 || type == 9 || type == 13 || type == 246;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  return UpperCase(text).find(UpperCase(part)) != std::string::npos;
}

// Decides from the "show columns" row alone where it can: servers that
// mark generated defaults in Extra, temporal columns (whose literals start
// with a digit, or "-" for a negative time) and numeric columns (whose
// literals are numbers). Texts of other columns are undecided.
TDefaultKind ClassifyDefault(const TFieldInfo& info, std::string_view text,
                             std::string_view extra) {
  if (ContainsIgnoringCase(extra, "DEFAULT_GENERATED")) return TDefaultKind::Expression;
  if (IsTemporalType(info.FieldType)) {
    const size_t digit = !text.empty() && text.front() == '-' ? 1 : 0;
    const bool literal = digit < text.size() && text[digit] >= '0' && text[digit] <= '9';
    return literal ? TDefaultKind::Literal : TDefaultKind::Expression;
  }
  if (IsNumericType(info.FieldType)) {
    double value = 0;
    return TryStrToFloatDot(Trim(text), &value) ? TDefaultKind::Literal : TDefaultKind::Expression;
  }
  return TDefaultKind::Undecided;
}

// MariaDB from 10.2.7 quotes literal defaults in information_schema and
// leaves expressions bare; elsewhere an undecided text is a literal.
bool QuotesLiteralDefaults(const TMySQLServer& server) {
  return server.IntVer() >= 100207 && ContainsIgnoringCase(server.ServerVersion(), "MariaDB");
}

// True when `text` holds a character other than blanks and control
// characters: what the blank rule asks, without trimming.
bool HasNonBlank(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 32) return true;
  }
  return false;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

void StripTrailingComma(std::string& list) {
  if (!list.empty() && list.back() == ',') list.pop_back();
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  const std::string ua = UpperCase(a), ub = UpperCase(b);
  return ua < ub;
}

std::unique_ptr<TField> MakeMySQLStringField(TDataSet& dataset) {
  return std::make_unique<TMySQLStringField>(dataset);
}
std::unique_ptr<TField> MakeUnknownField(TDataSet& dataset) {
  return std::make_unique<TUnknownField>(dataset);
}

}  // namespace

TColumnMapping MapColumnType(const TFieldInfo& info) {
  const bool is_unsigned = (info.Flags & kUnsignedFlag) != 0;
  const int32_t size = static_cast<int32_t>(std::min<uint32_t>(info.Length, 0x7FFFFFFF));
  switch (info.FieldType) {
    case 0:    // DECIMAL
    case 4:    // FLOAT
    case 5:    // DOUBLE
    case 246:  // NEWDECIMAL: the DECIMAL of every server since 5.0
      return {ftFloat, 0};
    case 1:
    case 2:
      return {is_unsigned ? ftWord : ftSmallint, 0};
    case 3:
      return {is_unsigned ? ftLargeint : ftInteger, 0};
    case 6:
      return {ftVariant, 0};
    case 7:
    case 12:
    case 14:
      return {ftDateTime, 0};
    case 8:
      return {ftLargeint, 0};
    case 9:
      return {ftInteger, 0};
    case 10:
      return {ftDate, 0};
    case 11:
      return {ftTime, 0};
    case 13:
      return {ftWord, 0};
    case kEnumType:
    case kSetType:
      return {ftString, size};
    case 249:
    case 250:
    case 251:
    case 252: {
      // Today's servers also flag text with a binary collation (utf8mb4_bin,
      // JSON) as binary; only the binary character set makes bytes.
      const bool binary = info.CharsetNr != 0 ? info.IsBinary() : (info.Flags & kBinaryFlag) != 0;
      return {binary ? ftBlob : ftMemo, size};
    }
    case 253:
    case 254:
      return {info.Length <= 2048 ? ftString : ftMemo, size};
    case 245:  // JSON: text of any length
      return {ftMemo, size};
    default:
      return {ftUnknown, 0};
  }
}

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
  server_->SelectDatabase(link_, database_name_);
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
  columns_.clear();
  result_tables_.clear();
  primary_fields_.clear();
  unique_fields_.clear();
  multi_fields_.clear();
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
    if (!ClientRealQuery(link_, text)) RaiseServerError(link_, "", server_->IntVer());
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
  if (all_field_values_ && !result_tables_.empty()) ReadTableStructure();
}

void TMySQLDataset::AddResultTable(const std::string& table) {
  auto at = std::lower_bound(result_tables_.begin(), result_tables_.end(), table,
                             [](const std::string& a, const std::string& b) {
                               return LessIgnoringCase(a, b);
                             });
  if (at != result_tables_.end() && SameText(*at, table)) return;
  result_tables_.insert(at, table);
}

void TMySQLDataset::LoadResult(TResultReader& reader) {
  DropResult();
  try {
    const std::vector<MySQLFieldDesc> fields = reader.Fields();
    for (const MySQLFieldDesc& f : fields) {
      auto info = std::make_unique<TFieldInfo>();
      info->Name = f.Name;
      const bool temporary =
          f.Table.find('#') != std::string::npos || f.OrgTable.find('#') != std::string::npos;
      if (!temporary && !f.Table.empty()) {
        info->Table = f.Table;
        info->OrgTable = f.OrgTable.empty() ? f.Table : f.OrgTable;
        AddResultTable(info->Table);
      }
      if (f.HasDefault) info->Default = f.Default;
      info->FieldType = static_cast<uint8_t>(f.Type);
      info->Flags = f.Flags;
      info->Decimals = f.Decimals;
      info->CharsetNr = f.CharsetNr;
      info->MaxLength = Clamp32(f.MaxLength);
      // Widths are reported in bytes; a text column's field counts
      // characters.
      uint64_t length = f.Length;
      if (IsTextType(f.Type) && f.CharsetNr != kBinaryCharsetNr && f.MaxBytesPerChar > 1) {
        length /= f.MaxBytesPerChar;
      }
      info->Length = Clamp32(length);
      if (f.Flags & kPriKeyFlag) primary_fields_ += f.Name + ",";
      if (f.Flags & kUniqueKeyFlag) unique_fields_ += f.Name + ",";
      if (f.Flags & kMultipleKeyFlag) multi_fields_ += f.Name + ",";
      if (f.Flags & kEnumFlag) info->FieldType = kEnumType;
      if (f.Flags & kSetFlag) info->FieldType = kSetType;
      std::string display = info->Name;
      columns_.emplace_back(std::move(display), std::move(info));
    }
    QualifyDuplicateNames();
    StripTrailingComma(primary_fields_);
    StripTrailingComma(unique_fields_);
    StripTrailingComma(multi_fields_);
    rows_ = std::make_unique<TRowCache>(ColumnCount());
    while (reader.Next()) rows_->AppendFetched(reader.Values(), reader.Lengths());
    rows_->Compact();
  } catch (...) {
    DropResult();
    throw;
  }
}

int TMySQLDataset::IndexOfColumn(std::string_view display_name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameText(columns_[i].first, display_name)) return static_cast<int>(i);
  }
  return -1;
}

void TMySQLDataset::QualifyDuplicateNames() {
  if (result_tables_.empty() || columns_.empty()) return;
  for (auto& [display, info] : columns_) {
    if (!SameText(display, info->Name) || info->Table.empty()) continue;
    display = info->Table + "." + info->Name;
    bool shared = false;
    for (int other = IndexOfColumn(info->Name); other >= 0; other = IndexOfColumn(info->Name)) {
      shared = true;
      auto& column = columns_[static_cast<size_t>(other)];
      column.first = column.second->Table + "." + column.second->Name;
    }
    if (!shared) display = info->Name;
  }
  // Names qualification cannot tell apart (computed columns of one name,
  // one table column selected twice) get a number, so that every field has
  // a name of its own.
  for (size_t i = 1; i < columns_.size(); ++i) {
    std::string& display = columns_[i].first;
    bool taken = false;
    for (size_t j = 0; j < i && !taken; ++j) taken = SameText(columns_[j].first, display);
    if (!taken) continue;
    for (int k = 1;; ++k) {
      std::string candidate = display + "_" + std::to_string(k);
      if (IndexOfColumn(candidate) < 0) {
        display = std::move(candidate);
        break;
      }
    }
  }
}

void TMySQLDataset::ReadTableStructure() {
  const std::vector<std::string> tables = result_tables_;
  for (const std::string& table : tables) {
    try {
      ReadOneTableStructure(table);
    } catch (...) {
      // One table's structure only completes defaults and enum values;
      // without it the result is still usable.
    }
  }
}

void TMySQLDataset::ReadOneTableStructure(const std::string& table) {
  TStringList names;
  server_->GetTableNames(database_name_, names);
  // The name the server reports is the table's, a view's or an alias; for
  // an alias the table's own name is the one to ask about.
  std::string real_name = table;
  if (names.IndexOf(table) < 0) {
    for (const auto& column : columns_) {
      if (SameText(column.second->Table, table) && !column.second->OrgTable.empty()) {
        real_name = column.second->OrgTable;
        break;
      }
    }
    if (names.IndexOf(real_name) < 0) return;
  }
  const std::string sql = "show columns from " + server_->QuoteName(real_name);
  if (!ClientRealQuery(link_, sql)) RaiseServerError(link_, "", server_->IntVer());
  MySQLResult result = ClientUseResult(link_);
  if (!result) return;
  unsigned field_at = 0, type_at = 1, default_at = 4, extra_at = 5;
  const std::vector<MySQLFieldDesc> descs = result.Fields();
  for (unsigned i = 0; i < descs.size(); ++i) {
    if (SameText(descs[i].Name, "Field")) field_at = i;
    if (SameText(descs[i].Name, "Type")) type_at = i;
    if (SameText(descs[i].Name, "Default")) default_at = i;
    if (SameText(descs[i].Name, "Extra")) extra_at = i;
  }
  if (std::max({field_at, type_at, default_at}) >= descs.size()) return;
  const bool has_extra = extra_at < descs.size();
  // Columns whose default text only information_schema can classify.
  std::vector<std::pair<std::string, int>> undecided;
  while (result.Next()) {
    if (result.IsNull(0)) break;
    const std::string field(result.Text(field_at));
    int index = IndexOfColumn(table + "." + field);
    if (index < 0) {
      // The plain name may belong to a column of another table.
      index = IndexOfColumn(field);
      if (index >= 0 && !SameText(ColumnInfo(index).Table, table)) index = -1;
    }
    if (index < 0) continue;
    TFieldInfo& info = ColumnInfo(index);
    if ((info.FieldType == kEnumType || info.FieldType == kSetType) && !result.IsNull(type_at)) {
      std::string values = ExtractWord(2, result.Text(type_at), "()");
      std::replace(values.begin(), values.end(), '\'', '"');
      info.EnumValues = std::move(values);
    }
    if (!result.IsNull(default_at) && info.Default.empty() && !info.ServerDefault) {
      const std::string_view text = result.Text(default_at);
      const std::string_view extra = has_extra ? result.Text(extra_at) : std::string_view();
      switch (ClassifyDefault(info, text, extra)) {
        case TDefaultKind::Expression:
          info.ServerDefault = true;
          break;
        case TDefaultKind::Undecided:
          if (QuotesLiteralDefaults(*server_)) undecided.emplace_back(field, index);
          [[fallthrough]];
        case TDefaultKind::Literal:
          info.Default.assign(text);
          break;
      }
    }
  }
  result.Free();
  if (!undecided.empty()) ReadExpressionDefaults(real_name, undecided);
}

void TMySQLDataset::ReadExpressionDefaults(
    const std::string& table, const std::vector<std::pair<std::string, int>>& columns) {
  const std::string sql =
      "select COLUMN_NAME, COLUMN_DEFAULT from information_schema.COLUMNS where "
      "TABLE_SCHEMA = database() and TABLE_NAME = '" + EscapeString(table) + "'";
  if (!ClientRealQuery(link_, sql)) RaiseServerError(link_, "", server_->IntVer());
  MySQLResult result = ClientUseResult(link_);
  if (!result) return;
  while (result.Next()) {
    if (result.IsNull(0) || result.IsNull(1)) continue;
    const std::string_view name = result.Text(0);
    const std::string_view text = result.Text(1);
    // Quoted: a literal; NULL: no default at all; anything else is computed.
    if (text.empty() || text.front() == '\'' || text == "NULL") continue;
    for (const auto& [column_name, index] : columns) {
      if (!SameText(column_name, name)) continue;
      TFieldInfo& info = ColumnInfo(index);
      info.Default.clear();
      info.ServerDefault = true;
    }
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
  return UpperCase(multi_fields_).find(UpperCase(field.FieldName())) != std::string::npos;
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

// --- Field values -------------------------------------------------------------------------

TFieldInfo* TMySQLDataset::ColumnOf(const TField& field) {
  const int number = field.FieldNo();
  if (&field.DataSet() != this || number <= 0 || number > ColumnCount()) return nullptr;
  return &ColumnInfo(number - 1);
}

bool TMySQLDataset::ReadFieldValue(const TField& field, TFieldValue* dest) {
  const auto* record = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  if (record == nullptr) return false;
  const int column = field.FieldNo() - 1;
  // Calculated and lookup fields are not built: an unbound field has no
  // value.
  if (column < 0 || column >= ColumnCount() || column >= record->Columns()) return false;
  const TFieldInfo& info = ColumnInfo(column);
  const TFieldType type = field.DataType();
  // An empty blob or text is a value; only NULL is none.
  if (type == ftBlob || type == ftMemo) return !BlobCell(field, *record).Null;
  const TCell cell = record->Cell(column);
  // A blob column has no text value, except for a field that shows raw
  // bytes.
  if (cell.Null || (info.IsBlob() && type != ftUnknown)) return false;
  if (dest == nullptr) return true;
  if (type == ftUnknown) {  // raw bytes: no blank rule
    dest->Text.assign(cell.Bytes);
    return true;
  }
  // Blank text reads as NULL, although asking without a destination says
  // there is a value.
  const std::string_view t = TrimView(cell.Bytes);
  if (t.empty()) return false;
  switch (type) {
    case ftString:
    case ftVariant:
      dest->Text.assign(cell.Bytes);
      break;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: {
      int32_t value = 0;
      if (!TryStrToInt(t, &value)) throw EConvertError(InvalidIntegerMessage(std::string(t)));
      dest->Integer = value;
      break;
    }
    case ftLargeint: {
      int64_t value = 0;
      if (!TryStrToInt64(t, &value)) throw EConvertError(InvalidIntegerMessage(std::string(t)));
      dest->Integer = value;
      break;
    }
    case ftFloat: {
      double value = 0;
      if (!TryStrToFloatDot(t, &value)) throw EConvertError(InvalidFloatMessage(std::string(t)));
      dest->Float = value;
      // A DECIMAL's text is exact, its double may not be: the text goes along.
      if (IsDecimalType(info.FieldType)) dest->Text.assign(t);
      break;
    }
    case ftDate:
      dest->DateTime = SqlTextToDate(t);
      break;
    case ftTime:
      dest->DateTime = SqlTextToTime(t);
      break;
    case ftDateTime:
      dest->DateTime =
          info.FieldType == kTimestampType ? SqlTextToTimestamp(t) : SqlTextToDateTime(t);
      break;
    default:
      break;
  }
  return true;
}

bool TMySQLDataset::ReadFieldText(const TField& field, std::string* out) {
  // The path of every text read: the rules of ReadFieldValue for text
  // fields, without an intermediate value.
  const TFieldType type = field.DataType();
  if (type != ftString && type != ftVariant && type != ftUnknown) {
    return TDataSet::ReadFieldText(field, out);
  }
  const auto* record = static_cast<const TMySQLRecord*>(ActiveRecordBuffer());
  const int column = field.FieldNo() - 1;
  if (record != nullptr && column >= 0 && column < ColumnCount() && column < record->Columns()) {
    const TCell cell = record->Cell(column);
    const bool readable = type == ftUnknown ? !cell.Null
                                            : !cell.Null && !ColumnInfo(column).IsBlob() &&
                                                  HasNonBlank(cell.Bytes);
    if (readable) {
      out->assign(cell.Bytes);
      return true;
    }
  }
  out->clear();
  return false;
}

std::string TMySQLDataset::FieldText(const TField& field, const TFieldInfo& info,
                                      const TFieldValue& value) const {
  switch (field.DataType()) {
    case ftString:
      // A width of 0 is no width the server reported; the server judges.
      if (info.Length == 0) return value.Text;
      if (info.IsBinary()) return value.Text.substr(0, info.Length);
      return std::string(Utf8Prefix(value.Text, info.Length));
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return std::to_string(static_cast<int32_t>(value.Integer));
    case ftLargeint:
      return std::to_string(value.Integer);
    case ftFloat:
      if (IsDecimalType(info.FieldType)) return DecimalText(value, info.Decimals);
      return FloatToStrDot(value.Float);
    case ftDate:
      return DateToSqlText(value.DateTime);
    case ftTime:
      return TimeToSqlText(value.DateTime);
    case ftDateTime:
      return info.FieldType == kTimestampType ? DateTimeToTimestamp14(value.DateTime)
                                              : DateTimeToSqlText(value.DateTime);
    case ftVariant:
    case ftUnknown:
      return value.Text;
    default:
      return std::string();
  }
}

void TMySQLDataset::WriteFieldValue(TField& field, const TFieldValue* source) {
  auto* record = static_cast<TMySQLRecord*>(ActiveRecordBuffer());
  if (record == nullptr) return;
  const int column = field.FieldNo() - 1;
  if (column >= ColumnCount() || column >= record->Columns()) return;
  if (column >= 0) {
    TFieldInfo& info = ColumnInfo(column);
    try {
      field.Validate(source);
      // The text is made before anything is changed, so that a failure
      // leaves the old value in place.
      std::optional<std::string> text;
      if (source != nullptr) text = FieldText(field, info, *source);
      info.Modified = true;
      const std::optional<std::string_view> cell =
          text ? std::optional<std::string_view>(*text) : std::nullopt;
      record->SetCell(column, cell);
      if (State() == dsEdit && CursorInRows()) rows_->SetCell(cursor_, column, cell);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      throw EAbort();
    }
  }
  FieldChanged(field);
}

std::unique_ptr<TStream> TMySQLDataset::OpenBlobStream(TField& field, TBlobStreamMode mode) {
  return std::make_unique<TMySQLBlobStream>(field, mode);
}

TCell TMySQLDataset::BlobCell(const TField& field, const TRecordBuffer& buffer) const {
  if (&buffer != ActiveRecordBuffer()) return {};
  const int column = field.FieldNo() - 1;
  if (column < 0 || column >= ColumnCount()) return {};
  const auto& record = static_cast<const TMySQLRecord&>(buffer);
  if ((State() == dsBrowse || State() == dsEdit) && record.RowNumber >= 0 &&
      record.RowNumber < RowsCount()) {
    return rows_->View(record.RowNumber).Cell(column);
  }
  if (column >= record.Columns()) return {};
  return record.Cell(column);
}

void TMySQLDataset::SetBlobText(const TField& field, TRecordBuffer& buffer,
                                std::string_view bytes) {
  if (&buffer != ActiveRecordBuffer()) return;
  if (State() == dsFilter) Fail(kMsgNotEditing);
  const int column = field.FieldNo() - 1;
  auto& record = static_cast<TMySQLRecord&>(buffer);
  if (column < 0 || column >= ColumnCount() || column >= record.Columns()) return;
  record.SetCell(column, bytes);
  if (State() == dsEdit && CursorInRows()) rows_->SetCell(cursor_, column, bytes);
  ColumnInfo(column).Modified = true;
}

}  // namespace quill
