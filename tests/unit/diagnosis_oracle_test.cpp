// The diagnosis against the truth. The whole relay runs on the fake backend while random events
// happen around it (the simulator comes, goes, hangs, refuses; sessions come, end and fall
// silent; pilots fly, taxi and park; the user toggles options and joins from the menu; time
// passes), and after every step, and inside every exchange and join attempt, each claim of the
// sentence a reader would get is checked against what the test knows to be true at that moment.
// SKYRELAY_ORACLE_SEEDS runs more seeds than the normal run.
#include "platform/fake/fake.h"
#include "platform/fake/fake_directplay.h"
#include "platform/fake/fake_messaging.h"
#include "platform/fake/fake_settings_store.h"
#include "platform/fake/fake_shared_memory.h"
#include "relay_process.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "shell/relay_app.h"
#include "shell/relay_dialog.h"
#include "shell/settings.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/relay_stats_text.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// What a queued session message is, as the test knows it.
enum class Sent { Fast, Slow, Other, Ending, Unknown };

// What the simulator does with a send, as the test made it.
enum class Sim { Absent, Answering, Hung, Rights, WrongReplies };
enum class SendOutcome { None, Answered, Silent, Denied, WrongReply, DeadWindow };

constexpr dp::DPID OwnNameSender = 90;
constexpr dp::DPID NamelessSender = 91;

std::vector<std::uint8_t> Position(std::uint32_t knots) {
    return PositionAtSpeed(knots << 16);
}

std::vector<std::uint8_t> TypeOnly(std::uint32_t type) {
    return {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8),
            static_cast<std::uint8_t>(type >> 16), static_cast<std::uint8_t>(type >> 24)};
}

std::map<std::string, std::uint64_t> kindsSeen; // sentences read, by kind

// The truth, kept by the test from what it did and from what the fake backend saw.
struct World {
    Sim sim = Sim::Absent;
    bool slow = false;                        // answers take up to 1.9 s
    bool parked = false;                      // the pilots taxi or stand: every position is slow
    plat::Window window = nullptr;            // the simulator's window now
    bool sessionOffered = false;              // a session is there to join
    bool noView = false;                      // "AIFile" was made too small by another program
    std::int64_t readerOffsetMs = 0;          // the reader's clock minus the relay's
    bool relayLive = true;                    // the relay's process runs
    SendOutcome lastSend = SendOutcome::None; // of the last exchange that has ended
    SendOutcome inFlight = SendOutcome::None; // of the send going on, or the last one
    unsigned sendsInExchange = 0;             // sends of the exchange going on
    std::deque<std::pair<Sent, std::uint32_t>> queued; // messages waiting, with their types
    std::uint64_t lastPositionMs = 0; // relay clock of the last tick that took a position
    std::uint32_t endingType = 0;     // the type of the ending the relay took last
    std::uint64_t joinedMs = 0;       // relay clock of the last join
    bool inSend = false;              // the relay is inside a send to the simulator
    bool inHandshake = false;         // ... of the link's handshake
    std::uint16_t lastAircraft = 0;   // the aircraft of the last exchange seen in this tick
};

// One run of the relay: its events so far (for a failure's report) and the claims checked.
struct Oracle {
    std::mt19937 random;
    World world;
    plat::DialogHandler* dialog = nullptr;
    std::vector<std::string> events;
    Diagnosis firstInSend; // the first sentence read inside an exchange since it was cleared
    std::uint64_t claims = 0;
    std::string failure;
    Diagnosis last;
    bool alwaysLook = false; // the reader always looks for a simulator window (else at random)

    explicit Oracle(unsigned seed) : random(seed) {}

