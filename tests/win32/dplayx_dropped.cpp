// A DPLAYX.dll of ours, for a folder where a copy of directplay_tests.exe runs: a DLL of that name
// dropped beside the program. Its lobby factory only fails, and it has no COM class.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT WINAPI
    DirectPlayLobbyCreateA(void*, void** lobby, void*, void*, DWORD) {
    if (lobby != nullptr)
        *lobby = nullptr;
    return E_ACCESSDENIED;
}
