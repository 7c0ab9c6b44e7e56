// dp_probe: a small DirectPlay client that joins the first session it finds over TCP/IP the way
// the relay does (the TCP/IP connection initialised with an address for 127.0.0.1, EnumSessions,
// Open with DPOPEN_JOIN, CreatePlayer with an event), then prints one line per message it
// receives. It checks a session host against the system's own DirectPlay.
// Usage: dp_probe [--name NAME] [--seconds N] [--offered] [--rejoin] [--discard]
//   (exit 0 once joined)
//   --offered: initialise the TCP/IP connection as EnumConnections offers it (the relay's menu
//   command) instead of an address for 127.0.0.1 (its automatic join).
//   --rejoin: once the first session is over, release the object and join again with a new
//   one, as the relay does after a session lost.
//   --discard: receive every message into one buffer and drop it, printing nothing but the count
//   at the end: the least a DirectPlay client can do with a session's traffic.
// A game message is printed with its first 64 bytes in hex.
#include <windows.h>

#include <initguid.h>

#include <dplay.h>
#include <dplobby.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Probe {
    IDirectPlay4A* play = nullptr;
    std::vector<unsigned char> tcpConnection; // as offered by EnumConnections
    bool found = false;
    GUID instance{};
};

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

unsigned long Code(HRESULT result) {
    return static_cast<unsigned long>(result);
}

BOOL CALLBACK OnConnection(LPCGUID, LPVOID connection, DWORD size, LPCDPNAME name, DWORD flags,
                           LPVOID context) {
    auto* probe = static_cast<Probe*>(context);
    const char* shortName =
        name != nullptr && name->lpszShortNameA != nullptr ? name->lpszShortNameA : "(none)";
    Line("connection: \"%s\" flags=%lu", shortName, static_cast<unsigned long>(flags));
    if (std::strstr(shortName, "TCP") != nullptr && probe->tcpConnection.empty()) {
        const auto* bytes = static_cast<const unsigned char*>(connection);
        probe->tcpConnection.assign(bytes, bytes + size);
    }
    return TRUE;
}

BOOL CALLBACK OnSession(LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID context) {
    auto* probe = static_cast<Probe*>(context);
    if ((flags & DPESC_TIMEDOUT) != 0 || probe->found)
        return FALSE;
    probe->found = true;
    probe->instance = desc->guidInstance;
    Line("session: \"%s\" size=%lu max=%lu current=%lu", desc->lpszSessionNameA,
         static_cast<unsigned long>(desc->dwSize), static_cast<unsigned long>(desc->dwMaxPlayers),
         static_cast<unsigned long>(desc->dwCurrentPlayers));
    return FALSE;
}

BOOL CALLBACK OnPlayer(DPID id, DWORD type, LPCDPNAME name, DWORD flags, LPVOID) {
    Line("player: 0x%lX type=%lu flags=0x%lX name=%s", static_cast<unsigned long>(id),
         static_cast<unsigned long>(type), static_cast<unsigned long>(flags),
         name != nullptr && name->lpszShortNameA != nullptr ? name->lpszShortNameA : "(none)");
    return TRUE;
}

// The short name of a player, or the failure of GetPlayerName.
std::string PlayerName(IDirectPlay4A* play, DPID id) {
    DWORD size = 0;
    HRESULT result = play->GetPlayerName(id, nullptr, &size);
    if (result != DPERR_BUFFERTOOSMALL) {
        char text[24];
        std::snprintf(text, sizeof text, "error-0x%08lX", Code(result));
        return text;
    }
    std::vector<unsigned char> buffer(size);
    result = play->GetPlayerName(id, buffer.data(), &size);
    DPNAME name;
    std::memcpy(&name, buffer.data(), sizeof name);
    if (FAILED(result) || name.lpszShortNameA == nullptr)
        return "(none)";
    return name.lpszShortNameA;
}