    std::uint64_t Now() const { return plat::MonotonicMilliseconds(); }
    int Pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); }

    bool Joined() const {
        return sessionObject != nullptr && relayState.searching == 0 &&
               relayState.sessionEnded == 0;
    }

    std::vector<std::uint8_t> Picture() const { return fake::MappingBytes("AIFile"); }
    std::int32_t PictureCount() const {
        std::vector<std::uint8_t> bytes = Picture();
        std::int32_t count = 0;
        if (bytes.size() >= 8)
            std::memcpy(&count, bytes.data() + 4, 4);
        return count;
    }

    // Whether the relay makes a join attempt without the user: the automatic timer runs, or
    // detection runs and would start it at its next tick.
    bool AttemptsScheduled() const {
        return fake::TimerRunning(AutoConnectTimer) ||
               (fake::TimerRunning(DetectTimer) && relayState.connected == 0 &&
                relayState.usingSquawkBox == 1 && relayState.manualConnectOnly == 0);
    }

    bool Holds(const Claim& claim, const RelayStats& s) const {
        switch (claim.kind) {
        case ClaimKind::RelayNotRunning:
            return !world.relayLive;
        case ClaimKind::SimulatorNotFound:
            return !SimLinkIsOpen();
        case ClaimKind::LookingForSimulator:
            return fake::TimerRunning(DetectTimer);
        case ClaimKind::NotLookingForSimulator:
            return !fake::TimerRunning(DetectTimer);
        case ClaimKind::RightsDiffer:
            return world.lastSend == SendOutcome::Denied;
        case ClaimKind::WindowGone:
            return world.lastSend == SendOutcome::DeadWindow && SimLinkIsOpen() &&
                   simLink.moduleWindow != world.window;
        case ClaimKind::SimulatorWindowNow:
            return (world.sim != Sim::Absent) == (claim.a == 1);
        case ClaimKind::WaitingForSimulator:
            if (!world.inSend || (claim.b == 0) != world.inHandshake)
                return false;
            return claim.b == 0 || (claim.b == trafficTable.count && claim.a >= 1 &&
                                    claim.a <= claim.b && claim.a >= world.lastAircraft);
        case ClaimKind::SimulatorNotAnswering:
            return world.lastSend == SendOutcome::Silent;
        case ClaimKind::SimulatorRefuses:
            return world.lastSend == SendOutcome::WrongReply;
        case ClaimKind::SimulatorTakesTraffic:
            return world.lastSend == SendOutcome::Answered;
        case ClaimKind::AttemptRunning:
            return schedulerState.attemptRunning;
        case ClaimKind::AutomaticAttempts:
            return AttemptsScheduled();
        case ClaimKind::NoAutomaticAttempts:
            return !AttemptsScheduled();
        case ClaimKind::NotInSession:
            return !Joined();
        case ClaimKind::SessionEnded:
            return !Joined() && relayState.sessionEnded != 0 &&
                   claim.a == static_cast<std::int64_t>(world.endingType);
        case ClaimKind::InSession:
            return Joined();
        case ClaimKind::SilentFor: {
            std::uint64_t heard = std::max(world.lastPositionMs, world.joinedMs);
            return s.lastUpdateMs >= heard &&
                   static_cast<std::int64_t>((s.lastUpdateMs - heard) / 1000) == claim.a &&
                   claim.a >= 10;
        }
        case ClaimKind::HeardLately: {
            std::uint64_t heard = std::max(world.lastPositionMs, world.joinedMs);
            return world.lastPositionMs >= world.joinedMs && s.lastUpdateMs < heard + 10000;
        }
        case ClaimKind::NoneShown:
            // The reason is judged up to the last publication; the test checks what shows.
            return PictureCount() == 0 && world.lastPositionMs >= world.joinedMs;
        case ClaimKind::NoPictureView:
            return world.noView;
        case ClaimKind::Published:
            return PictureCount() == claim.a;
        case ClaimKind::TimersRunning:
            return claim.a ==
                   (fake::TimerRunning(DetectTimer) ? RelayTimerDetection : 0) +
                       (fake::TimerRunning(AutoConnectTimer) ? RelayTimerAutoConnect : 0) +
                       (fake::TimerRunning(PumpTimer) ? RelayTimerPump : 0);
        case ClaimKind::Options:
            return claim.a == relayState.usingSquawkBox && claim.b == relayState.manualConnectOnly;
        }
        return false;
    }

    // Reads the block as a reader would and checks every claim of its sentence.
    void Check(const char* where) {
        if (!failure.empty())
            return;
        std::vector<std::uint8_t> bytes = fake::CounterBlockBytes(RelayStatsBlockName);
        RelayStatsReading reading = ReadRelayStats(bytes.data(), bytes.size());
        if (!reading.valid) {
            failure = std::string(where) + ": the block is refused: " + reading.refusal;
            return;
        }
        std::uint64_t readerNow =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(Now()) + world.readerOffsetMs);
        SimulatorWindow window = !alwaysLook && Pick(2) == 0 ? SimulatorWindow::Unknown
                                 : world.sim == Sim::Absent  ? SimulatorWindow::Absent
                                                             : SimulatorWindow::Present;
        RelayStatsContext context{&reading.stats, world.relayLive, readerNow, window};
        last = Diagnose(context);
        if (last.kind != nullptr)
            ++kindsSeen[last.kind->id];
        if (last.kind == nullptr) {
            failure = std::string(where) + ": a sentence of no kind: " + last.sentence;
            return;
        }
        for (const DiagnosisKind& kind : DiagnosisKinds()) {
            bool has = last.sentence.find(kind.phrase) != std::string::npos;
            if (has != (&kind == last.kind)) {
                failure = std::string(where) + ": the sentence of kind " + last.kind->id +
                          (has ? " contains the phrase of " : " lacks its phrase ") + kind.id +
                          ": " + last.sentence;
                return;
            }
        }
        // Codes belong to the detail line: no result name, no system error in the sentence.
        for (std::int32_t code = 1; code < 16; ++code)
            if (last.sentence.find(SimLinkResultName(static_cast<SimLinkResult>(code))) !=
                    std::string::npos ||
                last.sentence.find("error") != std::string::npos) {
                failure = std::string(where) + ": a code in the sentence: " + last.sentence;
                return;
            }
        // Inside an exchange the relay waits for the simulator, and the sentence says so.
        ++claims;
        // (Or, while the sends fail at once for a known cause, that cause.)
        const bool waitSaid = std::strcmp(last.kind->id, "sim-waiting") == 0;
        const bool causeSaid = std::strcmp(last.kind->id, "sim-window-gone") == 0 ||
                               std::strcmp(last.kind->id, "sim-rights") == 0;
        if (world.inSend ? !(waitSaid || causeSaid) : waitSaid) {
            failure = std::string(where) +
                      (world.inSend ? ": inside an exchange, " : ": outside any exchange, ") +
                      "the sentence is: " + last.sentence;
            return;
        }
        for (const Claim& claim : last.claims) {
            ++claims;
            if (!Holds(claim, reading.stats)) {
                failure = std::string(where) + ": claim " +
                          std::to_string(static_cast<int>(claim.kind)) + " (" +
                          std::to_string(claim.a) + ", " + std::to_string(claim.b) +
                          ") is false: " + last.sentence + "\n  " + last.detail +
                          "\n  truth: last position at " + std::to_string(world.lastPositionMs) +
                          " ms, joined at " + std::to_string(world.joinedMs) + " ms, now " +
                          std::to_string(Now()) + " ms";
                return;
            }
        }
    }

    // ---- the events ----

    void Log(const std::string& event) { events.push_back(event); }

    void Advance(std::uint64_t ms) {
        fake::SetMonotonicMilliseconds(Now() + ms);
        Log("time +" + std::to_string(ms) + " ms");
    }

    void StartSim() {
        if (world.sim != Sim::Absent)
            return;
        world.window = fake::AddWindow("UIPCMAIN");
        world.sim = Sim::Answering;
        fake::SilenceModule(0);
        fake::SetModuleReply(1);
        Log("simulator starts");
        // Loading a flight at its start, it may not answer for a while.
        if (Pick(3) == 0)
            SetSim(Sim::Hung, "simulator busy from its start");
    }
    void CloseSim() {
        fake::RemoveWindow("UIPCMAIN");
        world.window = nullptr;
        world.sim = Sim::Absent;
        Log("simulator closes");
    }
    void RestartSim() {
        CloseSim();
        StartSim();
        Log("(started again)");
    }
    void SetSim(Sim sim, const char* what) {
        if (world.sim == Sim::Absent)
            return;
        world.sim = sim;
        fake::SilenceModule(sim == Sim::Hung     ? -1
                            : sim == Sim::Rights ? -1
                                                 : 0,
                            sim == Sim::Rights ? 5u
                            : Pick(2) == 0     ? fake::ErrorTimeout
                                               : 0u);
        fake::SetModuleReply(sim == Sim::WrongReplies ? 0 : 1);
        Log(what);
    }

    void OfferSession(bool offered) {
        world.sessionOffered = offered;
        fake::Sessions().clear();
        if (offered)
            fake::Sessions().push_back({dp::GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, "FS2002"});
        Log(offered ? "a session is offered" : "no session is offered");
    }

    void Queue(Sent kind, dp::DPID sender, std::vector<std::uint8_t> bytes) {
        std::uint32_t type = 0;
        std::memcpy(&type, bytes.data(), 4);
        fake::QueueMessage(bytes, sender);
        world.queued.emplace_back(kind, type);
    }
    void QueuePilots(int pilots, std::uint32_t knots) {
        if (world.parked)
            knots %= 31;
        for (int i = 1; i <= pilots; ++i)
            Queue(knots > 30 ? Sent::Fast : Sent::Slow, static_cast<dp::DPID>(i), Position(knots));
        Log(std::to_string(pilots) + " pilots at " + std::to_string(knots) + " kt");
    }
    void QueueOther() {
        bool own = Pick(2) == 0;
        Queue(Sent::Other, own ? OwnNameSender : NamelessSender, Position(120));
        Log(own ? "a position under the user's own name" : "a position from a nameless sender");
    }
    void QueueEnding(std::uint32_t type) {
        Queue(Sent::Ending, 0, TypeOnly(type));
        Log("ending message " + std::to_string(type));
    }

    // A tick of a running timer, with what it took from the session.
    void Fire(unsigned timer) {
        if (!fake::TimerRunning(timer))
            return;
        int objects = fake::DirectPlayObjectsCreated();
        std::size_t before = fake::QueuedMessages();
        std::uint64_t tick = Now();
        world.lastAircraft = 0;
        Log(timer == PumpTimer     ? "pump tick"
            : timer == DetectTimer ? "detection tick"
                                   : "automatic connection tick");
        fake::FireTimer(timer);
        EndExchange();
        std::size_t taken = before - fake::QueuedMessages();
        bool ended = false;
        for (std::size_t i = 0; i < taken && !world.queued.empty(); ++i) {
            auto [kind, type] = world.queued.front();
            world.queued.pop_front();
            if (kind == Sent::Fast || kind == Sent::Slow || kind == Sent::Other) {
                world.lastPositionMs = tick;
            }
            if (kind == Sent::Ending && !ended) {
                world.endingType = type;
                ended = true;
            }
        }
        NoteJoin(objects);
    }

    // A join made by the action just ended: a new DirectPlay object that is in a session (a join
    // from the menu while joined leaves the old session for a new one).
    void NoteJoin(int objectsBefore) {
        if (fake::DirectPlayObjectsCreated() != objectsBefore && Joined())
            world.joinedMs = Now();
    }

    void Command(unsigned command, const char* what) {
        Log(what);
        int objects = fake::DirectPlayObjectsCreated();
        dialog->OnCommand(command);
        EndExchange();
        NoteJoin(objects);
    }

    void EndExchange() {
        if (world.sendsInExchange != 0)
            world.lastSend = world.inFlight;
        world.sendsInExchange = 0;
    }

    // Runs inside every send to the simulator: the truth of its outcome, a slow answer's time,
    // and a reader's look at the block while the relay waits.
    void WhileSending() {
        // An exchange ends with an answer or after its last unanswered send.
        if (world.inFlight == SendOutcome::Answered || world.inFlight == SendOutcome::WrongReply ||
            world.sendsInExchange >= SendAttempts)
            EndExchange();
        ++world.sendsInExchange;
        world.inSend = true;
        // Until the handshake has succeeded the simulator is not detected, and no traffic goes.
        world.inHandshake = relayState.simDetected == 0;
        if (world.sim == Sim::Absent || simLink.moduleWindow != world.window)
            world.inFlight = SendOutcome::DeadWindow;
        else if (world.sim == Sim::Hung)
            world.inFlight = SendOutcome::Silent;
        else if (world.sim == Sim::Rights)
            world.inFlight = SendOutcome::Denied;
        else if (world.sim == Sim::WrongReplies)
            world.inFlight = SendOutcome::WrongReply;
        else
            world.inFlight = SendOutcome::Answered;
        if (world.slow || world.inFlight == SendOutcome::Silent)
            fake::SetMonotonicMilliseconds(Now() + 100 + static_cast<std::uint64_t>(Pick(1900)));
        Check("inside an exchange");
        if (!last.claims.empty() && last.claims[0].kind == ClaimKind::WaitingForSimulator)
            world.lastAircraft = static_cast<std::uint16_t>(last.claims[0].a);
        if (firstInSend.kind == nullptr)
            firstInSend = last;
        world.inSend = false;
    }

    // Inside a join attempt the sentence says so, unless the simulator comes first.
    void WhileAttempting() {
        if (!schedulerState.attemptRunning)
            return;
        Check("inside a join attempt");
        // Looking for sessions takes its time.
        fake::SetMonotonicMilliseconds(Now() + static_cast<std::uint64_t>(Pick(3000)));
        ++claims;
        if (failure.empty() && last.kind != nullptr &&
            std::strncmp(last.kind->id, "sim-", 4) != 0 &&
            std::strcmp(last.kind->id, "session-attempting") != 0)
            failure = "inside a join attempt, the sentence is: " + last.sentence;
    }

    // One random step, then the check.
    void Step() {
        int roll = Pick(100);
        if (roll < 14)
            Advance(std::vector<std::uint64_t>{50, 330, 1000, 2500, 6000, 12000,
                                               40000}[static_cast<std::size_t>(Pick(7))]);
        else if (roll < 30)
            Fire(PumpTimer);
        else if (roll < 34)
            for (int i = 0; i < 5; ++i)
                Fire(PumpTimer);
        else if (roll < 40)
            Fire(DetectTimer);
        else if (roll < 45)
            Fire(AutoConnectTimer);
        else if (roll < 47)
            StartSim();
        else if (roll < 48 && Pick(8) == 0) // for good: the link never opens again
            CloseSim();
        else if (roll < 49 && Pick(8) == 0)
            RestartSim();
        else if (roll < 50)
            SetSim(Sim::Hung, "simulator hangs");
        else if (roll < 53)
            SetSim(Sim::Answering, "simulator answers");
        else if (roll < 54)
            SetSim(Pick(2) == 0 ? Sim::Rights : Sim::WrongReplies, "simulator refuses");
        else if (roll < 55) {
            world.slow = !world.slow;
            Log(world.slow ? "simulator slow" : "simulator quick");
        } else if (roll < 57)
            OfferSession(!world.sessionOffered);
        else if (roll < 58) {
            world.parked = !world.parked;
            Log(world.parked ? "the pilots park" : "the pilots fly");
        } else if (roll < 72 && world.queued.size() < 200)
            QueuePilots(1 + Pick(Pick(4) == 0 ? 35 : 5),
                        40 + static_cast<std::uint32_t>(Pick(400)));
        else if (roll < 80 && world.queued.size() < 200)
            QueuePilots(1 + Pick(5), static_cast<std::uint32_t>(Pick(31)));
        else if (roll < 82)
            QueueOther();
        else if (roll < 84 && Pick(3) == 0)
            QueueEnding(
                std::vector<std::uint32_t>{SessionLostMessage, HostMessage, RefusedMessage,
                                           SimulatorEndMessage}[static_cast<std::size_t>(Pick(4))]);
        else if (roll < 85) {
            Queue(Sent::Unknown, 3, TypeOnly(77));
            Log("a message of another type");
        } else if (roll < 88)
            Command(UsingSquawkBoxCommand, "toggle Using SquawkBox");
        else if (roll < 91)
            Command(ManualConnectOnlyCommand, "toggle Manual connect only");
        else if (roll < 94)
            Command(Pick(2) == 0 ? TcpIpCommand : IpxSpxCommand, "Multiplayer connect");
        else if (roll < 96) {
            world.readerOffsetMs = Pick(10001) - 5000;
            Log("reader's clock " + std::to_string(world.readerOffsetMs) + " ms off");
        } else
            Advance(330);
        Check("after the step");
    }
};

