// The column description of a MySQL dataset's result: the columns from the
// result's metadata (display names, key lists, source tables), the type
// mapping, and the completion from the tables' structure with its
// process-wide cache. The structure is cached as the server answered
// ("show columns" rows, information_schema's word on defaults), not as it
// was applied, so that a cache hit applies it exactly as a fresh read would.
#include "mysql_dataset/column_description.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <optional>

#include "base/errors.h"
#include "base/number_text.h"
#include "base/string_list.h"
#include "mysql_server/mysql_server.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

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

void StripTrailingComma(std::string& list) {
  if (!list.empty() && list.back() == ',') list.pop_back();
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  const std::string ua = UpperCase(a), ub = UpperCase(b);
  return ua < ub;
}

// What a column's default text stands for. Servers report literal and
// computed defaults alike in "show columns"; a computed one (current_timestamp(),
// uuid()...) written back as text would be refused or stored as that text.
enum class TDefaultKind : uint8_t { Literal, Expression, Undecided };

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

// --- The structure of one table, as the server gave it -----------------------------

struct TStructureRow {
  std::string Field;
  std::optional<std::string> Type;
  std::optional<std::string> Default;
  std::string Extra;
};

struct TTableStructure {
  // False: the table is not among the database's tables, or "show columns"
  // gave no result; nothing to complete.
  bool Found = false;
  std::string RealName;  // the name "show columns" was asked about
  std::vector<TStructureRow> Rows;
  // Names whose default information_schema reports as computed; asked
  // only when some default was undecided.
  std::optional<std::vector<std::string>> ExpressionDefaults;
};

// --- The cache ----------------------------------------------------------------------

struct TCacheEntry {
  std::string Server;    // host, port and user
  std::string Table;     // the result's table name (alias) and real name,
  std::string OrgTable;  // for dropping the entry by either
  std::string Metadata;  // types, lengths and flags of the table's columns
  std::chrono::steady_clock::time_point Loaded;
  std::shared_ptr<const TTableStructure> Structure;
};

// Entries are few (one per table and column list in use); past this many a
// process making queries up as it goes starts over rather than grow.
constexpr size_t kMaxEntries = 1024;

void ObserveServerStatement(const TMySQLServer& server, std::string_view sql) {
  TColumnDescription::StatementSent(server, sql);
}

class TStructureCache {
 public:
  static TStructureCache& Instance() {
    static TStructureCache* cache = [] {
      // Statements sent through the connection (script ExecSQL) must drop
      // entries too.
      SetStatementObserver(&ObserveServerStatement);
      return new TStructureCache();  // never freed: datasets may close during exit
    }();
    return *cache;
  }

  std::shared_ptr<const TTableStructure> Find(const std::string& key, const std::string& metadata) {
    const auto max_age = max_age_ms_.load();
    if (max_age <= 0) return nullptr;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> hold(mutex_);
    const auto at = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const auto& e) { return e.first == key; });
    if (at == entries_.end()) return nullptr;
    if (at->second.Metadata != metadata ||
        now - at->second.Loaded >= std::chrono::milliseconds(max_age)) {
      entries_.erase(at);
      return nullptr;
    }
    return at->second.Structure;
  }

  void Store(std::string key, TCacheEntry entry) {
    if (max_age_ms_.load() <= 0) return;
    std::lock_guard<std::mutex> hold(mutex_);
    std::erase_if(entries_, [&](const auto& e) { return e.first == key; });
    if (entries_.size() >= kMaxEntries) entries_.clear();
    entries_.emplace_back(std::move(key), std::move(entry));
  }

  void DropTables(const std::string& server, const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::erase_if(entries_, [&](const auto& e) {
      if (e.second.Server != server) return false;
      return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return SameText(name, e.second.Table) || SameText(name, e.second.OrgTable);
      });
    });
  }

  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.clear();
  }

  std::atomic<int64_t> max_age_ms_{60000};

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, TCacheEntry>> entries_;
};

std::string ServerKey(const TMySQLServer& server) {
  return server.Host() + '\x1f' + std::to_string(server.Port()) + '\x1f' + server.UserName();
}

