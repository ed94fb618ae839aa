// The login dialog's logic over a scripted user: what the form is given,
// where the cursor starts, how the host box fits, and which answers come
// back on OK and on Cancel.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "mysql_server/mysql_login_dialog.h"
#include "support/scripted_ui.h"

namespace quill {
namespace {

using Control = ui::LoginFormState::Control;
using test::ScriptedUi;
using test::UiCall;

// The login forms as the user saw them.
std::vector<ui::LoginFormState> Forms(const ScriptedUi& user) {
  std::vector<ui::LoginFormState> forms;
  for (const UiCall& call : user.CallsOf(UiCall::Kind::kLoginForm)) forms.push_back(call.login);
  return forms;
}

TEST(LoginDialog, FormShowsTheValuesButNotThePassword) {
  ScriptedUi user;  // cancels every form
  std::string host = "db.example", port = "3307", name = "web", password = "secret";
  EXPECT_FALSE(ShowLoginDialog(&user, host, port, name, password));
  name.clear();
  ShowLoginDialog(&user, host, port, name, password);
  const auto forms = Forms(user);
  ASSERT_EQ(forms.size(), 2u);
  const ui::LoginFormState& shown = forms[0];
  EXPECT_EQ(shown.caption, "Database Login");
  EXPECT_EQ(shown.host, "db.example");
  EXPECT_EQ(shown.port, "3307");
  EXPECT_EQ(shown.user_name, "web");
  EXPECT_EQ(shown.password, "");
  EXPECT_EQ(shown.port_max_length, 5u);
  EXPECT_EQ(shown.user_name_max_length, 31u);
  EXPECT_EQ(shown.password_max_length, 31u);
  EXPECT_EQ(shown.password_mask, '*');
  // The cursor starts in the password box, or in the user-name box when
  // there is no user name yet.
  EXPECT_EQ(forms[0].initial_focus, Control::kPassword);
  EXPECT_EQ(forms[1].initial_focus, Control::kUserName);
}

TEST(LoginDialog, HostBoxEndsFivePixelsInsideItsPanel) {
  // Reaching the edge or passing it narrows; a box well inside keeps its width.
  EXPECT_EQ(FitHostBoxWidth(64, 189, 253), 184);
  EXPECT_EQ(FitHostBoxWidth(64, 300, 253), 184);
  EXPECT_EQ(FitHostBoxWidth(64, 188, 253), 188);
  EXPECT_EQ(FitHostBoxWidth(10, 100, 253), 100);

  ScriptedUi user;
  std::string host, port, name, password;
  ShowLoginDialog(&user, host, port, name, password);
  const auto forms = Forms(user);
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].host_box_width, kLoginPanelClientWidth - kLoginHostBoxLeft - 5);
  EXPECT_LE(kLoginHostBoxLeft + forms[0].host_box_width, kLoginPanelClientWidth);
}

TEST(LoginDialog, OkTakesWhatTheUserLeft) {
  ScriptedUi user;
  user.login_answers.push_back(test::LoginAnswer{"other.example", "3310", "admin", "typed"});
  std::string host = "h", port = "3306", name = "web", password = "old";
  EXPECT_TRUE(ShowLoginDialog(&user, host, port, name, password));
  EXPECT_EQ(host, "other.example");
  EXPECT_EQ(port, "3310");
  EXPECT_EQ(name, "admin");
  EXPECT_EQ(password, "typed");
  // An untouched password box gives an empty password.
  user.login_player = [](ui::LoginFormState&) { return true; };
  EXPECT_TRUE(ShowLoginDialog(&user, host, port, name, password));
  EXPECT_EQ(password, "");
  EXPECT_EQ(name, "admin");
}

TEST(LoginDialog, PortIsTheDigitsTypedAtMostFive) {
  struct Case {
    const char* typed;
    const char* port;
  };
  const Case cases[] = {
      {"3306", "3306"}, {"", ""},             {"   ", ""}, {" 33 06", "3306"},
      {"12a3", "123"},  {"1234567", "12345"}, {"-1", "1"}, {"\xD9\xA3", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    ScriptedUi user;
    user.login_answers.push_back(test::LoginAnswer{"h", c.typed, "web", ""});
    std::string host = "h", port = "3306", name = "web", password;
    ASSERT_TRUE(ShowLoginDialog(&user, host, port, name, password));
    EXPECT_EQ(port, c.port);
  }
}

TEST(LoginDialog, CancelChangesNothing) {
  ScriptedUi user;
  // Even a provider that scribbles on the form before cancelling.
  user.login_player = [](ui::LoginFormState& s) {
    s.host = "x";
    s.port = "1";
    s.user_name = "y";
    s.password = "z";
    return false;
  };
  std::string host = "h", port = "3306", name = "web", password = "old";
  EXPECT_FALSE(ShowLoginDialog(&user, host, port, name, password));
  EXPECT_EQ(host, "h");
  EXPECT_EQ(port, "3306");
  EXPECT_EQ(name, "web");
  EXPECT_EQ(password, "old");
}

TEST(LoginDialog, AsksTheInstalledProviderAndTheDefaultOneCancels) {
  std::string host = "h", port = "3306", name = "web", password = "old";
  ui::SetUiProvider(nullptr);
  EXPECT_FALSE(ShowLoginDialog(host, port, name, password));
  EXPECT_EQ(password, "old");

  auto user = std::make_shared<ScriptedUi>();
  user->login_answers.push_back(test::LoginAnswer{"h", "3306", "web", "pw"});
  test::ScopedUiProvider scope(user);
  EXPECT_TRUE(ShowLoginDialog(host, port, name, password));
  EXPECT_EQ(password, "pw");
  EXPECT_EQ(user->CallsOf(UiCall::Kind::kLoginForm).size(), 1u);
}

}  // namespace
}  // namespace quill
