// TMySQLServer: connecting and disconnecting, the login step, version rules
// and the server-level operations, all through the client binding.
//
// Invariant: Connected() == (handle_ != nullptr), and while disconnected the
// version fields stand at 3, 21, 0 (32100) with every description empty.
#include "mysql_server/mysql_server.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <limits>

#include "base/errors.h"
#include "base/number_text.h"
#include "base/published.h"
#include "mysql_server/connection_pool.h"
#include "mysql_server/mysql_login_dialog.h"
#include "mysql_server/reserved_words.h"
#include "platform/ui/ui_services.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

std::atomic<TStatementObserver> statement_observer{nullptr};

// Reads a word of the version text as one of its 16-bit numbers.
uint16_t VersionWord(std::string_view text, uint8_t n, std::string_view delimiters,
                     uint16_t fallback) {
  int32_t value = 0;
  if (!TryStrToInt(ExtractWord(n, text, delimiters), &value) || value < 0 || value > 65535) {
    return fallback;
  }
  return static_cast<uint16_t>(value);
}

// Parameter values that do not fit their property are refused rather than
// cut to size: a port silently wrapped to another number would connect to
// the wrong server.
std::string OutOfRangeMessage(std::string_view what, std::string_view text, std::string_view range) {
  return "'" + std::string(text) + "' is out of range for " + std::string(what) + " (" +
         std::string(range) + ")";
}

uint16_t PortFromParam(const std::string& text) {
  const int32_t value = StrToInt(text);
  if (value < 0 || value > 65535) throw EConvertError(OutOfRangeMessage("Port", text, "0..65535"));
  return static_cast<uint16_t>(value);
}

uint32_t IdleTimerFromParam(const std::string& text) {
  const int64_t value = StrToInt64(text);
  if (value < 0 || value > std::numeric_limits<uint32_t>::max()) {
    throw EConvertError(OutOfRangeMessage("IdleTimer", text, "0..4294967295"));
  }
  return static_cast<uint32_t>(value);
}

std::string TrimRightControls(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(0, end));
}

// Brackets a string list's changes so that its owner hears of them once,
// however the filling ends.
class UpdateBracket {
 public:
  explicit UpdateBracket(TStringList& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateBracket() { list_.EndUpdate(); }
  UpdateBracket(const UpdateBracket&) = delete;
  UpdateBracket& operator=(const UpdateBracket&) = delete;

 private:
  TStringList& list_;
};

// The pool key of a connection opened with the component's parameters.
TPoolKey PoolKeyOf(const TMySQLServer& server) {
  return TPoolKey{server.Host(),        server.Port(),        server.UserName(),
                  server.Password(),    server.DatabaseName(), server.Compression(),
                  server.Compression() ? kClientCompress : 0u};
}

}  // namespace

ServerVersionNumbers ParseServerVersion(std::string_view text) {
  static constexpr std::string_view kWordDelimiters = ".- ";
  static constexpr std::string_view kBuildDelimiters =
      ".- ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  ServerVersionNumbers v;
  v.Major = VersionWord(text, 1, kWordDelimiters, v.Major);
  v.Minor = VersionWord(text, 2, kWordDelimiters, v.Minor);
  v.Build = VersionWord(text, 3, kBuildDelimiters, v.Build);
  return v;
}

std::string ServerErrorMessage(MySQLHandle* handle, uint32_t server_version) {
  if (handle == nullptr) return "0 - Not connected";
  const unsigned number = server_version > kErrnoReportedAbove ? ClientErrno(handle) : 0;
  return std::to_string(number) + " - " + ClientError(handle);
}

void RaiseServerError(MySQLHandle* handle, const std::string& message, uint32_t server_version) {
  throw EDatabaseError(message.empty() ? ServerErrorMessage(handle, server_version) : message);
}

// --- Construction ----------------------------------------------------------

TMySQLServer::TMySQLServer(TComponent* owner)
    : TComponent(owner), params_(std::make_unique<TStringList>()) {}

