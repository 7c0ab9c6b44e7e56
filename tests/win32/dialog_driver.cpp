// Drives the real Skyrelay.exe from outside, as a user would, and checks what it shows: the main
// dialog's caption and texts, its menus' check marks and gray states (read from inside through
// the probe), message boxes, the About box, the settings file, the ways out and "AIFile" after
// the exit, which it keeps open across the exit; and, in a session, what another process reads in
// "AIFile" and that the pump has stopped. Usage: dialog_driver SKYRELAY.EXE STEP... (see Usage
// below). Prints one line per step; at the first failure it ends the programs it started and
// exits 1.
#include "dialog_probe.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr char Usage[] =
    "usage: dialog_driver SKYRELAY.EXE STEP...\n"
    "steps: sim=PROGRAM.EXE [ARGS]  start  box=TEXT  freebox=TEXT  ready  caption=TEXT  "
    "status=TEXT  path=TEXT\n"
    "       menu=LAYOUT  states=ID:STATE,...  sysmenu=END  icons=BIG,SMALL,DRAG  command=ID  "
    "syscommand=ID\n"
    "       ini=KEY:VALUE  browse=ok|cancel  about  key=enter|escape  limit=MS  aifile=FILE  "
    "stats=FILE  still=MS\n"
    "       picture=HEX  reader=FILE  idle  simagain  minimize  second  nobox  exited  "
    "exited=HEX\n"
    "limit=MS: the waits of the steps after it last up to MS (default 8000).\n"
    "idle: the relay's thread is back in its message loop (what it was doing has ended).\n"
    "aifile=FILE: skyrelay-aifile.exe --json, from the driver's folder, reads \"AIFile\" into "
    "FILE.\n"
    "stats=FILE: skyrelay-aifile.exe --stats --json reads the relay's counters into FILE.\n"
    "picture=HEX: \"AIFile\" holds these bytes, then zeros, as if the relay had written them.\n"
    "reader=FILE: read_aifile.exe, the example reader, reads both blocks into FILE.\n"
    "still=MS: \"AIFile\" filled with a pattern is still untouched MS later (no pump runs).\n"
    "simagain: the simulator started by sim= is ended and started again: a new window.\n"
    "second: another copy of the relay ends with status 3, showing no window, and the running\n"
    "relay's main dialog is there and not minimized.\n"
    "nobox: the relay's thread is idle and shows no box or other dialog.\n"
    "exited=HEX: as exited, with the records starting with these bytes instead of zeros.\n";

constexpr DWORD WaitMs = 8000;          // by default, for any one thing to appear or change
constexpr DWORD WholeRunMs = 90000;     // the watchdog's limit for the whole run
constexpr DWORD AiFileSize = 28680;     // the block: 8-byte header and 512 records of 56 bytes
constexpr unsigned char Pattern = 0xA5; // what the relay's copies must overwrite
constexpr int StatusControl = 104;
constexpr int PathControl = 1007;
constexpr int BoxTextControl = 0xFFFF; // the message box's text

DWORD waitLimitMs = WaitMs;
PROCESS_INFORMATION relay{};
PROCESS_INFORMATION sim{};
std::string simCommand; // the sim= step's program and arguments, for simagain
HWND mainDialog = nullptr;
HANDLE aiFile = nullptr;
unsigned char* aiView = nullptr;
HANDLE probeMapping = nullptr;
ProbeAnswer* probe = nullptr;

void EndStarted() {
    RemoveProbe();
    for (PROCESS_INFORMATION* process : {&relay, &sim})
        if (process->hProcess != nullptr) {
            TerminateProcess(process->hProcess, 3);
            WaitForSingleObject(process->hProcess, 5000);
            CloseHandle(process->hProcess);
            CloseHandle(process->hThread);
            process->hProcess = nullptr;
        }
}

[[noreturn]] void Fail(const std::string& step, const std::string& why) {
    std::printf("FAIL %s: %s\n", step.c_str(), why.c_str());
    std::fflush(stdout);
    EndStarted();
    std::exit(1);
}

DWORD WINAPI Watchdog(LPVOID) {
    Sleep(WholeRunMs);
    std::printf("FAIL: the run took longer than %lu ms\n", WholeRunMs);
    std::fflush(stdout);
    EndStarted();
    ExitProcess(2);
}