// Words of `sql` as a tokenizer of names sees them: unquoted words and
// backquoted names (literals and comments skipped), each statement's words
// in one list.
std::vector<std::vector<std::string>> StatementWords(std::string_view sql) {
  std::vector<std::vector<std::string>> statements(1);
  size_t i = 0;
  const auto word_char = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == ';') {
      statements.emplace_back();
      ++i;
    } else if (c == '\'' || c == '"') {
      for (++i; i < sql.size() && sql[i] != c; ++i) {
        if (sql[i] == '\\') ++i;
      }
      ++i;
    } else if (c == '`') {
      std::string name;
      for (++i; i < sql.size(); ++i) {
        if (sql[i] == '`') {
          if (i + 1 < sql.size() && sql[i + 1] == '`') {
            name += '`';
            ++i;
          } else {
            break;
          }
        } else {
          name += sql[i];
        }
      }
      ++i;
      statements.back().push_back(std::move(name));
    } else if (c == '#' || (c == '-' && sql.substr(i, 2) == "--")) {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == '/' && sql.substr(i, 2) == "/*") {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (word_char(c)) {
      const size_t start = i;
      while (i < sql.size() && word_char(sql[i])) ++i;
      statements.back().emplace_back(sql.substr(start, i - start));
    } else {
      ++i;
    }
  }
  return statements;
}

bool IsDdlVerb(const std::string& word) {
  static constexpr std::string_view kVerbs[] = {"ALTER", "DROP", "RENAME", "TRUNCATE", "CREATE"};
  return std::any_of(std::begin(kVerbs), std::end(kVerbs),
                     [&](std::string_view verb) { return SameText(word, verb); });
}

// --- Reading a table's structure from the server ------------------------------------

TTableStructure ReadStructure(TMySQLServer& server, MySQLHandle* link,
                              const std::string& real_name) {
  TTableStructure structure;
  structure.RealName = real_name;
  const std::string sql = "show columns from " + server.QuoteName(real_name);
  if (!ClientRealQuery(link, sql)) RaiseServerError(link, "", server.IntVer());
  MySQLResult result = ClientUseResult(link);
  if (!result) return structure;
  unsigned field_at = 0, type_at = 1, default_at = 4, extra_at = 5;
  const std::vector<MySQLFieldDesc> descs = result.Fields();
  for (unsigned i = 0; i < descs.size(); ++i) {
    if (SameText(descs[i].Name, "Field")) field_at = i;
    if (SameText(descs[i].Name, "Type")) type_at = i;
    if (SameText(descs[i].Name, "Default")) default_at = i;
    if (SameText(descs[i].Name, "Extra")) extra_at = i;
  }
  if (std::max({field_at, type_at, default_at}) >= descs.size()) return structure;
  const bool has_extra = extra_at < descs.size();
  structure.Found = true;
  while (result.Next()) {
    if (result.IsNull(0)) break;
    TStructureRow row;
    row.Field.assign(result.Text(field_at));
    if (!result.IsNull(type_at)) row.Type.emplace(result.Text(type_at));
    if (!result.IsNull(default_at)) row.Default.emplace(result.Text(default_at));
    if (has_extra && !result.IsNull(extra_at)) row.Extra.assign(result.Text(extra_at));
    structure.Rows.push_back(std::move(row));
  }
  return structure;
}

// The names of `table` whose default information_schema shows unquoted:
// computed by the server.
std::vector<std::string> ReadExpressionDefaults(TMySQLServer& server, MySQLHandle* link,
                                                const std::string& table) {
  const std::string sql =
      "select COLUMN_NAME, COLUMN_DEFAULT from information_schema.COLUMNS where "
      "TABLE_SCHEMA = database() and TABLE_NAME = '" + ClientEscapeString(link, table) + "'";
  if (!ClientRealQuery(link, sql)) RaiseServerError(link, "", server.IntVer());
  MySQLResult result = ClientUseResult(link);
  std::vector<std::string> names;
  if (!result) return names;
  while (result.Next()) {
    if (result.IsNull(0) || result.IsNull(1)) continue;
    const std::string_view text = result.Text(1);
    // Quoted: a literal; NULL: no default at all; anything else is computed.
    if (text.empty() || text.front() == '\'' || text == "NULL") continue;
    names.emplace_back(result.Text(0));
  }
  return names;
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

// --- The columns ------------------------------------------------------------------------

void TColumnDescription::Clear() {
  columns_.clear();
  result_tables_.clear();
  primary_fields_.clear();
  unique_fields_.clear();
  multi_fields_.clear();
}

void TColumnDescription::AddResultTable(const std::string& table) {
  auto at = std::lower_bound(result_tables_.begin(), result_tables_.end(), table,
                             [](const std::string& a, const std::string& b) {
                               return LessIgnoringCase(a, b);
                             });
  if (at != result_tables_.end() && SameText(*at, table)) return;
  result_tables_.insert(at, table);
}

void TColumnDescription::Describe(const std::vector<MySQLFieldDesc>& fields) {
  Clear();
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
}

int TColumnDescription::IndexOf(std::string_view display_name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameText(columns_[i].first, display_name)) return static_cast<int>(i);
  }
  return -1;
}

