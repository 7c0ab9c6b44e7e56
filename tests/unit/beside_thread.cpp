#include "beside_thread.h"

#if defined(_WIN32)
#include <windows.h>

namespace {

DWORD WINAPI RunWork(LPVOID work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

} // namespace

bool RunBeside(const std::function<void()>& beside, const std::function<void()>& here) {
    HANDLE thread =
        CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&beside), 0, nullptr);
    if (thread == nullptr)
        return false;
    here();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}

#else
#include <system_error>
#include <thread>

bool RunBeside(const std::function<void()>& beside, const std::function<void()>& here) {
    std::thread thread;
    try {
        thread = std::thread(beside);
    } catch (const std::system_error&) {
        return false;
    }
    here();
    thread.join();
    return true;
}
#endif
