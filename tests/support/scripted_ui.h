// scripted_ui.h: a UI provider that plays a user from a script, for tests
// of any layer that shows dialogs.
//
//   auto ui = std::make_shared<quill::test::ScriptedUi>();
//   ui->login_answers.push_back(quill::test::LoginAnswer{"db", "3307", "ann", "pw"});
//   quill::test::ScopedUiProvider use(ui);
//   ... code under test ...
//   EXPECT_EQ(ui->calls.size(), 1u);
//
// Each request takes the next queued answer of its kind; with none queued
// it answers as the default provider does (the user cancels). Every request
// is recorded in `calls` with what the dialog showed.
#ifndef QUILL_TESTS_SUPPORT_SCRIPTED_UI_H_
#define QUILL_TESTS_SUPPORT_SCRIPTED_UI_H_

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui_services.h"

namespace quill::test {

// What the user types into the login form before pressing OK.
struct LoginAnswer {
  std::string host, port, user_name, password;
};

// One request as the provider saw it.
struct UiCall {
  enum class Kind { kMessageBox, kInputBox, kInputQuery, kLoginForm, kBeginBusy, kEndBusy };
  Kind kind;
  std::string caption;
  std::string text;   // message box text or prompt
  std::string value;  // default / initial value shown
  unsigned flags = 0;
  char mask = 0;
  ui::LoginFormState login;  // the form as shown (kLoginForm only)
};

class ScriptedUi final : public ui::UiProvider {
 public:
  // Scripted answers, taken front first. nullopt plays Cancel.
  std::deque<int> message_box_answers;
  std::deque<std::optional<std::string>> input_box_answers;
  std::deque<std::optional<std::string>> input_query_answers;
  std::deque<std::optional<LoginAnswer>> login_answers;
  // When set, plays the login form instead of login_answers.
  std::function<bool(ui::LoginFormState&)> login_player;

  std::vector<UiCall> calls;
  int busy_depth = 0;
  int max_busy_depth = 0;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kMessageBox, caption, text, "", flags, 0, {}});
    if (message_box_answers.empty()) return ui::CancelAnswer(flags);
    int answer = message_box_answers.front();
    message_box_answers.pop_front();
    return answer;
  }

  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& default_value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kInputBox, caption, prompt, default_value, 0, 0, {}});
    std::optional<std::string> answer = Take(input_box_answers);
    return answer ? *answer : default_value;
  }

  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  char mask) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kInputQuery, caption, prompt, value, 0, mask, {}});
    std::optional<std::string> answer = Take(input_query_answers);
    if (!answer) return false;
    value = *answer;
    return true;
  }

  bool LoginForm(ui::LoginFormState& state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kLoginForm, state.caption, "", "", 0, state.password_mask, state});
    if (login_player) return login_player(state);
    std::optional<LoginAnswer> answer = Take(login_answers);
    if (!answer) return false;
    state.host = answer->host;
    state.port = answer->port;
    state.user_name = answer->user_name;
    state.password = answer->password;
    return true;
  }

  void BeginBusy() override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kBeginBusy, "", "", "", 0, 0, {}});
    if (++busy_depth > max_busy_depth) max_busy_depth = busy_depth;
  }

  void EndBusy() override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back({UiCall::Kind::kEndBusy, "", "", "", 0, 0, {}});
    --busy_depth;
  }

  // The recorded calls of one kind.
  std::vector<UiCall> CallsOf(UiCall::Kind kind) const {
    std::vector<UiCall> out;
    for (const UiCall& c : calls) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }

 private:
  template <typename T>
  static std::optional<T> Take(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<T> answer = queue.front();
    queue.pop_front();
    return answer;
  }

  std::mutex mutex_;
};

// Installs a provider for one scope and puts the previous one back.
class ScopedUiProvider {
 public:
  explicit ScopedUiProvider(std::shared_ptr<ui::UiProvider> provider)
      : previous_(ui::SetUiProvider(std::move(provider))) {}
  ~ScopedUiProvider() { ui::SetUiProvider(previous_); }
  ScopedUiProvider(const ScopedUiProvider&) = delete;
  ScopedUiProvider& operator=(const ScopedUiProvider&) = delete;

 private:
  std::shared_ptr<ui::UiProvider> previous_;
};

}  // namespace quill::test

#endif  // QUILL_TESTS_SUPPORT_SCRIPTED_UI_H_
