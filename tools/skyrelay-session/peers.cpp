#include "peers.h"

#include <cstdarg>
#include <cstdio>
#include <random>

namespace session_host {
namespace {

using namespace std::chrono_literals;

constexpr auto CountReportPeriod = 5s;

std::vector<std::uint8_t> SystemMessage(std::uint32_t type) {
    return {static_cast<std::uint8_t>(type & 0xFFu), static_cast<std::uint8_t>(type >> 8),
            static_cast<std::uint8_t>(type >> 16), static_cast<std::uint8_t>(type >> 24)};
}

} // namespace

dp::GUID RandomGuid() {
    std::random_device random;
    dp::GUID guid{};
    guid.data1 = random();
    guid.data2 = static_cast<std::uint16_t>(random());
    guid.data3 = static_cast<std::uint16_t>(random());
    for (std::uint8_t& byte : guid.data4)
        byte = static_cast<std::uint8_t>(random());
    return guid;
}

void Say(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::uint32_t StampedVerticalSpeed(std::int64_t milliseconds) {
    // The relay decodes raw x 60 / 65536 and keeps the whole part: round the raw value up.
    std::int64_t stamp = milliseconds % 32768;
    return static_cast<std::uint32_t>((stamp * 65536 + 59) / 60);
}

PeerSchedule::PeerSchedule(int aircraft, SpeedEncoding encoding, std::optional<Scenario> script,
                           int rate, bool stamp)
    : aircraft_(aircraft), speedEncoding_(encoding),
      positionPeriod_(std::chrono::duration_cast<Clock::duration>(1000ms) / rate), stamp_(stamp),
      script_(std::move(script)) {}

void PeerSchedule::Start(PeerSink& sink, Clock::time_point now) {
    flightStart_ = now;
    nextPositions_ = now;
    nextCountReport_ = now + CountReportPeriod;
    synthetic_ = MakeSyntheticPeers(aircraft_);
    for (const SyntheticPeer& peer : synthetic_)
        syntheticIds_.push_back(sink.AddPeer(peer.name, "Synthetic peer " + peer.name));
}

void PeerSchedule::FirstRemotePlayerJoined(Clock::time_point now) {
    if (!script_ || scriptStarted_)
        return;
    scriptStarted_ = true;
    scriptDue_ = now;
    Say("scenario: started");
}

bool PeerSchedule::Tick(PeerSink& sink, Clock::time_point now) {
    TickSynthetic(sink, now);
    return !script_ || StepScript(sink, now);
}

void PeerSchedule::TickSynthetic(PeerSink& sink, Clock::time_point now) {
    if (synthetic_.empty())
        return;
    if (now >= nextPositions_) {
        // On the schedule, not a period after a late wake-up, so that the rate holds.
        nextPositions_ += positionPeriod_;
        if (nextPositions_ <= now)
            nextPositions_ = now + positionPeriod_;
        double seconds = std::chrono::duration<double>(now - flightStart_).count();
        for (std::size_t i = 0; i < synthetic_.size(); ++i) {
            PositionFields fields = SyntheticPosition(synthetic_[i], seconds, speedEncoding_);
            if (stamp_)
                fields.verticalSpeed =
                    StampedVerticalSpeed(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             Clock::now().time_since_epoch())
                                             .count());
            sink.SendToRemotePlayers(syntheticIds_[i], BuildPositionMessage(fields));
        }
    }
    if (now >= nextCountReport_) {
        nextCountReport_ = now + CountReportPeriod;
        if (sink.MessagesSent() != reportedCount_) {
            reportedCount_ = sink.MessagesSent();
            Say("sent: %llu messages", static_cast<unsigned long long>(reportedCount_));
        }
    }
}

bool PeerSchedule::StepScript(PeerSink& sink, Clock::time_point now) {
    if (!scriptStarted_ || scriptFinished_)
        return true;
    const std::vector<Command>& commands = script_->commands;
    while (scriptCursor_ < commands.size() && now >= scriptDue_) {
        const Command& command = commands[scriptCursor_++];
        switch (command.kind) {
        case CommandKind::Wait:
            scriptDue_ = now + std::chrono::milliseconds(command.milliseconds);
            break;
        case CommandKind::Join:
            scriptPeers_[command.name] = sink.AddPeer(command.name, std::nullopt);
            break;
        case CommandKind::Position:
        case CommandKind::Send: {
            dp::DPID from = scriptPeers_.at(command.name);
            std::vector<std::uint8_t> data = command.kind == CommandKind::Position
                                                 ? BuildPositionMessage(command.position)
                                                 : command.bytes;
            int delivered = sink.SendToRemotePlayers(from, data);
            Say("sent: %s from %s, %zu bytes, to %d players (%llu messages in all)",
                command.kind == CommandKind::Position ? "position" : "message",
                command.name.c_str(), data.size(), delivered,
                static_cast<unsigned long long>(sink.MessagesSent()));
            break;
        }
        case CommandKind::Burst: {
            dp::DPID from = scriptPeers_.at(command.name);
            int delivered = 0;
            for (std::uint32_t i = 0; i < command.count; ++i)
                delivered = sink.SendToRemotePlayers(from, command.bytes);
            Say("sent: burst from %s, %u x %zu bytes, to %d players (%llu messages in all)",
                command.name.c_str(), command.count, command.bytes.size(), delivered,
                static_cast<unsigned long long>(sink.MessagesSent()));
            break;
        }
        case CommandKind::Rename: {
            auto found = scriptPeers_.find(command.name);
            dp::DPID id = found->second;
            scriptPeers_.erase(found);
            scriptPeers_[command.newName] = id;
            sink.RenamePeer(id, command.newName);
            break;
        }
        case CommandKind::System: {
            std::uint32_t type =
                command.system == SystemMessageKind::SessionLost ? dp::SysSessionLost : dp::SysHost;
            int delivered = sink.SendToRemotePlayers(dp::SystemPlayerId, SystemMessage(type));
            Say("sent: system message 0x%X to %d players (%llu messages in all)", type, delivered,
                static_cast<unsigned long long>(sink.MessagesSent()));
            break;
        }
        case CommandKind::Leave: {
            auto found = scriptPeers_.find(command.name);
            sink.RemovePeer(found->second);
            scriptPeers_.erase(found);
            break;
        }
        case CommandKind::End:
            sink.CloseSession();
            return false;
        }
    }
    if (scriptCursor_ == commands.size()) {
        scriptFinished_ = true;
        Say("scenario: finished");
    }
    return true;
}

} // namespace session_host
