// The main dialog as the core sees it: control texts, menu items, window timers, message boxes,
// and the modal run of a dialog whose events the backend hands to a handler of the core.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace plat {

// An icon loaded from the program's resources; null means none.
struct IconObject;
using Icon = IconObject*;

// Menu flags (MF_ values).
inline constexpr std::uint32_t MenuEnabled = 0x0000;   // MF_ENABLED
inline constexpr std::uint32_t MenuGrayed = 0x0001;    // MF_GRAYED
inline constexpr std::uint32_t MenuUnchecked = 0x0000; // MF_UNCHECKED
inline constexpr std::uint32_t MenuChecked = 0x0008;   // MF_CHECKED
inline constexpr std::uint32_t MenuString = 0x0000;    // MF_STRING
inline constexpr std::uint32_t MenuSeparator = 0x0800; // MF_SEPARATOR

// WM_SETICON's selectors.
inline constexpr int IconSmall = 0; // ICON_SMALL
inline constexpr int IconBig = 1;   // ICON_BIG

// Message box styles (MB_ values) and the button results.
inline constexpr std::uint32_t BoxOk = 0x0000;              // MB_OK, no icon
inline constexpr std::uint32_t BoxIconError = 0x0010;       // MB_ICONERROR
inline constexpr std::uint32_t BoxIconExclamation = 0x0030; // MB_ICONEXCLAMATION
inline constexpr int BoxResultOk = 1;                       // IDOK

// SetDlgItemText(window, control, text).
void SetControlText(Window dialog, int controlId, const char* text);

// GetMenu(window): the window's menu bar, null if it has none.
Menu GetWindowMenu(Window dialog);

// EnableMenuItem / CheckMenuItem by command identifier (MF_BYCOMMAND is implied).
void EnableMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags);
void CheckMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags);

// SetTimer(window, id, period, callback): returns the timer's identifier, 0 on failure. A timer
// set again with the same id on the same window replaces the earlier one.
TimerId StartTimer(Window dialog, unsigned timerId, unsigned periodMs, TimerProc callback);

// KillTimer(window, id): stopping a timer that is not running has no effect.
void StopTimer(Window dialog, TimerId timerId);

// MessageBoxA(owner, text, caption, style): modal; timers keep running while it is open. Returns
// the button that closed it.
int ShowMessageBox(Window owner, const char* text, const char* caption, std::uint32_t style);

// The framework's message box (AfxMessageBox): owned by the running dialog, captioned with the
// application's name, an OK button.
int ShowAppMessageBox(const char* text, std::uint32_t style);

// LoadString: the text of a string resource, "" when the program has no such string.
std::string LoadResourceString(unsigned stringId);

// GetSystemMenu(window, FALSE): the window's system menu, null if it has none.
Menu GetWindowSystemMenu(Window window);

// AppendMenuA(menu, flags, id, text): adds a text item (MenuString) or a separator (MenuSeparator,
// id and text unused) at the end of the menu. Non-zero on success.
int AppendMenuCommand(Menu menu, std::uint32_t flags, unsigned commandId, const char* text);

// LoadIconA(program, id): an icon of the program's resources, null if there is none.
Icon LoadAppIcon(int iconId);

// SendMessage(window, WM_SETICON, which, icon): sets the window's big or small icon.
void SetWindowIcon(Window window, int which, Icon icon);

// The minimized window's painting: IsIconic, the system's icon size (SM_CXICON, SM_CYICON), the
// client area's size (GetClientRect), and one paint that erases the icon background
// (WM_ICONERASEBKGND) and draws the icon with its top left corner at (x, y).
struct Extent {
    int width = 0;
    int height = 0;
};
bool IsWindowMinimized(Window window);
Extent SystemIconSize();
Extent ClientAreaSize(Window window);
void PaintIconAt(Window window, Icon icon, int x, int y);

} // namespace plat
