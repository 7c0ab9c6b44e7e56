// The relay's own layouts of "AIFile" and "SkyrelayStats" are the ones the public header gives
// other programs: every size, offset, field type and constant is compared here at compile time, so
// the two cannot drift apart. Nothing here runs.
#include "traffic/relay_stats.h"
#include "traffic/shared_block.h"

#include <skyrelay/shared_blocks.h>

#include <cstddef>
#include <string_view>
#include <type_traits>

// The same field, of the same type, at the same offset.
#define SAME_FIELD(ours, theirs, field)                                                            \
    static_assert(offsetof(ours, field) == offsetof(theirs, field) &&                              \
                      std::is_same_v<decltype(ours::field), decltype(theirs::field)>,              \
                  #ours "::" #field " differs from the public header")

static_assert(std::string_view(SharedBlockName) == SKYRELAY_AIFILE_NAME);
static_assert(SharedBlockSize == SKYRELAY_AIFILE_SIZE);
static_assert(SharedRecordSlots == SKYRELAY_AIFILE_SLOTS);
static_assert(MaxTraffic == SKYRELAY_AIFILE_MAX_AIRCRAFT);
static_assert(SharedStateNoPicture == SKYRELAY_AIFILE_STATE_NO_PICTURE);
static_assert(SharedStatePublished == SKYRELAY_AIFILE_STATE_PUBLISHED);
static_assert(sizeof(SharedTrafficRecord) == sizeof(SkyrelayAircraft));
static_assert(sizeof(SharedTrafficBlock) == sizeof(SkyrelayAIFile));
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, latitude);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, longitude);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, altitude);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, headingDegrees);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, groundSpeed);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, verticalSpeed);
SAME_FIELD(SharedTrafficRecord, SkyrelayAircraft, reserved);
SAME_FIELD(SharedTrafficBlock, SkyrelayAIFile, state);
SAME_FIELD(SharedTrafficBlock, SkyrelayAIFile, recordCount);
// The slots: records checked above, as many, at the same offset.
static_assert(offsetof(SharedTrafficBlock, records) == offsetof(SkyrelayAIFile, records) &&
              std::extent_v<decltype(SharedTrafficBlock::records)> ==
                  std::extent_v<decltype(SkyrelayAIFile::records)>);

static_assert(std::string_view(RelayStatsBlockName) == SKYRELAY_STATS_NAME);
static_assert(RelayStatsMagic == SKYRELAY_STATS_MAGIC);
static_assert(RelayStatsVersion == SKYRELAY_STATS_VERSION);
static_assert(RelayStatsSize == SKYRELAY_STATS_SIZE);
static_assert(RelayStatsResultCodes == SKYRELAY_STATS_RESULT_CODES);
static_assert(RelayRecentPublications == SKYRELAY_STATS_RECENT);
static_assert(RelayLinkNeverFound == SKYRELAY_LINK_NEVER_FOUND &&
              RelayLinkOpen == SKYRELAY_LINK_OPEN && RelayLinkFailing == SKYRELAY_LINK_FAILING &&
              RelayLinkStopped == SKYRELAY_LINK_STOPPED);
static_assert(RelaySessionNone == SKYRELAY_SESSION_NONE &&
              RelaySessionAttempting == SKYRELAY_SESSION_ATTEMPTING &&
              RelaySessionJoined == SKYRELAY_SESSION_JOINED &&
              RelaySessionEnded == SKYRELAY_SESSION_ENDED);
static_assert(RelayTimerDetection == SKYRELAY_TIMER_DETECTION &&
              RelayTimerAutoConnect == SKYRELAY_TIMER_AUTO_CONNECT &&
              RelayTimerPump == SKYRELAY_TIMER_PUMP);
