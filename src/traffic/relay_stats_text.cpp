#include "traffic/relay_stats_text.h"

#include "simlink/sim_link.h"
#include "traffic/session_messages.h"

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

// The reason that dropped the most position messages, as the end of a sentence.
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

} // namespace

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
    if (stats->linkFailureCount >= 3)
        return "The link to the simulator failed " + Number(stats->linkFailureCount) +
               " times and Skyrelay stopped looking for it: restart the simulator, then Skyrelay.";
    if (stats->simDetected == 0)
        return "The simulator is not found: is FS2002 running, with its IPC module? Skyrelay "
               "looks for it every 2 s.";
    if (stats->inSession == 0) {
        if (stats->lastEnding != 0)
            return std::string("Not in a session: it ended (") + EndingText(stats->lastEnding) +
                   ") and Skyrelay does not join again by itself: choose Multiplayer > TCP/IP "
                   "or IPX/SPX, or restart Skyrelay.";
        if (stats->usingSquawkBox != 0 && stats->manualConnectOnly == 0)
            return "Not in a session: automatic mode tries the session on this machine every 6 s "
                   "(" +
                   Number(stats->attemptsTcp + stats->attemptsIpx) +
                   " attempts so far, none joined): is a multiplayer session running in FS2002?";
        std::string sentence = "Not in a session: manual mode needs a Multiplayer connect command "
                               "(Multiplayer > TCP/IP or IPX/SPX)";
        if (stats->usingSquawkBox == 0)
            sentence += "; automatic connection needs \"Using SquawkBox\" on and \"Manual connect "
                        "only\" off";
        return sentence + ".";
    }
    std::uint64_t heard = stats->positionMessages != 0 ? stats->lastMessageMs : stats->lastJoinMs;
    if (stats->positionMessages == 0 || SecondsSince(heard, now) * 1000 >= SilenceMs)
        return "Connected, but nothing heard for " + Number(SecondsSince(heard, now)) +
               " s: is a multiplayer session running on this machine, with other pilots in it?";
    if (stats->positionsRecorded == 0)
        return Number(stats->positionMessages) +
               " position messages heard, all dropped: " + BiggestDropReason(*stats) + ".";
    if (stats->lastExchangeResult != 0)
        return std::string("The simulator refuses the traffic: the last exchange failed with ") +
               SimLinkResultName(static_cast<SimLinkResult>(stats->lastExchangeResult)) +
               " (result " + std::to_string(stats->lastExchangeResult) + ").";
    std::string published = stats->lastPublishMs == 0
                                ? "not published yet"
                                : "last published " + Ago(stats->lastPublishMs, now);
    return "All is well: " + Number(stats->aircraftInTable) + " aircraft, " + published + ".";
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
           SimLinkResultName(static_cast<SimLinkResult>(s.lastExchangeResult)) + "\n";
    return out;
}

std::string RenderRelayStatsJson(const RelayStatsContext& context) {
    std::string out = "{\"diagnosis\":" + JsonString(DiagnoseRelay(context)) + ",\"stats\":";
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
    out += "],\"lastExchangeResult\":" + std::to_string(s.lastExchangeResult) + "}}";
    return out;
}