int TColumnDescription::IndexOfQualified(std::string_view table, std::string_view field,
                                         int* plain) const {
  *plain = -1;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const std::string_view display = columns_[i].first;
    if (display.size() == table.size() + 1 + field.size() && display[table.size()] == '.' &&
        SameText(display.substr(0, table.size()), table) &&
        SameText(display.substr(table.size() + 1), field)) {
      return static_cast<int>(i);
    }
    if (*plain < 0 && SameText(display, field)) *plain = static_cast<int>(i);
  }
  return -1;
}

void TColumnDescription::QualifyDuplicateNames() {
  if (result_tables_.empty() || columns_.empty()) return;
  for (size_t i = 0; i < columns_.size(); ++i) {
    auto& [display, info] = columns_[i];
    if (!SameText(display, info->Name) || info->Table.empty()) continue;
    // Every other column shown by this name is shown by its table as well.
    bool shared = false;
    for (size_t j = 0; j < columns_.size(); ++j) {
      auto& other = columns_[j];
      if (j == i || !SameText(other.first, info->Name)) continue;
      shared = true;
      other.first = other.second->Table + "." + other.second->Name;
    }
    if (shared) display = info->Table + "." + info->Name;
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
      if (IndexOf(candidate) < 0) {
        display = std::move(candidate);
        break;
      }
    }
  }
}

// --- Completion from the tables' structure ----------------------------------------------

