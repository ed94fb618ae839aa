// The binding of the MySQL client library (MariaDB Connector/C).
//
// This file and its .cpp are the only place in the system that names the
// library's calls or includes its header. The connection component and the
// dataset layer reach the server through the functions below, so the library
// sits behind one narrow seam and its types never leak into the rest of the
// code.
//
// A connection is an opaque MySQLHandle*. It is deliberately not wrapped in
// an owning object: its lifetime follows explicit open and close steps of
// the connection component (and of datasets that open a connection of their
// own), and those steps decide when a handle goes away. A result, whose
// lifetime is a single read, is the owning class MySQLResult.
//
// Contracts common to every function taking a handle:
//   REQUIRES: handle is a live handle from ClientInit() not yet given to
//             ClientClose(), used by one thread at a time.
// Texts handed out are copies unless a comment says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// One connection of the client library. Never defined outside the binding.
struct MySQLHandle;

// Client flag asking for the compressed protocol (the library's value).
inline constexpr unsigned kClientCompress = 32;
// Client flag making the affected-row count of an UPDATE the rows it matched,
// not the rows it changed (the library's value).
inline constexpr unsigned kClientFoundRows = 2;
// Refresh option that reloads the privilege tables (the library's value).
inline constexpr unsigned kRefreshGrant = 1;
// The character set every connection of the system uses, so that the server
// and the process (UTF-8 text) agree.
inline constexpr const char* kConnectionCharset = "utf8mb4";
// Character-set number that marks binary (non-text) columns.
inline constexpr unsigned kBinaryCharsetNr = 63;

// Column type codes as the server reports them (the library's values).
enum class MySQLType : int {
  Decimal = 0,
  Tiny = 1,
  Short = 2,
  Long = 3,
  Float = 4,
  Double = 5,
  Null = 6,
  Timestamp = 7,
  LongLong = 8,
  Int24 = 9,
  Date = 10,
  Time = 11,
  DateTime = 12,
  Year = 13,
  NewDate = 14,
  VarChar = 15,
  Bit = 16,
  Json = 245,
  NewDecimal = 246,
  Enum = 247,
  Set = 248,
  TinyBlob = 249,
  MediumBlob = 250,
  LongBlob = 251,
  Blob = 252,
  VarString = 253,
  String = 254,
  Geometry = 255,
};

// Column flags as the server reports them (the library's values).
inline constexpr unsigned kNotNullFlag = 1;
inline constexpr unsigned kPriKeyFlag = 2;
inline constexpr unsigned kUniqueKeyFlag = 4;
inline constexpr unsigned kMultipleKeyFlag = 8;
inline constexpr unsigned kBlobFlag = 16;
inline constexpr unsigned kUnsignedFlag = 32;
inline constexpr unsigned kZerofillFlag = 64;
inline constexpr unsigned kBinaryFlag = 128;
inline constexpr unsigned kEnumFlag = 256;
inline constexpr unsigned kAutoIncrementFlag = 512;
inline constexpr unsigned kTimestampFlag = 1024;
inline constexpr unsigned kSetFlag = 2048;
inline constexpr unsigned kNumFlag = 32768;

// The description of one result column, copied out of the library.
struct MySQLFieldDesc {
  std::string Name;      // column name or alias
  std::string OrgName;   // column name in its table
  std::string Table;     // table name or alias
  std::string OrgTable;  // table name
  std::string Db;        // database of the table
  bool HasDefault = false;  // the library sets a default only for column listings
  std::string Default;
  MySQLType Type = MySQLType::Null;
  unsigned Flags = 0;
  uint64_t Length = 0;     // declared width in bytes
  uint64_t MaxLength = 0;  // longest value of a stored result, 0 for a row-by-row one
  unsigned Decimals = 0;
  unsigned CharsetNr = 0;
  // Bytes one character of the column's character set takes at most:
  // 4 for utf8mb4, 3 for utf8mb3, 1 for binary and single-byte sets.
  unsigned MaxBytesPerChar = 1;
};

// The rows of one statement. Owns the library's result and frees it when
// destroyed (or on Free()). Movable, not copyable. An empty MySQLResult
// (false in a boolean context) stands for "the library gave no result".
//
// A row-by-row result (ClientUseResult) must be read to its end or freed
// before anything else is sent on its handle; freeing it reads and drops the
// rows left.
class MySQLResult {
 public:
  MySQLResult() = default;
  MySQLResult(MySQLResult&& other) noexcept;
  MySQLResult& operator=(MySQLResult&& other) noexcept;
  MySQLResult(const MySQLResult&) = delete;
  MySQLResult& operator=(const MySQLResult&) = delete;
  ~MySQLResult();

  explicit operator bool() const { return res_ != nullptr; }

  // Frees the result now. Safe on an empty result.
  void Free();

  // REQUIRES (this and below): a non-empty result.
  unsigned FieldCount() const;
  // Descriptions of every column, in column order.
  std::vector<MySQLFieldDesc> Fields() const;
  // Number of rows of a stored result; for a row-by-row result the rows
  // read so far.
  uint64_t RowCount() const;

  // Moves to the next row. False at the end, or when reading failed (then
  // ClientErrno of the handle is not 0).
  bool Next();

