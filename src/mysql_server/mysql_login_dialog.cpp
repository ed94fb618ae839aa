// The login dialog's logic over the UI provider's login form: fill the form
// state, choose the first focus, fit the host box, take the answers on OK.
#include "mysql_server/mysql_login_dialog.h"

#include <memory>

namespace quill {

namespace {

// The port box is a five-place digit mask: whatever the provider hands back,
// only the digits count, and no more than five of them.
std::string PortDigits(const std::string& text, size_t max_length) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9' && digits.size() < max_length) digits += c;
  }
  return digits;
}

}  // namespace

int FitHostBoxWidth(int left, int width, int panel_client_width) {
  if (left + width >= panel_client_width) return panel_client_width - left - 5;
  return width;
}

bool ShowLoginDialog(std::string& host, std::string& port, std::string& user_name,
                     std::string& password) {
  return ShowLoginDialog(nullptr, host, port, user_name, password);
}

bool ShowLoginDialog(ui::UiProvider* provider, std::string& host, std::string& port,
                     std::string& user_name, std::string& password) {
  // Keep the provider alive for the whole call even if another is installed
  // meanwhile.
  std::shared_ptr<ui::UiProvider> current;
  if (provider == nullptr) {
    current = ui::CurrentUiProvider();
    provider = current.get();
  }

  using Control = ui::LoginFormState::Control;
  ui::LoginFormState state;
  state.caption = "Database Login";
  state.host = host;
  state.port = port;
  state.user_name = user_name;
  state.password.clear();
  state.initial_focus = user_name.empty() ? Control::kUserName : Control::kPassword;
  state.port_max_length = 5;
  state.user_name_max_length = 31;
  state.password_max_length = 31;
  state.password_mask = '*';
  state.host_box_width =
      FitHostBoxWidth(kLoginHostBoxLeft, kLoginHostBoxDesignWidth, kLoginPanelClientWidth);

  if (!provider->LoginForm(state)) return false;
  host = state.host;
  port = PortDigits(state.port, 5);
  user_name = state.user_name;
  password = state.password;
  return true;
}

}  // namespace quill
