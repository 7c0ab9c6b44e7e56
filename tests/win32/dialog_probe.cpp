// The dialog probe's DLL: inside Skyrelay.exe, answers the driver's question with the state of the
// dialog's menu and system menu, read with the system's own calls.
#define SKYRELAY_PROBE_BUILD
#include "dialog_probe.h"

#include <cstdio>
#include <string>

namespace {

HINSTANCE probeModule = nullptr;
HHOOK installedHook = nullptr; // in the driver's process

std::string ItemText(HMENU menu, UINT position) {
    char text[128] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

std::string DescribeMenu(HMENU menu) {
    std::string out;
    int popups = GetMenuItemCount(menu);
    for (int p = 0; p < popups; ++p) {
        auto position = static_cast<UINT>(p);
        if (!out.empty())
            out += '|';
        out += ItemText(menu, position) + ':';
        HMENU popup = GetSubMenu(menu, p);
        int items = GetMenuItemCount(popup);
        for (int i = 0; i < items; ++i) {
            auto at = static_cast<UINT>(i);
            UINT id = GetMenuItemID(popup, i);
            UINT state = GetMenuState(popup, id, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED);
            char item[160];
            std::snprintf(item, sizeof item, "%s%s=%u,%u", i > 0 ? ";" : "",
                          ItemText(popup, at).c_str(), id, state);
            out += item;
        }
    }
    return out;
}

std::string DescribeSystemMenuEnd(HMENU menu) {
    int count = GetMenuItemCount(menu);
    std::string out;
    for (int i = count < 2 ? 0 : count - 2; i < count; ++i) {
        auto at = static_cast<UINT>(i);
        if (!out.empty())
            out += '|';
        if (GetMenuState(menu, at, MF_BYPOSITION) & MF_SEPARATOR)
            out += '-';
        else
            out += ItemText(menu, at) + '=' + std::to_string(GetMenuItemID(menu, i));
    }
    return out;
}

void Answer(HWND dialog) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, ProbeMappingName);
    if (mapping == nullptr)
        return;
    if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProbeAnswer))) {
        auto* answer = static_cast<ProbeAnswer*>(view);
        std::snprintf(answer->menu, sizeof answer->menu, "%s",
                      DescribeMenu(GetMenu(dialog)).c_str());
        std::snprintf(answer->systemMenu, sizeof answer->systemMenu, "%s",
                      DescribeSystemMenuEnd(GetSystemMenu(dialog, FALSE)).c_str());
        LRESULT big = SendMessageA(dialog, WM_GETICON, ICON_BIG, 0);
        LRESULT small = SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0);
        LRESULT drag = SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0);
        std::snprintf(answer->icons, sizeof answer->icons, "%d,%d,%d", big != 0 ? 1 : 0,
                      small != 0 ? 1 : 0, big != 0 && drag == big ? 1 : 0);
        InterlockedIncrement(&answer->serial);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
}

// HOOKPROC for WH_GETMESSAGE, as the system's headers declare it.
LRESULT CALLBACK ProbeHook(int code, WPARAM removal, LPARAM lParam) {
    static const UINT ask = RegisterWindowMessageA(ProbeMessageName);
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == ask)
        Answer(message->hwnd);
    return CallNextHookEx(nullptr, code, removal, lParam);
}

} // namespace

extern "C" int InstallProbe(DWORD threadId) {
    installedHook = SetWindowsHookExA(WH_GETMESSAGE, &ProbeHook, probeModule, threadId);
    return installedHook != nullptr ? 1 : 0;
}

extern "C" void RemoveProbe() {
    if (installedHook != nullptr)
        UnhookWindowsHookEx(installedHook);
    installedHook = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        probeModule = module;
    return TRUE;
}