// A fresh relay process: settings (option values any), the module's versions, "AIFile" made
// too small by another program or not, every hook of the oracle in place.
void FreshProcess(Oracle& oracle, const std::string& usingSb, const std::string& manual,
                  bool noView) {
    ResetRelayProcess();
    fake::SetProfileFile("Skyrelay.ini", "[Skyrelay]\r\nFSPath=C:\\FS2002\r\nUsingSB=" + usingSb +
                                             "\r\nManualConnect=" + manual + "\r\n");
    fake::SetModuleU32(0x3304, 0x19980005);
    fake::SetModuleU32(0x3308, 0xFADE0000);
    for (dp::DPID id = 1; id <= 40; ++id)
        fake::SetPlayerName(id, "P" + std::to_string(id));
    fake::SetPlayerName(OwnNameSender, "a");
    oracle.world.noView = noView;
    if (noView)
        fake::AddExistingMapping("AIFile", 100);
    fake::WhileSending([&oracle] { oracle.WhileSending(); });
    fake::WhileInCall("EnumSessions", [&oracle] { oracle.WhileAttempting(); });
}

// Runs `body` inside the relay's main dialog, then ends the relay; returns the oracle's failure.
void RunRelay(Oracle& oracle, const std::function<void(Oracle&)>& body) {
    fake::WhileMainDialogRuns([&](plat::Window, plat::DialogHandler& dialog) {
        oracle.dialog = &dialog;
        oracle.Check("at the start");
        body(oracle);
        // The relay is killed: its block still says it runs, and a reader must not believe it.
        oracle.world.relayLive = false;
        oracle.Check("after the relay was killed");
        oracle.world.relayLive = true;
    });
    RunRelayApplication();
    fake::WhileMainDialogRuns(nullptr);
    fake::WhileSending(nullptr);
    fake::WhileInCall("EnumSessions", nullptr);
    if (sessionObject != nullptr)
        sessionObject->Release();
    sessionObject = nullptr;
}