// Polls a condition until it holds or the wait runs out.
template <typename Condition> bool WaitFor(Condition condition, DWORD limitMs = waitLimitMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start > limitMs)
            return false;
        Sleep(50);
    }
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ControlText(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The relay's top-level dialogs (class "#32770"): its main dialog, boxes and the About box.
BOOL CALLBACK CollectDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == relay.dwProcessId && ClassOf(window) == "#32770")
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> RelayDialogs() {
    std::vector<HWND> found;
    EnumWindows(&CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindMainDialog() {
    for (HWND window : RelayDialogs())
        if (GetDlgItem(window, PathControl) != nullptr)
            return window;
    return nullptr;
}

HWND FindOther(const char* caption) {
    for (HWND window : RelayDialogs())
        if (GetDlgItem(window, PathControl) == nullptr &&
            (caption == nullptr || WindowText(window) == caption))
            return window;
    return nullptr;
}

// Starts PROGRAM with ARGS; with `output`, its standard output goes to that file.
void Start(const std::string& step, const std::string& program, const std::string& args,
           PROCESS_INFORMATION* process, HANDLE output = nullptr) {
    std::string commandLine = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0,
                        nullptr, nullptr, &startup, process))
        Fail(step, "cannot start " + program + ", error " + std::to_string(GetLastError()));
}

// "Z:\\bin\\skyrelay-sim.exe --log Z:\\sim.log": the program is everything up to ".exe".
void StartSim(const std::string& step, const std::string& value) {
    std::size_t end = value.find(".exe");
    if (end == std::string::npos)
        Fail(step, "no .exe program");
    end += 4;
    simCommand = value;
    Start(step, value.substr(0, end), end < value.size() ? value.substr(end + 1) : "", &sim);
}

// The simulator ends as if killed, and the same program starts again with a window of its own.
void RestartSim(const std::string& step) {
    if (sim.hProcess == nullptr)
        Fail(step, "no simulator was started");
    TerminateProcess(sim.hProcess, 3);
    WaitForSingleObject(sim.hProcess, 5000);
    CloseHandle(sim.hProcess);
    CloseHandle(sim.hThread);
    sim = PROCESS_INFORMATION{};
    StartSim(step, simCommand);
}

// What another process reads in "AIFile" (or with --stats, in the relay's counters): the
// program (skyrelay-aifile.exe by default) with these options, beside this driver, its output kept
// in `file` for the script to check.
void ReadAiFile(const std::string& step, const std::string& file, const char* options,
                const char* program = "skyrelay-aifile.exe") {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string reader = self;
    reader = reader.substr(0, reader.find_last_of('\\') + 1) + program;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE output = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        Fail(step, "cannot write " + file);
    PROCESS_INFORMATION reading{};
    Start(step, reader, options, &reading, output);
    CloseHandle(output);
    DWORD status = 1;
    bool ended = WaitForSingleObject(reading.hProcess, waitLimitMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(reading.hProcess, 3);
    GetExitCodeProcess(reading.hProcess, &status);
    CloseHandle(reading.hProcess);
    CloseHandle(reading.hThread);
    if (!ended || status != 0)
        Fail(step, std::string(program) + " ended with status " + std::to_string(status));
}

// The relay's thread has come back to its message loop: a status line set in the middle of a
// timer tick says nothing of what the rest of the tick still writes.
void WaitIdle(const std::string& step) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(mainDialog, WM_NULL, 0, 0, SMTO_NORMAL, waitLimitMs, &result) == 0)
        Fail(step, "the relay's thread did not come back to its message loop");
}

// No pump runs: "AIFile", filled with the pattern, is still untouched `ms` later.
void CheckStill(const std::string& step, DWORD ms) {
    if (aiView == nullptr)
        Fail(step, "\"AIFile\" is not mapped (no ready step)");
    std::memset(aiView, Pattern, AiFileSize);
    Sleep(ms);
    for (DWORD i = 0; i < AiFileSize; ++i)
        if (aiView[i] != Pattern)
            Fail(step, "\"AIFile\"'s byte " + std::to_string(i) + " was written");
}