static_assert(sizeof(RelayPublication) == sizeof(SkyrelayPublication));
SAME_FIELD(RelayPublication, SkyrelayPublication, atMs);
SAME_FIELD(RelayPublication, SkyrelayPublication, aircraft);
SAME_FIELD(RelayPublication, SkyrelayPublication, accepted);
SAME_FIELD(RelayPublication, SkyrelayPublication, droppedSlow);
SAME_FIELD(RelayPublication, SkyrelayPublication, droppedTableFull);
SAME_FIELD(RelayPublication, SkyrelayPublication, droppedOther);
static_assert(sizeof(RelayStats) == sizeof(SkyrelayStats));
SAME_FIELD(RelayStats, SkyrelayStats, magic);
SAME_FIELD(RelayStats, SkyrelayStats, version);
SAME_FIELD(RelayStats, SkyrelayStats, size);
SAME_FIELD(RelayStats, SkyrelayStats, processId);
SAME_FIELD(RelayStats, SkyrelayStats, startMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastUpdateMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastMessageMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastPublishMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastExchangeMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastJoinMs);
SAME_FIELD(RelayStats, SkyrelayStats, running);
SAME_FIELD(RelayStats, SkyrelayStats, simDetected);
SAME_FIELD(RelayStats, SkyrelayStats, connected);
SAME_FIELD(RelayStats, SkyrelayStats, inSession);
SAME_FIELD(RelayStats, SkyrelayStats, searching);
SAME_FIELD(RelayStats, SkyrelayStats, usingSquawkBox);
SAME_FIELD(RelayStats, SkyrelayStats, manualConnectOnly);
SAME_FIELD(RelayStats, SkyrelayStats, useIpx);
SAME_FIELD(RelayStats, SkyrelayStats, linkFailureCount);
SAME_FIELD(RelayStats, SkyrelayStats, aircraftInTable);
SAME_FIELD(RelayStats, SkyrelayStats, lastEnding);
SAME_FIELD(RelayStats, SkyrelayStats, attemptsTcp);
SAME_FIELD(RelayStats, SkyrelayStats, attemptsIpx);
SAME_FIELD(RelayStats, SkyrelayStats, attemptsFailed);
SAME_FIELD(RelayStats, SkyrelayStats, joins);
SAME_FIELD(RelayStats, SkyrelayStats, positionMessages);
SAME_FIELD(RelayStats, SkyrelayStats, sessionLostMessages);
SAME_FIELD(RelayStats, SkyrelayStats, hostMessages);
SAME_FIELD(RelayStats, SkyrelayStats, simulatorEndMessages);
SAME_FIELD(RelayStats, SkyrelayStats, refusedMessages);
SAME_FIELD(RelayStats, SkyrelayStats, otherMessages);
SAME_FIELD(RelayStats, SkyrelayStats, bytesReceived);
SAME_FIELD(RelayStats, SkyrelayStats, droppedTooShort);
SAME_FIELD(RelayStats, SkyrelayStats, droppedNoName);
SAME_FIELD(RelayStats, SkyrelayStats, droppedOwnName);
SAME_FIELD(RelayStats, SkyrelayStats, droppedSlow);
SAME_FIELD(RelayStats, SkyrelayStats, droppedTableFull);
SAME_FIELD(RelayStats, SkyrelayStats, positionsRecorded);
SAME_FIELD(RelayStats, SkyrelayStats, namesHeard);
SAME_FIELD(RelayStats, SkyrelayStats, publications);
SAME_FIELD(RelayStats, SkyrelayStats, exchangesOk);
SAME_FIELD(RelayStats, SkyrelayStats, exchangesFailed);
SAME_FIELD(RelayStats, SkyrelayStats, lastExchangeResult);
SAME_FIELD(RelayStats, SkyrelayStats, sequence);
SAME_FIELD(RelayStats, SkyrelayStats, lastSendError);
SAME_FIELD(RelayStats, SkyrelayStats, linkState);
SAME_FIELD(RelayStats, SkyrelayStats, aifileView);
SAME_FIELD(RelayStats, SkyrelayStats, timersRunning);
SAME_FIELD(RelayStats, SkyrelayStats, sessionState);
SAME_FIELD(RelayStats, SkyrelayStats, linkSinceMs);
SAME_FIELD(RelayStats, SkyrelayStats, linkLastResult);
SAME_FIELD(RelayStats, SkyrelayStats, linkLastSystemError);
SAME_FIELD(RelayStats, SkyrelayStats, linkLastFailureMs);
SAME_FIELD(RelayStats, SkyrelayStats, lastExchangeOkMs);
SAME_FIELD(RelayStats, SkyrelayStats, waitSinceMs);
SAME_FIELD(RelayStats, SkyrelayStats, waitAircraft);
SAME_FIELD(RelayStats, SkyrelayStats, waitOf);
SAME_FIELD(RelayStats, SkyrelayStats, usingSquawkBoxRaw);
SAME_FIELD(RelayStats, SkyrelayStats, manualConnectOnlyRaw);
SAME_FIELD(RelayStats, SkyrelayStats, sessionSinceMs);
SAME_FIELD(RelayStats, SkyrelayStats, sessionEnding);
SAME_FIELD(RelayStats, SkyrelayStats, recentPublications);
SAME_FIELD(RelayStats, SkyrelayStats, lastPositionMs);
// The recent publications: records checked above, as many, at the same offset.
static_assert(offsetof(RelayStats, recent) == offsetof(SkyrelayStats, recent) &&
              std::extent_v<decltype(RelayStats::recent)> ==
                  std::extent_v<decltype(SkyrelayStats::recent)>);