std::string Report(const Oracle& oracle, unsigned seed) {
    std::string report = "seed " + std::to_string(seed) + ": " + oracle.failure + "\nevents:";
    std::size_t from = oracle.events.size() > 60 ? oracle.events.size() - 60 : 0;
    for (std::size_t i = from; i < oracle.events.size(); ++i)
        report += "\n  " + std::to_string(i + 1) + ". " + oracle.events[i];
    return report;
}

std::uint64_t totalSteps = 0;
std::uint64_t totalClaims = 0;
unsigned totalSeeds = 0;

TEST(DiagnosisOracle, EveryClaimOfEverySentenceHoldsThroughRandomEvents) {
    unsigned seeds = 12;
    if (const char* more = std::getenv("SKYRELAY_ORACLE_SEEDS"))
        seeds = static_cast<unsigned>(std::strtoul(more, nullptr, 10));
    constexpr int StepsPerSeed = 2000;
    const char* usingSb[] = {"1", "0", "2", "1"};
    const char* manual[] = {"0", "1", "3", "0"};
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        Oracle oracle(seed);
        FreshProcess(oracle, usingSb[seed % 4], manual[(seed / 4) % 4], seed % 7 == 3);
        int steps = 0;
        RunRelay(oracle, [&](Oracle& o) {
            for (; steps < StepsPerSeed && o.failure.empty(); ++steps)
                o.Step();
        });
        totalSteps += static_cast<std::uint64_t>(steps);
        totalClaims += oracle.claims;
        ++totalSeeds;
        ASSERT_TRUE(oracle.failure.empty()) << Report(oracle, seed);
    }
    std::printf("oracle: %llu steps, %u seeds, %llu claims checked\n",
                static_cast<unsigned long long>(totalSteps), totalSeeds,
                static_cast<unsigned long long>(totalClaims));
    // Every kind of sentence met at least once: a kind never reached is a kind never checked.
    for (const DiagnosisKind& kind : DiagnosisKinds()) {
        if (std::strcmp(kind.id, "counters-refused") != 0) {
            EXPECT_NE(kindsSeen[kind.id], 0u) << kind.id << " never met";
        }
    }
}

