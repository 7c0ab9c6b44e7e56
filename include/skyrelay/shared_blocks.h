/* Skyrelay's two shared memory blocks, for programs that read them: "AIFile", the traffic
 * picture, and "SkyrelayStats", the relay's counters. One header for C (C99 or later) and C++, on
 * Windows (mingw-w64, MSVC) and Linux; it needs nothing but <stdint.h>. docs/shared-blocks.md
 * describes every field, when each block changes and how to read it; examples/read_aifile.c reads
 * both.
 *
 * Both blocks are little-endian and packed; floats are IEEE 754 single precision. Open them
 * read-only and never write them. */
#ifndef SKYRELAY_SHARED_BLOCKS_H
#define SKYRELAY_SHARED_BLOCKS_H

#include <stdint.h>

/* The blocks' names. On Windows they are the names of file mappings (OpenFileMappingA). On Linux
 * each is the POSIX shared memory object "/" + $SKYRELAY_SHM_PREFIX + name (the prefix is empty
 * when the variable is not set). */
#define SKYRELAY_AIFILE_NAME "AIFile"
#define SKYRELAY_STATS_NAME "SkyrelayStats"
#define SKYRELAY_SHM_PREFIX_VARIABLE "SKYRELAY_SHM_PREFIX"

/* ---- "AIFile" ---- */

#define SKYRELAY_AIFILE_SIZE 28680         /* bytes: the 8-byte header and 512 records */
#define SKYRELAY_AIFILE_SLOTS 512          /* record slots */
#define SKYRELAY_AIFILE_MAX_AIRCRAFT 30    /* the most records a picture holds */
#define SKYRELAY_AIFILE_RECORD_SIZE 56     /* bytes per record */
#define SKYRELAY_AIFILE_STATE_NO_PICTURE 0 /* before the first publication, and after exit */
#define SKYRELAY_AIFILE_STATE_PUBLISHED 2  /* a picture has been published */

#pragma pack(push, 1)

/* One aircraft, 56 bytes. */
typedef struct SkyrelayAircraft {
    float latitude;       /* degrees, north positive */
    float longitude;      /* degrees, east positive */
    float altitude;       /* feet */
    float headingDegrees; /* degrees: the 16-bit heading word * 360 / 65535 */
    float groundSpeed;    /* knots, a whole number */
    float verticalSpeed;  /* feet per minute, a whole number */
    uint8_t reserved[32]; /* zero */
} SkyrelayAircraft;

/* The whole block, 28680 bytes. Only records[0] to records[recordCount - 1] are the current
 * picture; the slots after them may hold aircraft of earlier pictures. */
typedef struct SkyrelayAIFile {
    int32_t state;       /* SKYRELAY_AIFILE_STATE_NO_PICTURE or SKYRELAY_AIFILE_STATE_PUBLISHED */
    int32_t recordCount; /* aircraft in the picture, 0 to 30 */
    SkyrelayAircraft records[SKYRELAY_AIFILE_SLOTS];
} SkyrelayAIFile;

#pragma pack(pop)

/* ---- "SkyrelayStats" ---- */

#define SKYRELAY_STATS_MAGIC 0x54534B53u /* the bytes "SKST" */
#define SKYRELAY_STATS_VERSION 3u        /* the layout this header describes; readers accept >= */
#define SKYRELAY_STATS_SIZE 432u         /* bytes of this layout; readers accept a larger size */
#define SKYRELAY_STATS_RESULT_CODES 16   /* simulator link result codes 0 to 15 */
#define SKYRELAY_STATS_READ_ATTEMPTS 5   /* copies a reader tries before it gives up for now */
#define SKYRELAY_STATS_RECENT 4          /* publications whose counts the block keeps */