TMySQLServer::~TMySQLServer() {
  // A destructor cannot report; a failing event handler or dataset must not
  // keep the connection open behind a component that is gone.
  try {
    SetConnected(false);
  } catch (...) {
  }
  if (handle_ != nullptr) {
    ClientClose(handle_);
    handle_ = nullptr;
  }
}

// --- Connect / disconnect ----------------------------------------------------

void TMySQLServer::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    DoConnect();
    // A cancelled login ends the attempt without a connection; announcing
    // one would mislead every handler that relies on it.
    if (Connected() && AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void TMySQLServer::DoConnect() {
  if (handle_ != nullptr) DoDisconnect();
  if (login_prompt_ && !Login()) return;

  // Every conversion comes first, so that a bad value changes nothing.
  const int port_line = params_->IndexOfName("PORT");
  const int idle_line = params_->IndexOfName("IDLETIMER");
  const int compression_line = params_->IndexOfName("COMPRESSION");
  const uint16_t port = port_line >= 0 ? PortFromParam(params_->ValueFromIndex(port_line)) : port_;
  const uint32_t idle =
      idle_line >= 0 ? IdleTimerFromParam(params_->ValueFromIndex(idle_line)) : idle_timer_;
  if (user_name_.empty()) user_name_ = params_->Value("USER NAME");
  if (password_.empty()) password_ = params_->Value("PASSWORD");
  if (host_.empty()) host_ = params_->Value("HOST");
  port_ = port;
  idle_timer_ = idle;
  if (compression_line >= 0) compression_ = params_->ValueFromIndex(compression_line) == "1";

  handle_ = NewHandle();
  try {
    info_ = ClientHostInfo(handle_);
    SetVersion(ClientServerInfo(handle_));
    client_version_ = ClientClientInfo();
    protocol_ = std::to_string(ClientProtoInfo(handle_));
    if (IntVer() < kOldestServerVersion) {
      RaiseServerError(nullptr,
                       "Only compatible with MySQL Server 3.21.xx and higher. Your version: " +
                           server_version_,
                       kOldestServerVersion);
    }
    if (!database_name_.empty()) SelectDatabase(handle_, database_name_);
  } catch (...) {
    try {
      DoDisconnect();
    } catch (...) {
      // A dataset failed to close; the handle must still go.
      ClientClose(handle_);
      handle_ = nullptr;
    }
    throw;
  }
}

void TMySQLServer::DoDisconnect() {
  CloseDatasets();
  if (handle_ != nullptr) {
    TConnectionPool::Instance().Give(PoolKeyOf(*this), handle_);
    handle_ = nullptr;
  }
  info_ = "Disconnected.";
  server_version_.clear();
  client_version_.clear();
  protocol_.clear();
  version_ = ServerVersionNumbers{};
}

void TMySQLServer::CloseDatasets() {
  // Closing a dataset may detach it, or others; walk a copy and skip what
  // has left the list meanwhile.
  const std::vector<Attached> snapshot = datasets_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    IMySQLServerClient* dataset = it->Client;
    if (!IsAttached(dataset)) continue;
    if (!dataset->IsDestroying() && dataset->IsOpenForServer()) dataset->CloseForServer();
  }
}

bool TMySQLServer::Login() {
  if (OnLogin) {
    TStringList login_params;
    login_params.Assign(*params_);
    OnLogin(*this, login_params);
    params_->Assign(login_params);
    return true;
  }
  std::string user =
      params_->IndexOfName("USER NAME") >= 0 ? params_->Value("USER NAME") : user_name_;
  std::string password =
      params_->IndexOfName("PASSWORD") >= 0 ? params_->Value("PASSWORD") : password_;
  if (host_.empty()) {
    SetHost(ui::CurrentUiProvider()->InputBox("MySQL Server", "Server (DNS or IP)", "localhost"));
  }
  std::string host = host_;
  std::string port = std::to_string(port_);
  if (!ShowLoginDialog(host, port, user, password)) return false;
  host_ = host;
  int32_t port_value = 0;
  port_ = TryStrToInt(port, &port_value) && port_value >= 0 && port_value <= 65535
              ? static_cast<uint16_t>(port_value)
              : 3306;
  user_name_ = user;
  password_ = password;
  return true;
}

