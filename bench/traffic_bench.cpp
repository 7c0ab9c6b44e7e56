// The traffic path's hot spots against lower-bound kernels: one position message through the
// drain, the decoder and the table; drains of 1, 30 and 1000 waiting messages; one publication of
// 30 aircraft. Each kernel does the same loads, arithmetic and byte copies straight through: what
// the machine must do at the least for the same result.
#include "bench/lean_backend.h"
#include "bench/variants.h"

#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr dp::DPID FirstPlayer = 0x00A00001;

// Call signs as players name themselves in a session.
const std::vector<std::string> CallSigns{
    "DLH4AB", "BAW123",  "AFR1234", "KLM1695", "UAL901", "N172SP",  "D-EKLM", "EZY85KL",
    "SWR22",  "RYR4421", "AAL100",  "DAL47",   "SAS901", "IBE3166", "AUA7",   "TAP1234",
    "FIN5",   "LOT281",  "CSA3",    "THY1SN",  "G-BOAC", "N3456P",  "VH-OQA", "C-FTJP",
    "JA8089", "HB-JNA",  "OE-LBA",  "EI-DVM",  "SX-DGA", "F-GSPZ"};

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

// Message i: aircraft i % 30 somewhere over Europe, a little further along at every round.
lean::Message PositionFrom(std::size_t i) {
    std::size_t index = i % CallSigns.size();
    auto aircraft = static_cast<double>(index);
    auto round = static_cast<double>(i / CallSigns.size());
    std::vector<std::uint8_t> bytes(58, 0);
    PutU32(bytes, 0, PositionMessageType);
    PutU32(bytes, 24, static_cast<std::uint32_t>(static_cast<std::int32_t>(index) * -9000));
    PutU32(bytes, 28, static_cast<std::uint32_t>((120.0 + 9.0 * aircraft) * 65536 / 1.94384));
    PutU32(bytes, 36, static_cast<std::uint32_t>((aircraft * 37 + round) * 4) & 0xFFC);
    PutU32(bytes, 40,
           static_cast<std::uint32_t>((48.0 + 0.1 * aircraft + round * 1e-4) * 40007000 / 360));
    PutU32(bytes, 44,
           static_cast<std::uint32_t>(static_cast<std::int32_t>(
               (8.5 + 0.1 * aircraft - round * 1e-4) * 4294967296.0 / 360)));
    PutU32(bytes, 48, static_cast<std::uint32_t>(900 + 250 * index));
    bytes[56] = static_cast<std::uint8_t>(round);
    bytes[57] = 0x80;
    return {bytes, FirstPlayer + static_cast<dp::DPID>(index)};
}

std::vector<lean::Message> Positions(std::size_t count) {
    std::vector<lean::Message> messages;
    for (std::size_t i = 0; i < count; ++i)
        messages.push_back(PositionFrom(i));
    return messages;
}

// The relay in a session with 30 aircraft heard, the simulator link open and "AIFile" mapped.
lean::Session& Relay(std::size_t messages) {
    static lean::Session session(FirstPlayer, CallSigns);
    ResetRelayState();
    ResetTrafficTable();
    ResetDrainState();
    ResetSimLinkState();
    ResetSharedTrafficBlock();
    ResetPumpState();
    std::strcpy(playerName, "D-EFGH");
    OpenSharedTrafficBlock();
    SimLinkResult result = SimLinkResult::Ok;
    lean::AnswerAtOnce(false);
    SimLinkOpen(0, &result);
    lean::AnswerAtOnce(true);
    sessionObject = &session;
    relayState.searching = 0;
    session.SetMessages(Positions(messages));
    session.Refill(0, messages);
    DrainSessionMessages(); // the receive buffer reaches its size, the table fills
    return session;
}

void Unwind() {
    SimLinkClose();
    ReleaseSharedTrafficBlock();
    sessionObject = nullptr;
}

// ---- the kernel of one position message ------------------------------------------------------

// What GetPlayerName fills for a player: the DPNAME and the short name after it.
struct NameRecord {
    alignas(8) std::uint8_t bytes[64];
    std::size_t size;
};

