// TMySQLServer: one client connection to a MySQL server.
//
// The component holds the parameters of the connection (host, port, user,
// password, compression, database), opens and closes it through the client
// library binding (mysql_client.h), reads the server's version after
// connecting and offers the few server-level operations the rest of the
// system needs: select a database, run a statement that returns no rows,
// escape a string, quote a name, list the tables of a database, reload the
// privilege tables.
//
// Datasets attach to the component while they hold a handle of it (its own
// or one from NewHandle) through the IMySQLServerClient interface; when the
// connection goes down every attached open dataset is closed, the last
// attached first.
//
// Every failure is an EDatabaseError carrying one message; failures the
// library reports read "<error number> - <library text>" (RaiseServerError).
// Nothing here takes a lock: one thread uses a component at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "base/string_list.h"
#include "mysql_server/mysql_client.h"

namespace quill {

// What the connection needs of a dataset that holds one of its handles. The
// dataset layer implements it; the connection keeps non-owning pointers and
// learns of a dataset's destruction through the component's destruction
// notices, so it never keeps a dangling entry.
class IMySQLServerClient {
 public:
  // The dataset as a component (for destruction notices).
  virtual TComponent& ClientComponent() = 0;
  // True while the dataset is open.
  virtual bool IsOpenForServer() const = 0;
  // Closes the dataset because its connection goes down. It may detach
  // itself (DetachDataset) while doing so.
  virtual void CloseForServer() = 0;
  // True once the dataset's destruction has begun; such a dataset is left
  // alone when the connection goes down.
  virtual bool IsDestroying() const = 0;

 protected:
  ~IMySQLServerClient() = default;
};

// Server versions (Major*10000 + Minor*100 + Build) where behaviour changes.
inline constexpr uint32_t kOldestServerVersion = 32100;    // refused below
inline constexpr uint32_t kErrnoReportedAbove = 32170;     // error number 0 up to here
inline constexpr uint32_t kKeepsFinalSemicolonFrom = 32200;
inline constexpr uint32_t kBackquotesFrom = 32306;

// The parsed form of a server version text. An unreadable text gives the
// defaults, which stand for "3.21.0".
struct ServerVersionNumbers {
  uint16_t Major = 3;
  uint16_t Minor = 21;
  uint16_t Build = 0;
  uint32_t IntVer() const { return Major * 10000u + Minor * 100u + Build; }
};
// Major and Minor are the first two words when ".", "-" and blank separate
// words; Build is the third word when every ASCII letter separates too.
// "3.23.49-nt" gives 3, 23, 49; "10.11.6-MariaDB-0+deb12u1" 10, 11, 6. A
// word that is no number of 0..65535 gives that field's default.
ServerVersionNumbers ParseServerVersion(std::string_view text);

// The message of a failure the library reports on `handle`:
// "<error number> - <error text>", the number shown as 0 when
// `server_version` is 32170 or less (those servers had no numbers). A null
// handle gives "0 - Not connected".
std::string ServerErrorMessage(MySQLHandle* handle, uint32_t server_version);

// Raises EDatabaseError: with `message` when it is not empty, else with
// ServerErrorMessage(handle, server_version). Callers with a message of their
// own pass 32100 as the version, which then has no effect.
[[noreturn]] void RaiseServerError(MySQLHandle* handle, const std::string& message,
                                   uint32_t server_version);

class TMySQLServer : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using NotifyEvent = std::function<void(TMySQLServer& sender)>;
  using LoginEvent = std::function<void(TMySQLServer& sender, TStringList& login_params)>;

  explicit TMySQLServer(TComponent* owner = nullptr);
  // Disconnects (with the disconnect events) first.
  ~TMySQLServer() override;

  // --- Connecting ------------------------------------------------------------