/* linkState: the simulator link. */
#define SKYRELAY_LINK_NEVER_FOUND 0 /* not found since the start; the relay looks every 2 s */
#define SKYRELAY_LINK_OPEN 1        /* found; the last exchange succeeded, or none was made */
#define SKYRELAY_LINK_FAILING 2     /* found; the exchanges have failed since linkSinceMs */
#define SKYRELAY_LINK_STOPPED 3     /* never found, and the relay no longer looks for it */

/* sessionState: the relay's place in a multiplayer session. */
#define SKYRELAY_SESSION_NONE 0       /* never joined since the start */
#define SKYRELAY_SESSION_ATTEMPTING 1 /* a join attempt runs now */
#define SKYRELAY_SESSION_JOINED 2     /* joined, and no session-ending message has arrived */
#define SKYRELAY_SESSION_ENDED 3      /* a session-ending message (sessionEnding) arrived */

/* timersRunning: bits of the relay's timers that run. */
#define SKYRELAY_TIMER_DETECTION 1u    /* looks for the simulator every 2 s */
#define SKYRELAY_TIMER_AUTO_CONNECT 2u /* tries to join the session every 6 s */
#define SKYRELAY_TIMER_PUMP 4u         /* takes messages and publishes, every 330 ms */

#pragma pack(push, 1)

/* What one publication of the table saw since the publication before it, 28 bytes. */
typedef struct SkyrelayPublication {
    uint64_t atMs;             /* when it was published */
    uint32_t aircraft;         /* aircraft in the published picture */
    uint32_t accepted;         /* positions stored in the table */
    uint32_t droppedSlow;      /* positions dropped at 30 knots or less */
    uint32_t droppedTableFull; /* positions of a 31st aircraft */
    uint32_t droppedOther;     /* too short, no sender name, or the user's own name */
} SkyrelayPublication;

/* The counter block, 432 bytes in layout version 3. Times are the relay's monotonic clock in
 * milliseconds (CLOCK_MONOTONIC on Linux, the performance counter on Windows), 0 when the event
 * has not happened. Counters count from the relay's start and wrap at 2^32.
 *
 * Measure the age of an event against lastUpdateMs (lastUpdateMs - the event's time), not against
 * your own clock: on some multiprocessor machines the performance counter differs between cores.
 * Use your own clock only for how old lastUpdateMs itself is.
 *
 * A relay that was killed or crashed leaves running 1 (and its last state) behind. So the block
 * speaks for a live relay only when running is 1 and: on Windows, the process processId exists
 * and the named mutex "SkyrelayStatsOwner" is owned (OpenMutexA succeeds and a wait on it with a
 * zero time-out gives WAIT_TIMEOUT; release it at once if the wait gets it); on Linux, the
 * object is locked: flock(fd, LOCK_SH | LOCK_NB) fails with EWOULDBLOCK (unlock at once if it
 * succeeds). A relay that takes over a dead relay's block writes it afresh before anything else. */
