#include "state/relay_state.h"

#include <cstring>

namespace {

constexpr RelayState InitialRelayState() {
    RelayState state{};
    state.useIpx = 1;
    state.searching = 1;
    return state;
}

} // namespace

RelayState relayState = InitialRelayState();
dp::IDirectPlay4A* sessionObject = nullptr;
dp::DPID relayPlayerId = 0;
char relayPlayerName[RelayPlayerNameSize] = "Skyrelay";
plat::Event sessionEvent = nullptr;
plat::Window mainDialog = nullptr;
char playerName[PlayerNameSize] = "";

void ResetRelayState() {
    relayState = InitialRelayState();
    sessionObject = nullptr;
    relayPlayerId = 0;
    std::memset(relayPlayerName, 0, sizeof relayPlayerName);
    std::strcpy(relayPlayerName, "Skyrelay");
    sessionEvent = nullptr;
    mainDialog = nullptr;
    std::memset(playerName, 0, sizeof playerName);
}

int LeaveSession() {
    plat::SetControlText(mainDialog, StatusLineControl, FsDetectedText);
    if (sessionObject != nullptr) {
        sessionObject->DestroyPlayer(relayPlayerId);
        sessionObject->Close();
        sessionObject->Release();
        sessionObject = nullptr;
    }
    return 0;
}

void ReleaseSessionAtExit() {
    if (sessionObject != nullptr && relayState.searching == 0) {
        sessionObject->Close();
        sessionObject->Release();
        sessionObject = nullptr;
    }
}
