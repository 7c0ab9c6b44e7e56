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
#define SKYRELAY_STATS_VERSION 2u        /* the layout this header describes; readers accept >= */
#define SKYRELAY_STATS_SIZE 240u         /* bytes of this layout; readers accept a larger size */
#define SKYRELAY_STATS_RESULT_CODES 16   /* simulator link result codes 0 to 15 */
#define SKYRELAY_STATS_READ_ATTEMPTS 5   /* copies a reader tries before it gives up for now */

#pragma pack(push, 1)

/* The counter block, 240 bytes in layout version 2. Times are the machine's monotonic clock in
 * milliseconds (CLOCK_MONOTONIC on Linux, the performance counter on Windows), 0 when the event
 * has not happened. Counters count from the relay's start and wrap at 2^32. */
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
    uint16_t linkFailureCount;     /* simulator link failures counted, 0 to 3; at 3 it stops */
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
    uint32_t lastSendError;     /* system error of the last failed send to the sim, 0 for none */
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

#endif /* SKYRELAY_SHARED_BLOCKS_H */