typedef struct SkyrelayStats {
    uint32_t magic;                /* SKYRELAY_STATS_MAGIC */
    uint32_t version;              /* layout version, 2 or later */
    uint32_t size;                 /* bytes of the block's layout, 240 or more */
    uint32_t processId;            /* the relay's process id */
    uint64_t startMs;              /* when the relay opened the block */
    uint64_t lastUpdateMs;         /* the relay's last update of the block */
    uint64_t lastMessageMs;        /* the first update after a session message arrived */
    uint64_t lastPublishMs;        /* the first update after a publication */
    uint64_t lastExchangeMs;       /* the first update after a successful exchange with the sim */
    uint64_t lastJoinMs;           /* the first update after a join succeeded */
    uint8_t running;               /* 1 while the relay runs, 0 once it has exited */
    uint8_t simDetected;           /* 1: the simulator's IPC module was found */
    uint8_t connected;             /* 1 once a join attempt has succeeded */
    uint8_t inSession;             /* 1: joined, and no session-ending message has arrived */
    uint8_t searching;             /* 1 while the relay has no player in a session */
    uint8_t usingSquawkBox;        /* option "Using SquawkBox" */
    uint8_t manualConnectOnly;     /* option "Manual connect only" */
    uint8_t useIpx;                /* transport of the last attempt: 0 TCP/IP, 1 IPX/SPX */
    uint16_t linkFailureCount;     /* link failures counted, 0 to 3; the 4th stops detection */
    uint16_t aircraftInTable;      /* aircraft in the relay's table now, 0 to 30 */
    uint32_t lastEnding;           /* type of the last session-ending message, 0 for none */
    uint32_t attemptsTcp;          /* join attempts over TCP/IP */
    uint32_t attemptsIpx;          /* join attempts over IPX/SPX */
    uint32_t attemptsFailed;       /* attempts that created no player */
    uint32_t joins;                /* attempts that joined */
    uint32_t positionMessages;     /* position messages (type 4121) received */
    uint32_t sessionLostMessages;  /* session lost (type 49) received */
    uint32_t hostMessages;         /* host change (type 257) received */
    uint32_t simulatorEndMessages; /* type 4118 received */
    uint32_t refusedMessages;      /* refusal (type 4102) received */
    uint32_t otherMessages;        /* any other type, or under 4 bytes */
    uint64_t bytesReceived;        /* bytes of all received messages */
    uint32_t droppedTooShort;      /* position messages under 58 bytes */
    uint32_t droppedNoName;        /* from senders without a usable short name */
    uint32_t droppedOwnName;       /* from senders named like the user */
    uint32_t droppedSlow;          /* at 30 knots or less */
    uint32_t droppedTableFull;     /* a 31st aircraft */
    uint32_t positionsRecorded;    /* positions stored in the table */
    uint32_t namesHeard;           /* distinct names of other pilots since the start */
    uint32_t publications;         /* publications of the table */
    uint32_t exchangesOk;          /* exchanges with the simulator that succeeded */
    uint32_t exchangesFailed[SKYRELAY_STATS_RESULT_CODES]; /* failed exchanges by result code */
    int32_t lastExchangeResult; /* result code of the last exchange, 0 for Ok */
    uint32_t sequence;          /* odd while the relay writes the block, even otherwise */
    uint32_t lastSendError;     /* system error of the last failed exchange's send, 0 for none */
    /* Layout 3: the facts, each with the relay-clock time it became true. */
    uint8_t linkState;            /* SKYRELAY_LINK_* */
    uint8_t aifileView;           /* 1 while the relay has a view of "AIFile" to publish in */
    uint8_t timersRunning;        /* SKYRELAY_TIMER_* bits */
    uint8_t sessionState;         /* SKYRELAY_SESSION_* */
    uint64_t linkSinceMs;         /* when linkState became what it is */
    int32_t linkLastResult;       /* result code of the last failed link operation, 0 for none */
    uint32_t linkLastSystemError; /* system error of that failure's send, 0 for none */
    uint64_t linkLastFailureMs;   /* when that failure happened */
    uint64_t lastExchangeOkMs;    /* the last exchange with the simulator that succeeded */
    uint64_t waitSinceMs;  /* when the exchange the relay waits in began; 0 when it waits in none */
    uint16_t waitAircraft; /* its aircraft, 1 to waitOf; 0 for the link's handshake */
    uint16_t waitOf;       /* aircraft in that publication; 0 for the handshake */
    int32_t usingSquawkBoxRaw;    /* option UsingSB as the relay holds it (only 1 is on) */
    int32_t manualConnectOnlyRaw; /* option ManualConnect as the relay holds it (not 0 is on) */
    uint64_t sessionSinceMs;      /* when sessionState became what it is */
    uint32_t sessionEnding;       /* type of the ending message when sessionState is ENDED */
    uint32_t recentPublications;  /* entries of recent in use, 0 to 4 */
    uint64_t lastPositionMs;      /* the first update after a position message arrived */
    SkyrelayPublication recent[SKYRELAY_STATS_RECENT]; /* the latest publication first */
} SkyrelayStats;

#pragma pack(pop)

