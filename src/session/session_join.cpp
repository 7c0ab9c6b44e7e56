#include "session/session_join.h"

#include "state/relay_state.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

JoinState joinState{nullptr};

namespace {

constexpr char LocalAddress[] = "127.0.0.1";

void ShowJoinError(const char* text) {
    plat::ShowMessageBox(nullptr, text, "Skyrelay", plat::BoxIconError);
}

bool NameContains(const dp::DPNAME* name, std::string_view text) {
    if (name == nullptr || name->lpszShortNameA == nullptr)
        return false;
    return std::string_view(name->lpszShortNameA).find(text) != std::string_view::npos;
}

// Makes `object` the session object. The one it replaces is released now, unless it is running
// the connection enumeration: that one the scheduler releases once the enumeration has returned.
void ReplaceSessionObject(dp::IDirectPlay4A* object) {
    if (sessionObject != nullptr && sessionObject != object &&
        sessionObject != joinState.enumeratingObject)
        sessionObject->Release();
    sessionObject = object;
}

// Builds the TCP/IP address of the local machine with the lobby. Returns null when the lobby or
// the address cannot be had; the caller owns the buffer.
std::unique_ptr<std::uint8_t[]> LocalTcpIpAddress(dp::IDirectPlayLobby3A* lobby) {
    std::uint32_t size = 0;
    HRESULT result = lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, LocalAddress,
                                          sizeof LocalAddress, nullptr, &size);
    if (Failed(result) && result != dp::ErrBufferTooSmall)
        return nullptr;
    if (size == 0)
        return nullptr;
    std::unique_ptr<std::uint8_t[]> address(new (std::nothrow) std::uint8_t[size]());
    if (!address)
        return nullptr;
    if (Failed(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, LocalAddress,
                                    sizeof LocalAddress, address.get(), &size)))
        return nullptr;
    return address;
}

HRESULT EnumerateSessions() {
    dp::DPSESSIONDESC2 description{};
    description.dwSize = sizeof description;
    description.guidApplication = dp::GuidNull;
    return sessionObject->EnumSessions(&description, 0, EnumSessionsCallback, nullptr,
                                       dp::EnumSessionsAll);
}

dp::BOOL AutomaticBranch(void* connection, const dp::DPNAME* name) {
    if (NameContains(name, "IPX") && relayState.useIpx == 1) {
        if (AutoJoin(connection) == 0)
            ShowJoinError(ChooseConnectionErrorText);
    }
    if (relayState.searching != 0 && NameContains(name, "TCP") && relayState.useIpx == 0) {
        if (AutoJoin(connection) == 0)
            ShowJoinError(ChooseConnectionErrorText);
    }
    return dp::True;
}

dp::BOOL ManualBranch(void* connection, const dp::DPNAME* name) {
    dp::IDirectPlay4A* object = nullptr;
    HRESULT result = plat::CreateDirectPlay(&object);
    if (Failed(result) || object == nullptr) {
        ShowJoinError(DirectPlayMissingText);
        return dp::True;
    }
    if (Failed(object->InitializeConnection(connection, 0))) {
        object->Release();
        return dp::True;
    }
    bool wanted = (NameContains(name, "TCP") && relayState.useIpx == 0) ||
                  (NameContains(name, "IPX") && relayState.useIpx == 1);
    if (wanted)
        ManualJoin(object);
    else
        object->Release(); // initialised for nothing: this connection is not the one asked for
    return dp::True;
}

} // namespace

void ResetJoinState() {
    joinState = JoinState{nullptr};
}

dp::BOOL EnumConnectionsCallback(const dp::GUID*, void* connection, std::uint32_t,
                                 const dp::DPNAME* name, std::uint32_t, void*) {
    // Once the relay's player exists, later connections of the same enumeration are left alone.
    if (relayState.searching == 0)
        return dp::True;
    if (relayState.manualRequest == 0)
        return AutomaticBranch(connection, name);
    return ManualBranch(connection, name);
}

int AutoJoin(void* connection) {
    if (sessionObject == nullptr)
        return 0;

    dp::IDirectPlayLobby3A* lobby = nullptr;
    std::unique_ptr<std::uint8_t[]> address;
    if (relayState.useIpx == 0) {
        if (Failed(plat::CreateDirectPlayLobby(&lobby)) || lobby == nullptr)
            return 0;
        address = LocalTcpIpAddress(lobby);
        lobby->Release();
        if (!address)
            return 0;
        connection = address.get();
    }

    if (Failed(sessionObject->InitializeConnection(connection, 0))) {
        // The object is running this enumeration: it is released once that has returned.
        ReplaceSessionObject(nullptr);
        return 0;
    }
    return Failed(EnumerateSessions()) ? 0 : 1;
}

int ManualJoin(dp::IDirectPlay4A* object) {
    ReplaceSessionObject(object);
    return Failed(EnumerateSessions()) ? 0 : 1;
}

dp::BOOL EnumSessionsCallback(const dp::DPSESSIONDESC2* session, std::uint32_t*,
                              std::uint32_t flags, void*) {
    if ((flags & dp::EnumSessionsTimedOut) != 0 || session == nullptr)
        return dp::False;

    dp::DPSESSIONDESC2 join{};
    join.dwSize = sizeof join;
    join.guidInstance = session->guidInstance;
    if (Failed(sessionObject->Open(&join, dp::OpenJoin))) {
        ShowJoinError(JoinErrorText);
        return dp::False;
    }

    if (relayState.usingSquawkBox == 0) {
        // playerName and "ai", cut to what relayPlayerName holds.
        const char* nameEnd = std::find(playerName, playerName + PlayerNameSize - 1, '\0');
        std::string built(static_cast<const char*>(playerName), nameEnd);
        built += "ai";
        std::memset(relayPlayerName, 0, sizeof relayPlayerName);
        built.copy(relayPlayerName, sizeof relayPlayerName - 1);
    }

    dp::DPNAME name{sizeof(dp::DPNAME), 0, relayPlayerName, nullptr};
    if (Failed(sessionObject->CreatePlayer(&relayPlayerId, &name, sessionEvent, nullptr, 0, 0))) {
        ShowJoinError(CreatePlayerErrorText);
        return dp::True;
    }
    relayState.searching = 0;
    return dp::False;
}

dp::BOOL EnumPlayersCallback(dp::DPID, std::uint32_t, const dp::DPNAME*, std::uint32_t, void*) {
    return dp::False;
}
