// The DirectPlay stand-in's own behaviour: the connections it offers, the connection data it
// accepts and refuses, the lobby's addresses, results before a session, and object lifetime.
#include "session_host_helpers.h"

#include <gtest/gtest.h>

namespace {

using namespace session_test;

TEST(DirectPlayStandIn, OffersTcpIpxAndAConnectionMatchingNeither) {
    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    std::vector<OfferedConnection> offered = Connections(object);
    object->Release();

    std::vector<std::string> names;
    for (const OfferedConnection& connection : offered)
        names.push_back(connection.name);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Internet TCP/IP Connection For DirectPlay");
    EXPECT_EQ(names[1], "IPX Connection For DirectPlay");
    bool neither = false;
    for (const std::string& name : names)
        neither |= name.find("TCP") == std::string::npos && name.find("IPX") == std::string::npos;
    EXPECT_TRUE(neither);

    // Each offered connection initialises a fresh object, as the menu's join does.
    for (OfferedConnection& connection : offered) {
        dp::IDirectPlay4A* fresh = nullptr;
        ASSERT_EQ(plat::CreateDirectPlay(&fresh), dp::Ok);
        EXPECT_EQ(fresh->InitializeConnection(connection.data.data(), 0), dp::Ok)
            << connection.name;
        fresh->Release();
    }
}

TEST(DirectPlayStandIn, InitializeConnectionRefusesWhatIsNotAConnection) {
    std::vector<std::uint8_t> good = LoopbackAddress();
    ASSERT_FALSE(good.empty());
    std::vector<std::uint8_t> garbage(64, 0x5A);
    std::vector<std::uint8_t> badHeader = good;
    badHeader[8] = 0xFF; // total size beyond the bound
    std::vector<std::uint8_t> badHost = good;
    badHost[16] = '\n';
    for (std::vector<std::uint8_t>* data : {&garbage, &badHeader, &badHost}) {
        dp::IDirectPlay4A* object = nullptr;
        ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
        EXPECT_EQ(object->InitializeConnection(data->data(), 0), dp::ErrInvalidParams);
        // A refused connection leaves the object uninitialised.
        EXPECT_EQ(object->InitializeConnection(good.data(), 0), dp::Ok);
        object->Release();
    }

    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    EXPECT_EQ(object->InitializeConnection(nullptr, 0), dp::ErrInvalidParams);
    EXPECT_EQ(object->InitializeConnection(good.data(), 1), dp::ErrInvalidParams);
    EXPECT_EQ(object->InitializeConnection(good.data(), 0), dp::Ok);
    EXPECT_EQ(object->InitializeConnection(good.data(), 0), dp::ErrAlreadyInitialized);
    object->Release();
}

TEST(DirectPlayStandIn, LobbyAddressSizeThenAddress) {
    dp::IDirectPlayLobby3A* lobby = nullptr;
    ASSERT_EQ(plat::CreateDirectPlayLobby(&lobby), dp::Ok);
    std::uint32_t size = 0;
    EXPECT_EQ(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, nullptr, &size),
              dp::ErrBufferTooSmall);
    ASSERT_GT(size, 10u);
    std::vector<std::uint8_t> address(size, 0);
    std::uint32_t tooSmall = size - 1;
    EXPECT_EQ(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, address.data(),
                                   &tooSmall),
              dp::ErrBufferTooSmall);
    EXPECT_EQ(tooSmall, size);
    EXPECT_EQ(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, address.data(),
                                   &size),
              dp::Ok);
    EXPECT_EQ(address, LoopbackAddress());

    // Only TCP/IP addresses of plain host texts are built.
    std::uint32_t ignored = 0;
    EXPECT_EQ(lobby->CreateAddress(&dp::AidINet, &dp::AidINet, "127.0.0.1", 10, nullptr, &ignored),
              dp::ErrInvalidParams);
    EXPECT_EQ(
        lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0 .1", 9, nullptr, &ignored),
        dp::ErrInvalidParams);
    EXPECT_EQ(
        lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, nullptr, nullptr),
        dp::ErrInvalidParams);
    lobby->Release();
}

TEST(DirectPlayStandIn, ResultsBeforeASession) {
    PrivateEndpoints endpoints;
    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    dp::DPSESSIONDESC2 description{};
    description.dwSize = sizeof description;
    FoundSessions found;
    EXPECT_EQ(EnumerateSessions(object, found), dp::ErrUninitialized);

    std::vector<std::uint8_t> address = LoopbackAddress();
    ASSERT_EQ(object->InitializeConnection(address.data(), 0), dp::Ok);
    // A description of the other build's size (80 against 88, or the reverse) is refused.
    description.dwSize = sizeof description == 88 ? 80 : 88;
    EXPECT_EQ(object->EnumSessions(
                  &description, 0,
                  [](const dp::DPSESSIONDESC2*, std::uint32_t*, std::uint32_t, void*) -> dp::BOOL {
                      ADD_FAILURE() << "called back for a refused description";
                      return dp::False;
                  },
                  nullptr, dp::EnumSessionsAll),
              dp::ErrInvalidParams);
    description.dwSize = sizeof description;
    EXPECT_EQ(object->Open(&description, 0x2 /* DPOPEN_CREATE */), hresult::NotImpl);

    dp::DPID from = 0, to = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(object->Receive(&from, &to, dp::ReceiveAll, nullptr, &size), dp::ErrNoMessages);
    EXPECT_EQ(object->Receive(&from, &to, dp::ReceiveAll, nullptr, nullptr), dp::ErrInvalidParams);
    EXPECT_EQ(object->GetPlayerName(1234, nullptr, &size), dp::ErrInvalidPlayer);
    dp::DPID player = 0;
    EXPECT_EQ(object->CreatePlayer(&player, nullptr, nullptr, nullptr, 0, 0), dp::ErrNoConnection);
    EXPECT_EQ(object->DestroyPlayer(1234), dp::ErrInvalidPlayer);
    object->Release();
}

// The automatic join releases the object inside its own EnumConnections when
// InitializeConnection fails; the enumeration must finish on a live object.
TEST(DirectPlayStandIn, ReleaseInsideItsOwnEnumerationIsSafe) {
    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    struct Context {
        dp::IDirectPlay4A* object;
        int calls = 0;
    } context{object};
    EXPECT_EQ(object->EnumConnections(
                  nullptr,
                  [](const dp::GUID*, void*, std::uint32_t, const dp::DPNAME*, std::uint32_t,
                     void* raw) -> dp::BOOL {
                      auto* c = static_cast<Context*>(raw);
                      if (c->calls++ == 0)
                          c->object->Release();
                      return dp::True;
                  },
                  &context, 0),
              dp::Ok);
    EXPECT_GE(context.calls, 3);
}

// The last Release of a joined object stops its reader and leaves the session.
TEST(DirectPlayStandIn, LastReleaseWhileJoinedLeavesTheSession) {
    PrivateEndpoints endpoints;
    ChildProcess host({SessionProgram(), "--aircraft", "3"});
    StartHost(host);
    Member relay;
    Join(Route::Ipx, "Skyrelay", relay);
    ASSERT_TRUE(NextMessage(relay));
    relay.object->Release();
    relay.object = nullptr;
    EXPECT_TRUE(host.WaitForLine("left: Skyrelay"));
}

} // namespace
