/* read_aifile: reads Skyrelay's two shared memory blocks the way any other program may, and prints
 * them: the traffic picture in "AIFile" and the relay's counters in "SkyrelayStats". Both are
 * opened read-only and never written. Copy it and keep what you need; docs/shared-blocks.md
 * describes every field.
 *
 *   Linux:    cc -std=c99 -Iinclude examples/read_aifile.c -o read_aifile -lrt
 *   Windows:  cc -std=c99 -Iinclude examples/read_aifile.c -o read_aifile.exe
 *
 * Prints one line per item, each value after its field's name:
 *
 *   AIFile: state 2 recordCount 1
 *   aircraft 0: latitude 39.9999962 longitude -90 altitude 3282.48047 headingDegrees 359.653931
 *     groundSpeed 110 verticalSpeed -600                                 (one line in the output)
 *   SkyrelayStats: version 3 processId 31764 running 1 simDetected 1 ... lastSendError 0
 *
 * Exit status: 0 when "AIFile" was read, 1 when there is none (Skyrelay is not running). */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include <skyrelay/shared_blocks.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

/* A read-only view of one block; bytes is null when there is no such block. */
typedef struct Block {
    const unsigned char* bytes;
    size_t size; /* bytes that may be read */
#ifdef _WIN32
    HANDLE mapping;
#endif
} Block;

#ifdef _WIN32

/* The file mapping of that name. */
static Block open_block(const char* name) {
    Block block = {NULL, 0, NULL};
    MEMORY_BASIC_INFORMATION region;
    block.mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (block.mapping == NULL)
        return block;
    block.bytes = (const unsigned char*)MapViewOfFile(block.mapping, FILE_MAP_READ, 0, 0, 0);
    /* The view reaches as far as its creator made the mapping (in whole pages). */
    if (block.bytes != NULL && VirtualQuery(block.bytes, &region, sizeof region) == sizeof region)
        block.size = region.RegionSize;
    return block;
}

static void close_block(Block* block) {
    if (block->bytes != NULL)
        UnmapViewOfFile(block->bytes);
    if (block->mapping != NULL)
        CloseHandle(block->mapping);
}

static void acquire_fence(void) {
    MemoryBarrier();
}

static void pause_briefly(void) {
    Sleep(1);
}

#else

/* The shared memory object "/" + $SKYRELAY_SHM_PREFIX + name. */
static Block open_block(const char* name) {
    Block block = {NULL, 0};
    const char* prefix = getenv(SKYRELAY_SHM_PREFIX_VARIABLE);
    char path[256];
    struct stat info;
    int fd;
    snprintf(path, sizeof path, "/%s%s", prefix != NULL ? prefix : "", name);
    fd = shm_open(path, O_RDONLY, 0);
    if (fd < 0)
        return block;
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
        void* view = mmap(NULL, (size_t)info.st_size, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            block.bytes = (const unsigned char*)view;
            block.size = (size_t)info.st_size;
        }
    }
    close(fd); /* the view outlives the descriptor */
    return block;
}

static void close_block(Block* block) {
    if (block->bytes != NULL)
        munmap((void*)block->bytes, block->size);
}

static void acquire_fence(void) {
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
}

static void pause_briefly(void) {
    struct timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, NULL);
}

#endif

/* Copies the counters out of the block, never half of one update and half of the next: the
 * relay makes `sequence` odd before it writes the block and even again after, so a copy counts
 * only when the word was even before it and unchanged after it. Returns 1 for a copy, 0 when the
 * block is not one of a layout this reader knows, -1 when the relay was writing at every try. */
static int read_stats(const Block* block, SkyrelayStats* stats) {
    const volatile uint32_t* sequence;
    int attempt;
    if (block->size < SKYRELAY_STATS_SIZE)
        return 0;
    sequence = (const volatile uint32_t*)(const void*)(block->bytes +
                                                       SKYRELAY_OFFSET_OF(SkyrelayStats, sequence));
    for (attempt = 0; attempt < SKYRELAY_STATS_READ_ATTEMPTS; ++attempt) {
        uint32_t before = *sequence;
        acquire_fence();
        memcpy(stats, block->bytes, sizeof *stats); /* the first 240 bytes, of any larger size */
        acquire_fence();
        if (before % 2 == 0 && *sequence == before)
            break;
        pause_briefly();
    }
    if (attempt == SKYRELAY_STATS_READ_ATTEMPTS)
        return -1;
    if (stats->magic != SKYRELAY_STATS_MAGIC || stats->version < SKYRELAY_STATS_VERSION ||
        stats->size < SKYRELAY_STATS_SIZE)
        return 0;
    return 1;
}

static void print_stats(void) {
    Block block = open_block(SKYRELAY_STATS_NAME);
    SkyrelayStats s;
    int result = block.bytes != NULL ? read_stats(&block, &s) : 0;
    if (block.bytes == NULL)
        printf("SkyrelayStats: none\n");
    else if (result < 0)
        printf("SkyrelayStats: busy at every try; read again\n");
    else if (result == 0)
        printf("SkyrelayStats: not a layout this reader knows\n");
    else
        printf("SkyrelayStats: version %lu processId %lu running %u simDetected %u connected %u "
               "inSession %u aircraftInTable %u positionMessages %lu droppedSlow %lu "
               "publications %lu exchangesOk %lu lastExchangeResult %ld lastSendError %lu\n",
               (unsigned long)s.version, (unsigned long)s.processId, s.running, s.simDetected,
               s.connected, s.inSession, s.aircraftInTable, (unsigned long)s.positionMessages,
               (unsigned long)s.droppedSlow, (unsigned long)s.publications,
               (unsigned long)s.exchangesOk, (long)s.lastExchangeResult,
               (unsigned long)s.lastSendError);
    close_block(&block);
}

int main(void) {
    static SkyrelayAIFile picture;
    Block block = open_block(SKYRELAY_AIFILE_NAME);
    int32_t i;
    if (block.bytes == NULL || block.size < sizeof picture) {
        printf("AIFile: none (Skyrelay is not running)\n");
        close_block(&block);
        return 1;
    }
    /* One copy of the whole block at once, then read only the copy: the relay rewrites the block
     * without a lock, and a short copy keeps the chance of meeting a rewrite small. */
    memcpy(&picture, block.bytes, sizeof picture);
    close_block(&block);

    printf("AIFile: state %ld recordCount %ld\n", (long)picture.state, (long)picture.recordCount);
    /* The picture is the first recordCount records, and only while the state says published. */
    if (picture.state == SKYRELAY_AIFILE_STATE_PUBLISHED && picture.recordCount >= 0 &&
        picture.recordCount <= SKYRELAY_AIFILE_MAX_AIRCRAFT) {
        for (i = 0; i < picture.recordCount; ++i) {
            const SkyrelayAircraft* a = &picture.records[i];
            printf("aircraft %ld: latitude %.9g longitude %.9g altitude %.9g headingDegrees %.9g "
                   "groundSpeed %.9g verticalSpeed %.9g\n",
                   (long)i, (double)a->latitude, (double)a->longitude, (double)a->altitude,
                   (double)a->headingDegrees, (double)a->groundSpeed, (double)a->verticalSpeed);
        }
    }
    print_stats();
    return 0;
}