  // True exactly while the component holds its own handle.
  bool Connected() const { return handle_ != nullptr; }
  // Setting the current value does nothing. true: BeforeConnect, the connect
  // step, AfterConnect (only when a connection was made). false: BeforeDisconnect, the disconnect step,
  // AfterDisconnect. The connect step:
  //  - runs the login step when LoginPrompt is on; a login that answers
  //    false ends the attempt without a connection and without an error;
  //  - fills an empty UserName, Password or Host from the Params keys
  //    "USER NAME", "PASSWORD", "HOST", and Port, IdleTimer and Compression
  //    from "PORT", "IDLETIMER", "COMPRESSION" when present ("1" alone turns
  //    compression on). A PORT or IDLETIMER text that is no integer (or out
  //    of the property's range) raises EConvertError before anything is
  //    changed or any connection is attempted;
  //  - opens a handle as NewHandle does (errors as NewHandle);
  //  - reads the descriptions and the version; a server older than 3.21
  //    fails with "Only compatible with MySQL Server 3.21.xx and higher.
  //    Your version: <version>";
  //  - selects DatabaseName when it is not empty ("%d - %s" on failure).
  // When a step after the handle was opened fails, the handle is closed, the
  // component is left disconnected (version fields reset) and the failure
  // propagates; AfterConnect is not raised.
  void SetConnected(bool value);
  void Connect() { SetConnected(true); }
  void Disconnect() { SetConnected(false); }

  // The component's own connection handle; null while disconnected. (The
  // object's handle in the process-wide table is TObject::Handle().)
  MySQLHandle* Handle() const { return handle_; }

  // Opens a further, independent connection with the current Host,
  // UserName, Password, Port and Compression, with the utf8mb4 character set
  // and automatic reconnection on, and no database selected. The caller
  // owns it and gives it back with DropHandle. A live idle connection of the
  // process's pool opened with the same parameters (connection_pool.h) is
  // taken first.
  // Errors: "Could not initialize LibMySQL.dll" when the library cannot make
  // a handle; "Could not connect using: <user>@<host>" when it refuses the
  // connection (no handle is left behind, nothing is retried).
  MySQLHandle* NewHandle();
  // Closes `handle` and sets it to null, unless it is null or is the
  // component's own handle (then it is left unchanged).
  // Closing gives the connection back to the pool, which resets it or
  // closes it; the component's own handle goes the same way on disconnect.
  void DropHandle(MySQLHandle*& handle);

  // --- Server operations -----------------------------------------------------

  // Selects `database` on `handle`. An empty name answers true at once. When
  // `handle` is the component's own handle (null counts as such while
  // disconnected) the component first connects. With no handle even then,
  // shows the error message box "Connection must be live to select database"
  // and answers false. Sends nothing when `handle` is in `database` already.
  // Raises "%d - %s" when the server refuses.
  bool SelectDatabase(MySQLHandle* handle, const std::string& database);

  // Connects if needed, then reloads the server's privilege tables. Raises
  // "%d - %s" when the server refuses. Does nothing when the login was
  // cancelled.
  void ReloadPrivileges();

  // Connects if needed and sends `sql` with its exact length (any bytes).
  // Servers below 3.22 get it without one final ";". Rows the statement
  // returns are read and dropped, so the connection stays usable. Answers
  // false when there is still no connection (login cancelled), true when the
  // server accepted the statement; raises "%d - %s" when it refused.
  bool RunStatement(std::string_view sql);

  // `text` escaped for use between single quotes in SQL, with the
  // connection's character set when connected.
  std::string EscapeString(std::string_view text) const;

  // `name` enclosed in backquotes, every backquote inside it doubled, when
  // the server is 3.23.6 or newer and the name holds any character other
  // than ASCII letters, digits and "_" or is a reserved word (order, key,
  // desc...); otherwise `name` unchanged.
  std::string QuoteName(const std::string& name) const;

  // Connects if needed and replaces the lines of `list` by the names of the
  // tables of `database` (the current database when empty), in the server's
  // order, trailing blanks and control characters removed. `list` changes
  // once (one change notice). Leaves `list` untouched when there is still no
  // connection; raises "%d - %s" when the server refuses.
  void GetTableNames(const std::string& database, TStringList& list);

  // --- Attached datasets -----------------------------------------------------

