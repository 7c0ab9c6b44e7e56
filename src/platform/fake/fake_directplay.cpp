// The fake DirectPlay: one scripted session that every object of the process shares.
#include "platform/fake/fake_directplay.h"
#include "platform/fake/fake.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

namespace fake {
namespace {

struct QueuedMessage {
    std::vector<std::uint8_t> bytes;
    dp::DPID sender;
};

struct PlayerNames {
    std::optional<std::string> shortName;
    std::optional<std::string> longName;
    // A record as a broken provider might fill it: these bytes after the DPNAME, the short name
    // pointing rawShortOffset bytes into them, no long name; the names above are then unused.
    std::optional<std::vector<std::uint8_t>> rawTail;
    std::size_t rawShortOffset = 0;
};

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct DirectPlayState {
    std::vector<ScriptedConnection> connections{
        {"Internet TCP/IP Connection For DirectPlay", Bytes("connection:tcp")},
        {"IPX Connection For DirectPlay", Bytes("connection:ipx")},
        {"Modem Connection For DirectPlay", Bytes("connection:modem")}};
    std::vector<ScriptedSession> sessions;
    std::deque<QueuedMessage> queue;
    std::map<dp::DPID, PlayerNames> names;
    int live = 0;
    int created = 0;
    int liveLobbies = 0;
    dp::DPID nextPlayerId = 1000;
    std::string createdName;
    plat::Event createdEvent = nullptr;
    std::map<std::string, std::function<void()>> hooks;
    // What InitializeConnection may be handed: the connections being offered and the addresses
    // the lobby built, by address.
    std::map<const void*, std::string> knownConnections;
};

DirectPlayState& State() {
    static DirectPlayState state;
    return state;
}

void ResetDirectPlay() {
    State() = DirectPlayState{};
}
ResetHook directPlayReset(&ResetDirectPlay);

void RunHook(const std::string& operation) {
    auto it = State().hooks.find(operation);
    if (it != State().hooks.end() && it->second) {
        auto action = it->second; // the hook may replace itself
        action();
    }
}

std::string Describe(const void* connection) {
    if (connection == nullptr)
        return "null";
    auto it = State().knownConnections.find(connection);
    return it == State().knownConnections.end() ? "unknown" : "\"" + it->second + "\"";
}

class FakeDirectPlay final : public dp::IDirectPlay4A {
  public:
    FakeDirectPlay() : serial_(++State().created) { ++State().live; }

    std::uint32_t AddRef() override {
        Enter("AddRef", Tag());
        return ++references_;
    }

    std::uint32_t Release() override {
        Enter("Release", Tag());
        std::uint32_t left = --references_;
        if (left == 0) {
            --State().live;
            delete this;
        }
        return left;
    }