// Prints every waiting message; true once the session is lost.
bool Drain(IDirectPlay4A* play, unsigned& count) {
    for (;;) {
        DPID from = 0;
        DPID to = 0;
        DWORD size = 0;
        HRESULT result = play->Receive(&from, &to, DPRECEIVE_ALL, nullptr, &size);
        if (result == DPERR_NOMESSAGES)
            return false;
        if (result != DPERR_BUFFERTOOSMALL) {
            Line("error: Receive 0x%08lX", Code(result));
            return true;
        }
        std::vector<unsigned char> data(size);
        result = play->Receive(&from, &to, DPRECEIVE_ALL, data.data(), &size);
        if (FAILED(result)) {
            Line("error: Receive 0x%08lX", Code(result));
            return true;
        }
        ++count;
        DWORD type = 0;
        if (size >= sizeof type)
            std::memcpy(&type, data.data(), sizeof type);
        if (from == DPID_SYSMSG) {
            std::string created;
            if (type == DPSYS_CREATEPLAYERORGROUP && size >= sizeof(DPMSG_CREATEPLAYERORGROUP)) {
                DPMSG_CREATEPLAYERORGROUP message;
                std::memcpy(&message, data.data(), sizeof message);
                char id[16];
                std::snprintf(id, sizeof id, "0x%lX", static_cast<unsigned long>(message.dpId));
                created = std::string(" id=") + id + " name=" + PlayerName(play, message.dpId);
            }
            Line("system: to=0x%lX size=%lu type=0x%lX%s", static_cast<unsigned long>(to),
                 static_cast<unsigned long>(size), static_cast<unsigned long>(type),
                 created.c_str());
            // What comes after the session is lost is not the session's.
            if (type == DPSYS_SESSIONLOST)
                return true;
            continue;
        }
        std::string hex;
        char cell[4];
        for (DWORD i = 0; i < size && i < 64; ++i) {
            std::snprintf(cell, sizeof cell, "%02x", data[i]);
            hex += cell;
        }
        Line("message: from=0x%lX to=0x%lX size=%lu type=%lu name=%s bytes=%s",
             static_cast<unsigned long>(from), static_cast<unsigned long>(to),
             static_cast<unsigned long>(size), static_cast<unsigned long>(type),
             PlayerName(play, from).c_str(), hex.c_str());
    }
}

// Takes every waiting message into one reused buffer and drops it; true once the session is
// lost.
bool Discard(IDirectPlay4A* play, std::vector<unsigned char>& buffer, unsigned& count) {
    for (;;) {
        DPID from = 0;
        DPID to = 0;
        auto size = static_cast<DWORD>(buffer.size());
        HRESULT result = play->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size);
        if (result == DPERR_NOMESSAGES)
            return false;
        if (result == DPERR_BUFFERTOOSMALL) {
            buffer.resize(size);
            continue;
        }
        if (FAILED(result)) {
            Line("error: Receive 0x%08lX", Code(result));
            return true;
        }
        ++count;
        DWORD type = 0;
        if (from == DPID_SYSMSG && size >= sizeof type)
            std::memcpy(&type, buffer.data(), sizeof type);
        if (type == DPSYS_SESSIONLOST)
            return true;
    }
}

using LobbyCreate = HRESULT(WINAPI*)(LPGUID, LPDIRECTPLAYLOBBYA*, IUnknown*, LPVOID, DWORD);

// An address for 127.0.0.1 on the TCP/IP service provider, made by the lobby object.
std::vector<unsigned char> LoopbackAddress() {
    HMODULE library = LoadLibraryA("DPLAYX.dll");
    if (library == nullptr)
        return {};
    LobbyCreate create = nullptr;
    FARPROC procedure = GetProcAddress(library, "DirectPlayLobbyCreateA");
    static_assert(sizeof procedure == sizeof create);
    std::memcpy(&create, &procedure, sizeof create);
    IDirectPlayLobbyA* lobby = nullptr;
    if (create == nullptr || FAILED(create(nullptr, &lobby, nullptr, nullptr, 0)))
        return {};
    IDirectPlayLobby3A* lobby3 = nullptr;
    void* queried = nullptr;
    lobby->QueryInterface(IID_IDirectPlayLobby3A, &queried);
    lobby3 = static_cast<IDirectPlayLobby3A*>(queried);
    std::vector<unsigned char> address;
    if (lobby3 != nullptr) {
        const char host[] = "127.0.0.1";
        DWORD size = 0;
        lobby3->CreateAddress(DPSPGUID_TCPIP, DPAID_INet, host, sizeof host, nullptr, &size);
        address.resize(size);
        if (size == 0 || FAILED(lobby3->CreateAddress(DPSPGUID_TCPIP, DPAID_INet, host, sizeof host,
                                                      address.data(), &size)))
            address.clear();
        lobby3->Release();
    }
    lobby->Release();
    return address;
}