/* ---- Compile-time checks of every size and offset ---- */

#if defined(__GNUC__) || defined(__clang__) || (defined(_MSC_VER) && _MSC_VER >= 1900)
#define SKYRELAY_OFFSET_OF(type, member) __builtin_offsetof(type, member)
#else
#define SKYRELAY_OFFSET_OF(type, member) ((char*)&((type*)0)->member - (char*)0)
#endif

#if defined(__cplusplus) && __cplusplus >= 201103L
#define SKYRELAY_ASSERT(condition, what) static_assert(condition, #what)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define SKYRELAY_ASSERT(condition, what) _Static_assert(condition, #what)
#else
/* C99: an array of -1 elements does not compile. */
#define SKYRELAY_ASSERT(condition, what) typedef char skyrelay_assert_##what[(condition) ? 1 : -1]
#endif

#define SKYRELAY_ASSERT_AT(type, member, offset)                                                   \
    SKYRELAY_ASSERT(SKYRELAY_OFFSET_OF(type, member) == (offset), type##_##member##_at_##offset)

SKYRELAY_ASSERT(sizeof(float) == 4, float_is_4_bytes);
SKYRELAY_ASSERT(sizeof(SkyrelayAircraft) == SKYRELAY_AIFILE_RECORD_SIZE, SkyrelayAircraft_size);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, latitude, 0);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, longitude, 4);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, altitude, 8);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, headingDegrees, 12);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, groundSpeed, 16);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, verticalSpeed, 20);
SKYRELAY_ASSERT_AT(SkyrelayAircraft, reserved, 24);
SKYRELAY_ASSERT(sizeof(SkyrelayAIFile) == SKYRELAY_AIFILE_SIZE, SkyrelayAIFile_size);
SKYRELAY_ASSERT_AT(SkyrelayAIFile, state, 0);
SKYRELAY_ASSERT_AT(SkyrelayAIFile, recordCount, 4);
SKYRELAY_ASSERT_AT(SkyrelayAIFile, records, 8);