struct Kernel {
    std::vector<lean::Message> messages;
    std::vector<NameRecord> names;
    alignas(8) std::uint8_t receive[64];
    alignas(8) std::uint8_t record[64];
    TrafficTable table;
    char own[PlayerNameSize];
};

Kernel& MakeKernel(std::size_t messages) {
    static Kernel kernel;
    kernel.messages = Positions(messages);
    kernel.names.clear();
    for (const std::string& name : CallSigns) {
        NameRecord record{};
        dp::DPNAME head{sizeof(dp::DPNAME), 0, nullptr, nullptr};
        std::memcpy(record.bytes, &head, sizeof head);
        std::memcpy(record.bytes + sizeof head, name.c_str(), name.size() + 1);
        record.size = sizeof head + name.size() + 1;
        kernel.names.push_back(record);
    }
    kernel.table = TrafficTable{};
    std::strcpy(kernel.own, "D-EFGH");
    return kernel;
}

std::uint32_t U32(const std::uint8_t* at) {
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

std::int32_t I32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(U32(at));
}

// Receives, decodes and records one message with no calls, no allocation and no checks beyond
// the ones that decide the result.
void KernelMessage(Kernel& k, const lean::Message& message) {
    std::memcpy(k.receive, message.bytes.data(), message.bytes.size());
    const std::uint8_t* m = k.receive;
    if (U32(m) != PositionMessageType)
        return;
    const NameRecord& record = k.names[message.sender - FirstPlayer];
    std::memcpy(k.record, record.bytes, record.size);
    const char* name = reinterpret_cast<const char*>(k.record) + sizeof(dp::DPNAME);

    auto groundSpeed =
        static_cast<float>(static_cast<double>(U32(m + 28)) * 1.9438461717893492 / 65536);
    auto verticalSpeed = static_cast<float>(static_cast<double>(I32(m + 24)) * 60.0f / 65536.0f);
    auto heading = static_cast<std::uint16_t>(((U32(m + 36) >> 2) & 0x3FF) << 6);
    double metres = static_cast<double>(I32(m + 48)) + (m[56] | m[57] << 8) / 65536.0;
    auto altitude = static_cast<float>(metres * 3.28084);
    auto longitude = static_cast<float>(static_cast<double>(I32(m + 44)) * 360 / 4294967296.0);
    auto latitude = static_cast<float>(static_cast<double>(I32(m + 40)) * 360 / 40007000.0);
    if (std::strcmp(name, k.own) == 0 || !(groundSpeed > SpeedThreshold))
        return;

    std::size_t i = 0;
    while (i < MaxTraffic && std::strcmp(k.table.names[i], name) != 0)
        ++i;
    if (i == MaxTraffic) {
        if (k.table.count == MaxTraffic)
            return;
        i = k.table.count++;
        std::strncpy(k.table.names[i], name, EntryNameSize - 1);
    }
    TrafficEntry& entry = k.table.entries[i];
    std::strncpy(entry.name, name, EntryNameSize - 1);
    entry.id =
        static_cast<std::uint32_t>(std::abs(static_cast<std::int32_t>(message.sender))) & 0xFFFF;
    entry.latitude = latitude;
    entry.longitude = longitude;
    entry.altitude = altitude;
    entry.heading = heading;
    entry.groundSpeed = static_cast<std::uint16_t>(static_cast<std::int32_t>(groundSpeed));
    entry.verticalSpeed = static_cast<std::int16_t>(static_cast<std::int32_t>(verticalSpeed));
}

// ---- one message, and drains of n ------------------------------------------------------------

// One waiting message (from each of the 30 aircraft in turn) through DrainSessionMessages.
void Message(benchmark::State& state, const bench::Variant& variant) {
    lean::Session& session = Relay(CallSigns.size());
    bench::Scope scope(variant);
    std::size_t next = 0;
    for (auto _ : state) {
        session.Refill(next, 1);
        DrainSessionMessages();
        next = next + 1 == CallSigns.size() ? 0 : next + 1;
    }
    benchmark::DoNotOptimize(trafficTable);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    Unwind();
}

