// The main dialog's controls, menus, window timers, message boxes, string and icon resources and
// the minimized window's paint, on the system's own calls.
#include "platform/dialog.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_dialog.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// The core's timer procedures by window and timer identifier. Only the user-interface thread
// touches it.
using TimerKey = std::pair<HWND, UINT_PTR>;
std::map<TimerKey, plat::TimerProc>& TimerTable() {
    static std::map<TimerKey, plat::TimerProc> table;
    return table;
}

// The one timer procedure handed to the system: TIMERPROC as the system's headers declare it, so
// the compiler checks its calling convention and arguments. It calls the core's procedure for
// that window and identifier.
VOID CALLBACK TimerTrampoline(HWND window, UINT, UINT_PTR timerId, DWORD) {
    const auto& table = TimerTable();
    auto found = table.find({window, timerId});
    if (found == table.end())
        return;
    // Copied first: the procedure may stop or replace its own timer.
    plat::TimerProc callback = found->second;
    if (callback != nullptr)
        callback();
}

HINSTANCE Program() {
    return GetModuleHandleA(nullptr);
}

// The framework's application name: the program file's name without its folder and extension.
std::string ApplicationName() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return "Skyrelay";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2); // cut short: ask again with room to spare
    }
    std::string name(path.begin(), path.end());
    auto slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

} // namespace

namespace win32 {

void ForgetTimers(HWND window) {
    auto& table = TimerTable();
    for (auto it = table.begin(); it != table.end();)
        it = it->first.first == window ? table.erase(it) : std::next(it);
}

} // namespace win32

namespace plat {

void SetControlText(Window dialog, int controlId, const char* text) {
    SetDlgItemTextA(win32::ToHwnd(dialog), controlId, text);
}

Menu GetWindowMenu(Window dialog) {
    return win32::FromHmenu(GetMenu(win32::ToHwnd(dialog)));
}

void EnableMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    EnableMenuItem(win32::ToHmenu(menu), commandId, MF_BYCOMMAND | flags);
}

void CheckMenuCommand(Menu menu, unsigned commandId, std::uint32_t flags) {
    CheckMenuItem(win32::ToHmenu(menu), commandId, MF_BYCOMMAND | flags);
}

TimerId StartTimer(Window dialog, unsigned timerId, unsigned periodMs, TimerProc callback) {
    HWND window = win32::ToHwnd(dialog);
    UINT_PTR started = SetTimer(window, timerId, periodMs, &TimerTrampoline);
    if (started != 0)
        TimerTable()[{window, started}] = callback; // the same id again replaces the earlier one
    return started;
}

void StopTimer(Window dialog, TimerId timerId) {
    HWND window = win32::ToHwnd(dialog);
    KillTimer(window, timerId);
    TimerTable().erase({window, timerId});
}

int ShowMessageBox(Window owner, const char* text, const char* caption, std::uint32_t style) {
    return MessageBoxA(win32::ToHwnd(owner), text, caption, style);
}

int ShowAppMessageBox(const char* text, std::uint32_t style) {
    // AfxMessageBox: owned by the running main dialog, captioned with the application's name.
    return MessageBoxA(win32::RunningMainDialog(), text, ApplicationName().c_str(), style);
}

std::string LoadResourceString(unsigned stringId) {
    // LoadStringA cuts a text to the buffer and says how much it copied: a copy that fills the
    // buffer may have been cut, so it is read again with more room.
    std::vector<char> buffer(256);
    for (;;) {
        int length =
            LoadStringA(Program(), stringId, buffer.data(), static_cast<int>(buffer.size()));
        if (length <= 0)
            return {};
        if (static_cast<std::size_t>(length) + 1 < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

Menu GetWindowSystemMenu(Window window) {
    return win32::FromHmenu(GetSystemMenu(win32::ToHwnd(window), FALSE));
}

int AppendMenuCommand(Menu menu, std::uint32_t flags, unsigned commandId, const char* text) {
    return AppendMenuA(win32::ToHmenu(menu), flags, commandId, text) ? 1 : 0;
}

Icon LoadAppIcon(int iconId) {
    return win32::FromHicon(LoadIconA(Program(), win32::ResourceName(nullptr, iconId)));
}

void SetWindowIcon(Window window, int which, Icon icon) {
    SendMessageA(win32::ToHwnd(window), WM_SETICON, static_cast<WPARAM>(which),
                 reinterpret_cast<LPARAM>(win32::ToHicon(icon)));
}

bool IsWindowMinimized(Window window) {
    return IsIconic(win32::ToHwnd(window)) != FALSE;
}

Extent SystemIconSize() {
    return {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

Extent ClientAreaSize(Window window) {
    RECT client{};
    if (!GetClientRect(win32::ToHwnd(window), &client))
        return {};
    return {client.right - client.left, client.bottom - client.top};
}

void PaintIconAt(Window window, Icon icon, int x, int y) {
    HWND hwnd = win32::ToHwnd(window);
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(hwnd, &paint);
    SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    DrawIcon(dc, x, y, win32::ToHicon(icon));
    EndPaint(hwnd, &paint);
}

} // namespace plat
