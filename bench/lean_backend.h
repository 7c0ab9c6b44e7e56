// A lean in-memory backend for the benchmarks: a DirectPlay session whose queue and player names
// are set up in advance, a simulator module that answers every exchange, and mappings in the
// process's own memory. It keeps the behaviour the core relies on and nothing else, so that what
// is measured is the core's work and not a test double's bookkeeping.
#pragma once

#include "platform/directplay.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lean {

// One waiting message and its sender.
struct Message {
    std::vector<std::uint8_t> bytes;
    dp::DPID sender;
};

// The session: Receive takes messages from a list in order; Refill puts the first n back.
class Session final : public dp::IDirectPlay4A {
  public:
    // Players firstId, firstId + 1, ... with these short names and no long names.
    Session(dp::DPID firstId, const std::vector<std::string>& names);

    void SetMessages(std::vector<Message> messages);
    // Messages first to first + n - 1 of the list wait again (within the list's size).
    void Refill(std::size_t first, std::size_t n) {
        next_ = first;
        waiting_ = first + n;
    }
    std::size_t Waiting() const { return waiting_ - next_; }

    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    HRESULT EnumConnections(const dp::GUID*, dp::EnumConnectionsCallback, void*,
                            std::uint32_t) override;
    HRESULT InitializeConnection(void*, std::uint32_t) override;
    HRESULT EnumSessions(dp::DPSESSIONDESC2*, std::uint32_t, dp::EnumSessionsCallback2, void*,
                         std::uint32_t) override;
    HRESULT Open(dp::DPSESSIONDESC2*, std::uint32_t) override;
    HRESULT CreatePlayer(dp::DPID*, dp::DPNAME*, plat::Event, void*, std::uint32_t,
                         std::uint32_t) override;
    HRESULT EnumPlayers(dp::GUID*, dp::EnumPlayersCallback2, void*, std::uint32_t) override;
    HRESULT Receive(dp::DPID* from, dp::DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* dataSize) override;
    HRESULT GetPlayerName(dp::DPID player, void* data, std::uint32_t* dataSize) override;
    HRESULT DestroyPlayer(dp::DPID) override { return dp::Ok; }
    HRESULT Close() override { return dp::Ok; }

  private:
    dp::DPID firstId_;
    std::vector<std::string> names_;
    std::vector<Message> messages_;
    std::size_t next_ = 0;
    std::size_t waiting_ = 0;
};

// Exchanges the module has answered since the start.
std::uint64_t ModuleExchanges();

// true: the module answers every exchange at once without looking at the request area (its own
// work is not the relay's); false (at start): it carries out the area, as the link's handshake
// needs.
void AnswerAtOnce(bool atOnce);

} // namespace lean
