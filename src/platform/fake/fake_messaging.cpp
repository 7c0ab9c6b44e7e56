// Fake module-window messaging and the scriptable simulator IPC module behind it.
#include "platform/fake/fake_messaging.h"
#include "platform/fake/fake.h"
#include "platform/fake/fake_shared_memory.h"

#include <cstdio>
#include <map>
#include <memory>

namespace fake {
namespace {

constexpr std::size_t OffsetSpaceSize = 0x10000;
constexpr std::uint16_t FirstAtom = 0xC000;
constexpr std::uint32_t FirstMessage = 0xC000;

// What a window handle of this fake stands for. (The handle type stays opaque: other fakes hand out
// windows of their own.)
struct ModuleWindow {
    std::string className;
};

plat::Window Handle(ModuleWindow* window) {
    return reinterpret_cast<plat::Window>(window);
}

struct MessagingState {
    std::map<std::string, std::unique_ptr<ModuleWindow>> windows;
    // Windows removed: kept allocated, so that a handle is never given to a later window.
    std::vector<std::unique_ptr<ModuleWindow>> closedWindows;
    std::map<std::string, std::uint32_t> messages;
    std::map<std::uint16_t, std::pair<std::string, int>> atoms; // name, reference count
    std::vector<std::uint8_t> offsetSpace = std::vector<std::uint8_t>(OffsetSpaceSize, 0);
    std::vector<std::string> moduleLog;
    int moduleMessages = 0;
    std::uintptr_t reply = 1;
    int silentSends = 0;
    std::uint32_t silentError = ErrorTimeout;
    std::function<void(std::span<std::uint8_t>)> whileAnswering;
    std::function<void()> whileSending;
    std::vector<unsigned> sleeps;
    std::vector<unsigned> timeoutsWaited;
    std::uint32_t processId = 0x1A2B;
    std::uint32_t lastError = 0;
};

MessagingState& State() {
    static MessagingState state;
    return state;
}

void ResetMessaging() {
    State() = MessagingState{};
}
ResetHook messagingReset(&ResetMessaging);

std::uint32_t GetU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

std::string HexNumber(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// The version values the module presents at 0x3304 to 0x330B are its own: writes there (the
// handshake word at 0x330A) are taken but do not change what is read.
bool Presented(std::uint64_t offset) {
    return offset >= 0x3304 && offset < 0x330C;
}

// Carries out the records in order, as a well-behaved module does; stops at the terminator, an
// unknown type, or a record that would run past the area.
void CarryOut(std::span<std::uint8_t> area) {
    auto& space = State().offsetSpace;
    std::size_t position = 0;
    while (area.size() - position >= 4) {
        std::uint8_t* record = area.data() + position;
        std::uint32_t type = GetU32(record);
        std::size_t header = type == 1 ? 16 : type == 2 ? 12 : 0;
        if (header == 0 || area.size() - position < header)
            return;
        std::uint32_t offset = GetU32(record + 4);
        std::uint32_t size = GetU32(record + 8);
        if (size > area.size() - position - header)
            return;
        std::uint8_t* data = record + header;
        for (std::uint64_t i = 0; i < size; ++i) {
            std::uint64_t at = std::uint64_t{offset} + i;
            if (type == 1)
                data[i] = at < space.size() ? space[static_cast<std::size_t>(at)] : 0;
            else if (at < space.size() && !Presented(at))
                space[static_cast<std::size_t>(at)] = data[i];
        }
        std::string line =
            (type == 1 ? "read " : "write ") + HexNumber(offset) + " " + std::to_string(size);
        if (type == 2)
            line += " " + Hex(data, size);
        State().moduleLog.push_back(line);
        position += header + size;
    }
}

} // namespace

plat::Window AddWindow(const std::string& className) {
    auto& slot = State().windows[className];
    if (!slot)
        slot = std::make_unique<ModuleWindow>(ModuleWindow{className});
    return Handle(slot.get());
}

void RemoveWindow(const std::string& className) {
    auto found = State().windows.find(className);
    if (found == State().windows.end())
        return;
    State().closedWindows.push_back(std::move(found->second));
    State().windows.erase(found);
}

void SetModuleBytes(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size() && offset + i < OffsetSpaceSize; ++i)
        State().offsetSpace[offset + i] = bytes[i];
}

void SetModuleU32(std::uint32_t offset, std::uint32_t value) {
    SetModuleBytes(offset, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                            static_cast<std::uint8_t>(value >> 16),
                            static_cast<std::uint8_t>(value >> 24)});
}

std::vector<std::uint8_t> ModuleBytes(std::uint32_t offset, std::size_t size) {
    std::vector<std::uint8_t> out(size, 0);
    for (std::size_t i = 0; i < size && offset + i < OffsetSpaceSize; ++i)
        out[i] = State().offsetSpace[offset + i];
    return out;
}