    HRESULT EnumConnections(const dp::GUID*, dp::EnumConnectionsCallback callback, void* context,
                            std::uint32_t flags) override {
        if (auto failure = Enter("EnumConnections", Tag() + " " + std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("EnumConnections");
        auto offered = State().connections; // callbacks may change the script
        for (auto& connection : offered)
            State().knownConnections[connection.data.data()] = connection.shortName;
        for (auto& connection : offered) {
            std::string name = connection.shortName;
            dp::DPNAME dpName{sizeof(dp::DPNAME), 0, name.data(), nullptr};
            dp::GUID provider = dp::GuidNull;
            if (!callback(&provider, connection.data.data(),
                          static_cast<std::uint32_t>(connection.data.size()), &dpName, 0, context))
                break;
        }
        for (auto& connection : offered)
            State().knownConnections.erase(connection.data.data());
        // Logged from the object itself: an object released inside its own enumeration shows.
        Enter("EnumConnectionsEnd", Tag());
        return dp::Ok;
    }

    HRESULT InitializeConnection(void* connection, std::uint32_t) override {
        if (auto failure = Enter("InitializeConnection", Tag() + " " + Describe(connection)))
            return static_cast<HRESULT>(*failure);
        RunHook("InitializeConnection");
        if (connection == nullptr)
            return dp::ErrInvalidParams;
        if (initialized_)
            return dp::ErrAlreadyInitialized;
        initialized_ = true;
        return dp::Ok;
    }

    HRESULT EnumSessions(dp::DPSESSIONDESC2* description, std::uint32_t timeout,
                         dp::EnumSessionsCallback2 callback, void* context,
                         std::uint32_t flags) override {
        if (auto failure = Enter("EnumSessions", Tag() + " " + std::to_string(timeout) + " " +
                                                     std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("EnumSessions");
        if (description == nullptr || description->dwSize != sizeof(dp::DPSESSIONDESC2))
            return dp::ErrInvalidParams;
        if (!initialized_)
            return dp::ErrUninitialized;
        auto found = State().sessions;
        std::uint32_t wait = timeout;
        for (auto& session : found) {
            dp::DPSESSIONDESC2 offered{};
            offered.dwSize = sizeof offered;
            offered.guidInstance = session.instance;
            offered.lpszSessionNameA = session.name.data();
            if (!callback(&offered, &wait, 0, context))
                return dp::Ok;
        }
        callback(nullptr, &wait, dp::EnumSessionsTimedOut, context);
        return dp::Ok;
    }

    HRESULT Open(dp::DPSESSIONDESC2* description, std::uint32_t flags) override {
        std::string instance =
            description ? std::to_string(description->guidInstance.data1) : "null";
        if (auto failure = Enter("Open", Tag() + " " + instance + " " + std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("Open");
        if (description == nullptr || description->dwSize != sizeof(dp::DPSESSIONDESC2))
            return dp::ErrInvalidParams;
        for (const auto& session : State().sessions)
            if (session.instance == description->guidInstance) {
                open_ = true;
                return dp::Ok;
            }
        return dp::ErrNoSessions;
    }

    HRESULT CreatePlayer(dp::DPID* player, dp::DPNAME* name, plat::Event event, void*,
                         std::uint32_t dataSize, std::uint32_t flags) override {
        std::string shortName =
            name && name->lpszShortNameA ? std::string(name->lpszShortNameA) : std::string();
        if (auto failure =
                Enter("CreatePlayer", Tag() + " \"" + shortName + "\" " + std::to_string(dataSize) +
                                          " " + std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("CreatePlayer");
        if (player == nullptr || name == nullptr || name->dwSize != sizeof(dp::DPNAME))
            return dp::ErrInvalidParams;
        if (!open_)
            return dp::ErrInvalidObject;
        *player = State().nextPlayerId++;
        State().createdName = shortName;
        State().createdEvent = event;
        return dp::Ok;
    }

    HRESULT EnumPlayers(dp::GUID*, dp::EnumPlayersCallback2 callback, void* context,
                        std::uint32_t flags) override {
        if (auto failure = Enter("EnumPlayers", Tag() + " " + std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("EnumPlayers");
        for (auto& [id, names] : State().names) {
            std::string shortName = names.shortName.value_or("");
            dp::DPNAME dpName{sizeof(dp::DPNAME), 0, names.shortName ? shortName.data() : nullptr,
                              nullptr};
            if (!callback(id, 0, &dpName, 0, context))
                break;
        }
        return dp::Ok;
    }

    HRESULT Receive(dp::DPID* from, dp::DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* dataSize) override {
        if (auto failure = Enter("Receive", Tag() + " " + std::to_string(flags)))
            return static_cast<HRESULT>(*failure);
        RunHook("Receive");
        if (dataSize == nullptr || from == nullptr || to == nullptr)
            return dp::ErrInvalidParams;
        if (State().queue.empty())
            return dp::ErrNoMessages;
        const QueuedMessage& next = State().queue.front();
        auto needed = static_cast<std::uint32_t>(next.bytes.size());
        if (data == nullptr || *dataSize < needed) {
            *dataSize = needed;
            return dp::ErrBufferTooSmall;
        }
        if (needed > 0)
            std::memcpy(data, next.bytes.data(), needed);
        *dataSize = needed;
        *from = next.sender;
        *to = 1;
        State().queue.pop_front();
        return dp::Ok;
    }

    HRESULT GetPlayerName(dp::DPID player, void* data, std::uint32_t* dataSize) override {
        if (auto failure = Enter("GetPlayerName", Tag() + " " + std::to_string(player) + " " +
                                                      (data ? "buffer" : "null")))
            return static_cast<HRESULT>(*failure);
        RunHook("GetPlayerName");
        if (dataSize == nullptr)
            return dp::ErrInvalidParams;
        auto it = State().names.find(player);
        if (it == State().names.end())
            return dp::ErrInvalidPlayer;
        const PlayerNames& names = it->second;
        if (names.rawTail)
            return RawPlayerName(names, data, dataSize);
        std::size_t needed = sizeof(dp::DPNAME);
        if (names.shortName)
            needed += names.shortName->size() + 1;
        if (names.longName)
            needed += names.longName->size() + 1;
        if (data == nullptr || *dataSize < needed) {
            *dataSize = static_cast<std::uint32_t>(needed);
            return dp::ErrBufferTooSmall;
        }
        auto bytes = static_cast<char*>(data);
        char* next = bytes + sizeof(dp::DPNAME);
        dp::DPNAME record{sizeof(dp::DPNAME), 0, nullptr, nullptr};
        if (names.shortName) {
            std::memcpy(next, names.shortName->c_str(), names.shortName->size() + 1);
            record.lpszShortNameA = next;
            next += names.shortName->size() + 1;
        }
        if (names.longName) {
            std::memcpy(next, names.longName->c_str(), names.longName->size() + 1);
            record.lpszLongNameA = next;
        }
        std::memcpy(bytes, &record, sizeof record);
        *dataSize = static_cast<std::uint32_t>(needed);
        return dp::Ok;
    }

    static HRESULT RawPlayerName(const PlayerNames& names, void* data, std::uint32_t* dataSize) {
        const std::vector<std::uint8_t>& tail = *names.rawTail;
        std::size_t needed = sizeof(dp::DPNAME) + tail.size();
        if (data == nullptr || *dataSize < needed) {
            *dataSize = static_cast<std::uint32_t>(needed);
            return dp::ErrBufferTooSmall;
        }
        auto bytes = static_cast<char*>(data);
        if (!tail.empty())
            std::memcpy(bytes + sizeof(dp::DPNAME), tail.data(), tail.size());
        dp::DPNAME record{sizeof(dp::DPNAME), 0,
                          bytes + sizeof(dp::DPNAME) + std::min(names.rawShortOffset, tail.size()),
                          nullptr};
        std::memcpy(bytes, &record, sizeof record);
        *dataSize = static_cast<std::uint32_t>(needed);
        return dp::Ok;
    }

    HRESULT DestroyPlayer(dp::DPID player) override {
        if (auto failure = Enter("DestroyPlayer", Tag() + " " + std::to_string(player)))
            return static_cast<HRESULT>(*failure);
        return dp::Ok;
    }

    HRESULT Close() override {
        if (auto failure = Enter("Close", Tag()))
            return static_cast<HRESULT>(*failure);
        open_ = false;
        return dp::Ok;
    }

  private:
    ~FakeDirectPlay() = default;
    std::string Tag() const { return "#" + std::to_string(serial_); }

    int serial_;
    std::uint32_t references_ = 1;
    bool initialized_ = false;
    bool open_ = false;
};

class FakeLobby final : public dp::IDirectPlayLobby3A {
  public:
    FakeLobby() { ++State().liveLobbies; }

    std::uint32_t AddRef() override {
        Enter("LobbyAddRef");
        return ++references_;
    }

    std::uint32_t Release() override {
        Enter("LobbyRelease");
        std::uint32_t left = --references_;
        if (left == 0) {
            --State().liveLobbies;
            delete this;
        }
        return left;
    }

    HRESULT CreateAddress(const dp::GUID* serviceProvider, const dp::GUID* dataType,
                          const void* data, std::uint32_t dataSize, void* address,
                          std::uint32_t* addressSize) override {
        std::string text =
            data ? std::string(static_cast<const char*>(data), dataSize > 0 ? dataSize - 1 : 0)
                 : std::string();
        if (auto failure = Enter("CreateAddress", "\"" + text + "\" " + std::to_string(dataSize) +
                                                      " " + (address ? "buffer" : "null")))
            return static_cast<HRESULT>(*failure);
        if (serviceProvider == nullptr || dataType == nullptr || addressSize == nullptr ||
            !(*serviceProvider == dp::SpGuidTcpIp) || !(*dataType == dp::AidINet))
            return dp::ErrInvalidParams;
        std::string result = "address:" + text;
        auto needed = static_cast<std::uint32_t>(result.size() + 1);
        if (address == nullptr || *addressSize < needed) {
            *addressSize = needed;
            return dp::ErrBufferTooSmall;
        }
        std::memcpy(address, result.c_str(), needed);
        *addressSize = needed;
        State().knownConnections[address] = result;
        return dp::Ok;
    }

  private:
    ~FakeLobby() = default;
    std::uint32_t references_ = 1;
};

} // namespace

std::vector<ScriptedConnection>& Connections() {
    return State().connections;
}
std::vector<ScriptedSession>& Sessions() {
    return State().sessions;
}

void QueueMessage(const std::vector<std::uint8_t>& bytes, dp::DPID sender) {
    State().queue.push_back({bytes, sender});
}

std::size_t QueuedMessages() {
    return State().queue.size();
}

void SetPlayerName(dp::DPID player, std::optional<std::string> shortName,
                   std::optional<std::string> longName) {
    PlayerNames names;
    names.shortName = std::move(shortName);
    names.longName = std::move(longName);
    State().names[player] = std::move(names);
}

void SetRawPlayerName(dp::DPID player, std::vector<std::uint8_t> tail, std::size_t shortOffset) {
    PlayerNames names;
    names.rawTail = std::move(tail);
    names.rawShortOffset = shortOffset;
    State().names[player] = std::move(names);
}

int LiveDirectPlayObjects() {
    return State().live;
}
int DirectPlayObjectsCreated() {
    return State().created;
}
int LiveLobbyObjects() {
    return State().liveLobbies;
}
void SetNextPlayerId(dp::DPID id) {
    State().nextPlayerId = id;
}
std::string CreatedPlayerName() {
    return State().createdName;
}
plat::Event CreatedPlayerEvent() {
    return State().createdEvent;
}

void WhileInCall(const std::string& operation, std::function<void()> action) {
    State().hooks[operation] = std::move(action);
}

} // namespace fake

namespace plat {

HRESULT CreateDirectPlay(dp::IDirectPlay4A** object) {
    if (object != nullptr)
        *object = nullptr;
    if (auto failure = fake::Enter("CreateDirectPlay"))
        return static_cast<HRESULT>(*failure);
    if (object == nullptr)
        return dp::ErrInvalidParams;
    *object = new fake::FakeDirectPlay();
    return dp::Ok;
}

HRESULT CreateDirectPlayLobby(dp::IDirectPlayLobby3A** lobby) {
    if (lobby != nullptr)
        *lobby = nullptr;
    if (auto failure = fake::Enter("CreateDirectPlayLobby"))
        return static_cast<HRESULT>(*failure);
    if (lobby == nullptr)
        return dp::ErrInvalidParams;
    *lobby = new fake::FakeLobby();
    return dp::Ok;
}

} // namespace plat