SKYRELAY_ASSERT(sizeof(SkyrelayPublication) == 28, SkyrelayPublication_size);
SKYRELAY_ASSERT_AT(SkyrelayPublication, atMs, 0);
SKYRELAY_ASSERT_AT(SkyrelayPublication, aircraft, 8);
SKYRELAY_ASSERT_AT(SkyrelayPublication, accepted, 12);
SKYRELAY_ASSERT_AT(SkyrelayPublication, droppedSlow, 16);
SKYRELAY_ASSERT_AT(SkyrelayPublication, droppedTableFull, 20);
SKYRELAY_ASSERT_AT(SkyrelayPublication, droppedOther, 24);
SKYRELAY_ASSERT(sizeof(SkyrelayStats) == SKYRELAY_STATS_SIZE, SkyrelayStats_size);
SKYRELAY_ASSERT_AT(SkyrelayStats, magic, 0);
SKYRELAY_ASSERT_AT(SkyrelayStats, version, 4);
SKYRELAY_ASSERT_AT(SkyrelayStats, size, 8);
SKYRELAY_ASSERT_AT(SkyrelayStats, processId, 12);
SKYRELAY_ASSERT_AT(SkyrelayStats, startMs, 16);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastUpdateMs, 24);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastMessageMs, 32);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastPublishMs, 40);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastExchangeMs, 48);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastJoinMs, 56);
SKYRELAY_ASSERT_AT(SkyrelayStats, running, 64);
SKYRELAY_ASSERT_AT(SkyrelayStats, simDetected, 65);
SKYRELAY_ASSERT_AT(SkyrelayStats, connected, 66);
SKYRELAY_ASSERT_AT(SkyrelayStats, inSession, 67);
SKYRELAY_ASSERT_AT(SkyrelayStats, searching, 68);
SKYRELAY_ASSERT_AT(SkyrelayStats, usingSquawkBox, 69);
SKYRELAY_ASSERT_AT(SkyrelayStats, manualConnectOnly, 70);
SKYRELAY_ASSERT_AT(SkyrelayStats, useIpx, 71);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkFailureCount, 72);
SKYRELAY_ASSERT_AT(SkyrelayStats, aircraftInTable, 74);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastEnding, 76);
SKYRELAY_ASSERT_AT(SkyrelayStats, attemptsTcp, 80);
SKYRELAY_ASSERT_AT(SkyrelayStats, attemptsIpx, 84);
SKYRELAY_ASSERT_AT(SkyrelayStats, attemptsFailed, 88);
SKYRELAY_ASSERT_AT(SkyrelayStats, joins, 92);
SKYRELAY_ASSERT_AT(SkyrelayStats, positionMessages, 96);
SKYRELAY_ASSERT_AT(SkyrelayStats, sessionLostMessages, 100);
SKYRELAY_ASSERT_AT(SkyrelayStats, hostMessages, 104);
SKYRELAY_ASSERT_AT(SkyrelayStats, simulatorEndMessages, 108);
SKYRELAY_ASSERT_AT(SkyrelayStats, refusedMessages, 112);
SKYRELAY_ASSERT_AT(SkyrelayStats, otherMessages, 116);
SKYRELAY_ASSERT_AT(SkyrelayStats, bytesReceived, 120);
SKYRELAY_ASSERT_AT(SkyrelayStats, droppedTooShort, 128);
SKYRELAY_ASSERT_AT(SkyrelayStats, droppedNoName, 132);
SKYRELAY_ASSERT_AT(SkyrelayStats, droppedOwnName, 136);
SKYRELAY_ASSERT_AT(SkyrelayStats, droppedSlow, 140);
SKYRELAY_ASSERT_AT(SkyrelayStats, droppedTableFull, 144);
SKYRELAY_ASSERT_AT(SkyrelayStats, positionsRecorded, 148);
SKYRELAY_ASSERT_AT(SkyrelayStats, namesHeard, 152);
SKYRELAY_ASSERT_AT(SkyrelayStats, publications, 156);
SKYRELAY_ASSERT_AT(SkyrelayStats, exchangesOk, 160);
SKYRELAY_ASSERT_AT(SkyrelayStats, exchangesFailed, 164);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastExchangeResult, 228);
SKYRELAY_ASSERT_AT(SkyrelayStats, sequence, 232);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastSendError, 236);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkState, 240);
SKYRELAY_ASSERT_AT(SkyrelayStats, aifileView, 241);
SKYRELAY_ASSERT_AT(SkyrelayStats, timersRunning, 242);
SKYRELAY_ASSERT_AT(SkyrelayStats, sessionState, 243);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkSinceMs, 244);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkLastResult, 252);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkLastSystemError, 256);
SKYRELAY_ASSERT_AT(SkyrelayStats, linkLastFailureMs, 260);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastExchangeOkMs, 268);
SKYRELAY_ASSERT_AT(SkyrelayStats, waitSinceMs, 276);
SKYRELAY_ASSERT_AT(SkyrelayStats, waitAircraft, 284);
SKYRELAY_ASSERT_AT(SkyrelayStats, waitOf, 286);
SKYRELAY_ASSERT_AT(SkyrelayStats, usingSquawkBoxRaw, 288);
SKYRELAY_ASSERT_AT(SkyrelayStats, manualConnectOnlyRaw, 292);
SKYRELAY_ASSERT_AT(SkyrelayStats, sessionSinceMs, 296);
SKYRELAY_ASSERT_AT(SkyrelayStats, sessionEnding, 304);
SKYRELAY_ASSERT_AT(SkyrelayStats, recentPublications, 308);
SKYRELAY_ASSERT_AT(SkyrelayStats, lastPositionMs, 312);
SKYRELAY_ASSERT_AT(SkyrelayStats, recent, 320);

#endif /* SKYRELAY_SHARED_BLOCKS_H */