  // Adds `dataset` to the attached list; null or already attached: ignored.
  void AttachDataset(IMySQLServerClient* dataset);
  // Removes `dataset` from the list when it is there.
  void DetachDataset(IMySQLServerClient* dataset);
  // The attached datasets, first attached first.
  int DatasetCount() const { return static_cast<int>(datasets_.size()); }
  // REQUIRES: 0 <= index < DatasetCount().
  IMySQLServerClient* Dataset(int index) const {
    return datasets_.at(static_cast<size_t>(index)).Client;
  }

  // --- Parameters --------------------------------------------------------------
  // Every setter but SetDatabaseName and SetLoginPrompt disconnects first (with
  // the events), even when the value does not change.

  const std::string& DatabaseName() const { return database_name_; }
  // Stores the name when it differs; when connected, then selects it
  // (nothing is selected for an empty name).
  void SetDatabaseName(const std::string& name);
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host);
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port);
  uint32_t IdleTimer() const { return idle_timer_; }
  void SetIdleTimer(uint32_t value);
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool value) { login_prompt_ = value; }
  const std::string& UserName() const { return user_name_; }
  void SetUserName(const std::string& user);
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password);
  // The list itself may be edited in place without disconnecting.
  TStringList& Params() { return *params_; }
  const TStringList& Params() const { return *params_; }
  void SetParams(const TStringList& params);
  bool Compression() const { return compression_; }
  void SetCompression(bool value);

  // --- Descriptions (read-only) --------------------------------------------------

  const std::string& ServerVersion() const { return server_version_; }
  uint16_t Major() const { return version_.Major; }
  uint16_t Minor() const { return version_.Minor; }
  uint16_t Build() const { return version_.Build; }
  uint32_t IntVer() const { return version_.IntVer(); }
  const std::string& ClientVersion() const { return client_version_; }
  const std::string& Protocol() const { return protocol_; }
  // Empty until the first disconnect, then "Disconnected." while disconnected.
  const std::string& Info() const { return info_; }

  // --- Events ----------------------------------------------------------------------

  NotifyEvent BeforeConnect;
  NotifyEvent AfterConnect;
  NotifyEvent BeforeDisconnect;
  NotifyEvent AfterDisconnect;
  // Replaces the login dialog: receives a copy of Params, which is copied
  // back afterwards. It cannot cancel the connection.
  LoginEvent OnLogin;
  // Kept for scripts that assign it; the component runs no timer.
  NotifyEvent OnIdleTimer;

 protected:
  void Notification(TComponent* component, Operation operation) override;

  // Sets ServerVersion and the numbers parsed from it as connecting would.
  // Tests use it to reach the rules of old servers.
  void SetVersionForTesting(const std::string& version_text);

 private:
  void DoConnect();
  void DoDisconnect();
  bool Login();
  // Closes every attached open dataset, the last attached first.
  void CloseDatasets();
  void SetVersion(const std::string& version_text);

  MySQLHandle* handle_ = nullptr;
  std::string database_name_;
  std::string host_ = "localhost";
  uint16_t port_ = 3306;
  uint32_t idle_timer_ = 30;
  bool login_prompt_ = true;
  std::string user_name_ = "root";
  std::string password_;
  std::unique_ptr<TStringList> params_;
  bool compression_ = false;

  std::string server_version_;
  ServerVersionNumbers version_;
  std::string client_version_;
  std::string protocol_;
  std::string info_;

  // The component is kept beside the interface because a destruction notice
  // arrives when the dataset's own part is already gone.
  struct Attached {
    IMySQLServerClient* Client;
    TComponent* Component;
  };
  bool IsAttached(const IMySQLServerClient* dataset) const;
  std::vector<Attached> datasets_;
};

// Whoever keeps knowledge of a server's tables (the datasets' cache of
// column descriptions) learns here of every statement RunStatement sends,
// accepted or not, so that it can forget what the statement may change.
// One observer per process; null (the default) is none. Called on the
// sending thread; it must not fail.
using TStatementObserver = void (*)(const TMySQLServer& server, std::string_view sql);
void SetStatementObserver(TStatementObserver observer);

}  // namespace quill
