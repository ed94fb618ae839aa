// ui_services.h: the user-interface services the system may ask for.
//
// The server host has no user, so the default provider answers every
// request at once as a user who cancels: defaults are kept and dialogs
// answer false. A host with a user, or a test that plays one, installs its
// own provider with SetUiProvider. Providers only show and answer; what a
// dialog's answer means (which texts to take, what to do on Cancel) is
// decided by the caller.
//
// Text is UTF-8 throughout.
#ifndef QUILL_PLATFORM_UI_UI_SERVICES_H_
#define QUILL_PLATFORM_UI_UI_SERVICES_H_

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace quill::ui {

// Message box buttons (the low four bits of the flags).
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_CANCELTRYCONTINUE = 0x6;
inline constexpr unsigned MB_TYPEMASK = 0xF;
// Icons.
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
// Behaviour.
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_APPLMODAL = 0x0;
inline constexpr unsigned MB_TASKMODAL = 0x2000;
inline constexpr unsigned MB_SETFOREGROUND = 0x10000;

// Message box results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;

// The answer of a user who dismisses a message box with these flags without
// choosing: Cancel where there is one, otherwise OK, No or Abort.
int CancelAnswer(unsigned flags);

// What the login form shows and what the user leaves in it. The caller
// fills it in before the form is shown and reads it back after OK.
struct LoginFormState {
  enum class Control { kHost, kPort, kUserName, kPassword };

  std::string caption = "Database Login";
  std::string host;       // the server host box
  std::string port;       // the port box: digits only, no placeholders
  std::string user_name;
  std::string password;   // shown masked
  Control initial_focus = Control::kPassword;
  size_t port_max_length = 5;
  size_t user_name_max_length = 31;
  size_t password_max_length = 31;
  char password_mask = '*';
  // Width in pixels (at 96 dpi) of the host box; the caller narrows it so
  // that it fits its panel.
  int host_box_width = 0;
};

// One implementation answers all requests. Calls may come from any thread.
class UiProvider {
 public:
  virtual ~UiProvider() = default;

  // Shows `text` under `caption` with the buttons and icon of `flags`
  // (MB_*); answers the ID* of the button chosen.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;

  // The one-line input box. Answers the text entered on OK, or
  // `default_value` on Cancel.
  virtual std::string InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& default_value) = 0;

  // The input prompt: `value` holds the initial text and, on OK, the text
  // entered; a non-zero `mask` hides the typed characters behind it.
  // Answers true on OK; on Cancel answers false and leaves `value`.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                          std::string& value, char mask) = 0;

  // The login form over `state`. Answers true on OK with the four texts as
  // the user left them; on Cancel answers false and leaves `state`.
  virtual bool LoginForm(LoginFormState& state) = 0;

  // A busy indication (hourglass cursor) around long work. Calls nest;
  // every BeginBusy is matched by one EndBusy.
  virtual void BeginBusy() = 0;
  virtual void EndBusy() = 0;
};

// The provider of a host without a user: answers at once as a user who
// cancels, shows nothing.
class DefaultUiProvider final : public UiProvider {
 public:
  // CancelAnswer(flags).
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // `default_value`.
  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& default_value) override;
  // false; `value` unchanged.
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  char mask) override;
  // false; `state` unchanged.
  bool LoginForm(LoginFormState& state) override;
  // Only counts the nesting depth; an EndBusy without BeginBusy is ignored.
  void BeginBusy() override;
  void EndBusy() override;

  int busy_depth() const { return busy_depth_.load(); }

 private:
  std::atomic<int> busy_depth_{0};
};

// The provider in use; never null (the default one until another is set).
std::shared_ptr<UiProvider> CurrentUiProvider();

// Installs `provider` for the whole process (null restores the default one)
// and answers the one it replaces. Calls already running on the old
// provider finish on it.
std::shared_ptr<UiProvider> SetUiProvider(std::shared_ptr<UiProvider> provider);

// Shows the busy indication for the lifetime of the guard, on the provider
// that was current when it was made.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  std::shared_ptr<UiProvider> provider_;
};

}  // namespace quill::ui

#endif  // QUILL_PLATFORM_UI_UI_SERVICES_H_