MySQLHandle* TMySQLServer::NewHandle() {
  if (MySQLHandle* pooled = TConnectionPool::Instance().Take(PoolKeyOf(*this))) return pooled;
  MySQLHandle* handle = ClientInit();
  if (handle == nullptr) RaiseServerError(nullptr, "Could not initialize LibMySQL.dll", 32100);
  // Both options only record a choice before connecting; they fail only when
  // memory is exhausted, which the connect below then reports.
  ClientSetCharset(handle, kConnectionCharset);
  if (compression_) ClientSetCompress(handle);
  // Found rows: a generated write that matched its row reports it even when
  // the values did not change, so that 0 means the row is gone.
  const unsigned flags = kClientFoundRows | (compression_ ? kClientCompress : 0);
  if (!ClientRealConnect(handle, host_, user_name_, password_, nullptr, port_, nullptr, flags)) {
    ClientClose(handle);
    RaiseServerError(nullptr, "Could not connect using: " + user_name_ + "@" + host_, 32100);
  }
  ClientSetReconnect(handle, true);
  return handle;
}

void TMySQLServer::DropHandle(MySQLHandle*& handle) {
  if (handle == nullptr || handle == handle_) return;
  TConnectionPool::Instance().Give(PoolKeyOf(*this), handle);
  handle = nullptr;
}

// --- Server operations -------------------------------------------------------

bool TMySQLServer::SelectDatabase(MySQLHandle* handle, const std::string& database) {
  if (database.empty()) return true;
  if (handle == handle_) {
    if (!Connected()) Connect();
    handle = handle_;
  }
  if (handle == nullptr) {
    ui::CurrentUiProvider()->MessageBox("Connection must be live to select database", "Error",
                                        ui::MB_OK | ui::MB_ICONERROR);
    return false;
  }
  // Asking the library costs no round trip; selecting does, and a handle
  // from the pool or one a dataset shares is often there already.
  if (ClientCurrentDb(handle) == database) return true;
  if (!ClientSelectDb(handle, database)) RaiseServerError(handle, "", IntVer());
  return true;
}

void TMySQLServer::ReloadPrivileges() {
  if (!Connected()) Connect();
  if (handle_ != nullptr && !ClientRefresh(handle_, kRefreshGrant)) {
    RaiseServerError(handle_, "", IntVer());
  }
}

bool TMySQLServer::RunStatement(std::string_view sql) {
  if (!Connected()) Connect();
  if (handle_ == nullptr) return false;
  if (IntVer() < kKeepsFinalSemicolonFrom && !sql.empty() && sql.back() == ';') {
    sql.remove_suffix(1);
  }
  const bool accepted = ClientRealQuery(handle_, sql);
  if (const TStatementObserver observer = statement_observer.load()) observer(*this, sql);
  if (!accepted) RaiseServerError(handle_, "", IntVer());
  // Rows left unread would put the connection out of step with the server
  // and make its next statement fail; read them and drop them.
  if (ClientFieldCount(handle_) > 0) {
    MySQLResult rows = ClientUseResult(handle_);
    if (!rows) RaiseServerError(handle_, "", IntVer());
    while (rows.Next()) {
    }
    if (ClientErrno(handle_) != 0) RaiseServerError(handle_, "", IntVer());
  }
  return true;
}

void SetStatementObserver(TStatementObserver observer) { statement_observer.store(observer); }

std::string TMySQLServer::EscapeString(std::string_view text) const {
  return ClientEscapeString(handle_, text);
}

std::string TMySQLServer::QuoteName(const std::string& name) const {
  if (IntVer() < kBackquotesFrom) return name;
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  });
  // A plain name that is a reserved word is a syntax error unquoted.
  if (plain && !IsReservedWord(name)) return name;
  // A backquote inside the name is written twice, or it would end the
  // quoted name early and let the rest of the name pass as SQL.
  std::string quoted = "`";
  for (char c : name) {
    if (c == '`') quoted += '`';
    quoted += c;
  }
  quoted += '`';
  return quoted;
}