// ---- the fixed sequences: each a situation a reader once got a wrong sentence for ----

// A relay in automatic mode, joined to a session with `pilots` pilots flying, their picture
// published once to an answering simulator.
void JoinedWithTraffic(Oracle& o, int pilots) {
    o.StartSim();
    o.Fire(DetectTimer);
    o.OfferSession(true);
    o.Fire(AutoConnectTimer);
    o.QueuePilots(pilots, 120);
    for (int i = 0; i <= SquawkBoxPublishThreshold; ++i)
        o.Fire(PumpTimer);
    o.Check("joined with traffic");
}

struct Row {
    const char* what;
    const char* usingSb;
    const char* manual;
    bool noView;
    std::function<void(Oracle&)> events;
    bool inExchange;      // the sentence read inside the first exchange, not the last one
    const char* kind;     // the kind of the sentence
    const char* contains; // and a piece of it
};

TEST(DiagnosisOracle, TheSituationsOnceDiagnosedWronglyAreDiagnosedRightly) {
    const Row rows[] = {
        {"1: a failed exchange long past, the pilots gone", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 2);
             // FS2002 loads a flight while the table empties (every 4th publication), then
             // answers again; no aircraft are left to exchange.
             o.SetSim(Sim::Hung, "simulator hangs");
             o.QueuePilots(2, 120);
             for (int i = 0; i < 6 * (SquawkBoxPublishThreshold + 1); ++i)
                 o.Fire(PumpTimer);
             o.Check("the table emptied, the failure fresh");
             EXPECT_STREQ(o.last.kind->id, "sim-no-answer") << o.last.sentence;
             o.SetSim(Sim::Answering, "simulator answers");
             o.Advance(30000);
             o.Fire(PumpTimer);
             EXPECT_EQ(trafficTable.count, 0u) << "the table emptied";
         },
         false, "silent", "In the session, but nothing heard for"},
        {"2: a publication blocked in the exchanges", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 3);
             o.SetSim(Sim::Hung, "simulator hangs");
             o.QueuePilots(3, 120);
             o.firstInSend = Diagnosis{};
             for (int i = 0; i <= SquawkBoxPublishThreshold; ++i)
                 o.Fire(PumpTimer);
         },
         true, "sim-waiting", "waiting for FS2002 to answer for aircraft 1 of 3"},
        {"3: a later relay takes over the block of one that has gone", "1", "0", false,
         [](Oracle& o) { o.Fire(DetectTimer); }, false, "sim-not-found", "looks for it every 2 s"},
        {"5: UsingSB=2 makes no automatic attempt", "2", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.Fire(DetectTimer);
             o.Fire(DetectTimer);
         },
         false, "session-manual", "UsingSB is 2"},
        {"5: a failed menu attempt stopped the timers, then Manual connect only off", "1", "1",
         false,
         [](Oracle& o) {
             o.StartSim();
             o.Fire(DetectTimer);
             o.Command(TcpIpCommand, "Multiplayer connect");
             o.Command(ManualConnectOnlyCommand, "toggle Manual connect only");
         },
         false, "session-manual", "nothing starts them again"},
        {"5: Manual connect only on while automatic attempts run", "1", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.Fire(DetectTimer);
             o.Fire(AutoConnectTimer);
             o.Command(ManualConnectOnlyCommand, "toggle Manual connect only");
         },
         false, "session-auto", "every 6 s"},
        {"6: the simulator's window is gone, FS2002 started again", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 2);
             o.RestartSim();
             o.QueuePilots(2, 120);
             for (int i = 0; i <= SquawkBoxPublishThreshold; ++i)
                 o.Fire(PumpTimer);
         },
         false, "sim-window-gone", "so it was started again after Skyrelay found it"},
        {"6: the simulator's window is gone, FS2002 closed", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 2);
             o.CloseSim();
             o.QueuePilots(2, 120);
             for (int i = 0; i <= SquawkBoxPublishThreshold; ++i)
                 o.Fire(PumpTimer);
         },
         false, "sim-window-gone", "so it was closed or it crashed"},
        {"7: every pilot parked or taxiing after flying", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 4);
             for (int i = 0; i < 6 * (SquawkBoxPublishThreshold + 1); ++i) {
                 o.QueuePilots(4, 12);
                 o.Fire(PumpTimer);
             }
         },
         false, "all-dropped", "30 knots or less"},
        {"7: every position under the user's own name or nameless", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 1);
             for (int i = 0; i < 6 * (SquawkBoxPublishThreshold + 1); ++i) {
                 o.QueueOther();
                 o.Fire(PumpTimer);
             }
         },
         false, "all-dropped", "carried the user's own name"},
        {"11: FS2002 busy from its start, the sends timing out", "1", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.SetSim(Sim::Hung, "simulator hangs");
             fake::SilenceModule(-1, fake::ErrorTimeout);
             o.Fire(DetectTimer);
         },
         false, "sim-no-answer", "FS2002 does not answer when Skyrelay connects"},
        {"8: different rights from the start", "1", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.SetSim(Sim::Rights, "simulator refuses for rights");
             for (int i = 0; i < 6; ++i)
                 o.Fire(DetectTimer);
         },
         false, "sim-rights", "restart Skyrelay, which no longer looks"},
        {"8: the request area the module may not open", "1", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.SetSim(Sim::WrongReplies, "simulator cannot open the request area");
             o.Fire(DetectTimer);
         },
         false, "sim-rights", "cannot read Skyrelay's requests"},
        {"9: the reader's clock 8 s ahead of the relay's", "1", "0", false,
         [](Oracle& o) {
             JoinedWithTraffic(o, 2);
             o.world.readerOffsetMs = 8000;
             o.QueuePilots(5, 150); // into the table, not yet into the picture
             o.Fire(PumpTimer);
         },
         false, "all-well", "All is well: 2 aircraft"},
        {"11: the link stops at the 4th failure, not the 3rd", "1", "0", false,
         [](Oracle& o) {
             o.StartSim();
             o.SetSim(Sim::Hung, "simulator hangs");
             for (int i = 0; i < 3; ++i)
                 o.Fire(DetectTimer);
             EXPECT_TRUE(fake::TimerRunning(DetectTimer)) << "after 3 failures";
             o.Fire(DetectTimer);
         },
         false, "sim-stopped", "after its link failed 4 times"},
        {"12: \"AIFile\" without a view", "1", "0", true,
         [](Oracle& o) { JoinedWithTraffic(o, 2); }, false, "no-view", "readers get no picture"},
    };
    for (const Row& row : rows) {
        Oracle oracle(1);
        oracle.alwaysLook = true;
        FreshProcess(oracle, row.usingSb, row.manual, row.noView);
        if (std::strncmp(row.what, "3:", 2) == 0) {
            // The block an earlier relay left when it went, with its last state in it.
            RelayStats gone{};
            gone.magic = RelayStatsMagic;
            gone.version = RelayStatsVersion;
            gone.size = RelayStatsSize;
            gone.processId = 77;
            gone.running = 1;
            gone.sessionState = RelaySessionJoined;
            std::vector<std::uint8_t> bytes(sizeof gone);
            std::memcpy(bytes.data(), &gone, sizeof gone);
            fake::LeaveCounterBlock(RelayStatsBlockName, bytes);
        }
        std::string kind;
        std::string sentence;
        RunRelay(oracle, [&](Oracle& o) {
            o.events.push_back(row.what);
            o.Check("before the events");
            row.events(o);
            o.Check("after the events");
            const Diagnosis& said = row.inExchange ? o.firstInSend : o.last;
            kind = said.kind != nullptr ? said.kind->id : "";
            sentence = said.sentence;
        });
        EXPECT_TRUE(oracle.failure.empty()) << Report(oracle, 1);
        EXPECT_EQ(kind, row.kind) << row.what << ": " << sentence;
        EXPECT_NE(sentence.find(row.contains), std::string::npos) << row.what << ": " << sentence;
    }
}

