// The "AIFile" block on Windows: the named file mapping "AIFile", opened for reading only.
#include "skyrelay-aifile/block_reader.h"
#include "traffic/shared_block.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace aifile {
namespace {

volatile LONG interrupted = 0;
HANDLE wakeUp = nullptr; // set by Ctrl-C, so that a wait ends at once

BOOL WINAPI OnConsoleEvent(DWORD) {
    InterlockedExchange(&interrupted, 1);
    if (wakeUp != nullptr)
        SetEvent(wakeUp);
    return TRUE;
}

std::string SystemMessage(DWORD error) {
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error)
                           : message + " (error " + std::to_string(error) + ")";
}

} // namespace

const char* const BlockWhere = "The block is the named file mapping \"AIFile\".\n";

std::string BlockName(const char* base) {
    return base;
}

Outcome ReadBlockBytes(const std::string& name, std::size_t maxSize,
                       std::vector<std::uint8_t>& bytes, std::string& error, CopyBlock copy) {
    bytes.clear();
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping == nullptr) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND)
            return Outcome::NoBlock;
        error = SystemMessage(code);
        return Outcome::Failed;
    }
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        error = SystemMessage(GetLastError());
        CloseHandle(mapping);
        return Outcome::Failed;
    }
    // The view reaches as far as the mapping its creator made; never read past it.
    MEMORY_BASIC_INFORMATION region{};
    std::size_t size =
        VirtualQuery(view, &region, sizeof region) == sizeof region ? region.RegionSize : 0;
    const auto* first = static_cast<const std::uint8_t*>(view);
    bool copied = true;
    if (copy != nullptr)
        copied = copy(view, size, bytes, &error);
    else
        bytes.assign(first, first + std::min(size, maxSize));
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return copied ? Outcome::Read : Outcome::Failed;
}

std::uint64_t MonotonicNow() {
    return GetTickCount64();
}

bool ProcessRunning(std::uint32_t processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

void CatchInterrupt() {
    wakeUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() {
    return InterlockedCompareExchange(&interrupted, 0, 0) != 0;
}

void SleepOneSecond() {
    if (wakeUp != nullptr)
        WaitForSingleObject(wakeUp, 1000);
    else
        Sleep(1000);
}

void PauseBriefly() {
    Sleep(1);
}

bool ConsoleIsOwn() {
    // A console that holds only this process was made for it. Output or input that is not the
    // console means another program reads and types.
    DWORD mode = 0;
    DWORD processes[2] = {};
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
           GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
           GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey() {
    std::fputs("\nPress any key to close this window.", stdout);
    std::fflush(stdout);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    SetConsoleMode(input, 0); // a key, not a line
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record{};
    DWORD read = 0;
    while (ReadConsoleInputA(input, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            break;
    SetConsoleMode(input, mode);
}

bool OutputRedraws() {
    // A console clears itself with the escape sequences once it is asked to take them.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(output, &mode) &&
           SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

} // namespace aifile
