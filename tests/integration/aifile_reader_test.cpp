// The "AIFile" block as another process sees it: the relay's code writes a real shared memory block
// (a POSIX object on Linux, a file mapping on Windows), and skyrelay-aifile, started as a separate
// program, reads it.
#include "platform/messaging.h"
#include "platform/shared_memory.h"
#include "state/relay_state.h"
#include "traffic/relay_stats.h"
#include "traffic/shared_block.h"

#include "integration/other_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/fake/fake.h"
#include "platform/win32/monotonic_clock.h"
#else
#include "platform/app.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using ReaderRun = other::Run;

ReaderRun RunReader(const std::vector<std::string>& options, int stopAfterLines = 0) {
    return other::RunProgram("skyrelay-aifile", options, stopAfterLines);
}

// The clock the relay stamps its counters with (the Windows tests take the rest of the seam from
// the fake backend, but not this).
std::uint64_t RelayClock() {
#ifdef _WIN32
    return win32::MonotonicMilliseconds();
#else
    return plat::MonotonicMilliseconds();
#endif
}

// Another program's view of a block it created itself.
struct OtherProgramBlock {
    std::size_t size = 0;
    std::uint8_t* bytes = nullptr;
#ifdef _WIN32
    HANDLE mapping = nullptr;

    OtherProgramBlock(const std::string& name, std::size_t blockSize, std::uint8_t fill)
        : size(blockSize) {
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(size), name.c_str());
        if (mapping == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
            return;
        bytes = static_cast<std::uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
        if (bytes != nullptr)
            std::memset(bytes, fill, size);
    }
    ~OtherProgramBlock() {
        if (bytes != nullptr)
            UnmapViewOfFile(bytes);
        if (mapping != nullptr)
            CloseHandle(mapping);
    }
#else
    std::string name;

    OtherProgramBlock(const std::string& blockName, std::size_t blockSize, std::uint8_t fill)
        : size(blockSize), name(blockName) {
        int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
            return;
        void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (view != MAP_FAILED) {
            bytes = static_cast<std::uint8_t*>(view);
            std::memset(bytes, fill, size);
        }
    }
    ~OtherProgramBlock() {
        if (bytes != nullptr)
            munmap(bytes, size);
        shm_unlink(name.c_str());
    }
#endif
    OtherProgramBlock(const OtherProgramBlock&) = delete;
    OtherProgramBlock& operator=(const OtherProgramBlock&) = delete;
};

// A reader that keeps a block open, read-only, as a traffic radar may.
struct ReaderHold {
#ifdef _WIN32
    HANDLE mapping;
    explicit ReaderHold(const std::string& name)
        : mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str())) {}
    ~ReaderHold() {
        if (mapping != nullptr)
            CloseHandle(mapping);
    }
    bool Held() const {
        return mapping != nullptr;
    }
#else
    int fd;
    explicit ReaderHold(const std::string& name) : fd(shm_open(name.c_str(), O_RDONLY, 0)) {}
    ~ReaderHold() {
        if (fd >= 0)
            close(fd);
    }
    bool Held() const {
        return fd >= 0;
    }
#endif
    ReaderHold(const ReaderHold&) = delete;
    ReaderHold& operator=(const ReaderHold&) = delete;
};

#ifdef _WIN32
// Another relay's try at the counters, on a thread of its own: 1 when it got them.
DWORD WINAPI OpenCountersElsewhere(LPVOID name) {
    void* view = plat::OpenCounterBlock(static_cast<const char*>(name), RelayStatsSize);
    if (view != nullptr)
        plat::CloseCounterBlock(view);
    return view != nullptr ? 1 : 0;
}
#endif

TrafficEntry Entry(float latitude, float longitude, float altitude, std::uint16_t heading,
                   std::uint16_t groundSpeed, std::int16_t verticalSpeed) {
    TrafficEntry entry{};
    entry.latitude = latitude;
    entry.longitude = longitude;
    entry.altitude = altitude;
    entry.heading = heading;
    entry.groundSpeed = groundSpeed;
    entry.verticalSpeed = verticalSpeed;
    return entry;
}

class AIFileReader : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        blockName = SharedBlockName; // the build's own Wine prefix keeps it apart
        fake::ResetAll();
#else
        static int counter = 0;
        std::string prefix = "skyrelay-test-" + std::to_string(plat::ProcessId()) + "-" +
                             std::to_string(++counter) + "-";
        setenv("SKYRELAY_SHM_PREFIX", prefix.c_str(), 1);
        blockName = "/" + prefix + "AIFile";
