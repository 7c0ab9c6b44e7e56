// The DirectPlay lobby stand-in: CreateAddress builds the connection data of a TCP/IP connection to
// a given address, in the stand-in's own connection format.
#include "platform/directplay.h"
#include "platform/posix/session_wire.h"

#include <atomic>
#include <cstring>
#include <string>

namespace {

namespace wire = posix::wire;

class DirectPlayLobbyStandIn final : public dp::IDirectPlayLobby3A {
  public:
    std::uint32_t AddRef() override { return ++references_; }

    std::uint32_t Release() override {
        std::uint32_t left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // Only TCP/IP addresses (DPSPGUID_TCPIP with DPAID_INet) can be built. The data is the
    // address text; its terminating zero may be included in the size.
    HRESULT CreateAddress(const dp::GUID* serviceProvider, const dp::GUID* dataType,
                          const void* data, std::uint32_t dataSize, void* address,
                          std::uint32_t* addressSize) override {
        if (serviceProvider == nullptr || dataType == nullptr || addressSize == nullptr ||
            (data == nullptr && dataSize != 0))
            return dp::ErrInvalidParams;
        if (!(*serviceProvider == dp::SpGuidTcpIp) || !(*dataType == dp::AidINet))
            return dp::ErrInvalidParams;
        const char* text = static_cast<const char*>(data);
        std::size_t length = 0;
        while (length < dataSize && text[length] != '\0')
            ++length;
        if (length > wire::MaxHostLength)
            return dp::ErrInvalidParams;
        wire::Connection connection{wire::Transport::TcpIp, std::string(text, length)};
        wire::Bytes encoded = wire::EncodeConnection(connection);
        // A host text the connection format refuses (blanks, control bytes) is refused here.
        if (!wire::DecodeConnection(encoded))
            return dp::ErrInvalidParams;
        auto needed = static_cast<std::uint32_t>(encoded.size());
        if (address == nullptr || *addressSize < needed) {
            *addressSize = needed;
            return dp::ErrBufferTooSmall;
        }
        std::memcpy(address, encoded.data(), encoded.size());
        *addressSize = needed;
        return dp::Ok;
    }

  private:
    ~DirectPlayLobbyStandIn() = default;

    std::atomic<std::uint32_t> references_{1};
};

} // namespace

namespace plat {

HRESULT CreateDirectPlayLobby(dp::IDirectPlayLobby3A** lobby) {
    if (lobby == nullptr)
        return dp::ErrInvalidParams;
    *lobby = new DirectPlayLobbyStandIn();
    return hresult::Ok;
}

} // namespace plat
