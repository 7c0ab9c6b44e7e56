// The relay's own layouts of "AIFile" and "SkyrelayStats" are the ones the public header gives
// other programs: every size, offset and constant is compared here at compile time, so the two
// cannot drift apart. Nothing here runs.
#include "traffic/relay_stats.h"
#include "traffic/shared_block.h"

#include <skyrelay/shared_blocks.h>

#include <cstddef>
#include <string_view>

// The same field at the same offset, with the same size.
#define SAME_FIELD(ours, theirs, field)                                                            \
    static_assert(offsetof(ours, field) == offsetof(theirs, field) &&                              \
                      sizeof(ours::field) == sizeof(theirs::field),                                \
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
SAME_FIELD(SharedTrafficBlock, SkyrelayAIFile, records);