void TMySQLServer::GetTableNames(const std::string& database, TStringList& list) {
  if (!Connected()) Connect();
  if (!Connected()) return;
  UpdateBracket bracket(list);
  list.Clear();
  const std::string sql = database.empty() ? "show tables" : "show tables from " + QuoteName(database);
  if (!ClientRealQuery(handle_, sql)) RaiseServerError(handle_, "", IntVer());
  MySQLResult rows = ClientUseResult(handle_);
  if (!rows) RaiseServerError(handle_, "", IntVer());
  while (rows.Next()) list.Add(TrimRightControls(rows.Text(0)));
  if (ClientErrno(handle_) != 0) RaiseServerError(handle_, "", IntVer());
}

// --- Attached datasets -------------------------------------------------------

bool TMySQLServer::IsAttached(const IMySQLServerClient* dataset) const {
  return std::any_of(datasets_.begin(), datasets_.end(),
                     [dataset](const Attached& a) { return a.Client == dataset; });
}

void TMySQLServer::AttachDataset(IMySQLServerClient* dataset) {
  if (dataset == nullptr || IsAttached(dataset)) return;
  TComponent* component = &dataset->ClientComponent();
  datasets_.push_back(Attached{dataset, component});
  FreeNotification(component);
}

void TMySQLServer::DetachDataset(IMySQLServerClient* dataset) {
  // The destruction notice is kept: the dataset may want one of its own
  // about this component, and a notice about a detached dataset is harmless.
  std::erase_if(datasets_, [dataset](const Attached& a) { return a.Client == dataset; });
}

void TMySQLServer::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
  if (operation == Operation::Remove) {
    std::erase_if(datasets_, [component](const Attached& a) { return a.Component == component; });
  }
}

// --- Parameters --------------------------------------------------------------

void TMySQLServer::SetDatabaseName(const std::string& name) {
  if (name != database_name_) database_name_ = name;
  if (Connected()) SelectDatabase(handle_, database_name_);
}

void TMySQLServer::SetHost(const std::string& host) {
  SetConnected(false);
  host_ = host;
}

void TMySQLServer::SetPort(uint16_t port) {
  SetConnected(false);
  port_ = port;
}

void TMySQLServer::SetIdleTimer(uint32_t value) {
  SetConnected(false);
  idle_timer_ = value;
}

void TMySQLServer::SetUserName(const std::string& user) {
  SetConnected(false);
  user_name_ = user;
}

void TMySQLServer::SetPassword(const std::string& password) {
  SetConnected(false);
  password_ = password;
}

void TMySQLServer::SetParams(const TStringList& params) {
  SetConnected(false);
  if (&params != params_.get()) params_->Assign(params);
}

void TMySQLServer::SetCompression(bool value) {
  SetConnected(false);
  compression_ = value;
}

void TMySQLServer::SetVersion(const std::string& version_text) {
  server_version_ = version_text;
  version_ = ParseServerVersion(version_text);
}

void TMySQLServer::SetVersionForTesting(const std::string& version_text) {
  SetVersion(version_text);
}

// --- Published properties ----------------------------------------------------

