#include "bench/lean_backend.h"

#include "platform/app.h"
#include "platform/dialog.h"
#include "platform/messaging.h"
#include "platform/shared_memory.h"

#include <cstdlib>
#include <cstring>

namespace lean {
namespace {

constexpr std::uint32_t ModuleVersion = 0x20000000;
constexpr std::uint32_t SimVersion = 0xFADE0000;

struct Block {
    std::uint8_t* bytes;
    std::size_t size;
};

std::uint64_t exchanges = 0;
bool carryingOut = true;
// The last mapping created: the request area the module carries out (the core creates the area
// after "AIFile", and the module only ever reads the area).
Block* lastArea = nullptr;
int window = 0;

std::uint32_t GetU32(const std::uint8_t* at) {
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// The module's side of an exchange: reads of the two version values are answered, writes are
// taken as they are.
void CarryOut(std::uint8_t* area, std::size_t size) {
    std::size_t position = 0;
    while (size - position >= 12) {
        std::uint32_t type = GetU32(area + position);
        std::size_t header = type == 1 ? 16 : type == 2 ? 12 : 0;
        if (header == 0)
            return;
        std::uint32_t offset = GetU32(area + position + 4);
        std::uint32_t length = GetU32(area + position + 8);
        if (type == 1 && length == 4 && (offset == 0x3304 || offset == 0x3308)) {
            std::uint32_t value = offset == 0x3304 ? ModuleVersion : SimVersion;
            std::memcpy(area + position + header, &value, 4);
        }
        position += header + length;
    }
}

} // namespace

Session::Session(dp::DPID firstId, const std::vector<std::string>& names)
    : firstId_(firstId), names_(names) {}

void Session::SetMessages(std::vector<Message> messages) {
    messages_ = std::move(messages);
    Refill(0, 0);
}

HRESULT Session::EnumConnections(const dp::GUID*, dp::EnumConnectionsCallback, void*,
                                 std::uint32_t) {
    return dp::Ok;
}
HRESULT Session::InitializeConnection(void*, std::uint32_t) {
    return dp::Ok;
}
HRESULT Session::EnumSessions(dp::DPSESSIONDESC2*, std::uint32_t, dp::EnumSessionsCallback2, void*,
                              std::uint32_t) {
    return dp::Ok;
}
HRESULT Session::Open(dp::DPSESSIONDESC2*, std::uint32_t) {
    return dp::Ok;
}
HRESULT Session::CreatePlayer(dp::DPID*, dp::DPNAME*, plat::Event, void*, std::uint32_t,
                              std::uint32_t) {
    return dp::Ok;
}
HRESULT Session::EnumPlayers(dp::GUID*, dp::EnumPlayersCallback2, void*, std::uint32_t) {
    return dp::Ok;
}

HRESULT Session::Receive(dp::DPID* from, dp::DPID* to, std::uint32_t, void* data,
                         std::uint32_t* dataSize) {
    if (next_ == waiting_)
        return dp::ErrNoMessages;
    const Message& message = messages_[next_];
    auto needed = static_cast<std::uint32_t>(message.bytes.size());
    if (data == nullptr || *dataSize < needed) {
        *dataSize = needed;
        return dp::ErrBufferTooSmall;
    }
    std::memcpy(data, message.bytes.data(), needed);
    *dataSize = needed;
    *from = message.sender;
    *to = 1;
    ++next_;
    return dp::Ok;
}

HRESULT Session::GetPlayerName(dp::DPID player, void* data, std::uint32_t* dataSize) {
    std::size_t index = player - firstId_;
    if (player < firstId_ || index >= names_.size())
        return dp::ErrInvalidPlayer;
    const std::string& name = names_[index];
    std::size_t needed = sizeof(dp::DPNAME) + name.size() + 1;
    if (data == nullptr || *dataSize < needed) {
        *dataSize = static_cast<std::uint32_t>(needed);
        return dp::ErrBufferTooSmall;
    }
    auto bytes = static_cast<char*>(data);
    std::memcpy(bytes + sizeof(dp::DPNAME), name.c_str(), name.size() + 1);
    dp::DPNAME record{sizeof(dp::DPNAME), 0, bytes + sizeof(dp::DPNAME), nullptr};
    std::memcpy(bytes, &record, sizeof record);
    *dataSize = static_cast<std::uint32_t>(needed);
    return dp::Ok;
}

std::uint64_t ModuleExchanges() {
    return exchanges;
}

void AnswerAtOnce(bool atOnce) {
    carryingOut = !atOnce;
}

} // namespace lean

namespace plat {

void SetControlText(Window, int, const char*) {}
void StopTimer(Window, TimerId) {}
int ShowMessageBox(Window, const char*, const char*, std::uint32_t) {
    return 1;
}
int ShowAppMessageBox(const char*, std::uint32_t) {
    return 1;
}
void WaitForEventOrInput(Event) {}
std::uint64_t MonotonicMilliseconds() {
    return 0;
}

Mapping OpenNamedMapping(const char*) {
    return nullptr;
}

Mapping CreateNamedMapping(const char*, std::uint32_t size, bool* alreadyExisted) {
    *alreadyExisted = false;
    auto* block = new lean::Block{static_cast<std::uint8_t*>(std::calloc(size, 1)), size};
    lean::lastArea = block;
    return reinterpret_cast<Mapping>(block);
}

void* MapWholeView(Mapping mapping, std::size_t* viewSize) {
    auto* block = reinterpret_cast<lean::Block*>(mapping);
    *viewSize = block->size;
    return block->bytes;
}

void UnmapView(void*) {}

void* OpenCounterBlock(const char*, std::size_t size) {
    return std::calloc(size, 1);
}

void CloseCounterBlock(void* view) {
    std::free(view);
}

int CloseMapping(Mapping mapping) {
    auto* block = reinterpret_cast<lean::Block*>(mapping);
    if (block == nullptr)
        return 0;
    if (lean::lastArea == block)
        lean::lastArea = nullptr;
    std::free(block->bytes);
    delete block;
    return 1;
}

Window FindWindowByClass(const char*) {
    return reinterpret_cast<Window>(&lean::window);
}
std::uint32_t RegisterMessage(const char*) {
    return 0xC000;
}
std::uint16_t AddGlobalAtom(const char*) {
    return 0xC000;
}
void DeleteGlobalAtom(std::uint16_t) {}

int SendWithTimeout(Window, std::uint32_t, std::uintptr_t, std::intptr_t, std::uint32_t, unsigned,
                    std::uintptr_t* reply) {
    if (lean::carryingOut && lean::lastArea != nullptr)
        lean::CarryOut(lean::lastArea->bytes, lean::lastArea->size);
    ++lean::exchanges;
    *reply = 1;
    return 1;
}

std::uint32_t LastError() {
    return 0;
}
std::uint32_t ProcessId() {
    return 1;
}
void SleepMs(unsigned) {}

} // namespace plat
