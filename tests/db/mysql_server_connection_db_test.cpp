// The connection component against the private server: connecting and
// disconnecting with their events, refused connections, database selection,
// the version of the real server, the parameter setters, further handles,
// automatic reconnection and the attached datasets.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"
#include "mysql_server_test_support.h"
#include "support/scripted_ui.h"

namespace quill::test {
namespace {

using test::LoginAnswer;
using test::ScopedUiProvider;
using test::ScriptedUi;

// Records the connect/disconnect events with the state seen in each.
struct EventLog {
  std::vector<std::string> entries;
  void Watch(TMySQLServer& server) {
    server.BeforeConnect = [this](TMySQLServer& s) { Add("BeforeConnect", s); };
    server.AfterConnect = [this](TMySQLServer& s) { Add("AfterConnect", s); };
    server.BeforeDisconnect = [this](TMySQLServer& s) { Add("BeforeDisconnect", s); };
    server.AfterDisconnect = [this](TMySQLServer& s) { Add("AfterDisconnect", s); };
  }
  void Add(const char* name, TMySQLServer& s) {
    entries.push_back(std::string(name) + (s.Connected() ? ":on" : ":off"));
  }
};

void ExpectDisconnectedState(const TMySQLServer& server) {
  EXPECT_FALSE(server.Connected());
  EXPECT_EQ(server.Handle(), nullptr);
  EXPECT_EQ(server.Info(), "Disconnected.");
  EXPECT_EQ(server.ServerVersion(), "");
  EXPECT_EQ(server.ClientVersion(), "");
  EXPECT_EQ(server.Protocol(), "");
  EXPECT_EQ(server.Major(), 3);
  EXPECT_EQ(server.Minor(), 21);
  EXPECT_EQ(server.Build(), 0);
  EXPECT_EQ(server.IntVer(), 32100u);
}

// Failed logins the server counted; a retrying client would add more than one.
long AbortedConnects(const TestServerSettings& settings) {
  auto probe = ServerFor(settings);
  probe->Connect();
  return std::stol(QueryText(probe->Handle(),
                             "select variable_value from information_schema.global_status "
                             "where variable_name = 'ABORTED_CONNECTS'"));
}

TEST(ServerConnect, WithoutDatabase) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  EventLog log;
  log.Watch(*server);

  server->Connect();
  ASSERT_TRUE(server->Connected());
  EXPECT_NE(server->Handle(), nullptr);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"BeforeConnect:off", "AfterConnect:on"}));
  EXPECT_NE(server->Info().find("TCP/IP"), std::string::npos) << server->Info();
  EXPECT_FALSE(server->ServerVersion().empty());
  EXPECT_FALSE(server->ClientVersion().empty());
  EXPECT_EQ(server->Protocol(), "10");
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), "<null>");
  EXPECT_EQ(QueryText(server->Handle(), "select current_user()"), settings.user + "@127.0.0.1");

  // Connecting again changes nothing.
  MySQLHandle* handle = server->Handle();
  server->Connect();
  EXPECT_EQ(server->Handle(), handle);
  EXPECT_EQ(log.entries.size(), 2u);

  server->Disconnect();
  EXPECT_EQ(log.entries, (std::vector<std::string>{"BeforeConnect:off", "AfterConnect:on",
                                                   "BeforeDisconnect:on", "AfterDisconnect:off"}));
  ExpectDisconnectedState(*server);
  server->Disconnect();
  EXPECT_EQ(log.entries.size(), 4u);
}

TEST(ServerConnect, EveryHandleSpeaksUtf8mb4) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  for (const char* variable : {"@@character_set_client", "@@character_set_connection",
                               "@@character_set_results"}) {
    EXPECT_EQ(QueryText(server->Handle(), std::string("select ") + variable), "utf8mb4")
        << variable;
  }
  MySQLHandle* extra = server->NewHandle();
  EXPECT_EQ(QueryText(extra, "select @@character_set_connection"), "utf8mb4");
  server->DropHandle(extra);
}