// One join and the messages that follow, until the session is lost or `seconds` pass; false if
// the join failed.
bool JoinAndReceive(const std::string& name, long seconds, bool offered, bool discard) {
    Probe probe;
    void* object = nullptr;
    HRESULT result =
        CoCreateInstance(CLSID_DirectPlay, nullptr, CLSCTX_ALL, IID_IDirectPlay4A, &object);
    if (FAILED(result)) {
        Line("error: CoCreateInstance 0x%08lX", Code(result));
        return false;
    }
    probe.play = static_cast<IDirectPlay4A*>(object);
    // Every return from here releases the object, as the relay does when it leaves.
    struct Release {
        IDirectPlay4A* play;
        ~Release() { play->Release(); }
    } release{probe.play};
    result = probe.play->EnumConnections(nullptr, OnConnection, &probe, 0);
    if (FAILED(result) || probe.tcpConnection.empty()) {
        Line("error: no TCP/IP connection offered (0x%08lX)", Code(result));
        return false;
    }
    std::vector<unsigned char> address = offered ? probe.tcpConnection : LoopbackAddress();
    if (address.empty()) {
        Line("error: no TCP/IP address from the lobby");
        return false;
    }
    result = probe.play->InitializeConnection(address.data(), 0);
    Line("initialize: 0x%08lX", Code(result));
    DPSESSIONDESC2 desc{};
    desc.dwSize = sizeof desc;
    result = probe.play->EnumSessions(&desc, 0, OnSession, &probe, DPENUMSESSIONS_ALL);
    Line("enumerate: 0x%08lX", Code(result));
    if (FAILED(result) || !probe.found) {
        Line("error: no session");
        return false;
    }
    desc = DPSESSIONDESC2{};
    desc.dwSize = sizeof desc;
    desc.guidInstance = probe.instance;
    result = probe.play->Open(&desc, DPOPEN_JOIN);
    Line("open: 0x%08lX", Code(result));
    if (FAILED(result))
        return false;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DPNAME playerName{};
    playerName.dwSize = sizeof playerName;
    std::vector<char> shortName(name.begin(), name.end());
    shortName.push_back('\0');
    playerName.lpszShortNameA = shortName.data();
    DPID self = 0;
    result = probe.play->CreatePlayer(&self, &playerName, event, nullptr, 0, 0);
    Line("create: 0x%08lX id=0x%lX", Code(result), static_cast<unsigned long>(self));
    if (FAILED(result)) {
        probe.play->Close();
        CloseHandle(event);
        return false;
    }
    probe.play->EnumPlayers(nullptr, OnPlayer, nullptr, 0);

    unsigned count = 0;
    std::vector<unsigned char> buffer(1024);
    DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    bool lost = false;
    for (;;) {
        auto left = static_cast<LONG>(deadline - GetTickCount());
        if (lost || left <= 0)
            break;
        // Discarding, it wakes for the session's messages only (and once at the deadline).
        WaitForSingleObject(event, discard ? static_cast<DWORD>(left) : 200);
        lost = discard ? Discard(probe.play, buffer, count) : Drain(probe.play, count);
    }
    Line("done: %u messages%s", count, lost ? ", session lost" : "");
    probe.play->DestroyPlayer(self);
    probe.play->Close();
    CloseHandle(event);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string name = "Skyrelay";
    long seconds = 20;
    bool offered = false;
    bool discard = false;
    int joins = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--offered") == 0)
            offered = true;
        else if (std::strcmp(argv[i], "--discard") == 0)
            discard = true;
        else if (std::strcmp(argv[i], "--rejoin") == 0)
            joins = 2;
        else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc)
            name = argv[++i];
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::strtol(argv[++i], nullptr, 10);
    }
    CoInitialize(nullptr);
    bool joined = true;
    for (int join = 0; join < joins && joined; ++join) {
        if (join > 0)
            Line("rejoin");
        joined = JoinAndReceive(name, seconds, offered, discard);
    }
    CoUninitialize();
    return joined ? 0 : 1;
}
