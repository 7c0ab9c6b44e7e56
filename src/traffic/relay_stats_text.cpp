#include "traffic/relay_stats_text.h"

#include "simlink/sim_link.h"
#include "traffic/session_messages.h"

#include <atomic>
#include <cstring>

namespace {

constexpr std::size_t HeaderSize = offsetof(RelayStats, processId);

// What a send to the simulator's window fails with, as the system reports it.
constexpr std::uint32_t ErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
constexpr std::uint32_t ErrorInvalidWindowHandle = 1400; // ERROR_INVALID_WINDOW_HANDLE
constexpr std::uint32_t ErrorTimeout = 1460;             // ERROR_TIMEOUT

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

// "1 exchange", "3 exchanges".
std::string Count(std::uint64_t count, const char* thing) {
    return Number(count) + " " + thing + (count == 1 ? "" : "s");
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

// The reason that dropped the most position messages, as the end of a sentence. On a tie the
// reason listed first wins: slow, own name, no name, too short, table full.
std::string BiggestDropReason(const RelayStats& stats) {
    struct Reason {
        std::uint32_t count;
        const char* text;
    };
    const Reason reasons[] = {
        {stats.droppedSlow, "aircraft at 30 knots or less are not shown, so aircraft taxiing or "
                            "parked do not appear"},
        {stats.droppedOwnName, "they carry the user's own name (PLAYER_NAME in FS2002.cfg), and "
                               "the user's own aircraft is not shown"},
        {stats.droppedNoName, "their senders have no name in the session"},
        {stats.droppedTooShort, "they are too short to be position messages"},
        {stats.droppedTableFull, "the table of 30 aircraft was full"},
    };
    const Reason* biggest = &reasons[0];
    for (const Reason& reason : reasons)
        if (reason.count > biggest->count)
            biggest = &reason;
    return biggest->text;
}

// Why the last exchange with the simulator failed, from its result and the send's system error.
std::string ExchangeFailure(const RelayStats& stats) {
    auto result = static_cast<SimLinkResult>(stats.lastExchangeResult);
    bool unanswered = result == SimLinkResult::SendError || result == SimLinkResult::NoAnswer;
    std::uint32_t error = unanswered ? stats.lastSendError : 0;
    if (error == ErrorInvalidWindowHandle)
        return "FS2002 was started again after Skyrelay found it; Skyrelay keeps talking to the "
               "old window: restart Skyrelay.";
    if (error == ErrorAccessDenied)
        return "Skyrelay and FS2002 run with different rights (one as administrator): start both "
               "the same way.";
    if (result == SimLinkResult::NoAnswer || error == ErrorTimeout)
        return "FS2002 does not answer: the last exchange timed out, and Skyrelay waits up to " +
               Seconds(std::uint64_t{SendAttempts} * (SendTimeoutMs + SendRetryPauseMs)) +
               " for each aircraft (" + Number(SendAttempts) + " sends of up to " +
               Seconds(SendTimeoutMs) + "): is FS2002 loading a flight, showing a dialog, or hung?";
    std::string sentence =
        std::string("The simulator refuses the traffic: the last exchange failed with ") +
        SimLinkResultName(result) + " (result " + std::to_string(stats.lastExchangeResult);
    if (error != 0)
        sentence += ", system error " + Number(error);
    return sentence + ").";
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
    if (header[1] == 1) {
        reading.refusal = "the block has layout version 1, written by an older Skyrelay: use the "
                          "skyrelay-aifile that came with it, or a newer Skyrelay";
        return reading;
    }
    if (header[1] < RelayStatsVersion) {
        reading.refusal = "the block has layout version " + Number(header[1]) + ", not " +
                          Number(RelayStatsVersion) + " or later";
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

std::string DiagnoseRelay(const RelayStatsContext& context) {
    const RelayStats* stats = context.stats;
    const std::uint64_t now = context.nowMs;
    if (stats == nullptr || stats->running == 0 || !context.processRunning)
        return "Skyrelay is not running: start it, then look again.";
    if (stats->simDetected == 0) {
        // From the fourth failure on, each one stops the search (CountLinkFailure).
        if (stats->linkFailureCount >= 3)
            return "The simulator is not found, and the link to it failed " +
                   Number(stats->linkFailureCount) +
                   " times: Skyrelay stops looking for it at the next failure, if it has not "
                   "already: restart the simulator, then Skyrelay.";
        return "The simulator is not found: is FS2002 running, with its IPC module? Skyrelay "
               "looks for it every 2 s.";
    }
    const bool automatic = stats->usingSquawkBox != 0 && stats->manualConnectOnly == 0;
    if (stats->inSession == 0) {
        // Multiplayer connect is grayed in automatic mode, and after a join made from it.
        if (stats->lastEnding != 0) {
            std::string sentence = std::string("Not in a session: it ended (") +
                                   EndingText(stats->lastEnding) +
                                   ") and Skyrelay does not join again by itself";
            if (automatic)
                return sentence + ", and Multiplayer connect is grayed in automatic mode: restart "
                                  "Skyrelay, or turn \"Manual connect only\" on and choose "
                                  "Multiplayer connect > TCP/IP.";
            return sentence + ": choose Multiplayer connect > TCP/IP or IPX/SPX, or restart "
                              "Skyrelay if they are grayed.";
        }
        if (automatic)
            return "Not in a session: automatic mode tries the session on this machine every 6 s "
                   "(" +
                   Number(stats->attemptsTcp + stats->attemptsIpx) +
                   " attempts so far, none joined): is a multiplayer session running in FS2002?";
        std::string sentence = "Not in a session: manual mode needs a Multiplayer connect command "
                               "(Multiplayer connect > TCP/IP or IPX/SPX)";
        if (stats->usingSquawkBox == 0)
            sentence += "; automatic connection needs \"Using SquawkBox\" on and \"Manual connect "
                        "only\" off";
        return sentence + ".";
    }
    // While the simulator refuses the last entries the relay takes nothing from the session, so
    // a silence then is the exchanges' doing.
    const bool exchangesFail = stats->lastExchangeResult != 0;
    std::uint64_t heard = stats->positionMessages != 0 ? stats->lastMessageMs : stats->lastJoinMs;
    if (stats->positionMessages == 0 ||
        (!exchangesFail && SecondsSince(heard, now) * 1000 >= SilenceMs))
        return "Connected, but nothing heard for " + Number(SecondsSince(heard, now)) +
               " s: is a multiplayer session running on this machine, with other pilots in it?";
    if (stats->positionsRecorded == 0)
        return Number(stats->positionMessages) +
               " position messages heard, all dropped: " + BiggestDropReason(*stats) + ".";
    if (exchangesFail)
        return ExchangeFailure(*stats);
    std::string published = stats->lastPublishMs == 0
                                ? "not published yet"
                                : "last published " + Ago(stats->lastPublishMs, now);
    return "All is well: " + Number(stats->aircraftInTable) + " aircraft, " + published + ".";
}

std::string DiagnosisDetail(const RelayStatsContext& context) {
    const RelayStats* stats = context.stats;
    if (stats == nullptr || stats->running == 0 || !context.processRunning ||
        stats->simDetected == 0 || stats->lastExchangeResult != 0)
        return "";
    std::uint32_t failed = FailedExchanges(*stats);
    std::string trouble;
    if (stats->linkFailureCount != 0)
        trouble = "the link to the simulator failed " +
                  (stats->linkFailureCount == 1 ? std::string("once")
                                                : Number(stats->linkFailureCount) + " times");
    if (failed != 0) {
        trouble += (trouble.empty() ? "" : "; ") + Count(failed, "exchange") + " with it failed";
        if (stats->lastSendError != 0)
            trouble += " (the last failed send: system error " + Number(stats->lastSendError) + ")";
    }
    return trouble.empty() ? "" : "Earlier " + trouble + "; it works now.";
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
    };
    out += "{\"nowMs\":" + Number(context.nowMs);
    for (const Field& field : fields)
        out += std::string(",\"") + field.name + "\":" + Number(field.value);
    out += ",\"exchangesFailed\":[";
    for (std::size_t code = 0; code < RelayStatsResultCodes; ++code)
        out += (code == 0 ? "" : ",") + Number(s.exchangesFailed[code]);
    out += "],\"lastExchangeResult\":" + std::to_string(s.lastExchangeResult) +
           ",\"sequence\":" + Number(s.sequence) + ",\"lastSendError\":" + Number(s.lastSendError) +
           "}}";
    return out;
}