TEST(ServerConnect, VersionFieldsOfTheRealServer) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  const std::string reported = QueryText(server->Handle(), "select version()");
  unsigned major = 0, minor = 0, build = 0;
  ASSERT_EQ(std::sscanf(reported.c_str(), "%u.%u.%u", &major, &minor, &build), 3) << reported;
  EXPECT_EQ(server->ServerVersion().substr(0, reported.find('-')),
            reported.substr(0, reported.find('-')));
  EXPECT_EQ(server->Major(), major);
  EXPECT_EQ(server->Minor(), minor);
  EXPECT_EQ(server->Build(), build);
  EXPECT_EQ(server->IntVer(), major * 10000 + minor * 100 + build);
  EXPECT_GE(server->IntVer(), kBackquotesFrom);
}

TEST(ServerConnectRefused, WrongPassword) {
  QUILL_REQUIRE_SERVER(settings);
  const long aborted_before = AbortedConnects(settings);
  auto server = ServerFor(settings);
  server->SetPassword("not-the-password");
  EventLog log;
  log.Watch(*server);
  try {
    server->Connect();
    FAIL() << "connected with a wrong password";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Could not connect using: " + settings.user + "@127.0.0.1");
  }
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(server->Handle(), nullptr);
  EXPECT_EQ(log.entries, std::vector<std::string>{"BeforeConnect:off"});
  // One attempt, not several.
  EXPECT_EQ(AbortedConnects(settings) - aborted_before, 1);
}

TEST(ServerConnectRefused, ClosedPort) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->SetPort(1);
  EXPECT_THROW(
      {
        try {
          server->Connect();
        } catch (const EDatabaseError& e) {
          EXPECT_EQ(std::string(e.what()),
                    "Could not connect using: " + settings.user + "@127.0.0.1");
          throw;
        }
      },
      EDatabaseError);
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(server->Handle(), nullptr);
  // NewHandle reports the same way.
  EXPECT_THROW(server->NewHandle(), EDatabaseError);
  // The component recovers once the parameters are right.
  server->SetPort(static_cast<uint16_t>(settings.port));
  server->Connect();
  EXPECT_TRUE(server->Connected());
}

TEST(ServerConnectRefused, UnknownDatabaseClosesTheConnection) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->SetDatabaseName("quill_no_such_database");
  EventLog log;
  log.Watch(*server);
  try {
    server->Connect();
    FAIL() << "connected to a missing database";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "1049 - Unknown database 'quill_no_such_database'");
  }
  ExpectDisconnectedState(*server);
  EXPECT_EQ(log.entries, std::vector<std::string>{"BeforeConnect:off"});
}

TEST(ServerParameters, EverySetterDisconnectsEvenWithTheSameValue) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  struct Setter {
    const char* name;
    void (*apply)(TMySQLServer&);
  };
  const Setter setters[] = {
      {"Host", [](TMySQLServer& s) { s.SetHost(s.Host()); }},
      {"Port", [](TMySQLServer& s) { s.SetPort(s.Port()); }},
      {"IdleTimer", [](TMySQLServer& s) { s.SetIdleTimer(s.IdleTimer()); }},
      {"UserName", [](TMySQLServer& s) { s.SetUserName(s.UserName()); }},
      {"Password", [](TMySQLServer& s) { s.SetPassword(s.Password()); }},
      {"Params", [](TMySQLServer& s) { s.SetParams(s.Params()); }},
      {"Compression", [](TMySQLServer& s) { s.SetCompression(s.Compression()); }},
  };
  for (const Setter& setter : setters) {
    SCOPED_TRACE(setter.name);
    server->Connect();
    ASSERT_TRUE(server->Connected());
    EventLog log;
    log.Watch(*server);
    setter.apply(*server);
    EXPECT_FALSE(server->Connected());
    EXPECT_EQ(log.entries,
              (std::vector<std::string>{"BeforeDisconnect:on", "AfterDisconnect:off"}));
    server->BeforeConnect = nullptr;
    server->AfterConnect = nullptr;
    server->BeforeDisconnect = nullptr;
    server->AfterDisconnect = nullptr;
  }
  // LoginPrompt is no connection parameter.
  server->Connect();
  server->SetLoginPrompt(false);
  EXPECT_TRUE(server->Connected());
}