  // The current row, valid until the next Next() or Free(). Pointers into
  // the library's buffers, not copies: Values()[i] is null for SQL NULL,
  // else points at Lengths()[i] bytes (which may hold NUL bytes).
  // REQUIRES: the last Next() answered true; i < FieldCount().
  const char* const* Values() const { return row_; }
  const unsigned long* Lengths() const { return lengths_; }
  bool IsNull(unsigned i) const { return row_[i] == nullptr; }
  std::string_view Text(unsigned i) const {
    return row_[i] ? std::string_view(row_[i], lengths_[i]) : std::string_view();
  }

 private:
  friend MySQLResult ClientUseResult(MySQLHandle* handle);
  friend MySQLResult ClientStoreResult(MySQLHandle* handle);
  struct Res;  // the library's result type, named only in the binding
  explicit MySQLResult(Res* res) : res_(res) {}

  Res* res_ = nullptr;
  const char* const* row_ = nullptr;
  const unsigned long* lengths_ = nullptr;
};

// --- Connections -----------------------------------------------------------

// A new, unconnected handle, or null when the library cannot make one.
MySQLHandle* ClientInit();

// Sets the character set the handle will use (before ClientRealConnect).
// False when the library refuses the option.
bool ClientSetCharset(MySQLHandle* handle, const char* charset);
// Asks for the compressed protocol (before ClientRealConnect).
bool ClientSetCompress(MySQLHandle* handle);
// Switches the library's automatic reconnection on or off.
bool ClientSetReconnect(MySQLHandle* handle, bool on);

// Connects. Null database and socket mean none. client_flags may hold
// kClientCompress. False when the library refuses; the handle stays valid
// and must still be closed, and ClientError tells why.
bool ClientRealConnect(MySQLHandle* handle, const std::string& host, const std::string& user,
                       const std::string& password, const char* database, unsigned port,
                       const char* socket, unsigned client_flags);

// Closes the connection and frees the handle. Safe on null.
void ClientClose(MySQLHandle* handle);
// Ends the session's state on the server (open transaction rolled back,
// temporary tables, user and session variables gone) without reconnecting.
// False when refused or when the connection is dead.
bool ClientResetConnection(MySQLHandle* handle);
// Whether the session may differ from a new one's: a command other than a
// plain read was sent since it was new or reset (ClientStatementOnlyReads),
// a transaction is open, autocommit is off, or a result is still pending.
// A plain read that calls a stored function with lasting effects (a user
// variable set, a named lock kept) is not seen.
bool ClientSessionMayHaveChanged(MySQLHandle* handle);
// Whether `sql` is a read that leaves the session as it was: one SELECT,
// SHOW, DESCRIBE or EXPLAIN, with no user variable, lock, INTO, sequence
// or last insert id in it. Errs towards false.
bool ClientStatementOnlyReads(std::string_view sql);
// False when the server has visibly ended the connection (it closed the
// socket, or sent something while nothing was asked), found without a
// round trip to the server. True says only that nothing shows it dead.
bool ClientSocketLooksAlive(MySQLHandle* handle);

// --- Statements ------------------------------------------------------------

// Makes `database` the handle's default database. False when refused.
bool ClientSelectDb(MySQLHandle* handle, const std::string& database);
// The handle's default database as the library last learnt it (from a
// selection, or from the server's report after a statement such as USE);
// empty when there is none.
std::string ClientCurrentDb(MySQLHandle* handle);
// Sends one statement of exactly sql.size() bytes (any bytes, NULs
// included). False when refused. The statement's rows, if any, must then be
// taken with ClientUseResult or ClientStoreResult.
bool ClientRealQuery(MySQLHandle* handle, std::string_view sql);
// The rows of the last statement read row by row from the server, or an
// empty result when it produced none or reading failed.
MySQLResult ClientUseResult(MySQLHandle* handle);
// The rows of the last statement read whole into memory, or an empty result
// when it produced none or reading failed.
MySQLResult ClientStoreResult(MySQLHandle* handle);
// Number of columns the last statement produced (0: it returns no rows).
unsigned ClientFieldCount(MySQLHandle* handle);
// Value generated for an AUTO_INCREMENT column by the last statement.
uint64_t ClientInsertId(MySQLHandle* handle);
// Rows changed by the last statement.
uint64_t ClientAffectedRows(MySQLHandle* handle);
// Reloads server tables (kRefreshGrant: the privilege tables). False when
// refused.
bool ClientRefresh(MySQLHandle* handle, unsigned options);

// --- Errors ----------------------------------------------------------------

// Error number and text of the last call on the handle (0 and "" after a
// success).
unsigned ClientErrno(MySQLHandle* handle);
std::string ClientError(MySQLHandle* handle);

// --- Texts -----------------------------------------------------------------

// Escapes `text` for use between single quotes in SQL (quotes, backslash,
// NUL, CR, LF and Ctrl-Z). With a handle the handle's character set decides
// which bytes are characters; with null the library's default set does,
// which is equally safe for UTF-8 text.
std::string ClientEscapeString(MySQLHandle* handle, std::string_view text);

// --- Descriptions ----------------------------------------------------------

std::string ClientHostInfo(MySQLHandle* handle);    // "127.0.0.1 via TCP/IP"
std::string ClientServerInfo(MySQLHandle* handle);  // "10.11.6-MariaDB-0+deb12u1"
unsigned ClientProtoInfo(MySQLHandle* handle);      // 10
std::string ClientClientInfo();                     // the library's version text

// Bytes per character at most for a character-set number; 1 when the
// number is unknown.
unsigned ClientMaxBytesPerChar(unsigned charsetnr);

}  // namespace quill