#endif
        ResetSharedTrafficBlock();
    }
    void TearDown() override {
        if (sharedMapping != nullptr)
            ReleaseSharedTrafficBlock();
        ResetSharedTrafficBlock();
#ifndef _WIN32
        shm_unlink(blockName.c_str());
        unsetenv("SKYRELAY_SHM_PREFIX");
#endif
    }
    // The message boxes the relay showed.
    static std::string Boxes() {
#ifdef _WIN32
        std::string boxes;
        for (const std::string& text : fake::MessageBoxTexts())
            boxes += "box: " + text + "\n";
        return boxes;
#else
        return testing::internal::GetCapturedStderr();
#endif
    }
    std::string blockName;
};

} // namespace

TEST_F(AIFileReader, SeesWhatTheRelayWroteAndNothingAfterItsExit) {
    OpenSharedTrafficBlock();
    ASSERT_NE(sharedView, nullptr);
    workingBlock.records[0] = MakeSharedRecord(Entry(47.25f, -122.5f, 1250.0f, 32768, 194, -600));
    workingBlock.records[1] = MakeSharedRecord(Entry(-33.75f, 151.125f, 35000.0f, 65472, 450, 0));
    workingBlock.records[2] = MakeSharedRecord(Entry(1.0f, 2.0f, 3.0f, 0, 31, 1500));
    workingBlock.records[3] = MakeSharedRecord(Entry(9.0f, 9.0f, 9.0f, 0, 99, 0)); // older slot
    workingBlock.state = SharedStatePublished;
    workingBlock.recordCount = 3;
    CopyToSharedView();

    ReaderRun json = RunReader({"--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"state\":2,\"recordCount\":3,\"records\":["
                        "{\"latitude\":47.25,\"longitude\":-122.5,\"altitude\":1250,"
                        "\"headingDegrees\":180.00275,\"groundSpeed\":194,\"verticalSpeed\":-600},"
                        "{\"latitude\":-33.75,\"longitude\":151.125,\"altitude\":35000,"
                        "\"headingDegrees\":359.65393,\"groundSpeed\":450,\"verticalSpeed\":0},"
                        "{\"latitude\":1,\"longitude\":2,\"altitude\":3,\"headingDegrees\":0,"
                        "\"groundSpeed\":31,\"verticalSpeed\":1500}],\"warnings\":[]}\n");

    // The relay created the block, so it is gone once the relay has closed it.
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 1);
    ReaderRun gone = RunReader({"--json"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.out, "");
    EXPECT_NE(gone.err.find("no \"AIFile\" block (" + blockName + ")"), std::string::npos)
        << gone.err;
}

TEST_F(AIFileReader, AnExistingBlockIsOpenedAndKeepsItsRecordsAfterExit) {
    OtherProgramBlock other(blockName, SharedBlockSize, 0);
    ASSERT_NE(other.bytes, nullptr);
    const std::int32_t header[2] = {2, 1};
    std::memcpy(other.bytes, header, sizeof header);

    OpenSharedTrafficBlock();
    ASSERT_NE(sharedView, nullptr);
    // Opening writes nothing: the other program's picture is still there.
    EXPECT_EQ(RunReader({"--json"}).out.find("{\"state\":2,\"recordCount\":1,"), 0u);

    workingBlock.records[0] = MakeSharedRecord(Entry(10.5f, 20.5f, 3000.0f, 16384, 120, -300));
    workingBlock.records[1] = MakeSharedRecord(Entry(11.5f, 21.5f, 4000.0f, 0, 130, 0));
    workingBlock.state = SharedStatePublished;
    workingBlock.recordCount = 2;
    CopyToSharedView();
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 1);

    ReaderRun after = RunReader({"--json"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(after.out, "{\"state\":0,\"recordCount\":0,\"records\":[],\"warnings\":[]}\n");
    SharedTrafficBlock seen{};
    std::memcpy(&seen, other.bytes, sizeof seen);
    EXPECT_EQ(seen.records[0].latitude, 10.5f);
    EXPECT_EQ(seen.records[1].altitude, 4000.0f);
}

// With no block ever opened, the release at exit fails the way Windows' CloseHandle does, with a
// last error the application turns into its failure value.
TEST_F(AIFileReader, ReleaseWithoutABlockFailsWithInvalidHandle) {
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 0);
    EXPECT_EQ(plat::LastError(), 6u); // ERROR_INVALID_HANDLE
}

TEST_F(AIFileReader, ASmallerBlockIsRefusedAndLeftUntouched) {
    // Whole pages: the size a Windows reader can tell.
    OtherProgramBlock other(blockName, 8192, 0xC3);
    ASSERT_NE(other.bytes, nullptr);

#ifndef _WIN32
    testing::internal::CaptureStderr();
#endif
    OpenSharedTrafficBlock();
    std::string messages = Boxes();
    EXPECT_EQ(messages, "box: No comunication file view\n");
    EXPECT_EQ(sharedView, nullptr);

    workingBlock.state = SharedStatePublished;
    workingBlock.recordCount = 1;
    CopyToSharedView();
    EXPECT_EQ(ReleaseSharedTrafficBlock(), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(other.bytes, other.bytes + other.size),
              std::vector<std::uint8_t>(8192, 0xC3));

    // The reader says what is wrong with the block instead of reading past its end.
    ReaderRun run = RunReader({"--json"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("the block is 8192 bytes, smaller than 28680"), std::string::npos)
        << run.out;
}

TEST_F(AIFileReader, WatchReadsAgainUntilInterrupted) {
    OpenSharedTrafficBlock();
    EmptyPicture();
    CopyToSharedView();

    ReaderRun run = RunReader({"--watch", "--json"}, 2);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string line = "{\"state\":2,\"recordCount\":0,\"records\":[],\"warnings\":[]}\n";
    EXPECT_EQ(run.out.substr(0, 2 * line.size()), line + line);
}

TEST_F(AIFileReader, HelpSaysOnlyTheFirstRecordCountRecordsAreRead) {
    ReaderRun help = RunReader({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Only the first recordCount records are read"), std::string::npos);
    ReaderRun wrong = RunReader({"--tail"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("unknown option --tail"), std::string::npos);
}

TEST_F(AIFileReader, StatsSaysWhatTheCountersMeanAndRefusesAnotherLayout) {
    ResetRelayStats();
    ResetRelayState();
    OpenRelayStats();
    relayState.simDetected = 1;
    relayState.usingSquawkBox = 1;
    relayStats.attemptsTcp = 1;
    relayStats.attemptsIpx = 1;
    relayStats.attemptsFailed = 2;
    relayStats.droppedSlow = 3;
    relayStats.droppedTableFull = 4;
    NoteLinkFound();
    NoteTimer(AutoConnectTimer, true);
    PublishRelayStats();
    const std::uint64_t before = RelayClock();
    ReaderRun run = RunReader({"--stats", "--json"});
    const std::uint64_t after = RelayClock();
    EXPECT_EQ(run.status, 0) << run.err;
    // The reader's clock is the relay's: its "now" lies between two readings of the relay's.
    const std::size_t now = run.out.find("\"nowMs\":");
    ASSERT_NE(now, std::string::npos) << run.out;
    const std::uint64_t readerNow = std::stoull(run.out.substr(now + 8));
    EXPECT_LE(before, readerNow);
    EXPECT_LE(readerNow, after);
    EXPECT_EQ(run.out.find("{\"diagnosis\":\"Not in a session: Skyrelay tries to join by itself "
                           "every 6 s (2 attempts so far, none joined)"),
              0u)
        << run.out;
    EXPECT_NE(run.out.find(",\"processId\":" + std::to_string(plat::ProcessId()) + ","),
              std::string::npos);
    EXPECT_NE(run.out.find(",\"attemptsFailed\":2,"), std::string::npos);
    EXPECT_NE(run.out.find(",\"droppedSlow\":3,"), std::string::npos);
    run = RunReader({"--stats"});
    EXPECT_NE(run.out.find("3 at 30 knots or less, 4 table full (7 in all)\n"), std::string::npos)
        << run.out;

    // Released at exit: nothing left to read.
    ReleaseRelayStats();
    run = RunReader({"--stats"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Skyrelay is not running: start it, then look again.\n");

    // A block of that name that is not the relay's counters is refused, not misread.
    std::string statsName =
        blockName.substr(0, blockName.size() - std::strlen(SharedBlockName)) + RelayStatsBlockName;
    OtherProgramBlock other(statsName, RelayStatsSize, 0xAB);
    ASSERT_NE(other.bytes, nullptr);
    run = RunReader({"--stats"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("does not start with the magic number"), std::string::npos) << run.err;
    ResetRelayStats();
}

// While a relay uses its counters, another is refused them; once it has exited, a reader that
// still holds the block does not keep the next relay from it.
TEST_F(AIFileReader, TheNextRelayTakesOverTheCountersAReaderStillHolds) {
    const std::string statsName =
        blockName.substr(0, blockName.size() - std::strlen(SharedBlockName)) + RelayStatsBlockName;
    ResetRelayStats();
    ResetRelayState();
    OpenRelayStats();
    PublishRelayStats();
    ReaderHold reader(statsName);
    ASSERT_TRUE(reader.Held());
#ifdef _WIN32
    HANDLE other = CreateThread(nullptr, 0, OpenCountersElsewhere,
                                const_cast<char*>(statsName.c_str()), 0, nullptr);
    ASSERT_NE(other, nullptr);
    WaitForSingleObject(other, INFINITE);
    DWORD got = 2;
    GetExitCodeThread(other, &got);
    CloseHandle(other);
    EXPECT_EQ(got, 0u) << "a second relay took the counters of a running one";
#endif
    ReleaseRelayStats();
    ResetRelayStats();
    OpenRelayStats();
    relayState.simDetected = 1;
    PublishRelayStats();
    ReaderRun run = RunReader({"--stats", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(",\"running\":1,\"simDetected\":1,"), std::string::npos) << run.out;
    ReleaseRelayStats();
    ResetRelayStats();
}
