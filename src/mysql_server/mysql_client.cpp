// The binding of MariaDB Connector/C: every call of the client library that
// the system makes is made here.
//
// MySQLHandle and MySQLResult::Res are never defined; they are the library's
// MYSQL and MYSQL_RES under names that keep the library's header out of the
// rest of the system. The casts below are the only conversions between them.
#include "mysql_server/mysql_client.h"

#include <sys/socket.h>

#include <cerrno>

#include <mysql.h>

#include <algorithm>
#include <cassert>
#include <iterator>
#include <new>
#include <utility>

#include "base/string_list.h"

namespace quill {

// The constants of the header restate the library's values; keep them honest.
static_assert(kClientCompress == CLIENT_COMPRESS);
static_assert(kClientFoundRows == CLIENT_FOUND_ROWS);
static_assert(kRefreshGrant == REFRESH_GRANT);
static_assert(kNotNullFlag == NOT_NULL_FLAG && kPriKeyFlag == PRI_KEY_FLAG &&
              kUniqueKeyFlag == UNIQUE_KEY_FLAG && kMultipleKeyFlag == MULTIPLE_KEY_FLAG &&
              kBlobFlag == BLOB_FLAG && kUnsignedFlag == UNSIGNED_FLAG &&
              kZerofillFlag == ZEROFILL_FLAG && kBinaryFlag == BINARY_FLAG &&
              kEnumFlag == ENUM_FLAG && kAutoIncrementFlag == AUTO_INCREMENT_FLAG &&
              kTimestampFlag == TIMESTAMP_FLAG && kSetFlag == SET_FLAG && kNumFlag == NUM_FLAG);
static_assert(static_cast<int>(MySQLType::Decimal) == MYSQL_TYPE_DECIMAL &&
              static_cast<int>(MySQLType::Bit) == MYSQL_TYPE_BIT &&
              static_cast<int>(MySQLType::VarChar) == MYSQL_TYPE_VARCHAR &&
              static_cast<int>(MySQLType::NewDate) == MYSQL_TYPE_NEWDATE &&
              static_cast<int>(MySQLType::Json) == MYSQL_TYPE_JSON &&
              static_cast<int>(MySQLType::NewDecimal) == MYSQL_TYPE_NEWDECIMAL &&
              static_cast<int>(MySQLType::Blob) == MYSQL_TYPE_BLOB &&
              static_cast<int>(MySQLType::Geometry) == MYSQL_TYPE_GEOMETRY);
static_assert(sizeof(unsigned long) == sizeof(size_t));

// The library's connection, and what the binding knows of its session.
struct MySQLHandle {
  MYSQL mysql;
  // A command since the session was new may have changed it.
  bool session_changed = false;
};

namespace {

MYSQL* My(MySQLHandle* handle) {
  assert(handle != nullptr);
  return &handle->mysql;
}

// Whether `c` is a letter of a word (of a keyword or a name).
bool WordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

std::string Copy(const char* text, size_t length) {
  return text ? std::string(text, length) : std::string();
}

std::string Copy(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

// --- MySQLResult -----------------------------------------------------------

MySQLResult::MySQLResult(MySQLResult&& other) noexcept
    : res_(std::exchange(other.res_, nullptr)),
      row_(std::exchange(other.row_, nullptr)),
      lengths_(std::exchange(other.lengths_, nullptr)) {}

MySQLResult& MySQLResult::operator=(MySQLResult&& other) noexcept {
  if (this != &other) {
    Free();
    res_ = std::exchange(other.res_, nullptr);
    row_ = std::exchange(other.row_, nullptr);
    lengths_ = std::exchange(other.lengths_, nullptr);
  }
  return *this;
}

MySQLResult::~MySQLResult() { Free(); }

void MySQLResult::Free() {
  if (res_ != nullptr) mysql_free_result(reinterpret_cast<MYSQL_RES*>(res_));
  res_ = nullptr;
  row_ = nullptr;
  lengths_ = nullptr;
}

unsigned MySQLResult::FieldCount() const {
  assert(res_ != nullptr);
  return mysql_num_fields(reinterpret_cast<MYSQL_RES*>(res_));
}

std::vector<MySQLFieldDesc> MySQLResult::Fields() const {
  assert(res_ != nullptr);
  MYSQL_RES* res = reinterpret_cast<MYSQL_RES*>(res_);
  const unsigned count = mysql_num_fields(res);
  const MYSQL_FIELD* fields = mysql_fetch_fields(res);
  std::vector<MySQLFieldDesc> out;
  out.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    const MYSQL_FIELD& f = fields[i];
    MySQLFieldDesc d;
    d.Name = Copy(f.name, f.name_length);
    d.OrgName = Copy(f.org_name, f.org_name_length);
    d.Table = Copy(f.table, f.table_length);
    d.OrgTable = Copy(f.org_table, f.org_table_length);
    d.Db = Copy(f.db, f.db_length);
    d.HasDefault = f.def != nullptr;
    d.Default = Copy(f.def, f.def_length);
    d.Type = static_cast<MySQLType>(f.type);
    d.Flags = f.flags;
    d.Length = f.length;
    d.MaxLength = f.max_length;
    d.Decimals = f.decimals;
    d.CharsetNr = f.charsetnr;
    d.MaxBytesPerChar = ClientMaxBytesPerChar(f.charsetnr);
    out.push_back(std::move(d));
  }
  return out;
}

uint64_t MySQLResult::RowCount() const {
  assert(res_ != nullptr);
  return mysql_num_rows(reinterpret_cast<MYSQL_RES*>(res_));
}

bool MySQLResult::Next() {
  assert(res_ != nullptr);
  MYSQL_RES* res = reinterpret_cast<MYSQL_RES*>(res_);
  MYSQL_ROW row = mysql_fetch_row(res);
  if (row == nullptr) {
    row_ = nullptr;
    lengths_ = nullptr;
    return false;
  }
  row_ = row;
  lengths_ = mysql_fetch_lengths(res);
  return true;
}

// --- Connections -----------------------------------------------------------

MySQLHandle* ClientInit() {
  auto* handle = new (std::nothrow) MySQLHandle;
  if (handle == nullptr) return nullptr;
  if (mysql_init(&handle->mysql) == nullptr) {
    delete handle;
    return nullptr;
  }
  return handle;
}

bool ClientSetCharset(MySQLHandle* handle, const char* charset) {
  return mysql_options(My(handle), MYSQL_SET_CHARSET_NAME, charset) == 0;
}

bool ClientSetCompress(MySQLHandle* handle) {
  return mysql_options(My(handle), MYSQL_OPT_COMPRESS, nullptr) == 0;
}

bool ClientSetReconnect(MySQLHandle* handle, bool on) {
  const my_bool value = on ? 1 : 0;
  return mysql_options(My(handle), MYSQL_OPT_RECONNECT, &value) == 0;
}

bool ClientRealConnect(MySQLHandle* handle, const std::string& host, const std::string& user,
                       const std::string& password, const char* database, unsigned port,
                       const char* socket, unsigned client_flags) {
  return mysql_real_connect(My(handle), host.c_str(), user.c_str(), password.c_str(), database,
                            port, socket, client_flags) != nullptr;
}

void ClientClose(MySQLHandle* handle) {
  if (handle == nullptr) return;
  mysql_close(My(handle));  // frees what the library holds, not the handle
  delete handle;
}

// --- Statements ------------------------------------------------------------

bool ClientSelectDb(MySQLHandle* handle, const std::string& database) {
  // Not a change to undo: whoever takes the connection selects its own.
  return mysql_select_db(My(handle), database.c_str()) == 0;
}

std::string ClientCurrentDb(MySQLHandle* handle) {
  const char* schema = nullptr;
  if (mariadb_get_infov(My(handle), MARIADB_CONNECTION_SCHEMA, &schema) != 0) return std::string();
  return Copy(schema);
}

bool ClientRealQuery(MySQLHandle* handle, std::string_view sql) {
  if (!handle->session_changed && !ClientStatementOnlyReads(sql)) handle->session_changed = true;
  return mysql_real_query(My(handle), sql.data(), sql.size()) == 0;
}

MySQLResult ClientUseResult(MySQLHandle* handle) {
  return MySQLResult(reinterpret_cast<MySQLResult::Res*>(mysql_use_result(My(handle))));
}

MySQLResult ClientStoreResult(MySQLHandle* handle) {
  return MySQLResult(reinterpret_cast<MySQLResult::Res*>(mysql_store_result(My(handle))));
}

unsigned ClientFieldCount(MySQLHandle* handle) { return mysql_field_count(My(handle)); }

uint64_t ClientInsertId(MySQLHandle* handle) { return mysql_insert_id(My(handle)); }

uint64_t ClientAffectedRows(MySQLHandle* handle) { return mysql_affected_rows(My(handle)); }

bool ClientResetConnection(MySQLHandle* handle) {
  if (mysql_reset_connection(My(handle)) != 0) return false;
  handle->session_changed = false;
  return true;
}

bool ClientSessionMayHaveChanged(MySQLHandle* handle) {
  unsigned status = 0;
  if (handle->session_changed || mariadb_get_infov(My(handle), MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) {
    return true;
  }
  return (status & SERVER_STATUS_IN_TRANS) != 0 || (status & SERVER_STATUS_AUTOCOMMIT) == 0 ||
         (status & SERVER_MORE_RESULTS_EXIST) != 0 || My(handle)->status != MYSQL_STATUS_READY;
}

bool ClientStatementOnlyReads(std::string_view sql) {
  const size_t at = sql.find_first_not_of(" \t\r\n");
  if (at == std::string_view::npos) return false;
  size_t end = at;
  while (end < sql.size() && WordChar(sql[end])) ++end;
  const std::string_view verb = sql.substr(at, end - at);
  constexpr std::string_view kReads[] = {"select", "show", "describe", "desc", "explain"};
  // What a read may still leave behind: user variables, named locks,
  // sequence values, the last insert id, results of another statement.
  constexpr std::string_view kLeftBehind[] = {"lock",       "into",           "nextval",       "lastval",
                                              "setval",     "next value",     "previous value", "last_insert_id"};
  if (std::none_of(std::begin(kReads), std::end(kReads), [&](std::string_view w) { return SameText(verb, w); })) {
    return false;  // comments too: /*! ... */ runs what it holds
  }
  return sql.find_first_of("@;") == std::string_view::npos &&
         std::none_of(std::begin(kLeftBehind), std::end(kLeftBehind),
                      [&](std::string_view w) { return ContainsText(sql, w); });
}

bool ClientSocketLooksAlive(MySQLHandle* handle) {
  const int fd = static_cast<int>(mysql_get_socket(My(handle)));
  if (fd < 0) return false;
  // An idle connection has nothing to read; a closed one reads as the end,
  // and a server that ends a connection sends its reason first.
  char byte = 0;
  const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}


bool ClientRefresh(MySQLHandle* handle, unsigned options) {
  return mysql_refresh(My(handle), options) == 0;
}

// --- Errors ----------------------------------------------------------------

unsigned ClientErrno(MySQLHandle* handle) { return mysql_errno(My(handle)); }

std::string ClientError(MySQLHandle* handle) { return Copy(mysql_error(My(handle))); }

// --- Texts -----------------------------------------------------------------

std::string ClientEscapeString(MySQLHandle* handle, std::string_view text) {
  if (handle == nullptr) {
    // Without a handle the library escapes with its default character set,
    // which exists only once the library is initialised; before the first
    // connection of the process nothing else has done that.
    static const bool initialised = mysql_library_init(0, nullptr, nullptr) == 0;
    (void)initialised;
  }
  // The worst case escapes every byte; the library adds a terminating NUL.
  std::string out(text.size() * 2 + 1, '\0');
  const unsigned long length =
      handle != nullptr
          ? mysql_real_escape_string(My(handle), out.data(), text.data(), text.size())
          : mysql_escape_string(out.data(), text.data(), text.size());
  // (unsigned long)-1 reports an overflow, which the buffer size rules out.
  assert(length <= text.size() * 2);
  out.resize(length);
  return out;
}

// --- Descriptions ----------------------------------------------------------

std::string ClientHostInfo(MySQLHandle* handle) { return Copy(mysql_get_host_info(My(handle))); }

std::string ClientServerInfo(MySQLHandle* handle) {
  return Copy(mysql_get_server_info(My(handle)));
}

unsigned ClientProtoInfo(MySQLHandle* handle) { return mysql_get_proto_info(My(handle)); }

std::string ClientClientInfo() { return Copy(mysql_get_client_info()); }

unsigned ClientMaxBytesPerChar(unsigned charsetnr) {
  const MARIADB_CHARSET_INFO* info = mariadb_get_charset_by_nr(charsetnr);
  return info != nullptr && info->char_maxlen > 0 ? info->char_maxlen : 1;
}

}  // namespace quill
