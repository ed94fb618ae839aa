// TColumnDescription: what a dataset knows about the columns of its result.
//
// One TFieldInfo per result column, in result order, each under the name
// its field will carry (plain, or table-qualified where several columns
// share a name); the distinct source tables; the key lists. The result's
// own metadata gives most of it; the rest (defaults, ENUM and SET values,
// defaults the server computes) comes from the tables' structure, read
// with "show columns from".
//
// Reading a table's structure costs round trips on every open, so what it
// gave is kept in a process-wide cache keyed by server (host, port, user),
// database, table and the result's column names. An entry is reused only
// while the result's own metadata of that table's columns (types, lengths,
// flags) is the one it was read with, and only while it is younger than
// CacheMaxAge(); a statement the module sends that alters, drops, renames,
// truncates or re-creates a table drops that table's entries
// (StatementSent). A change made by another client that the metadata does
// not show (a new default) is seen once the entry expires.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mysql_dataset/field_types.h"
#include "mysql_server/mysql_client.h"

namespace quill {

class TMySQLServer;

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
  // The default is an expression the server evaluates (current_timestamp(),
  // uuid()...): Default stays empty, a new row leaves the column NULL and
  // out of the generated insert, so that the server applies it.
  bool ServerDefault = false;

  bool IsBlob() const { return (Flags & kBlobFlag) != 0; }
  bool IsBinary() const { return CharsetNr == kBinaryCharsetNr; }
};

inline constexpr uint8_t kEnumType = 247;
inline constexpr uint8_t kSetType = 248;
inline constexpr uint8_t kTimestampType = 7;

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
// (the binary flag when the set is unknown), else ftMemo, of Length.
// VAR_STRING, STRING: ftString up to Length 2048, else ftMemo. JSON:
// ftMemo. Anything else: ftUnknown.
TColumnMapping MapColumnType(const TFieldInfo& info);

class TColumnDescription {
 public:
  TColumnDescription() = default;
  TColumnDescription(const TColumnDescription&) = delete;
  TColumnDescription& operator=(const TColumnDescription&) = delete;

  // Replaces the description by one entry per column of `fields`: names,
  // source tables (none for a computed column or a temporary table, whose
  // name holds "#"), type codes (ENUM and SET from the flags), widths in
  // characters for text columns, the key lists; names several columns
  // share become table.name, names still alike get "_1", "_2"...
  void Describe(const std::vector<MySQLFieldDesc>& fields);
  // Forgets every column.
  void Clear();

  int Count() const { return static_cast<int>(columns_.size()); }
  bool Empty() const { return columns_.empty(); }
  // REQUIRES (all taking an index): 0 <= index < Count().
  TFieldInfo& Info(int index) { return *columns_[static_cast<size_t>(index)].second; }
  const TFieldInfo& Info(int index) const { return *columns_[static_cast<size_t>(index)].second; }
  const std::string& DisplayName(int index) const {
    return columns_[static_cast<size_t>(index)].first;
  }
  // Position of the column with that display name (ASCII case ignored), or -1.
  int IndexOf(std::string_view display_name) const;
  // Position of the column displayed as "table.field", or -1; `plain`
  // receives the position of the first displayed as "field" (or -1).
  int IndexOfQualified(std::string_view table, std::string_view field, int* plain) const;
  // Distinct source tables, sorted ignoring case.
  const std::vector<std::string>& ResultTables() const { return result_tables_; }
  // Comma-separated names of the columns in a primary, unique and
  // non-unique key, in column order.
  const std::string& PrimaryFields() const { return primary_fields_; }
  const std::string& UniqueFields() const { return unique_fields_; }
  const std::string& MultiFields() const { return multi_fields_; }

  // Completes Default, EnumValues and ServerDefault of the columns of every
  // source table found among the tables of `database` (the server's current
  // one when empty), from the cache where it holds an entry that still
  // applies, else from the server: "show tables" (once), "show columns
  // from" the table on `link`, and, on servers that quote literal defaults,
  // information_schema for defaults "show columns" leaves undecided. A
  // failure costs only that table's completion: it is never raised.
  // REQUIRES: `link` is a live handle of `server` with no pending result.
  void CompleteFromTables(TMySQLServer& server, MySQLHandle* link, const std::string& database);

  // --- The process-wide cache of table structures -------------------------------

  // How long a table's structure is reused; 60 s unless set. Zero turns
  // reuse off (every open reads the structure again).
  static std::chrono::milliseconds CacheMaxAge();
  static void SetCacheMaxAge(std::chrono::milliseconds age);
  // Forgets every entry.
  static void ClearCache();
  // Drops the entries of `server` for every table a DDL statement in `sql`
  // (ALTER, DROP, RENAME, TRUNCATE, CREATE) names. Other statements change
  // nothing. Safe on any thread, with any text.
  static void StatementSent(const TMySQLServer& server, std::string_view sql);

 private:
  void AddResultTable(const std::string& table);
  void QualifyDuplicateNames();

  std::vector<std::pair<std::string, std::unique_ptr<TFieldInfo>>> columns_;
  std::vector<std::string> result_tables_;
  std::string primary_fields_, unique_fields_, multi_fields_;
};

}  // namespace quill
