#include "session/scheduler.h"

#include "session/session_join.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/relay_stats.h"

SchedulerState schedulerState{false};

namespace {

// Marks an attempt as running for its lifetime, so that a timer tick or a command arriving while
// one of its message boxes is open starts no second attempt.
class AttemptGuard {
  public:
    AttemptGuard() { schedulerState.attemptRunning = true; }
    ~AttemptGuard() { schedulerState.attemptRunning = false; }
    AttemptGuard(const AttemptGuard&) = delete;
    AttemptGuard& operator=(const AttemptGuard&) = delete;
};

// Releases the object an earlier attempt left, closing it first if it had joined a session.
void ReleasePreviousObject() {
    if (sessionObject == nullptr)
        return;
    if (relayState.searching == 0)
        sessionObject->Close();
    sessionObject->Release();
    sessionObject = nullptr;
}

// Creates the attempt's DirectPlay object into sessionObject. The "DirectPlay 6" box is owned by
// `owner` (the main dialog for a menu attempt, none for an automatic one).
void CreateSessionObject(plat::Window owner) {
    ReleasePreviousObject();
    HRESULT result = plat::CreateDirectPlay(&sessionObject);
    if (result == hresult::NoInterface)
        plat::ShowMessageBox(owner, DirectPlayMissingText, "Skyrelay", plat::BoxIconError);
    if (Failed(result))
        sessionObject = nullptr;
}

// Runs the join inside EnumConnections. Objects replaced meanwhile are released once the
// enumeration has returned.
void EnumerateConnections() {
    dp::IDirectPlay4A* enumerating = sessionObject;
    if (enumerating == nullptr)
        return;
    joinState.enumeratingObject = enumerating;
    HRESULT result = enumerating->EnumConnections(nullptr, EnumConnectionsCallback, nullptr, 0);
    joinState.enumeratingObject = nullptr;
    if (Failed(result) && sessionObject != nullptr) {
        if (sessionObject != enumerating)
            sessionObject->Release();
        sessionObject = nullptr;
    }
    if (enumerating != sessionObject)
        enumerating->Release();
}

void StartPump() {
    relayState.connected = 1;
    // A new player in a new session: the end of an earlier one must not keep this one's messages
    // from being drained, or the status line would say connected while nothing is relayed.
    relayState.sessionEnded = 0;
    plat::SetControlText(mainDialog, StatusLineControl, ConnectedText);
    relayState.pumpTimerId = plat::StartTimer(mainDialog, PumpTimer, PumpPeriodMs, OnPumpTimer);
    NoteTimer(PumpTimer, relayState.pumpTimerId != 0);
}

// Copies the relay's state into the counter block when a timer tick or a command has run.
class PublishStatsAtEnd {
  public:
    PublishStatsAtEnd() = default;
    ~PublishStatsAtEnd() { PublishRelayStats(); }
    PublishStatsAtEnd(const PublishStatsAtEnd&) = delete;
    PublishStatsAtEnd& operator=(const PublishStatsAtEnd&) = delete;
};

// Counts one join attempt over the transport relayState.useIpx names, and its outcome.
void CountAttempt(bool joined) {
    ++(relayState.useIpx != 0 ? relayStats.attemptsIpx : relayStats.attemptsTcp);
    ++(joined ? relayStats.joins : relayStats.attemptsFailed);
    NoteAttemptEnded(joined);
}

void SetConnectItems(std::uint32_t flags) {
    plat::Menu menu = plat::GetWindowMenu(mainDialog);
    plat::EnableMenuCommand(menu, TcpIpCommand, flags);
    plat::EnableMenuCommand(menu, IpxSpxCommand, flags);
}

} // namespace

void ResetSchedulerState() {
    schedulerState = SchedulerState{false};
}

void OnDetectTimer() {
    PublishStatsAtEnd publish;
    if (relayState.simDetected == 0) {
        SimLinkResult result = SimLinkResult::Ok;
        SimLinkOpen(0, &result);
        if (result != SimLinkResult::Ok) {
            NoteLinkFailure(static_cast<std::int32_t>(result), SimLinkSystemError(result), false);
            return;
        }
        relayState.simDetected = 1;
        NoteLinkFound();
        // A menu connection may have been made before the simulator was found.
        if (relayState.connected == 0)
            plat::SetControlText(mainDialog, StatusLineControl, FsDetectedText);
    }
    // An attempt in progress (its message box open) keeps its own mode.
    if (schedulerState.attemptRunning)
        return;
    relayState.manualRequest = 0;
    if (relayState.connected != 0 || relayState.usingSquawkBox != 1 ||
        relayState.manualConnectOnly != 0)
        return;
    plat::StopTimer(mainDialog, relayState.detectTimerId);
    NoteTimer(DetectTimer, false);
    relayState.autoConnectTimerId =
        plat::StartTimer(mainDialog, AutoConnectTimer, AutoConnectPeriodMs, OnAutoConnectTimer);
    NoteTimer(AutoConnectTimer, relayState.autoConnectTimerId != 0);
}

void OnAutoConnectTimer() {
    if (schedulerState.attemptRunning)
        return;
    PublishStatsAtEnd publish;
    AttemptGuard guard;
    CreateSessionObject(nullptr);
    relayState.useIpx = relayState.useIpx == 0 ? 1 : 0;
    relayState.searching = 1;
    NoteAttemptStarting();
    EnumerateConnections();
    CountAttempt(relayState.searching == 0);
    if (relayState.searching != 0)
        return; // failed: the next tick tries the other transport
    plat::StopTimer(mainDialog, relayState.autoConnectTimerId);
    NoteTimer(AutoConnectTimer, false);
    if (sessionObject != nullptr)
        sessionObject->EnumPlayers(nullptr, EnumPlayersCallback, nullptr, 0);
    StartPump();
}

void ConnectFromMenu(unsigned command) {
    if (schedulerState.attemptRunning)
        return;
    PublishStatsAtEnd publish;
    AttemptGuard guard;
    relayState.manualRequest = 1;
    relayState.useIpx = command == IpxSpxCommand ? 1 : 0;
    SetConnectItems(plat::MenuGrayed);
    // Until the simulator is found, detection goes on: the traffic needs the link.
    if (relayState.simDetected != 0) {
        plat::StopTimer(mainDialog, relayState.detectTimerId);
        NoteTimer(DetectTimer, false);
    }
    plat::StopTimer(mainDialog, relayState.autoConnectTimerId);
    NoteTimer(AutoConnectTimer, false);
    CreateSessionObject(mainDialog);
    relayState.searching = 1;
    NoteAttemptStarting();
    EnumerateConnections();
    CountAttempt(relayState.searching == 0);
    if (relayState.searching != 0) {
        plat::ShowMessageBox(mainDialog, NoSessionText, "Skyrelay", plat::BoxIconError);
        SetConnectItems(plat::MenuEnabled);
        return;
    }
    StartPump();
}
