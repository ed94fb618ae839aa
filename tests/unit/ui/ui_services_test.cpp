// UI services: the default provider answers as a user who cancels, the
// provider can be swapped process-wide, and the scripted provider that other
// layers' tests use plays its script.
#include "platform/ui/ui_services.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/scripted_ui.h"

namespace {

using quill::test::LoginAnswer;
using quill::test::ScopedUiProvider;
using quill::test::ScriptedUi;
using quill::test::UiCall;
namespace ui = quill::ui;

TEST(DefaultUi, MessageBoxAnswersAsAUserWhoCancels) {
  ui::DefaultUiProvider p;
  const struct {
    unsigned flags;
    int answer;
  } rows[] = {
      {ui::MB_OK, ui::IDOK},
      {ui::MB_OK | ui::MB_ICONSTOP | ui::MB_SETFOREGROUND, ui::IDOK},
      {ui::MB_OKCANCEL, ui::IDCANCEL},
      {ui::MB_YESNOCANCEL | ui::MB_ICONQUESTION, ui::IDCANCEL},
      {ui::MB_RETRYCANCEL, ui::IDCANCEL},
      {ui::MB_CANCELTRYCONTINUE, ui::IDCANCEL},
      {ui::MB_YESNO, ui::IDNO},
      {ui::MB_ABORTRETRYIGNORE, ui::IDABORT},
  };
  for (const auto& r : rows) EXPECT_EQ(p.MessageBox("text", "caption", r.flags), r.answer) << r.flags;
}

TEST(DefaultUi, DialogsKeepTheirDefaultsAndAnswerFalse) {
  ui::DefaultUiProvider p;
  EXPECT_EQ(p.InputBox("MySQL Server", "Server (DNS or IP)", "localhost"), "localhost");
  std::string value = "initial";
  EXPECT_FALSE(p.InputQuery("Value for x", "x", value, '*'));
  EXPECT_EQ(value, "initial");
  ui::LoginFormState state;
  state.host = "db";
  state.port = "3306";
  state.user_name = "root";
  state.password = "secret";
  EXPECT_FALSE(p.LoginForm(state));
  EXPECT_EQ(state.host, "db");
  EXPECT_EQ(state.port, "3306");
  EXPECT_EQ(state.user_name, "root");
  EXPECT_EQ(state.password, "secret");
}

TEST(DefaultUi, BusyCountsNestingAndIgnoresUnmatchedEnds) {
  ui::DefaultUiProvider p;
  p.EndBusy();
  EXPECT_EQ(p.busy_depth(), 0);
  p.BeginBusy();
  p.BeginBusy();
  EXPECT_EQ(p.busy_depth(), 2);
  p.EndBusy();
  p.EndBusy();
  p.EndBusy();
  EXPECT_EQ(p.busy_depth(), 0);
}

TEST(UiProviderSlot, SwapsAndRestores) {
  std::shared_ptr<ui::UiProvider> original = ui::CurrentUiProvider();
  ASSERT_NE(original, nullptr);
  auto scripted = std::make_shared<ScriptedUi>();
  std::shared_ptr<ui::UiProvider> previous = ui::SetUiProvider(scripted);
  EXPECT_EQ(previous, original);
  EXPECT_EQ(ui::CurrentUiProvider(), scripted);
  // Null puts a default provider back rather than leaving nothing.
  EXPECT_EQ(ui::SetUiProvider(nullptr), scripted);
  ASSERT_NE(ui::CurrentUiProvider(), nullptr);
  EXPECT_EQ(ui::CurrentUiProvider()->MessageBox("t", "c", ui::MB_OKCANCEL), ui::IDCANCEL);
  ui::SetUiProvider(original);
  EXPECT_EQ(ui::CurrentUiProvider(), original);
}

TEST(UiProviderSlot, SwapsSafelyWhileOtherThreadsCall) {
  auto a = std::make_shared<ui::DefaultUiProvider>();
  auto b = std::make_shared<ui::DefaultUiProvider>();
  std::shared_ptr<ui::UiProvider> original = ui::SetUiProvider(a);
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        ui::BusyCursor busy;
        EXPECT_EQ(ui::CurrentUiProvider()->InputBox("c", "p", "d"), "d");
      }
    });
  }
  for (int i = 0; i < 2000; ++i) ui::SetUiProvider(i % 2 ? a : b);
  for (auto& t : callers) t.join();
  ui::SetUiProvider(original);
  // Each guard ended its busy state on the provider where it began it.
  EXPECT_EQ(a->busy_depth(), 0);
  EXPECT_EQ(b->busy_depth(), 0);
}

TEST(ScriptedUiProvider, PlaysItsScriptThenCancels) {
  auto scripted = std::make_shared<ScriptedUi>();
  scripted->message_box_answers = {ui::IDYES};
  scripted->input_box_answers = {std::string("db.example"), std::nullopt};
  scripted->input_query_answers = {std::string("42")};
  scripted->login_answers = {LoginAnswer{"h", "", "ann", "pw"}};
  ScopedUiProvider use(scripted);
  auto p = ui::CurrentUiProvider();

  EXPECT_EQ(p->MessageBox("Sure?", "Q", ui::MB_YESNO), ui::IDYES);
  EXPECT_EQ(p->MessageBox("Again?", "Q", ui::MB_YESNO), ui::IDNO);  // script used up
  EXPECT_EQ(p->InputBox("MySQL Server", "Server (DNS or IP)", "localhost"), "db.example");
  EXPECT_EQ(p->InputBox("MySQL Server", "Server (DNS or IP)", "localhost"), "localhost");
  std::string value = "7";
  EXPECT_TRUE(p->InputQuery("Value for n", "n", value, 0));
  EXPECT_EQ(value, "42");
  EXPECT_FALSE(p->InputQuery("Value for n", "n", value, 0));
  EXPECT_EQ(value, "42");

  ui::LoginFormState state;
  state.host = "localhost";
  state.port = "3306";
  state.user_name = "";
  state.initial_focus = ui::LoginFormState::Control::kUserName;
  EXPECT_TRUE(p->LoginForm(state));
  EXPECT_EQ(state.host, "h");
  EXPECT_EQ(state.port, "");
  EXPECT_EQ(state.user_name, "ann");
  EXPECT_EQ(state.password, "pw");
  EXPECT_FALSE(p->LoginForm(state));
  EXPECT_EQ(state.user_name, "ann");

  { ui::BusyCursor busy; }
  EXPECT_EQ(scripted->max_busy_depth, 1);
  EXPECT_EQ(scripted->busy_depth, 0);

  auto logins = scripted->CallsOf(UiCall::Kind::kLoginForm);
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(logins[0].login.host, "localhost");  // the form as it was shown
  EXPECT_EQ(logins[0].login.initial_focus, ui::LoginFormState::Control::kUserName);
  auto boxes = scripted->CallsOf(UiCall::Kind::kInputBox);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "MySQL Server");
  EXPECT_EQ(boxes[0].text, "Server (DNS or IP)");
  EXPECT_EQ(boxes[0].value, "localhost");
}

}  // namespace