// A picture as the relay lays one out, while no pump runs to overwrite it: `bytes` (hex) at the
// front of "AIFile", zeros after them.
void PutPicture(const std::string& step, const std::string& bytes) {
    if (aiView == nullptr)
        Fail(step, "\"AIFile\" is not mapped (no ready step)");
    if (bytes.size() % 2 != 0 || bytes.size() / 2 > AiFileSize)
        Fail(step, "bad picture bytes " + bytes);
    for (DWORD i = 0; i < AiFileSize; ++i)
        aiView[i] =
            i < bytes.size() / 2
                ? static_cast<unsigned char>(std::stoul(bytes.substr(i * 2, 2), nullptr, 16))
                : 0;
}

void AskProbe(const std::string& step) {
    static const UINT ask = RegisterWindowMessageA(ProbeMessageName);
    LONG before = probe->serial;
    PostMessageA(mainDialog, ask, 0, 0);
    if (!WaitFor([&] { return probe->serial != before; }))
        Fail(step, "the probe inside the relay did not answer");
}

void Expect(const std::string& step, const std::string& what, const std::string& seen,
            const std::string& expected) {
    if (seen != expected)
        Fail(step, what + " is \"" + seen + "\", expected \"" + expected + "\"");
}

void WaitText(const std::string& step, int control, const std::string& expected) {
    if (!WaitFor([&] { return ControlText(mainDialog, control) == expected; }))
        Expect(step, "control " + std::to_string(control), ControlText(mainDialog, control),
               expected);
}

// The window's ready: visible, the probe installed in its thread, "AIFile" opened and filled with
// a pattern that the relay's final copy must overwrite.
void Ready(const std::string& step) {
    if (!WaitFor([] {
            mainDialog = FindMainDialog();
            return mainDialog != nullptr && IsWindowVisible(mainDialog);
        }))
        Fail(step, "the main dialog did not appear");
    if (!InstallProbe(GetWindowThreadProcessId(mainDialog, nullptr)))
        Fail(step, "cannot hook the relay's thread");
    aiFile = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, "AIFile");
    if (aiFile == nullptr)
        Fail(step, "no \"AIFile\" mapping while the relay runs");
    aiView = static_cast<unsigned char*>(MapViewOfFile(aiFile, FILE_MAP_WRITE, 0, 0, AiFileSize));
    if (aiView == nullptr)
        Fail(step, "cannot map \"AIFile\"");
    std::memset(aiView, Pattern, AiFileSize);
}

// A message box: its text, its caption "Skyrelay", and its owner (the main dialog, or none).
void CheckBox(const std::string& step, const std::string& text, bool owned) {
    HWND box = nullptr;
    // A box is filled in before it is shown.
    if (!WaitFor([&] { return (box = FindOther(nullptr)) != nullptr && IsWindowVisible(box); }))
        Fail(step, "no message box appeared");
    Expect(step, "the box's text", ControlText(box, BoxTextControl), text);
    Expect(step, "the box's caption", WindowText(box), "Skyrelay");
    HWND owner = GetWindow(box, GW_OWNER);
    if (owned && (owner == nullptr || owner != FindMainDialog()))
        Fail(step, "the box is not owned by the main dialog");
    if (!owned && owner != nullptr)
        Fail(step, "the box has an owner");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!WaitFor([&] { return !IsWindow(box); }))
        Fail(step, "the box did not close");
}

void CheckAbout(const std::string& step) {
    HWND about = nullptr;
    if (!WaitFor([&] {
            return (about = FindOther("About Skyrelay")) != nullptr && IsWindowVisible(about);
        }))
        Fail(step, "the About box did not appear");
    bool versionShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        versionShown = versionShown || WindowText(child) == "Skyrelay Version 2.0";
    if (!versionShown)
        Fail(step, "the About box does not say \"Skyrelay Version 2.0\"");
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(about); }))
        Fail(step, "OK did not close the About box");
}

// File > FS Path's folder browser, closed with OK on the folder it starts at (the desktop) or with
// Cancel. (Wine's browser ignores a folder typed into its edit box.)
void Browse(const std::string& step, const std::string& button) {
    HWND browser = nullptr;
    if (!WaitFor(
            [&] { return (browser = FindOther(nullptr)) != nullptr && IsWindowVisible(browser); }))
        Fail(step, "the folder browser did not appear");
    PostMessageA(GetDlgItem(browser, button == "ok" ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return !IsWindow(browser); }))
        Fail(step, "the folder browser did not close");
}

