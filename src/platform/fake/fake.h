// The fake backend's controls, for tests: a log of every platform call, failure injection for the
// Nth call of any operation, and the state behind the main dialog, timers, message boxes, COM and
// the session event. Each capability's fake keeps its own state and registers a reset.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake {

// Resets every fake capability (log, injected failures, dialog, timers, boxes, DirectPlay, ...).
void ResetAll();

// Registers a capability's reset; use as a namespace-scope object in the capability's source.
struct ResetHook {
    explicit ResetHook(void (*reset)());
};

// ---- call log and failure injection ---------------------------------------------------------

// Every fake operation calls Enter with its name and a readable rendering of its arguments. The
// line "Name args" is logged, the operation's call count advances, and the injected result for
// this call, if any, is returned.
std::optional<long> Enter(std::string_view operation, const std::string& arguments = {});

// Makes the nth call (1-based, counted since the last reset) of an operation fail with a result;
// nth 0 makes every call fail.
void FailCall(std::string_view operation, int nth, long result);

const std::vector<std::string>& Calls();
// The logged lines of one operation ("Name" or "Name args...").
std::vector<std::string> CallsOf(std::string_view operation);
int CallCount(std::string_view operation);
// Clears the logged lines; call counts and injected failures stay.
void ClearCalls();

// ---- main dialog, menus, timers, message boxes ------------------------------------------------

// The window handle that stands for the main dialog.
plat::Window MainWindow();
// The main dialog's menu.
plat::Menu MainMenu();

// Text of a control of the main dialog ("" if never set, as control 104 starts).
std::string ControlText(int controlId);
// Every text ever set on a control, in order.
std::vector<std::string> ControlTextHistory(int controlId);
void SetInitialControlText(int controlId, const std::string& text);

struct MenuItemState {
    bool grayed = false;
    bool checked = false;
};
MenuItemState MenuItem(unsigned commandId);

struct TimerState {
    unsigned periodMs = 0;
    plat::TimerProc callback = nullptr;
};
bool TimerRunning(unsigned timerId);
std::optional<TimerState> Timer(unsigned timerId);
// Runs a running timer's callback once, as a tick would; false if the timer is not running.
bool FireTimer(unsigned timerId);

struct MessageBoxRecord {
    bool owned = false;  // owned by a window (the main dialog), or none
    bool appBox = false; // the framework's box (AfxMessageBox)
    std::string text;
    std::string caption; // "" for the framework's box
    std::uint32_t style = 0;
};
const std::vector<MessageBoxRecord>& MessageBoxes();
std::vector<std::string> MessageBoxTexts();
// Runs while a box is "open", before it returns: a test can make timers tick inside a box.
void WhileMessageBoxOpen(std::function<void(const MessageBoxRecord&)> action);

// The main dialog's system menu; GetWindowSystemMenu returns it unless SetHasSystemMenu(false).
plat::Menu MainSystemMenu();
void SetHasSystemMenu(bool has);

// Items appended to a menu with AppendMenuCommand, in order.
struct AppendedMenuItem {
    std::uint32_t flags = 0;
    unsigned commandId = 0;
    std::string text;
};
std::vector<AppendedMenuItem> AppendedItems(plat::Menu menu);

// The string table: string 101 starts as "&About Skyrelay"; "" removes a string.
void SetResourceString(unsigned stringId, const std::string& text);

// Icon 103 as LoadAppIcon returns it, and the icons a window was given (null if never set).
plat::Icon AppIcon();
plat::Icon WindowIcon(plat::Window window, int which);

// The minimized window: whether it is, the metrics the paint reads, and the icons painted.
void SetMinimized(bool minimized);
void SetSystemIconSize(plat::Extent size);
void SetClientAreaSize(plat::Extent size);
struct IconPaint {
    plat::Icon icon = nullptr;
    int x = 0;
    int y = 0;
};
const std::vector<IconPaint>& IconPaints();

// Runs inside the main dialog's modal run (template 102), right after its OnInitDialog, with the
// dialog's window and handler: a test delivers commands and timer ticks there as a user would.
// Without it the modal run ends after OnInitDialog.
void WhileMainDialogRuns(std::function<void(plat::Window, plat::DialogHandler&)> action);

// ---- COM, the session event -------------------------------------------------------------------

bool ComInitialized();
int LiveEvents();
bool EventSignalled(plat::Event event);
// Runs inside WaitForEventOrInput (for example to deliver a message while the pump waits).
void WhileWaiting(std::function<void()> action);

} // namespace fake
