#include "traffic/pump.h"

#include "state/relay_state.h"
#include "traffic/relay_stats.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

SimLinkResult lastExchangeResult = SimLinkResult::Ok;

void ResetPumpState() {
    lastExchangeResult = SimLinkResult::Ok;
}

void OnPumpTimer() {
    plat::WaitForEventOrInput(sessionEvent);

    // While the simulator refuses the last entries, they wait in the table for the next
    // publication and nothing new is taken from the session.
    if (lastExchangeResult == SimLinkResult::Ok)
        DrainSessionMessages();

    std::uint16_t threshold =
        relayState.usingSquawkBox == 1 ? SquawkBoxPublishThreshold : PublishThreshold;
    // "Reached or passed": a switch of the option mid-count must not let the counter run on.
    if (relayState.pumpTickCount >= threshold) {
        PublishTraffic();
        relayState.pumpTickCount = 0;
    } else {
        ++relayState.pumpTickCount;
    }

    CopyToSharedView();
    PublishRelayStats();
}

void PublishTraffic() {
    // One exchange per aircraft, each a single 40-byte write at the same offset. Before the
    // simulator is found (a menu join can come first) only "AIFile" gets the picture: calls on a
    // closed link would count as link failures and soon stop the detection that opens it.
    ++relayStats.publications;
    bool linkOpen = SimLinkIsOpen();
    for (std::size_t i = 0; i < trafficTable.count; ++i) {
        const TrafficEntry& entry = trafficTable.entries[i];
        PutSharedRecord(workingBlock.records[i], entry);
        if (!linkOpen)
            continue;
        // A reader sees what the relay waits for while the exchange holds its thread.
        NoteExchangeStarting(static_cast<std::uint16_t>(i + 1), trafficTable.count);
        SimLinkWrite(TrafficOffset, sizeof entry, &entry, &lastExchangeResult);
        SimLinkProcess(&lastExchangeResult);
        NoteExchangeEnded();
        if (lastExchangeResult == SimLinkResult::Ok) {
            ++relayStats.exchangesOk;
            NoteExchangeOk();
        } else {
            ++relayStats.exchangesFailed[static_cast<std::uint32_t>(lastExchangeResult) %
                                         RelayStatsResultCodes];
            NoteLinkFailure(static_cast<std::int32_t>(lastExchangeResult),
                            SimLinkSystemError(lastExchangeResult), true);
        }
        relayStats.lastExchangeResult = static_cast<std::int32_t>(lastExchangeResult);
    }

    if (trafficTable.count != 0) {
        workingBlock.recordCount = trafficTable.count;
        workingBlock.state = SharedStatePublished;
    } else {
        EmptyPicture();
        // Nothing was exchanged, so nothing waits to be retried: let the drain run again.
        lastExchangeResult = SimLinkResult::Ok;
    }
    NotePublication(trafficTable.count);

    if (relayState.publishCount >= EmptyAfterPublications) {
        ResetTrafficTable();
        relayState.publishCount = 0;
    } else {
        ++relayState.publishCount;
    }
}