// An expected text with %DESKTOP% standing for the desktop folder's path.
std::string Expand(std::string text) {
    const std::string token = "%DESKTOP%";
    auto at = text.find(token);
    if (at == std::string::npos)
        return text;
    char desktop[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop);
    return text.replace(at, token.size(), desktop);
}

// "156:8,154:1": each item's check (8) and gray (1) bits as the probe read them.
void CheckStates(const std::string& step, const std::string& expected) {
    AskProbe(step);
    std::string menu = probe->menu;
    std::size_t start = 0;
    while (start < expected.size()) {
        std::size_t end = expected.find(',', start);
        if (end == std::string::npos)
            end = expected.size();
        std::string item = expected.substr(start, end - start);
        std::string id = item.substr(0, item.find(':'));
        std::string state = item.substr(item.find(':') + 1);
        std::size_t at = menu.find("=" + id + ",");
        if (at == std::string::npos)
            Fail(step, "no item " + id + " in the menu: " + menu);
        std::size_t value = at + id.size() + 2;
        std::string seen = menu.substr(value, menu.find_first_of(";|", value) - value);
        Expect(step, "item " + id + "'s state", seen, state);
        start = end + 1;
    }
}

void CheckIni(const std::string& step, const std::string& keyValue) {
    std::string key = keyValue.substr(0, keyValue.find(':'));
    std::string expected = keyValue.substr(keyValue.find(':') + 1);
    auto read = [&] {
        char value[256] = {};
        GetPrivateProfileStringA("Skyrelay", key.c_str(), "<missing>", value, sizeof value,
                                 "Skyrelay.ini");
        return std::string(value);
    };
    if (!WaitFor([&] { return read() == expected; }))
        Expect(step, "Skyrelay.ini's " + key, read(), expected);
}

void PostKey(WPARAM key) {
    PostMessageA(mainDialog, WM_KEYDOWN, key, 1);
    PostMessageA(mainDialog, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// Any visible top-level window of a process.
BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM process) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == static_cast<DWORD>(process) && IsWindowVisible(window) ? FALSE : TRUE;
}

// A second copy of the relay, started while the first runs: it ends by itself with status 3 and
// shows nothing, and the first's main dialog comes back from the taskbar.
void CheckSecond(const std::string& step, const char* program) {
    PROCESS_INFORMATION second{};
    DWORD started = GetTickCount();
    Start(step, program, "", &second);
    bool shown = false;
    bool ended = WaitFor([&] {
        shown = shown || !EnumWindows(&FindVisibleWindow, static_cast<LPARAM>(second.dwProcessId));
        return WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0;
    });
    DWORD tookMs = GetTickCount() - started;
    DWORD status = 0;
    if (!ended)
        TerminateProcess(second.hProcess, 4);
    GetExitCodeProcess(second.hProcess, &status);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    if (!ended)
        Fail(step, "the second copy did not end");
    if (status != 3)
        Fail(step, "the second copy ended with status " + std::to_string(status));
    if (shown)
        Fail(step, "the second copy showed a window");
    if (!WaitFor([] { return IsWindow(mainDialog) && !IsIconic(mainDialog); }))
        Fail(step, "the running relay's main dialog is gone or still minimized");
    std::printf("the second copy ended with status 3 after about %lu ms\n",
                static_cast<unsigned long>(tookMs));
}

// The relay has ended on its own with status 0, and its last copy left "AIFile" with both header
// words 0 and the records as `records` (hex) says, then zeros: with no traffic, all zeros.
void CheckExited(const std::string& step, const std::string& records) {
    if (WaitForSingleObject(relay.hProcess, waitLimitMs) != WAIT_OBJECT_0)
        Fail(step, "the relay did not end");
    DWORD status = 1;
    GetExitCodeProcess(relay.hProcess, &status);
    if (status != 0)
        Fail(step, "the relay ended with status " + std::to_string(status));
    if (aiView == nullptr)
        return;
    std::uint32_t header[2];
    std::memcpy(header, aiView, sizeof header);
    if (header[0] != 0 || header[1] != 0)
        Fail(step, "AIFile's header words are " + std::to_string(header[0]) + " and " +
                       std::to_string(header[1]));
    if (records.size() % 2 != 0 || records.size() / 2 > AiFileSize - 8)
        Fail(step, "bad record bytes " + records);
    for (DWORD i = 8; i < AiFileSize; ++i) {
        std::size_t at = (i - 8) * 2;
        unsigned expected =
            at < records.size() ? std::stoul(records.substr(at, 2), nullptr, 16) : 0;
        if (aiView[i] != expected)
            Fail(step, "AIFile's byte " + std::to_string(i) + " is " + std::to_string(aiView[i]) +
                           ", expected " + std::to_string(expected));
    }
}

