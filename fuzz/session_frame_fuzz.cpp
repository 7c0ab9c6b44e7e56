// The session stand-in's frames as a peer could send them: the parser never reads past the bytes
// it was given, and every body a decoder accepts encodes back to exactly the same frame.
#include "platform/posix/session_wire.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

namespace wire = posix::wire;

template <typename Body>
void RoundTrip(const std::optional<Body>& decoded, std::span<const std::uint8_t> frame) {
    if (!decoded)
        return;
    wire::Bytes again = wire::Encode(*decoded);
    if (again.size() != frame.size() || !std::equal(again.begin(), again.end(), frame.begin()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    while (!bytes.empty()) {
        wire::ParseResult parsed = wire::ParseFrame(bytes);
        if (parsed.status != wire::ParseStatus::Complete)
            break;
        if (parsed.consumed == 0 || parsed.consumed > bytes.size())
            std::abort();
        std::span<const std::uint8_t> frame = bytes.first(parsed.consumed);
        const wire::Bytes& body = parsed.frame.body;
        switch (parsed.frame.kind) {
        case wire::FrameKind::EnumSessionsRequest:
            RoundTrip(wire::DecodeEnumSessionsRequest(body), frame);
            break;
        case wire::FrameKind::SessionList:
            RoundTrip(wire::DecodeSessionList(body), frame);
            break;
        case wire::FrameKind::JoinRequest:
            RoundTrip(wire::DecodeJoinRequest(body), frame);
            break;
        case wire::FrameKind::JoinReply:
            RoundTrip(wire::DecodeJoinReply(body), frame);
            break;
        case wire::FrameKind::CreatePlayerRequest:
            RoundTrip(wire::DecodeCreatePlayerRequest(body), frame);
            break;
        case wire::FrameKind::CreatePlayerReply:
            RoundTrip(wire::DecodeCreatePlayerReply(body), frame);
            break;
        case wire::FrameKind::DestroyPlayer:
            RoundTrip(wire::DecodeDestroyPlayer(body), frame);
            break;
        case wire::FrameKind::PlayerAdded:
            RoundTrip(wire::DecodePlayerAdded(body), frame);
            break;
        case wire::FrameKind::PlayerRemoved:
            RoundTrip(wire::DecodePlayerRemoved(body), frame);
            break;
        case wire::FrameKind::PlayerRenamed:
            RoundTrip(wire::DecodePlayerRenamed(body), frame);
            break;
        case wire::FrameKind::Message:
            RoundTrip(wire::DecodeMessage(body), frame);
            break;
        default:
            break;
        }
        bytes = bytes.subspan(parsed.consumed);
    }

    // The same bytes as connection data.
    std::span<const std::uint8_t> whole(data, size);
    if (std::optional<std::size_t> announced = wire::ConnectionSize(whole);
        announced && *announced <= size) {
        if (auto connection = wire::DecodeConnection(whole.first(*announced));
            connection && wire::EncodeConnection(*connection).size() != *announced)
            std::abort();
    }
    return 0;
}
