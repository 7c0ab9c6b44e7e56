#include "traffic/relay_stats_text.h"

#include "simlink/sim_link.h"
#include "traffic/session_messages.h"

#include <atomic>
#include <cstring>

namespace {

constexpr std::size_t HeaderSize = offsetof(RelayStats, processId);

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

// Whole seconds from `then` to `now`; a time from the future (another clock) counts as 0.
std::uint64_t SecondsSince(std::uint64_t then, std::uint64_t now) {
    return now > then ? (now - then) / 1000 : 0;
}

std::string Ago(std::uint64_t then, std::uint64_t now) {
    return then == 0 ? "never" : Number(SecondsSince(then, now)) + " s ago";
}

// Milliseconds as seconds: "2 s", "18.9 s".
std::string Seconds(std::uint64_t ms) {
    std::string text = Number(ms / 1000);
    if (ms % 1000 != 0)
        text += "." + Number(ms % 1000 / 100);
    return text + " s";
}

std::string YesNo(std::uint8_t flag) {
    return flag != 0 ? "yes" : "no";
}

std::uint32_t FailedExchanges(const RelayStats& stats) {
    std::uint32_t total = 0;
    for (std::uint32_t count : stats.exchangesFailed)
        total += count;
    return total;
}

std::uint32_t Dropped(const RelayStats& stats) {
    return stats.droppedTooShort + stats.droppedNoName + stats.droppedOwnName + stats.droppedSlow +
           stats.droppedTableFull;
}

const char* Transport(std::uint8_t useIpx) {
    return useIpx != 0 ? "IPX/SPX" : "TCP/IP";
}

const char* EndingText(std::uint32_t type) {
    switch (type) {
    case SessionLostMessage:
        return "the session was lost";
    case HostMessage:
        return "Skyrelay became the session's host, so the host had left";
    case RefusedMessage:
        return "the host refused Skyrelay as an observer";
    case SimulatorEndMessage:
        return "the simulator ended its multiplayer session";
    default:
        return "an unknown message";
    }
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Nothing heard for this long while in a session is worth saying.
constexpr std::uint64_t SilenceMs = 10000;
// How long a failed exchange stays news once no traffic waits: longer than the pump takes to
// publish again (up to 12 ticks of 330 ms) and fail again when the simulator still refuses.
constexpr std::uint64_t FailureNewsMs = 30000;

constexpr DiagnosisKind Kinds[] = {
    {"not-running", "Skyrelay is not running"},
    {"counters-refused", "Skyrelay's counters cannot be read"},
    {"sim-not-found", "The simulator is not found"},
    {"sim-stopped", "Skyrelay has stopped looking for the simulator"},
    {"sim-rights", "do not run with the same rights"},
    {"sim-window-gone", "the FS2002 window Skyrelay found is gone"},
    {"sim-waiting", "Skyrelay is waiting for FS2002 to answer"},
    {"sim-no-answer", "FS2002 does not answer"},
    {"sim-refuses", "The simulator refuses the traffic"},
    {"session-attempting", "Skyrelay is trying to join a session now"},
    {"session-auto", "Skyrelay tries to join by itself"},
    {"session-manual", "Skyrelay makes no attempt to join by itself"},
    {"session-ended", "The session ended"},
    {"silent", "nothing heard for"},
    {"all-dropped", "none of them is shown"},
    {"no-view", "readers get no picture"},
    {"all-well", "All is well"},
};

} // namespace

std::span<const DiagnosisKind> DiagnosisKinds() {
    return Kinds;
}

bool CopyRelayStats(const void* view, std::size_t viewSize, std::vector<std::uint8_t>& bytes,
                    std::string* refusal, void (*pause)()) {
    const auto* first = static_cast<const std::uint8_t*>(view);
    std::size_t size = viewSize < RelayStatsSize ? viewSize : RelayStatsSize;
    constexpr std::size_t word = offsetof(RelayStats, sequence);
    if (view == nullptr || size < word + sizeof(std::uint32_t)) {
        bytes.assign(first, first + (view == nullptr ? 0 : size));
        return true;
    }
    const auto* sequence = reinterpret_cast<const volatile std::uint32_t*>(first + word);
    for (int attempt = 0; attempt < RelayStatsCopyAttempts; ++attempt) {
        if (attempt != 0 && pause != nullptr)
            pause();
        std::uint32_t before = *sequence;
        std::atomic_thread_fence(std::memory_order_acquire);
        bytes.assign(first, first + size);
        std::atomic_thread_fence(std::memory_order_acquire);
        std::uint32_t after = *sequence;
        if (before == after && before % 2 == 0)
            return true;
        // Not Skyrelay's counters, or a layout without the word: ReadRelayStats says why.
        std::uint32_t header[2] = {};
        std::memcpy(header, bytes.data(), sizeof header);
        if (header[0] != RelayStatsMagic || header[1] < 2)
            return true;
    }
    if (refusal != nullptr)
        *refusal = "the block changed during every one of " + Number(RelayStatsCopyAttempts) +
                   " reads (a Skyrelay that stopped while writing it leaves it so)";
    return false;
}

RelayStatsReading ReadRelayStats(const std::uint8_t* bytes, std::size_t size) {
    RelayStatsReading reading;
    if (bytes == nullptr)
        size = 0;
    std::uint32_t header[3] = {};
    if (size < HeaderSize) {
        reading.refusal = "the block is " + Number(size) + " bytes, too small for its header";
        return reading;
    }
    std::memcpy(header, bytes, sizeof header);
    if (header[0] != RelayStatsMagic) {
        reading.refusal = "the block does not start with the magic number of Skyrelay's counters";
        return reading;
    }
    if (header[1] < RelayStatsVersion) {
        reading.refusal = "the block has layout version " + Number(header[1]) +
                          ", written by an older Skyrelay: use the skyrelay-aifile that came with "
                          "it, or a newer Skyrelay";
        return reading;
    }
    if (header[2] < RelayStatsSize) {
        reading.refusal = "the block says it is " + Number(header[2]) + " bytes, smaller than " +
                          Number(RelayStatsSize);
        return reading;
    }
    // A later layout only adds fields after these: its first RelayStatsSize bytes are read.
    if (size < RelayStatsSize) {
        reading.refusal = "only " + Number(size) + " bytes of the block can be read, fewer than " +
                          Number(RelayStatsSize);
        return reading;
    }
    std::memcpy(&reading.stats, bytes, RelayStatsSize);
    reading.valid = true;
    return reading;
}

namespace {

const DiagnosisKind* Kind(const char* id) {
    for (const DiagnosisKind& kind : Kinds)
        if (std::strcmp(kind.id, id) == 0)
            return &kind;
    return nullptr;
}

// The longest an aircraft's exchange waits: every send timed out, with the pauses.
std::string LongestWait() {
    return Seconds(std::uint64_t{SendAttempts} * (SendTimeoutMs + SendRetryPauseMs));
}

const char* LinkStateName(std::uint8_t state) {
    switch (state) {
    case RelayLinkNeverFound:
        return "never found";
    case RelayLinkOpen:
        return "open";
    case RelayLinkFailing:
        return "failing";
    case RelayLinkStopped:
        return "stopped looking";
    default:
        return "unknown";
    }
}

const char* SessionStateName(std::uint8_t state) {
    switch (state) {
    case RelaySessionNone:
        return "none";
    case RelaySessionAttempting:
        return "attempting";
    case RelaySessionJoined:
        return "joined";
    case RelaySessionEnded:
        return "ended";
    default:
        return "unknown";
    }
}

// The facts behind a sentence, codes included, ages on the relay's clock.
std::string FactsLine(const RelayStats& s, std::uint64_t updateAgeMs) {
    auto age = [&](std::uint64_t then) {
        return then == 0 ? std::string("never")
                         : Number(SecondsSince(then, s.lastUpdateMs)) + " s before it";
    };
    std::string line = "Block of process " + Number(s.processId) + " updated " +
                       Number(updateAgeMs / 1000) + " s ago. Link: " + LinkStateName(s.linkState) +
                       ", since " + age(s.linkSinceMs);
    if (s.linkLastResult != 0)
        line += std::string("; last failure ") +
                SimLinkResultName(static_cast<SimLinkResult>(s.linkLastResult)) + " (result " +
                std::to_string(s.linkLastResult) + ", system error " +
                Number(s.linkLastSystemError) + "), " + age(s.linkLastFailureMs);
    line += "; last good exchange " + age(s.lastExchangeOkMs) +
            ". Session: " + SessionStateName(s.sessionState) + ", since " + age(s.sessionSinceMs);
    if (s.sessionState == RelaySessionEnded)
        line += ", ending type " + Number(s.sessionEnding);
    line += ". Timers:";
    if ((s.timersRunning & RelayTimerDetection) != 0)
        line += " detection";
    if ((s.timersRunning & RelayTimerAutoConnect) != 0)
        line += " automatic-connection";
    if ((s.timersRunning & RelayTimerPump) != 0)
        line += " pump";
    if ((s.timersRunning & (RelayTimerDetection | RelayTimerAutoConnect | RelayTimerPump)) == 0)
        line += " none";
    line += ". UsingSB=" + std::to_string(s.usingSquawkBoxRaw) +
            ", ManualConnect=" + std::to_string(s.manualConnectOnlyRaw) + ".";
    if (s.recentPublications != 0) {
        line += " Last publications (aircraft/stored/slow/full/other):";
        for (std::uint32_t i = 0; i < s.recentPublications && i < RelayRecentPublications; ++i) {
            const RelayPublication& p = s.recent[i];
            line += " " + Number(p.aircraft) + "/" + Number(p.accepted) + "/" +
                    Number(p.droppedSlow) + "/" + Number(p.droppedTableFull) + "/" +
                    Number(p.droppedOther);
        }
        line += ".";
    }
    return line;
}

// What a user does to join when Skyrelay does not by itself, with the options as they are.
std::string JoinByHand(const RelayStats& s) {
    if (s.usingSquawkBoxRaw != 0 && s.manualConnectOnlyRaw == 0)
        return "Multiplayer connect is grayed while \"Using SquawkBox\" is on and \"Manual "
               "connect only\" off: turn \"Manual connect only\" on, then choose Multiplayer "
               "connect > TCP/IP, or restart Skyrelay";
    return "choose Multiplayer connect > TCP/IP or IPX/SPX (if they are grayed, restart Skyrelay)";
}

// Why no attempt to join is scheduled, from the options' raw values and the timers.
std::string NoAttemptReason(const RelayStats& s) {
    if (s.usingSquawkBoxRaw != 0 && s.usingSquawkBoxRaw != 1)
        return "UsingSB is " + std::to_string(s.usingSquawkBoxRaw) +
               " in Skyrelay.ini, and only 1 turns automatic connection on";
    if (s.usingSquawkBoxRaw == 0)
        return "\"Using SquawkBox\" is off";
    if (s.manualConnectOnlyRaw != 0)
        return s.manualConnectOnlyRaw == 1
                   ? std::string("\"Manual connect only\" is on")
                   : "ManualConnect is " + std::to_string(s.manualConnectOnlyRaw) +
                         " in Skyrelay.ini, which counts as \"Manual connect only\" on";
    return "its automatic attempts were stopped (a Multiplayer connect command stops them) and "
           "nothing starts them again";
}

} // namespace

std::string RefusedSentence(const std::string& refusal) {
    return "Skyrelay's counters cannot be read: " + refusal + ".";
}

Diagnosis Diagnose(const RelayStats* stats, bool live, std::uint64_t updateAgeMs,
                   SimulatorWindow window) {
    Diagnosis d;
    auto say = [&](const char* id, std::string sentence, std::vector<Claim> claims) {
        d.kind = Kind(id);
        d.sentence = std::move(sentence);
        d.claims.insert(d.claims.begin(), claims.begin(), claims.end());
        return d;
    };
    if (stats == nullptr || stats->running == 0 || !live) {
        if (stats != nullptr)
            d.detail = stats->running == 0
                           ? "Process " + Number(stats->processId) + " exited."
                           : "The block was left by process " + Number(stats->processId) +
                                 ", which no longer runs.";
        return say("not-running", "Skyrelay is not running: start it, then look again.",
                   {{ClaimKind::RelayNotRunning}});
    }
    const RelayStats& s = *stats;
    d.detail = FactsLine(s, updateAgeMs);
    // What the detail line states of the timers and the options.
    d.claims = {{ClaimKind::TimersRunning, s.timersRunning},
                {ClaimKind::Options, s.usingSquawkBoxRaw, s.manualConnectOnlyRaw}};
    // Ages on the relay's own clock, up to its last update of the block.
    auto age = [&](std::uint64_t then) { return SecondsSince(then, s.lastUpdateMs); };
    const bool looking = (s.timersRunning & RelayTimerDetection) != 0;
    const Claim lookingClaim{looking ? ClaimKind::LookingForSimulator
                                     : ClaimKind::NotLookingForSimulator};
    const auto result = static_cast<SimLinkResult>(s.linkLastResult);
    const bool denied =
        result == SimLinkResult::SendError && s.linkLastSystemError == SendErrorAccessDenied;

    // While the exchanges fail at once for a cause the relay knows (the window gone, the rights),
    // the wait is only their retries: the cause is what to say.
    const bool knownCause = s.linkState == RelayLinkFailing &&
                            (denied || (result == SimLinkResult::SendError &&
                                        s.linkLastSystemError == SendErrorInvalidWindowHandle));
    if (s.waitSinceMs != 0 && !knownCause) {
        // Nothing updates the block while the relay waits: the reader's clock tells how long.
        std::string waited =
            Number((SecondsSince(s.waitSinceMs, s.lastUpdateMs) * 1000 + updateAgeMs) / 1000);
        std::string what =
            s.waitOf == 0 ? std::string("while it connects to it")
                          : "for aircraft " + Number(s.waitAircraft) + " of " + Number(s.waitOf);
        return say("sim-waiting",
                   "Skyrelay is waiting for FS2002 to answer " + what + " (" + waited +
                       " s so far; it waits up to " + LongestWait() +
                       " each time): is FS2002 loading a flight, showing a dialog, or hung?",
                   {{ClaimKind::WaitingForSimulator, s.waitAircraft, s.waitOf}});
    }

    if (s.linkState == RelayLinkNeverFound || s.linkState == RelayLinkStopped) {
        const std::string then = looking ? "." : ", then restart Skyrelay, which no longer looks.";
        if (denied)
            return say("sim-rights",
                       "FS2002 refused Skyrelay: Skyrelay and FS2002 do not run with the same "
                       "rights (one of them as administrator): start both the same way" +
                           then,
                       {{ClaimKind::SimulatorNotFound}, {ClaimKind::RightsDiffer}, lookingClaim});
        if (result == SimLinkResult::BadReply)
            return say(
                "sim-rights",
                "FS2002's IPC module answers but cannot read Skyrelay's requests, as "
                "when Skyrelay and FS2002 do not run with the same rights (one of them "
                "as administrator): start both the same way" +
                    then,
                {{ClaimKind::SimulatorNotFound}, {ClaimKind::SimulatorRefuses}, lookingClaim});
        if (!looking)
            return say(
                "sim-stopped",
                std::string("Skyrelay has stopped looking for the simulator") +
                    (s.linkState == RelayLinkStopped ? " after its link failed 4 times" : "") +
                    ": start FS2002 with its IPC module, then restart Skyrelay.",
                {{ClaimKind::SimulatorNotFound}, lookingClaim});
        if (result == SimLinkResult::NoAnswer || result == SimLinkResult::SendError)
            return say(
                "sim-no-answer",
                "FS2002 does not answer when Skyrelay connects to it; Skyrelay tries again "
                "every 2 s: is FS2002 loading a flight, showing a dialog, or hung?",
                {{ClaimKind::SimulatorNotFound}, {ClaimKind::SimulatorNotAnswering}, lookingClaim});
        return say("sim-not-found",
                   "The simulator is not found: is FS2002 running, with its IPC module? Skyrelay "
                   "looks for it every 2 s.",
                   {{ClaimKind::SimulatorNotFound}, lookingClaim});
    }

    // The traffic fails to reach the simulator: what the last exchange met.
    auto failingLink = [&]() -> Diagnosis {
        const std::string failing = Number(age(s.linkSinceMs));
        if (denied)
            return say("sim-rights",
                       "Skyrelay and FS2002 do not run with the same rights (one of them as "
                       "administrator), so FS2002 refuses the traffic: start both the same way.",
                       {{ClaimKind::RightsDiffer}});
        if (result == SimLinkResult::SendError &&
            s.linkLastSystemError == SendErrorInvalidWindowHandle) {
            if (window == SimulatorWindow::Present)
                return say("sim-window-gone",
                           "Traffic stops: the FS2002 window Skyrelay found is gone, and an FS2002 "
                           "runs now, so it was started again after Skyrelay found it: restart "
                           "Skyrelay.",
                           {{ClaimKind::WindowGone}, {ClaimKind::SimulatorWindowNow, 1}});
            if (window == SimulatorWindow::Absent)
                return say("sim-window-gone",
                           "Traffic stops: the FS2002 window Skyrelay found is gone, and no FS2002 "
                           "runs now, so it was closed or it crashed: start FS2002, then restart "
                           "Skyrelay.",
                           {{ClaimKind::WindowGone}, {ClaimKind::SimulatorWindowNow, 0}});
            return say(
                "sim-window-gone",
                "Traffic stops: the FS2002 window Skyrelay found is gone (FS2002 was closed, "
                "crashed or started again): restart Skyrelay once FS2002 runs.",
                {{ClaimKind::WindowGone}});
        }
        if (result == SimLinkResult::NoAnswer || result == SimLinkResult::SendError)
            return say("sim-no-answer",
                       "FS2002 does not answer: the traffic has waited for it for " + failing +
                           " s, and each aircraft waits up to " + LongestWait() +
                           ": is FS2002 loading a flight, showing a dialog, or hung?",
                       {{ClaimKind::SimulatorNotAnswering}});
        return say("sim-refuses",
                   "The simulator refuses the traffic: its answers have been wrong for " + failing +
                       " s: restart FS2002, then Skyrelay.",
                   {{ClaimKind::SimulatorRefuses}});
    };
    // A failure is news while traffic waits for the simulator, or for as long as the pump takes
    // to try again once the table has emptied; an old one with nothing waiting is left to the
    // detail line unless nothing else is wrong.
    if (s.linkState == RelayLinkFailing &&
        (s.aircraftInTable != 0 || age(s.linkLastFailureMs) * 1000 < FailureNewsMs))
        return failingLink();

    if (s.sessionState == RelaySessionAttempting)
        return say("session-attempting",
                   "Skyrelay is trying to join a session now (for " +
                       Number(age(s.sessionSinceMs) + updateAgeMs / 1000) + " s).",
                   {{ClaimKind::AttemptRunning}});

    if (s.sessionState != RelaySessionJoined) {
        const bool automaticOptions = s.usingSquawkBoxRaw == 1 && s.manualConnectOnlyRaw == 0;
        const bool autoRuns = (s.timersRunning & RelayTimerAutoConnect) != 0;
        const bool autoSoon = looking && automaticOptions && s.connected == 0;
        const std::uint32_t attempts = s.attemptsTcp + s.attemptsIpx;
        if (s.sessionState == RelaySessionEnded) {
            std::string ended = "The session ended " + Number(age(s.sessionSinceMs)) + " s ago (" +
                                EndingText(s.sessionEnding) + ")";
            if (autoRuns || autoSoon)
                return say(
                    "session-ended", ended + "; automatic attempts to join again run.",
                    {{ClaimKind::SessionEnded, s.sessionEnding}, {ClaimKind::AutomaticAttempts}});
            return say(
                "session-ended",
                ended + " and Skyrelay does not join again by itself: " + JoinByHand(s) + ".",
                {{ClaimKind::SessionEnded, s.sessionEnding}, {ClaimKind::NoAutomaticAttempts}});
        }
        if (autoRuns || autoSoon)
            return say("session-auto",
                       std::string("Not in a session: Skyrelay tries to join by itself ") +
                           (autoRuns ? "every 6 s" : "within 2 s, then every 6 s") + " (" +
                           Number(attempts) + (attempts == 1 ? " attempt" : " attempts") +
                           " so far, none joined): is a multiplayer "
                           "session running in FS2002 on this machine?",
                       {{ClaimKind::NotInSession}, {ClaimKind::AutomaticAttempts}});
        return say("session-manual",
                   "Not in a session, and Skyrelay makes no attempt to join by itself: " +
                       NoAttemptReason(s) + ": " + JoinByHand(s) + ".",
                   {{ClaimKind::NotInSession}, {ClaimKind::NoAutomaticAttempts}});
    }

    const std::uint64_t heard =
        s.lastPositionMs > s.sessionSinceMs ? s.lastPositionMs : s.sessionSinceMs;
    if ((s.lastUpdateMs > heard ? s.lastUpdateMs - heard : 0) >= SilenceMs)
        return say("silent",
                   "In the session, but nothing heard for " + Number(age(heard)) +
                       " s: are other pilots in it, and flying?",
                   {{ClaimKind::InSession},
                    {ClaimKind::SilentFor, static_cast<std::int64_t>(age(heard))}});

    // Judged from the recent publications of this session, not from the totals since the start.
    std::uint64_t accepted = 0, slow = 0, full = 0, other = 0;
    std::uint32_t kept = 0;
    while (kept < s.recentPublications && kept < RelayRecentPublications &&
           s.recent[kept].atMs >= s.sessionSinceMs)
        ++kept;
    for (std::uint32_t i = 0; i < kept; ++i) {
        accepted += s.recent[i].accepted;
        slow += s.recent[i].droppedSlow;
        full += s.recent[i].droppedTableFull;
        other += s.recent[i].droppedOther;
    }
    if (kept != 0 && accepted == 0 && slow + full + other != 0 && s.recent[0].aircraft == 0) {
        std::int64_t reason = slow >= full && slow >= other ? 0 : full >= other ? 1 : 2;
        // One reason for them all, or the reason for most of them.
        const bool only = (slow != 0) + (full != 0) + (other != 0) == 1;
        const char* why[] = {
            "came from aircraft at 30 knots or less, taxiing or parked",
            "were of aircraft beyond the 30 the table holds",
            ("were too short, had no sender name, or carried the user's own name "
             "(PLAYER_NAME in FS2002.cfg)"),
        };
        return say("all-dropped",
                   "Position messages are heard, but none of them is shown: " +
                       std::string(only ? "they all " : "most of them ") + why[reason] + ".",
                   {{ClaimKind::InSession},
                    {ClaimKind::HeardLately},
                    {ClaimKind::NoneShown, reason, only ? 1 : 0}});
    }
    if (s.linkState == RelayLinkFailing)
        return failingLink();
    if (s.aifileView == 0)
        return say("no-view",
                   "In the session, but readers get no picture: Skyrelay has no view of "
                   "the \"AIFile\" block (another program may have made it first, too small): "
                   "close that program, then restart Skyrelay.",
                   {{ClaimKind::InSession},
                    {ClaimKind::SimulatorTakesTraffic},
                    {ClaimKind::NoPictureView}});
    // Nothing heard in this session yet: a picture now is the last session's.
    if (kept == 0 || s.lastPositionMs < s.sessionSinceMs)
        return say("all-well",
                   "All is well so far: in the session, and the first picture follows within "
                   "seconds.",
                   {{ClaimKind::InSession}, {ClaimKind::SimulatorTakesTraffic}});
    return say("all-well",
               "All is well: " + Number(s.recent[0].aircraft) + " aircraft in the last picture, " +
                   "published " + Number(age(s.recent[0].atMs)) + " s ago.",
               {{ClaimKind::InSession},
                {ClaimKind::HeardLately},
                {ClaimKind::SimulatorTakesTraffic},
                {ClaimKind::Published, s.recent[0].aircraft}});
}

Diagnosis Diagnose(const RelayStatsContext& context) {
    const RelayStats* stats = context.stats;
    std::uint64_t updateAge = stats != nullptr && context.nowMs > stats->lastUpdateMs
                                  ? context.nowMs - stats->lastUpdateMs
                                  : 0;
    return Diagnose(stats, context.processRunning, updateAge, context.simulatorWindow);
}

std::string DiagnoseRelay(const RelayStatsContext& context) {
    return Diagnose(context).sentence;
}

std::string DiagnosisDetail(const RelayStatsContext& context) {
    return Diagnose(context).detail;
}

std::string RenderRelayStats(const RelayStats& s, std::uint64_t now) {
    std::string out;
    out += "Skyrelay process " + Number(s.processId) + ", running for " +
           Number(SecondsSince(s.startMs, now)) + " s, last update " + Ago(s.lastUpdateMs, now) +
           (s.running != 0 ? "" : ", exited") + "\n";
    out += "State: simulator detected " + YesNo(s.simDetected) + ", connected " +
           YesNo(s.connected) + ", in a session " + YesNo(s.inSession) + ", searching " +
           YesNo(s.searching) + ", link failures " + Number(s.linkFailureCount) + "\n";
    out += std::string("Options: Using SquawkBox ") + (s.usingSquawkBox != 0 ? "on" : "off") +
           ", Manual connect only " + (s.manualConnectOnly != 0 ? "on" : "off") + "\n";
    out += "Join attempts: " + Number(s.attemptsTcp) + " TCP/IP, " + Number(s.attemptsIpx) +
           " IPX/SPX, " + Number(s.attemptsFailed) + " failed, " + Number(s.joins) +
           " joined; last over " + Transport(s.useIpx) + ", joined " + Ago(s.lastJoinMs, now) +
           "\n";
    out += "Messages heard: " + Number(s.positionMessages) + " position, " +
           Number(s.sessionLostMessages) + " session lost, " + Number(s.hostMessages) + " host, " +
           Number(s.simulatorEndMessages) + " simulator end, " + Number(s.refusedMessages) +
           " refusal, " + Number(s.otherMessages) + " other; " + Number(s.bytesReceived) +
           " bytes; last " + Ago(s.lastMessageMs, now) + "\n";
    out += "Position messages dropped: " + Number(s.droppedTooShort) + " too short, " +
           Number(s.droppedNoName) + " no sender name, " + Number(s.droppedOwnName) +
           " the user's own name, " + Number(s.droppedSlow) + " at 30 knots or less, " +
           Number(s.droppedTableFull) + " table full (" + Number(Dropped(s)) + " in all)\n";
    out += "Aircraft: " + Number(s.aircraftInTable) + " in the table now, " +
           Number(s.positionsRecorded) + " positions stored, " + Number(s.namesHeard) +
           " names heard since start\n";
    out += "Publications: " + Number(s.publications) + ", last " + Ago(s.lastPublishMs, now) + "\n";
    out += "Exchanges with the simulator: " + Number(s.exchangesOk) + " succeeded, last " +
           Ago(s.lastExchangeMs, now) + "; " + Number(FailedExchanges(s)) + " failed";
    for (std::size_t code = 0; code < RelayStatsResultCodes; ++code)
        if (s.exchangesFailed[code] != 0)
            out += std::string(", ") + SimLinkResultName(static_cast<SimLinkResult>(code)) + " " +
                   Number(s.exchangesFailed[code]);
    out += std::string("; last result ") +
           SimLinkResultName(static_cast<SimLinkResult>(s.lastExchangeResult));
    if (s.lastSendError != 0)
        out += "; last failed send: system error " + Number(s.lastSendError);
    out += "\n";
    return out;
}

std::string RenderRelayStatsJson(const RelayStatsContext& context) {
    std::string out = "{\"diagnosis\":" + JsonString(DiagnoseRelay(context)) +
                      ",\"detail\":" + JsonString(DiagnosisDetail(context)) + ",\"stats\":";
    if (context.stats == nullptr)
        return out + "null}";
    const RelayStats& s = *context.stats;
    struct Field {
        const char* name;
        std::uint64_t value;
    };
    const Field fields[] = {
        {"processId", s.processId},
        {"startMs", s.startMs},
        {"lastUpdateMs", s.lastUpdateMs},
        {"lastMessageMs", s.lastMessageMs},
        {"lastPublishMs", s.lastPublishMs},
        {"lastExchangeMs", s.lastExchangeMs},
        {"lastJoinMs", s.lastJoinMs},
        {"running", s.running},
        {"simDetected", s.simDetected},
        {"connected", s.connected},
        {"inSession", s.inSession},
        {"searching", s.searching},
        {"usingSquawkBox", s.usingSquawkBox},
        {"manualConnectOnly", s.manualConnectOnly},
        {"useIpx", s.useIpx},
        {"linkFailureCount", s.linkFailureCount},
        {"aircraftInTable", s.aircraftInTable},
        {"lastEnding", s.lastEnding},
        {"attemptsTcp", s.attemptsTcp},
        {"attemptsIpx", s.attemptsIpx},
        {"attemptsFailed", s.attemptsFailed},
        {"joins", s.joins},
        {"positionMessages", s.positionMessages},
        {"sessionLostMessages", s.sessionLostMessages},
        {"hostMessages", s.hostMessages},
        {"simulatorEndMessages", s.simulatorEndMessages},
        {"refusedMessages", s.refusedMessages},
        {"otherMessages", s.otherMessages},
        {"bytesReceived", s.bytesReceived},
        {"droppedTooShort", s.droppedTooShort},
        {"droppedNoName", s.droppedNoName},
        {"droppedOwnName", s.droppedOwnName},
        {"droppedSlow", s.droppedSlow},
        {"droppedTableFull", s.droppedTableFull},
        {"positionsRecorded", s.positionsRecorded},
        {"namesHeard", s.namesHeard},
        {"publications", s.publications},
        {"exchangesOk", s.exchangesOk},
        {"linkState", s.linkState},
        {"aifileView", s.aifileView},
        {"timersRunning", s.timersRunning},
        {"sessionState", s.sessionState},
        {"linkSinceMs", s.linkSinceMs},
        {"linkLastSystemError", s.linkLastSystemError},
        {"linkLastFailureMs", s.linkLastFailureMs},
        {"lastExchangeOkMs", s.lastExchangeOkMs},
        {"waitSinceMs", s.waitSinceMs},
        {"waitAircraft", s.waitAircraft},
        {"waitOf", s.waitOf},
        {"sessionSinceMs", s.sessionSinceMs},
        {"sessionEnding", s.sessionEnding},
        {"recentPublications", s.recentPublications},
        {"lastPositionMs", s.lastPositionMs},
    };
    out += "{\"nowMs\":" + Number(context.nowMs);
    for (const Field& field : fields)
        out += std::string(",\"") + field.name + "\":" + Number(field.value);
    out += ",\"exchangesFailed\":[";
    for (std::size_t code = 0; code < RelayStatsResultCodes; ++code)
        out += (code == 0 ? "" : ",") + Number(s.exchangesFailed[code]);
    out += "],\"linkLastResult\":" + std::to_string(s.linkLastResult) +
           ",\"usingSquawkBoxRaw\":" + std::to_string(s.usingSquawkBoxRaw) +
           ",\"manualConnectOnlyRaw\":" + std::to_string(s.manualConnectOnlyRaw) + ",\"recent\":[";
    for (std::size_t i = 0; i < RelayRecentPublications; ++i) {
        const RelayPublication& p = s.recent[i];
        out += std::string(i == 0 ? "" : ",") + "{\"atMs\":" + Number(p.atMs) +
               ",\"aircraft\":" + Number(p.aircraft) + ",\"accepted\":" + Number(p.accepted) +
               ",\"droppedSlow\":" + Number(p.droppedSlow) +
               ",\"droppedTableFull\":" + Number(p.droppedTableFull) +
               ",\"droppedOther\":" + Number(p.droppedOther) + "}";
    }
    out += "],\"lastExchangeResult\":" + std::to_string(s.lastExchangeResult) +
           ",\"sequence\":" + Number(s.sequence) + ",\"lastSendError\":" + Number(s.lastSendError) +
           "}}";
    return out;
}