void RunStep(const char* program, const std::string& step) {
    std::string name = step.substr(0, step.find('='));
    std::string value =
        step.find('=') == std::string::npos ? "" : Expand(step.substr(step.find('=') + 1));
    if (name == "sim")
        StartSim(step, value);
    else if (name == "start")
        Start(step, program, "", &relay);
    else if (name == "box")
        CheckBox(step, value, true);
    else if (name == "freebox")
        CheckBox(step, value, false);
    else if (name == "ready")
        Ready(step);
    else if (name == "caption")
        Expect(step, "the caption", WindowText(mainDialog), value);
    else if (name == "status")
        WaitText(step, StatusControl, value);
    else if (name == "path")
        WaitText(step, PathControl, value);
    else if (name == "menu") {
        AskProbe(step);
        Expect(step, "the menu", probe->menu, value);
    } else if (name == "states")
        CheckStates(step, value);
    else if (name == "sysmenu") {
        AskProbe(step);
        Expect(step, "the system menu's end", probe->systemMenu, value);
    } else if (name == "icons") {
        AskProbe(step);
        Expect(step, "the window's big, small and drag icons", probe->icons, value);
    } else if (name == "command")
        PostMessageA(mainDialog, WM_COMMAND, std::strtoul(value.c_str(), nullptr, 0), 0);
    else if (name == "syscommand")
        PostMessageA(mainDialog, WM_SYSCOMMAND, std::strtoul(value.c_str(), nullptr, 0), 0);
    else if (name == "ini")
        CheckIni(step, value);
    else if (name == "browse")
        Browse(step, value);
    else if (name == "about")
        CheckAbout(step);
    else if (name == "key")
        PostKey(value == "enter" ? VK_RETURN : VK_ESCAPE);
    else if (name == "limit")
        waitLimitMs = std::strtoul(value.c_str(), nullptr, 0);
    else if (name == "idle")
        WaitIdle(step);
    else if (name == "aifile")
        ReadAiFile(step, value, "--json");
    else if (name == "stats")
        ReadAiFile(step, value, "--stats --json");
    else if (name == "picture")
        PutPicture(step, value);
    else if (name == "reader")
        ReadAiFile(step, value, "", "read_aifile.exe");
    else if (name == "simagain")
        RestartSim(step);
    else if (name == "still")
        CheckStill(step, std::strtoul(value.c_str(), nullptr, 0));
    else if (name == "minimize") {
        ShowWindow(mainDialog, SW_MINIMIZE);
        if (!WaitFor([] { return IsIconic(mainDialog) != 0; }))
            Fail(step, "the main dialog did not minimize");
    } else if (name == "second")
        CheckSecond(step, program);
    else if (name == "nobox") {
        WaitIdle(step);
        if (FindOther(nullptr) != nullptr)
            Fail(step, "the relay shows \"" + WindowText(FindOther(nullptr)) + "\"");
    } else if (name == "exited")
        CheckExited(step, value);
    else
        Fail(step, "unknown step");
    std::printf("ok %s\n", step.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs(Usage, stderr);
        return 2;
    }
    CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr);
    probeMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(ProbeAnswer), ProbeMappingName);
    if (probeMapping != nullptr)
        probe = static_cast<ProbeAnswer*>(
            MapViewOfFile(probeMapping, FILE_MAP_WRITE, 0, 0, sizeof(ProbeAnswer)));
    if (probe == nullptr)
        Fail("setup", "cannot make the probe's block");
    for (int i = 2; i < argc; ++i)
        RunStep(argv[1], argv[i]);
    EndStarted();
    return 0;
}