void MessageKernel(benchmark::State& state) {
    Kernel& kernel = MakeKernel(CallSigns.size());
    for (const lean::Message& message : kernel.messages)
        KernelMessage(kernel, message);
    std::size_t next = 0;
    for (auto _ : state) {
        KernelMessage(kernel, kernel.messages[next]);
        next = next + 1 == CallSigns.size() ? 0 : next + 1;
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(kernel.table);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// n waiting messages, one drain.
void Drain(benchmark::State& state, const bench::Variant& variant) {
    auto n = static_cast<std::size_t>(state.range(0));
    lean::Session& session = Relay(n);
    bench::Scope scope(variant);
    for (auto _ : state) {
        session.Refill(0, n);
        DrainSessionMessages();
    }
    benchmark::DoNotOptimize(trafficTable);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    Unwind();
}

void DrainKernel(benchmark::State& state) {
    auto n = static_cast<std::size_t>(state.range(0));
    Kernel& kernel = MakeKernel(n);
    for (auto _ : state) {
        for (const lean::Message& message : kernel.messages)
            KernelMessage(kernel, message);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(kernel.table);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// ---- one publication of 30 aircraft ----------------------------------------------------------

void Publication(benchmark::State& state, const bench::Variant& variant) {
    Relay(CallSigns.size());
    bench::Scope scope(variant);
    std::uint64_t before = lean::ModuleExchanges();
    for (auto _ : state) {
        relayState.publishCount = 0; // never the emptying publication
        PublishTraffic();
    }
    benchmark::DoNotOptimize(workingBlock);
    state.counters["exchanges"] = benchmark::Counter(
        static_cast<double>(lean::ModuleExchanges() - before), benchmark::Counter::kAvgIterations);
    Unwind();
}

// The same 30 shared records and 30 write records (at the front of the request area, each ended
// by the terminator, as each exchange leaves it), with no exchange.
void PublicationKernel(benchmark::State& state) {
    static TrafficEntry entries[MaxTraffic];
    static SharedTrafficBlock block;
    static std::uint8_t area[64];
    Relay(CallSigns.size());
    std::memcpy(entries, trafficTable.entries, sizeof entries);
    Unwind();
    for (auto _ : state) {
        for (std::size_t i = 0; i < MaxTraffic; ++i) {
            const TrafficEntry& entry = entries[i];
            SharedTrafficRecord& record = block.records[i];
            record.latitude = entry.latitude;
            record.longitude = entry.longitude;
            record.altitude = entry.altitude;
            record.headingDegrees =
                static_cast<float>(static_cast<double>(entry.heading) * 360.0 / 65535.0);
            record.groundSpeed = static_cast<float>(entry.groundSpeed);
            record.verticalSpeed = static_cast<float>(entry.verticalSpeed);
            std::memset(record.reserved, 0, sizeof record.reserved);
            const std::uint32_t header[3] = {WriteRecordType, TrafficOffset, sizeof entry};
            std::memcpy(area, header, sizeof header);
            std::memcpy(area + sizeof header, &entry, sizeof entry);
            std::memset(area + sizeof header + sizeof entry, 0, TerminatorSize);
            benchmark::ClobberMemory();
        }
        block.recordCount = MaxTraffic;
        block.state = SharedStatePublished;
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(block);
    benchmark::DoNotOptimize(area);
}

void Register() {
    for (const bench::Variant& variant : bench::Variants()) {
        std::string suffix = variant.suffix;
        benchmark::RegisterBenchmark(("message" + suffix).c_str(), Message, variant);
        benchmark::RegisterBenchmark(("drain" + suffix).c_str(), Drain, variant)
            ->Arg(1)
            ->Arg(30)
            ->Arg(1000);
        benchmark::RegisterBenchmark(("publication" + suffix).c_str(), Publication, variant);
    }
    benchmark::RegisterBenchmark("kernel/message", MessageKernel);
    benchmark::RegisterBenchmark("kernel/drain", DrainKernel)->Arg(1)->Arg(30)->Arg(1000);
    benchmark::RegisterBenchmark("kernel/publication", PublicationKernel);
}

const int registered = (Register(), 0);

} // namespace