const std::vector<std::string>& ModuleLog() {
    return State().moduleLog;
}
int ModuleMessages() {
    return State().moduleMessages;
}
void SetModuleReply(std::uintptr_t reply) {
    State().reply = reply;
}

void SetLastError(std::uint32_t error) {
    State().lastError = error;
}

void SilenceModule(int count, std::uint32_t lastError) {
    State().silentSends = count;
    State().silentError = lastError;
}

void WhileModuleAnswers(std::function<void(std::span<std::uint8_t>)> action) {
    State().whileAnswering = std::move(action);
}

void WhileSending(std::function<void()> action) {
    State().whileSending = std::move(action);
}

const std::vector<unsigned>& Sleeps() {
    return State().sleeps;
}
const std::vector<unsigned>& SendTimeoutsWaited() {
    return State().timeoutsWaited;
}
void SetProcessId(std::uint32_t id) {
    State().processId = id;
}
int LiveAtoms() {
    return static_cast<int>(State().atoms.size());
}

std::string AtomName(std::uint16_t atom) {
    auto it = State().atoms.find(atom);
    return it == State().atoms.end() ? std::string() : it->second.first;
}

} // namespace fake

namespace plat {

using fake::Enter;

Window FindWindowByClass(const char* className) {
    if (Enter("FindWindowByClass", className ? className : "null") || className == nullptr)
        return nullptr;
    auto it = fake::State().windows.find(className);
    return it == fake::State().windows.end() ? nullptr : fake::Handle(it->second.get());
}

std::uint32_t RegisterMessage(const char* name) {
    if (Enter("RegisterMessage", name ? name : "null") || name == nullptr || *name == '\0')
        return 0;
    auto& messages = fake::State().messages;
    auto it = messages.find(name);
    if (it == messages.end())
        it =
            messages.emplace(name, fake::FirstMessage + static_cast<std::uint32_t>(messages.size()))
                .first;
    return it->second;
}

std::uint16_t AddGlobalAtom(const char* name) {
    if (Enter("AddGlobalAtom", name ? name : "null") || name == nullptr || *name == '\0')
        return 0;
    auto& atoms = fake::State().atoms;
    for (auto& [atom, entry] : atoms)
        if (entry.first == name) {
            ++entry.second;
            return atom;
        }
    std::uint16_t atom = fake::FirstAtom;
    while (atoms.count(atom) != 0)
        ++atom;
    atoms.emplace(atom, std::make_pair(std::string(name), 1));
    return atom;
}

void DeleteGlobalAtom(std::uint16_t atom) {
    Enter("DeleteGlobalAtom", std::to_string(atom));
    auto it = fake::State().atoms.find(atom);
    if (it != fake::State().atoms.end() && --it->second.second == 0)
        fake::State().atoms.erase(it);
}

int SendWithTimeout(Window window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t,
                    std::uint32_t flags, unsigned timeoutMs, std::uintptr_t* reply) {
    auto& state = fake::State();
    if (state.whileSending)
        state.whileSending();
    if (auto failure =
            Enter("SendWithTimeout", std::to_string(message) + " " + std::to_string(wParam) + " " +
                                         std::to_string(flags) + " " + std::to_string(timeoutMs))) {
        state.lastError = static_cast<std::uint32_t>(*failure);
        return 0;
    }
    bool live = false;
    for (const auto& entry : state.windows)
        live = live || fake::Handle(entry.second.get()) == window;
    if (!live) {
        state.lastError = fake::ErrorInvalidWindowHandle;
        return 0;
    }
    if (state.silentSends != 0) {
        if (state.silentSends > 0)
            --state.silentSends;
        state.timeoutsWaited.push_back(timeoutMs);
        state.lastError = state.silentError;
        return 0;
    }
    std::uintptr_t answer = 0;
    auto registered = state.messages.find("FsasmLib:IPC");
    if (registered != state.messages.end() && registered->second == message) {
        std::string name = fake::AtomName(static_cast<std::uint16_t>(wParam & 0xFFFF));
        std::span<std::uint8_t> area =
            name.empty() ? std::span<std::uint8_t>() : fake::MappingSpan(name);
        if (!area.empty()) {
            ++state.moduleMessages;
            fake::CarryOut(area);
            if (state.whileAnswering)
                state.whileAnswering(area);
            answer = state.reply;
        }
    }
    if (reply != nullptr)
        *reply = answer;
    return 1;
}

std::uint32_t LastError() {
    Enter("LastError");
    return fake::State().lastError;
}

std::uint32_t ProcessId() {
    Enter("ProcessId");
    return fake::State().processId;
}

void SleepMs(unsigned ms) {
    Enter("SleepMs", std::to_string(ms));
    fake::State().sleeps.push_back(ms);
}

} // namespace plat
