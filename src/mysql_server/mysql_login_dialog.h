// The login dialog of the connection component: what it shows, where the
// cursor starts, how the host box fits its panel, and which answers it hands
// back. Drawing the form and playing the user belong to the UI provider
// (platform/ui/ui_services.h); on a host without a user the provider cancels
// at once, so a login never waits for anyone.
#pragma once

#include <string>

#include "platform/ui/ui_services.h"

namespace quill {

// Layout of the form, in pixels at 96 dpi: a 273 x 171 client area, the
// server part on a panel with a two-pixel bevel, the host box placed so that
// its designed right edge meets the panel's inner edge.
inline constexpr int kLoginPanelClientWidth = 253;
inline constexpr int kLoginHostBoxLeft = 64;
inline constexpr int kLoginHostBoxDesignWidth = 189;

// The width of a box at `left` designed `width` wide on a panel whose client
// area is `panel_client_width` wide: a box whose right edge reaches or passes
// the panel's edge is narrowed to end five pixels inside it.
int FitHostBoxWidth(int left, int width, int panel_client_width);

// Shows the login form with `host`, `port` (decimal text), `user_name` and an
// empty password box; the password passed in is not shown. The cursor
// starts in the password box, or in the user-name box when `user_name` is
// empty. On OK answers true and sets the four values to what the user left
// in the boxes (the port as the digits typed, at most five, possibly none).
// On Cancel answers false and changes nothing.
bool ShowLoginDialog(std::string& host, std::string& port, std::string& user_name,
                     std::string& password);

// As ShowLoginDialog, on the given provider (null: the current one).
bool ShowLoginDialog(ui::UiProvider* provider, std::string& host, std::string& port,
                     std::string& user_name, std::string& password);

}  // namespace quill