void TColumnDescription::CompleteFromTables(TMySQLServer& server, MySQLHandle* link,
                                            const std::string& database) {
  if (result_tables_.empty()) return;
  TStructureCache& cache = TStructureCache::Instance();
  const std::string server_key = ServerKey(server);
  const std::string db = database.empty() ? ClientCurrentDb(link) : database;
  std::optional<TStringList> table_names;  // asked once, and only on a miss
  const std::vector<std::string> tables = result_tables_;
  for (const std::string& table : tables) {
    try {
      // The key names the result's columns of this table; their metadata
      // must match for an entry to apply.
      std::string org_table, names, metadata;
      for (const auto& [display, info] : columns_) {
        if (!SameText(info->Table, table)) continue;
        if (org_table.empty()) org_table = info->OrgTable;
        names += info->Name + '\x1f';
        metadata += std::to_string(info->FieldType) + ',' + std::to_string(info->Length) + ',' +
                    std::to_string(info->Flags) + ',' + std::to_string(info->CharsetNr) + ';';
      }
      const std::string key = server_key + '\x1e' + db + '\x1e' + table + '\x1e' + org_table +
                              '\x1e' + names;
      std::shared_ptr<const TTableStructure> structure = cache.Find(key, metadata);
      if (structure == nullptr) {
        if (!table_names) {
          TStringList names_now;
          server.GetTableNames(database, names_now);
          table_names.emplace();
          table_names->Assign(names_now);
        }
        // The name the server reports is the table's, a view's or an alias;
        // for an alias the table's own name is the one to ask about.
        std::string real_name = table;
        if (table_names->IndexOf(table) < 0) real_name = org_table.empty() ? table : org_table;
        auto fresh = std::make_shared<TTableStructure>();
        if (table_names->IndexOf(real_name) >= 0) *fresh = ReadStructure(server, link, real_name);
        // Whether some default stays undecided depends on the columns
        // alone, so information_schema is asked (and kept) on a miss only.
        if (fresh->Found && QuotesLiteralDefaults(server)) {
          bool undecided = false;
          for (const TStructureRow& row : fresh->Rows) {
            if (!row.Default) continue;
            int plain = -1;
            int index = IndexOfQualified(table, row.Field, &plain);
            if (index < 0) index = plain;
            if (index < 0 || !SameText(Info(index).Table, table)) continue;
            const TFieldInfo& info = Info(index);
            if (info.Default.empty() && !info.ServerDefault &&
                ClassifyDefault(info, *row.Default, row.Extra) == TDefaultKind::Undecided) {
              undecided = true;
            }
          }
          if (undecided) {
            try {
              fresh->ExpressionDefaults = ReadExpressionDefaults(server, link, real_name);
            } catch (...) {
              // Asked again below, where a failure costs what it always did.
            }
          }
        }
        structure = fresh;
        cache.Store(key, TCacheEntry{server_key, table, org_table, metadata,
                                     std::chrono::steady_clock::now(), structure});
      }
      if (!structure->Found) continue;
      // Columns whose default text only information_schema can classify.
      std::vector<int> undecided;
      for (const TStructureRow& row : structure->Rows) {
        int plain = -1;
        int index = IndexOfQualified(table, row.Field, &plain);
        if (index < 0) {
          // The plain name may belong to a column of another table.
          index = plain;
          if (index >= 0 && !SameText(Info(index).Table, table)) index = -1;
        }
        if (index < 0) continue;
        TFieldInfo& info = Info(index);
        if ((info.FieldType == kEnumType || info.FieldType == kSetType) && row.Type) {
          std::string values = ExtractWord(2, *row.Type, "()");
          std::replace(values.begin(), values.end(), '\'', '"');
          info.EnumValues = std::move(values);
        }
        if (row.Default && info.Default.empty() && !info.ServerDefault) {
          switch (ClassifyDefault(info, *row.Default, row.Extra)) {
            case TDefaultKind::Expression:
              info.ServerDefault = true;
              break;
            case TDefaultKind::Undecided:
              if (QuotesLiteralDefaults(server)) undecided.push_back(index);
              [[fallthrough]];
            case TDefaultKind::Literal:
              info.Default = *row.Default;
              break;
          }
        }
      }
      if (undecided.empty()) continue;
      std::vector<std::string> computed = structure->ExpressionDefaults
                                              ? *structure->ExpressionDefaults
                                              : ReadExpressionDefaults(server, link,
                                                                       structure->RealName);
      for (const std::string& name : computed) {
        for (const int index : undecided) {
          TFieldInfo& info = Info(index);
          if (!SameText(info.Name, name)) continue;
          info.Default.clear();
          info.ServerDefault = true;
        }
      }
    } catch (...) {
      // One table's structure only completes defaults and enum values;
      // without it the result is still usable.
    }
  }
}

// --- The cache's controls ---------------------------------------------------------------

std::chrono::milliseconds TColumnDescription::CacheMaxAge() {
  return std::chrono::milliseconds(TStructureCache::Instance().max_age_ms_.load());
}

void TColumnDescription::SetCacheMaxAge(std::chrono::milliseconds age) {
  TStructureCache::Instance().max_age_ms_.store(std::max<int64_t>(0, age.count()));
  if (age.count() <= 0) TStructureCache::Instance().Clear();
}

void TColumnDescription::ClearCache() { TStructureCache::Instance().Clear(); }

void TColumnDescription::StatementSent(const TMySQLServer& server, std::string_view sql) {
  // Most statements are one SELECT, INSERT or UPDATE: told apart by their
  // first word without reading the rest (which may be a long INSERT).
  if (sql.find(';') == std::string_view::npos) {
    size_t start = 0;
    while (start < sql.size() && static_cast<unsigned char>(sql[start]) <= ' ') ++start;
    size_t end = start;
    while (end < sql.size() && ((sql[end] | 0x20) >= 'a' && (sql[end] | 0x20) <= 'z')) ++end;
    const bool commented = start < sql.size() && (sql[start] == '/' || sql[start] == '-' ||
                                                  sql[start] == '#' || sql[start] == '(');
    if (!commented && !IsDdlVerb(std::string(sql.substr(start, end - start)))) return;
  }
  std::vector<std::string> names;
  for (std::vector<std::string>& words : StatementWords(sql)) {
    if (words.empty() || !IsDdlVerb(words.front())) continue;
    // Every word may be a table's name: dropping an entry too many costs
    // one read, keeping one too many shows a stale structure.
    for (std::string& word : words) names.push_back(std::move(word));
  }
  if (names.empty()) return;
  TStructureCache::Instance().DropTables(ServerKey(server), names);
}

}  // namespace quill