TEST(ServerParameters, DatabaseNameSelectsOnALiveConnection) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  server->SetDatabaseName(settings.database);
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);

  // The same name selects again.
  ASSERT_TRUE(server->RunStatement("use mysql"));
  server->SetDatabaseName(settings.database);
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);

  // A refused name is kept, the connection stays.
  EXPECT_THROW(server->SetDatabaseName("quill_no_such_database"), EDatabaseError);
  EXPECT_EQ(server->DatabaseName(), "quill_no_such_database");
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);

  // An empty name selects nothing.
  server->SetDatabaseName("");
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);

  // Disconnected, the name is only stored.
  server->Disconnect();
  server->SetDatabaseName(settings.database);
  EXPECT_FALSE(server->Connected());
}

TEST(ServerParameters, ParamsFillEmptyProperties) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->SetUserName("");
  server->SetPassword("");
  server->SetHost("");
  server->SetPort(1);
  server->Params().Add("USER NAME=" + settings.user);
  server->Params().Add("password=" + settings.password);
  server->Params().Add("Host=127.0.0.1");
  server->Params().Add("PORT=" + std::to_string(settings.port));
  server->Params().Add("IDLETIMER=45");
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->UserName(), settings.user);
  EXPECT_EQ(server->Host(), "127.0.0.1");
  EXPECT_EQ(server->Port(), settings.port);
  EXPECT_EQ(server->IdleTimer(), 45u);
}

TEST(ServerParameters, CompressionAsked) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  const std::string sql =
      "select variable_value from information_schema.session_status "
      "where variable_name = 'COMPRESSION'";
  server->Connect();
  EXPECT_EQ(QueryText(server->Handle(), sql), "OFF");
  server->SetCompression(true);
  server->Connect();
  EXPECT_EQ(QueryText(server->Handle(), sql), "ON");
  // Only "1" keeps it on.
  server->Params().Add("COMPRESSION=yes");
  server->Disconnect();
  server->Connect();
  EXPECT_FALSE(server->Compression());
  EXPECT_EQ(QueryText(server->Handle(), sql), "OFF");
}

TEST(ServerParameters, LoginDialogSuppliesTheAccount) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings, /*with_database=*/true);
  server->SetLoginPrompt(true);
  server->SetUserName("");
  server->SetPassword("");
  auto user = std::make_shared<ScriptedUi>();
  user->login_answers.push_back(
      LoginAnswer{"127.0.0.1", std::to_string(settings.port), settings.user, settings.password});
  ScopedUiProvider scope(user);
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);
  EXPECT_EQ(server->UserName(), settings.user);
}

TEST(ServerHandles, NewHandleIsIndependent) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings, /*with_database=*/true);
  // Works while the component itself is disconnected.
  MySQLHandle* extra = server->NewHandle();
  ASSERT_NE(extra, nullptr);
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(QueryText(extra, "select database()"), "<null>");
  EXPECT_TRUE(server->SelectDatabase(extra, settings.database));
  EXPECT_EQ(QueryText(extra, "select database()"), settings.database);
  EXPECT_FALSE(server->Connected());  // a foreign handle does not connect the component

  server->Connect();
  EXPECT_NE(QueryText(extra, "select connection_id()"),
            QueryText(server->Handle(), "select connection_id()"));
  EXPECT_THROW(server->SelectDatabase(extra, "quill_no_such_database"), EDatabaseError);
  EXPECT_TRUE(server->SelectDatabase(extra, ""));

  // The component's own handle is not dropped; others are, once.
  MySQLHandle* own = server->Handle();
  server->DropHandle(own);
  EXPECT_EQ(own, server->Handle());
  EXPECT_TRUE(server->Connected());
  server->DropHandle(extra);
  EXPECT_EQ(extra, nullptr);
  server->DropHandle(extra);
  EXPECT_EQ(extra, nullptr);
}

