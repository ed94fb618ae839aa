// Params and the login step of the connection component, without a server:
// every attempt goes to a closed local port, so the outcome shows which
// values the component used (the refusal names user and host) and whether
// it got as far as connecting at all.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "mysql_server/mysql_server.h"
#include "support/scripted_ui.h"

namespace quill {
namespace {

constexpr uint16_t kClosedPort = 1;

// A component aimed at the closed port, recording its events.
struct Fixture {
  TMySQLServer server;
  std::vector<std::string> events;
  Fixture() {
    server.SetHost("127.0.0.1");
    server.SetPort(kClosedPort);
    server.SetLoginPrompt(false);
    server.BeforeConnect = [this](TMySQLServer&) { events.push_back("BeforeConnect"); };
    server.AfterConnect = [this](TMySQLServer&) { events.push_back("AfterConnect"); };
  }
  // The message of the connect attempt, "<connected>" if there was none.
  std::string Attempt() {
    try {
      server.Connect();
    } catch (const Exception& e) {
      EXPECT_FALSE(server.Connected());
      EXPECT_EQ(server.Handle(), nullptr);
      return e.what();
    }
    return server.Connected() ? "<connected>" : "<no attempt>";
  }
};

const std::string kRefusedRoot = "Could not connect using: root@127.0.0.1";

TEST(ServerParams, FillOnlyEmptyProperties) {
  Fixture f;
  f.server.Params().Add("USER NAME=bob");
  f.server.Params().Add("PASSWORD=pw");
  f.server.Params().Add("HOST=10.1.1.1");
  // UserName keeps its default "root" and Host its value: the keys are ignored.
  EXPECT_EQ(f.Attempt(), kRefusedRoot);
  EXPECT_EQ(f.server.UserName(), "root");
  EXPECT_EQ(f.server.Password(), "pw");  // it was empty

  f.server.SetUserName("");
  EXPECT_EQ(f.Attempt(), "Could not connect using: bob@127.0.0.1");
  EXPECT_EQ(f.server.UserName(), "bob");
}

TEST(ServerParams, KeysIgnoreCaseAndMissingOnesGiveEmptyValues) {
  Fixture f;
  f.server.SetUserName("");
  EXPECT_EQ(f.Attempt(), "Could not connect using: @127.0.0.1");
  f.server.Params().Add("user name=carol");
  f.server.Params().Add("port=2");
  f.server.Params().Add("IdleTimer=45");
  EXPECT_EQ(f.Attempt(), "Could not connect using: carol@127.0.0.1");
  EXPECT_EQ(f.server.Port(), 2);
  EXPECT_EQ(f.server.IdleTimer(), 45u);
}

TEST(ServerParams, BadNumbersFailBeforeAnyAttemptAndChangeNothing) {
  struct Case {
    const char* line;
    const char* message;
  };
  const Case cases[] = {
      {"PORT=abc", "'abc' is not a valid integer value"},
      {"PORT=", "'' is not a valid integer value"},
      {"IDLETIMER=1.5", "'1.5' is not a valid integer value"},
      {"PORT=70000", "'70000' is out of range for Port (0..65535)"},
      {"PORT=-1", "'-1' is out of range for Port (0..65535)"},
      {"IDLETIMER=-5", "'-5' is out of range for IdleTimer (0..4294967295)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f;
    f.server.SetUserName("");
    f.server.Params().Add("USER NAME=bob");
    f.server.Params().Add("COMPRESSION=1");
    f.server.Params().Add(c.line);
    try {
      f.server.Connect();
      ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(f.server.Connected());
    EXPECT_EQ(f.server.UserName(), "");
    EXPECT_FALSE(f.server.Compression());
    EXPECT_EQ(f.server.Port(), kClosedPort);
    EXPECT_EQ(f.server.IdleTimer(), 30u);
    EXPECT_EQ(f.events, std::vector<std::string>{"BeforeConnect"});
  }
}

TEST(ServerParams, OnlyOneTurnsCompressionOn) {
  struct Case {
    const char* value;
    bool before, after;
  };
  const Case cases[] = {
      {"1", false, true}, {"yes", true, false}, {"true", true, false},
      {"0", true, false}, {"", true, false},    {" 1", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Fixture f;
    f.server.SetCompression(c.before);
    f.server.Params().Add(std::string("COMPRESSION=") + c.value);
    EXPECT_EQ(f.Attempt(), kRefusedRoot);
    EXPECT_EQ(f.server.Compression(), c.after);
  }
  // Without the key the property stays as it is.
  Fixture f;
  f.server.SetCompression(true);
  EXPECT_EQ(f.Attempt(), kRefusedRoot);
  EXPECT_TRUE(f.server.Compression());
}

TEST(ServerRefusal, NoHandleNoEventsAfterItAndRecoverable) {
  Fixture f;
  EXPECT_EQ(f.Attempt(), kRefusedRoot);
  EXPECT_EQ(f.events, std::vector<std::string>{"BeforeConnect"});
  EXPECT_EQ(f.server.Info(), "");  // never connected, never disconnected
  EXPECT_THROW(f.server.NewHandle(), EDatabaseError);
  // Statements and listings try to connect and report the same refusal.
  EXPECT_THROW(f.server.RunStatement("do 1"), EDatabaseError);
  TStringList list;
  list.Add("kept");
  EXPECT_THROW(f.server.GetTableNames("", list), EDatabaseError);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_THROW(f.server.ReloadPrivileges(), EDatabaseError);
}

// --- The login step ------------------------------------------------------------

using test::LoginAnswer;
using test::ScopedUiProvider;
using test::ScriptedUi;
using test::UiCall;

TEST(ServerLogin, OnLoginGetsACopyOfParamsAndItsEditsAreKept) {
  Fixture f;
  f.server.SetLoginPrompt(true);
  f.server.SetUserName("");
  f.server.Params().Add("USER NAME=first");
  const TStringList* seen = nullptr;
  int calls = 0;
  f.server.OnLogin = [&](TMySQLServer& sender, TStringList& params) {
    ++calls;
    EXPECT_EQ(&sender, &f.server);
    seen = &params;
    EXPECT_EQ(params.Value("USER NAME"), "first");
    params.SetValue("USER NAME", "second");
    // The component's list is untouched until the handler returns.
    EXPECT_EQ(sender.Params().Value("USER NAME"), "first");
  };
  auto user = std::make_shared<ScriptedUi>();
  ScopedUiProvider scope(user);
  EXPECT_EQ(f.Attempt(), "Could not connect using: second@127.0.0.1");
  EXPECT_EQ(calls, 1);
  EXPECT_NE(seen, &f.server.Params());
  EXPECT_EQ(f.server.Params().Value("USER NAME"), "second");
  EXPECT_TRUE(user->calls.empty());  // the handler replaces the dialog
}

TEST(ServerLogin, DefaultProviderCancelsWithoutAnError) {
  ui::SetUiProvider(nullptr);
  Fixture f;
  f.server.SetLoginPrompt(true);
  f.server.SetHost("");
  EXPECT_EQ(f.Attempt(), "<no attempt>");
  // The host box was answered with its default, then the dialog cancelled.
  EXPECT_EQ(f.server.Host(), "localhost");
  EXPECT_EQ(f.server.UserName(), "root");
  // No connection was made, so none is announced.
  EXPECT_EQ(f.events, std::vector<std::string>{"BeforeConnect"});
  // Operations that connect first do nothing either.
  EXPECT_FALSE(f.server.RunStatement("do 1"));
  TStringList list;
  list.Add("kept");
  f.server.GetTableNames("", list);
  EXPECT_EQ(list.Count(), 1);
  f.server.ReloadPrivileges();
  EXPECT_FALSE(f.server.Connected());
}

TEST(ServerLogin, EmptyHostIsAskedForThenTheDialogShown) {
  Fixture f;
  f.server.SetLoginPrompt(true);
  f.server.SetHost("");
  f.server.SetPassword("old");
  f.server.Params().Add("USER NAME=from-params");
  auto user = std::make_shared<ScriptedUi>();
  user->input_box_answers.push_back("127.0.0.1");
  user->login_player = [](ui::LoginFormState& s) {
    s.user_name = "typed";
    s.password = "secret";
    return true;
  };
  ScopedUiProvider scope(user);

  EXPECT_EQ(f.Attempt(), "Could not connect using: typed@127.0.0.1");
  ASSERT_EQ(user->calls.size(), 2u);
  const UiCall& asked = user->calls[0];
  EXPECT_EQ(asked.kind, UiCall::Kind::kInputBox);
  EXPECT_EQ(asked.caption, "MySQL Server");
  EXPECT_EQ(asked.text, "Server (DNS or IP)");
  EXPECT_EQ(asked.value, "localhost");
  const UiCall& form = user->calls[1];
  EXPECT_EQ(form.kind, UiCall::Kind::kLoginForm);
  EXPECT_EQ(form.login.host, "127.0.0.1");
  EXPECT_EQ(form.login.port, "1");
  EXPECT_EQ(form.login.user_name, "from-params");  // the key wins in the dialog
  EXPECT_EQ(form.login.password, "");
  EXPECT_EQ(f.server.UserName(), "typed");
  EXPECT_EQ(f.server.Password(), "secret");
}

TEST(ServerLogin, DialogAnswersBecomeTheParameters) {
  Fixture f;
  f.server.SetLoginPrompt(true);
  auto user = std::make_shared<ScriptedUi>();
  user->login_answers.push_back(LoginAnswer{"127.0.0.1", "2", "dave", ""});
  ScopedUiProvider scope(user);
  EXPECT_EQ(f.Attempt(), "Could not connect using: dave@127.0.0.1");
  ASSERT_EQ(user->calls.size(), 1u);  // the host was known: no input box
  EXPECT_EQ(user->calls[0].login.user_name, "root");
  EXPECT_EQ(user->calls[0].login.initial_focus, ui::LoginFormState::Control::kPassword);
  EXPECT_EQ(f.server.Port(), 2);
  EXPECT_EQ(f.server.UserName(), "dave");
  EXPECT_EQ(f.server.Password(), "");
}

TEST(ServerLogin, PortBoxWithoutAPortMeans3306) {
  for (const char* typed : {"", "99999"}) {
    SCOPED_TRACE(typed);
    Fixture f;
    f.server.SetLoginPrompt(true);
    // A bad PORT key stops the attempt right after the login step, so the
    // port the dialog produced can be read without connecting anywhere.
    f.server.Params().Add("PORT=abc");
    auto user = std::make_shared<ScriptedUi>();
    user->login_answers.push_back(LoginAnswer{"127.0.0.1", typed, "root", ""});
    ScopedUiProvider scope(user);
    EXPECT_EQ(f.Attempt(), "'abc' is not a valid integer value");
    EXPECT_EQ(f.server.Port(), 3306);
  }
}

TEST(ServerLogin, CancelledDialogLeavesEverything) {
  Fixture f;
  f.server.SetLoginPrompt(true);
  f.server.SetPassword("old");
  auto user = std::make_shared<ScriptedUi>();  // cancels
  ScopedUiProvider scope(user);
  EXPECT_EQ(f.Attempt(), "<no attempt>");
  EXPECT_EQ(user->CallsOf(UiCall::Kind::kLoginForm).size(), 1u);
  EXPECT_EQ(f.server.Host(), "127.0.0.1");
  EXPECT_EQ(f.server.Port(), kClosedPort);
  EXPECT_EQ(f.server.UserName(), "root");
  EXPECT_EQ(f.server.Password(), "old");
  EXPECT_EQ(f.events, std::vector<std::string>{"BeforeConnect"});
}

TEST(ServerLogin, SelectDatabaseWithNoConnectionTellsTheUser) {
  Fixture f;
  f.server.SetLoginPrompt(true);
  auto user = std::make_shared<ScriptedUi>();  // cancels the login
  ScopedUiProvider scope(user);
  EXPECT_TRUE(f.server.SelectDatabase(nullptr, ""));
  EXPECT_TRUE(user->calls.empty());
  EXPECT_FALSE(f.server.SelectDatabase(nullptr, "shop"));
  const auto messages = user->CallsOf(UiCall::Kind::kMessageBox);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Connection must be live to select database");
  EXPECT_EQ(messages[0].flags & ui::MB_TYPEMASK, ui::MB_OK);
  EXPECT_EQ(messages[0].flags & ui::MB_ICONERROR, ui::MB_ICONERROR);
}

}  // namespace
}  // namespace quill