// 13: a killed relay's block, taken over by the next relay, which must not show the dead
// relay's picture as its own before its first publication.
TEST(DiagnosisOracle, ARelayThatTakesOverADeadRelaysBlockStartsItAfresh) {
    Oracle first(2);
    FreshProcess(first, "1", "0", false);
    std::vector<std::uint8_t> left;
    RunRelay(first, [&](Oracle& o) {
        JoinedWithTraffic(o, 3);
        left = fake::CounterBlockBytes(RelayStatsBlockName);
    });
    ASSERT_TRUE(first.failure.empty()) << Report(first, 2);
    Oracle next(3);
    FreshProcess(next, "1", "0", false);
    fake::LeaveCounterBlock(RelayStatsBlockName, left);
    std::string sentence;
    RunRelay(next, [&](Oracle& o) { sentence = o.last.sentence; });
    EXPECT_TRUE(next.failure.empty()) << Report(next, 3);
    EXPECT_NE(sentence.find("The simulator is not found"), std::string::npos) << sentence;
}

// 10: a block a reader refuses is said as a refusal, never as a relay that is not running.
TEST(DiagnosisOracle, ARefusedBlockIsSaidAsARefusal) {
    RelayStats older{};
    older.magic = RelayStatsMagic;
    older.version = 2;
    older.size = 240;
    RelayStatsReading reading =
        ReadRelayStats(reinterpret_cast<const std::uint8_t*>(&older), sizeof older);
    ASSERT_FALSE(reading.valid);
    std::string sentence = RefusedSentence(reading.refusal);
    EXPECT_EQ(sentence, "Skyrelay's counters cannot be read: the block has layout version 2, "
                        "written by an older Skyrelay: use the skyrelay-aifile that came with it, "
                        "or a newer Skyrelay.");
    EXPECT_NE(sentence.find(DiagnosisKinds()[1].phrase), std::string::npos);
}

} // namespace