TEST(ServerHandles, SelectDatabaseConnectsTheComponentFirst) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings, /*with_database=*/true);
  server->Connect();  // connecting selects DatabaseName
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);
  server = ServerFor(settings);
  EXPECT_TRUE(server->SelectDatabase(server->Handle(), settings.database));
  ASSERT_TRUE(server->Connected());
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);
}

TEST(ServerHandles, ReconnectsAutomaticallyAfterALostConnection) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings, /*with_database=*/true);
  server->Connect();
  const std::string id = QueryText(server->Handle(), "select connection_id()");
  auto killer = ServerFor(settings);
  killer->Connect();
  ASSERT_TRUE(killer->RunStatement("kill connection " + id));

  // The first statement on the dead connection reconnects and runs.
  EXPECT_TRUE(server->RunStatement("do 1"));
  EXPECT_NE(QueryText(server->Handle(), "select connection_id()"), id);
  EXPECT_EQ(QueryText(server->Handle(), "select database()"), settings.database);
  EXPECT_EQ(QueryText(server->Handle(), "select @@character_set_connection"), "utf8mb4");
}

TEST(ServerHandles, ReloadPrivileges) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->ReloadPrivileges();  // connects first
  EXPECT_TRUE(server->Connected());
  server->ReloadPrivileges();
}

TEST(ServerDatasets, DisconnectClosesOpenDatasetsLastAttachedFirst) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  std::vector<std::string> closed;
  StandInDataset a(*server, "a", &closed), b(*server, "b", &closed), c(*server, "c", &closed),
      idle(*server, "idle", &closed);
  a.Open();
  b.Open();
  idle.Open();
  idle.Close();  // detached again
  c.Open();
  ASSERT_EQ(server->DatasetCount(), 3);

  server->Disconnect();
  EXPECT_EQ(closed, (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_FALSE(a.IsOpen() || b.IsOpen() || c.IsOpen());
  EXPECT_TRUE(a.HandleLiveAtClose() && b.HandleLiveAtClose() && c.HandleLiveAtClose());
  EXPECT_EQ(server->DatasetCount(), 0);
}

TEST(ServerDatasets, SamePortStillClosesEveryOpenDataset) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  std::vector<std::string> closed;
  StandInDataset a(*server, "a", &closed), b(*server, "b", &closed);
  a.Open();
  b.Open();
  server->SetPort(server->Port());
  EXPECT_EQ(closed, (std::vector<std::string>{"b", "a"}));
  EXPECT_FALSE(server->Connected());
}

TEST(ServerDatasets, DestroyingAndDestroyedDatasetsAreLeftAlone) {
  QUILL_REQUIRE_SERVER(settings);
  auto server = ServerFor(settings);
  server->Connect();
  std::vector<std::string> closed;
  auto gone = std::make_unique<StandInDataset>(*server, "gone", &closed);
  StandInDataset dying(*server, "dying", &closed), kept(*server, "kept", &closed);
  gone->Open();
  dying.Open();
  kept.Open();
  dying.MarkDestroying();
  // Destroyed while still attached: only the destruction notice removes it.
  gone->ForgetToDetach();
  gone.reset();
  EXPECT_EQ(server->DatasetCount(), 2);
  server->Disconnect();
  EXPECT_EQ(closed, std::vector<std::string>{"kept"});
  EXPECT_TRUE(dying.IsOpen());
}

TEST(ServerDatasets, DestroyingTheServerDisconnectsWithEvents) {
  QUILL_REQUIRE_SERVER(settings);
  std::vector<std::string> closed;
  EventLog log;
  auto server = ServerFor(settings);
  StandInDataset a(*server, "a", &closed);
  server->Connect();
  a.Open();
  log.Watch(*server);
  server.reset();
  EXPECT_EQ(closed, std::vector<std::string>{"a"});
  EXPECT_EQ(log.entries, (std::vector<std::string>{"BeforeDisconnect:on", "AfterDisconnect:off"}));
  // The dataset heard of the destruction and can still be closed safely.
  a.Open();
  a.Close();
}

}  // namespace
}  // namespace quill::test