namespace {

TMySQLServer& Self(TObject& o) { return static_cast<TMySQLServer&>(o); }
const TMySQLServer& Self(const TObject& o) { return static_cast<const TMySQLServer&>(o); }

uint16_t PortFromVariant(const Variant& v) {
  const int32_t value = v.AsInteger();
  if (value < 0 || value > 65535) {
    throw EConvertError(OutOfRangeMessage("Port", std::to_string(value), "0..65535"));
  }
  return static_cast<uint16_t>(value);
}

uint32_t IdleTimerFromVariant(const Variant& v) {
  const int64_t value = v.AsInt64();
  if (value < 0 || value > std::numeric_limits<uint32_t>::max()) {
    throw EConvertError(OutOfRangeMessage("IdleTimer", std::to_string(value), "0..4294967295"));
  }
  return static_cast<uint32_t>(value);
}

// 32-bit unsigned values above the signed range travel as 64-bit integers.
Variant Unsigned32(uint32_t value) {
  if (value <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return Variant(static_cast<int32_t>(value));
  }
  return Variant(static_cast<int64_t>(value));
}

const PropertyInfo kServerProps[] = {
    BooleanProp(
        "Connected", [](const TObject& o) { return Variant(Self(o).Connected()); },
        [](TObject& o, const Variant& v) { Self(o).SetConnected(v.AsBoolean()); }, "False"),
    StringProp(
        "DatabaseName", [](const TObject& o) { return Variant(Self(o).DatabaseName()); },
        [](TObject& o, const Variant& v) { Self(o).SetDatabaseName(v.AsString()); }),
    StringProp(
        "Host", [](const TObject& o) { return Variant(Self(o).Host()); },
        [](TObject& o, const Variant& v) { Self(o).SetHost(v.AsString()); }),
    IntegerProp(
        "Port", [](const TObject& o) { return Variant(static_cast<int32_t>(Self(o).Port())); },
        [](TObject& o, const Variant& v) { Self(o).SetPort(PortFromVariant(v)); }, "3306"),
    IntegerProp(
        "IdleTimer", [](const TObject& o) { return Unsigned32(Self(o).IdleTimer()); },
        [](TObject& o, const Variant& v) { Self(o).SetIdleTimer(IdleTimerFromVariant(v)); }, "30"),
    BooleanProp(
        "LoginPrompt", [](const TObject& o) { return Variant(Self(o).LoginPrompt()); },
        [](TObject& o, const Variant& v) { Self(o).SetLoginPrompt(v.AsBoolean()); }, "True"),
    StringProp(
        "UserName", [](const TObject& o) { return Variant(Self(o).UserName()); },
        [](TObject& o, const Variant& v) { Self(o).SetUserName(v.AsString()); }),
    StringProp(
        "Password", [](const TObject& o) { return Variant(Self(o).Password()); },
        [](TObject& o, const Variant& v) { Self(o).SetPassword(v.AsString()); }),
    ObjectProp(
        "Params", &TStringList::StaticClassInfo,
        [](const TObject& o) -> TObject* {
          return const_cast<TStringList*>(&Self(o).Params());
        },
        [](TObject& o, TObject* value) {
          // Anything but a string list (a null reference included) empties
          // the parameters.
          if (value != nullptr && value->InheritsFrom(TStringList::StaticClassInfo)) {
            Self(o).SetParams(static_cast<const TStringList&>(*value));
          } else {
            Self(o).SetParams(TStringList());
          }
        }),
    BooleanProp(
        "Compression", [](const TObject& o) { return Variant(Self(o).Compression()); },
        [](TObject& o, const Variant& v) { Self(o).SetCompression(v.AsBoolean()); }, "False"),
    StringProp(
        "ServerVersion", [](const TObject& o) { return Variant(Self(o).ServerVersion()); },
        nullptr),
    IntegerProp(
        "Major", [](const TObject& o) { return Variant(static_cast<int32_t>(Self(o).Major())); },
        nullptr),
    IntegerProp(
        "Minor", [](const TObject& o) { return Variant(static_cast<int32_t>(Self(o).Minor())); },
        nullptr),
    IntegerProp(
        "Build", [](const TObject& o) { return Variant(static_cast<int32_t>(Self(o).Build())); },
        nullptr),
    IntegerProp(
        "IntVer", [](const TObject& o) { return Unsigned32(Self(o).IntVer()); }, nullptr),
    StringProp(
        "ClientVersion", [](const TObject& o) { return Variant(Self(o).ClientVersion()); },
        nullptr),
    StringProp(
        "Protocol", [](const TObject& o) { return Variant(Self(o).Protocol()); }, nullptr),
    StringProp(
        "Info", [](const TObject& o) { return Variant(Self(o).Info()); }, nullptr),
    EventProp("AfterConnect"),
    EventProp("AfterDisconnect"),
    EventProp("BeforeConnect"),
    EventProp("BeforeDisconnect"),
    EventProp("OnIdleTimer"),
    EventProp("OnLogin"),
};

}  // namespace

const TClassInfo TMySQLServer::StaticClassInfo{"TMySQLServer", &TComponent::StaticClassInfo,
                                               kServerProps};

}  // namespace quill
