// The DirectPlay adapter against the system's own DirectPlay, through the session interface only:
// the connections offered, the lobby's TCP/IP address, what joining does, reference counts. Then
// the relay's own attempts on the real objects, with the message boxes recorded by the fake dialog.

// The session interface's HRESULT is the system's 32-bit result; objbase.h is told it exists.
#ifndef _HRESULT_DEFINED
#define _HRESULT_DEFINED
#endif

#include "platform/directplay.h"
#include "platform/fake/fake.h"
#include "platform/win32/win32_backend.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "state/relay_state.h"
#include "traffic/pump.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr HRESULT NotImplemented = static_cast<HRESULT>(0x80004001u);

class DirectPlay : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_GE(CoInitialize(nullptr), 0); }
    static void TearDownTestSuite() { CoUninitialize(); }
};

dp::BOOL CollectName(const dp::GUID*, void* connection, std::uint32_t connectionSize,
                     const dp::DPNAME* name, std::uint32_t, void* context) {
    EXPECT_NE(connection, nullptr);
    EXPECT_GT(connectionSize, 0u);
    EXPECT_EQ(name->dwSize, sizeof(dp::DPNAME));
    static_cast<std::vector<std::string>*>(context)->emplace_back(name->lpszShortNameA);
    return dp::True;
}

// One address element as the lobby lays it out: data type, data size, data.
void AppendElement(std::vector<std::uint8_t>& address, const dp::GUID& type, const void* data,
                   std::uint32_t size) {
    const auto* typeBytes = reinterpret_cast<const std::uint8_t*>(&type);
    const auto* sizeBytes = reinterpret_cast<const std::uint8_t*>(&size);
    const auto* dataBytes = static_cast<const std::uint8_t*>(data);
    address.insert(address.end(), typeBytes, typeBytes + sizeof type);
    address.insert(address.end(), sizeBytes, sizeBytes + sizeof size);
    address.insert(address.end(), dataBytes, dataBytes + size);
}

// Builds the 127.0.0.1 address the way the relay does: the size first, then the address.
std::vector<std::uint8_t> LocalAddress() {
    dp::IDirectPlayLobby3A* lobby = nullptr;
    EXPECT_EQ(plat::CreateDirectPlayLobby(&lobby), dp::Ok);
    if (lobby == nullptr)
        return {};
    std::uint32_t size = 0;
    EXPECT_EQ(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, nullptr, &size),
              dp::ErrBufferTooSmall);
    std::vector<std::uint8_t> address(size);
    std::uint32_t filled = size;
    EXPECT_EQ(lobby->CreateAddress(&dp::SpGuidTcpIp, &dp::AidINet, "127.0.0.1", 10, address.data(),
                                   &filled),
              dp::Ok);
    EXPECT_EQ(filled, size);
    EXPECT_EQ(lobby->AddRef(), 2u);
    EXPECT_EQ(lobby->Release(), 1u);
    EXPECT_EQ(lobby->Release(), 0u);
    return address;
}

TEST_F(DirectPlay, OffersTheSystemsConnectionsByName) {
    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    ASSERT_NE(object, nullptr);
    std::vector<std::string> names;
    EXPECT_EQ(object->EnumConnections(nullptr, CollectName, &names, 0), dp::Ok);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"IPX Connection For DirectPlay",
                                               "Internet TCP/IP Connection For DirectPlay",
                                               "Modem Connection For DirectPlay",
                                               "Serial Connection For DirectPlay"}));
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
}

struct Attempt {
    HRESULT result = dp::Ok;
    dp::IDirectPlay4A* object = reinterpret_cast<dp::IDirectPlay4A*>(&result);
};

DWORD WINAPI CreateOnThread(void* attempt) {
    auto* a = static_cast<Attempt*>(attempt);
    a->result = plat::CreateDirectPlay(&a->object);
    return 0;
}

TEST_F(DirectPlay, CreationFailsWithTheSystemsResultAndNoObject) {
    // A thread that has not started COM: CO_E_NOTINITIALIZED comes back as it is.
    Attempt attempt;
    HANDLE thread = CreateThread(nullptr, 0, CreateOnThread, &attempt, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(attempt.result, static_cast<HRESULT>(0x800401F0u));
    EXPECT_EQ(attempt.object, nullptr);
}

TEST_F(DirectPlay, LobbyBuildsTheLocalTcpIpAddress) {
    // DPAID_TotalSize with the whole size, DPAID_ServiceProvider, then the host name.
    const dp::GUID totalSize{
        0x1318F560, 0x912C, 0x11D0, {0x9D, 0xAA, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};
    const dp::GUID serviceProvider{
        0x07D916C0, 0xE0AF, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};
    const std::uint32_t total = 3 * 20 + 4 + 16 + 10;
    std::vector<std::uint8_t> expected;
    AppendElement(expected, totalSize, &total, 4);
    AppendElement(expected, serviceProvider, &dp::SpGuidTcpIp, 16);
    AppendElement(expected, dp::AidINet, "127.0.0.1", 10);
    EXPECT_EQ(LocalAddress(), expected);
}

TEST_F(DirectPlay, InitialisesTheAddressButFindsAndJoinsNoSession) {
    const std::vector<std::uint8_t> address = LocalAddress();
    dp::IDirectPlay4A* object = nullptr;
    ASSERT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    std::vector<std::uint8_t> connection = address;
    EXPECT_EQ(object->InitializeConnection(connection.data(), 0), dp::Ok);

    // Wine 8 waits out the provider's default time-out (timeout 0), reports no session, then
    // fails: its TCP/IP provider cannot enumerate sessions.
    struct Timeouts {
        int calls = 0;
        std::uint32_t flags = 0;
        std::uint32_t timeout = 0;
        bool session = false;
    } seen;
    dp::DPSESSIONDESC2 description{};
    description.dwSize = sizeof description;
    EXPECT_EQ(object->EnumSessions(
                  &description, 0,
                  [](const dp::DPSESSIONDESC2* session, std::uint32_t* timeout, std::uint32_t flags,
                     void* context) {
                      auto* out = static_cast<Timeouts*>(context);
                      ++out->calls;
                      out->flags = flags;
                      out->timeout = timeout != nullptr ? *timeout : 0;
                      out->session = session != nullptr;
                      return dp::False;
                  },
                  &seen, dp::EnumSessionsAll),
              NotImplemented);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.flags, dp::EnumSessionsTimedOut);
    EXPECT_GT(seen.timeout, 0u);
    EXPECT_FALSE(seen.session);

    dp::DPSESSIONDESC2 join{};
    join.dwSize = sizeof join;
    join.guidInstance = dp::GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(object->Open(&join, dp::OpenJoin), NotImplemented);
    EXPECT_EQ(object->InitializeConnection(connection.data(), 0), dp::ErrAlreadyInitialized);
    EXPECT_EQ(object->Close(), NotImplemented);
    EXPECT_EQ(object->Release(), 0u);
}

// Run as directplay_nodplay.exe, for which DPLAYX.dll is turned off: both factories fail and leave
// no object, the program still runs, and an attempt tells the user that DirectPlay is missing (its
// class is not registered, which the factory reports as the missing interface).
TEST(WithoutDirectPlay, FactoriesFailWithoutAnObject) {
    ASSERT_GE(CoInitialize(nullptr), 0);
    int stale = 0; // what an output left unwritten would still hold
    auto* object = reinterpret_cast<dp::IDirectPlay4A*>(&stale);
    EXPECT_EQ(plat::CreateDirectPlay(&object), hresult::NoInterface);
    EXPECT_EQ(object, nullptr);
    fake::ResetAll();
    ResetRelayState();
    ResetSchedulerState();
    mainDialog = fake::MainWindow();
    OnAutoConnectTimer();
    EXPECT_EQ(fake::MessageBoxTexts(), std::vector<std::string>{DirectPlayMissingText});
    EXPECT_EQ(sessionObject, nullptr);
    auto* lobby = reinterpret_cast<dp::IDirectPlayLobby3A*>(&stale);
    EXPECT_EQ(plat::CreateDirectPlayLobby(&lobby), static_cast<HRESULT>(0x8007007Eu)); // no module
    EXPECT_EQ(lobby, nullptr);
    CoUninitialize();
}

// The same program where DirectPlay's class is still registered but DPLAYX.dll is gone (the Windows
// feature turned off after it was on, or a damaged install): the load by the system folder's full
// path fails with ERROR_MOD_NOT_FOUND and COM fails in its own words; the factory takes it for a
// missing DirectPlay all the same, so the relay tells the user.
TEST(WithoutDirectPlay, ARegisteredClassWhoseModuleIsGoneIsMissingToo) {
    ASSERT_GE(CoInitialize(nullptr), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT,
                            "CLSID\\{D1EB6D20-8923-11D0-9D97-00A0C90A43CB}\\InprocServer32", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS)
        << "DirectPlay's class is not registered here";
    RegCloseKey(key);
    char path[MAX_PATH] = {};
    GetSystemDirectoryA(path, MAX_PATH);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryA((std::string(path) + "\\DPLAYX.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    ::GUID clsid{};
    ::GUID iid{};
    std::memcpy(&clsid, &dp::ClsidDirectPlay, sizeof clsid);
    std::memcpy(&iid, &dp::IidDirectPlay4A, sizeof iid);
    void* created = nullptr;
    const HRESULT raw = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, &created);
    // Wine answers REGDB_E_CLASSNOTREG here; Windows 8 to 11 answer in the other forms below.
    std::printf("CoCreateInstance without DPLAYX.dll: 0x%08lX\n", static_cast<unsigned long>(raw));
    EXPECT_TRUE(win32::DirectPlayMissing(raw, ERROR_MOD_NOT_FOUND));
    dp::IDirectPlay4A* object = nullptr;
    EXPECT_EQ(plat::CreateDirectPlay(&object), hresult::NoInterface);
    EXPECT_EQ(object, nullptr);
    CoUninitialize();

    struct Form {
        HRESULT created;
        DWORD loadError;
        bool missing;
    };
    const Form forms[] = {
        {REGDB_E_CLASSNOTREG, ERROR_SUCCESS, true},                     // never installed
        {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), ERROR_SUCCESS, true}, // registered, DLL gone
        {CO_E_DLLNOTFOUND, ERROR_SUCCESS, true},
        {E_ACCESSDENIED, ERROR_MOD_NOT_FOUND, true}, // COM's words aside, the DLL is not there
        {E_ACCESSDENIED, ERROR_SUCCESS, false},
        {E_OUTOFMEMORY, ERROR_SUCCESS, false},
        {S_OK, ERROR_MOD_NOT_FOUND, false},
    };
    for (const Form& form : forms)
        EXPECT_EQ(win32::DirectPlayMissing(form.created, form.loadError), form.missing)
            << std::hex << static_cast<unsigned long>(form.created) << " " << form.loadError;
}

// Run as dropped/directplay_dropped.exe beside a DPLAYX.dll of ours (elsewhere it runs too): both
// factories take the system's DirectPlay, and the module loaded is the system folder's. The lobby
// comes first, before COM has loaded the module, as in a process that has not yet tried to join.
// (Wine runs its own DirectPlay whichever file it finds, but names the module after that file.)
TEST(DroppedDirectPlay, FactoriesLoadTheSystemsDllOnly) {
    ASSERT_GE(CoInitialize(nullptr), 0);
    dp::IDirectPlayLobby3A* lobby = nullptr;
    EXPECT_EQ(plat::CreateDirectPlayLobby(&lobby), dp::Ok);
    dp::IDirectPlay4A* object = nullptr;
    EXPECT_EQ(plat::CreateDirectPlay(&object), dp::Ok);
    char loaded[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("DPLAYX.dll"), loaded, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(loaded, (std::string(system) + "\\DPLAYX.dll").c_str()), 0) << loaded;
    if (object != nullptr)
        object->Release();
    if (lobby != nullptr)
        lobby->Release();
    CoUninitialize();
}

// The relay's own attempts on the real DirectPlay; dialog, timers and boxes are the fake ones.
class RelayAttempt : public DirectPlay {
  protected:
    void SetUp() override {
        fake::ResetAll();
        ResetRelayState();
        ResetJoinState();
        ResetSchedulerState();
        mainDialog = fake::MainWindow();
        sessionEvent = plat::CreateSessionEvent();
    }
    void TearDown() override {
        if (sessionObject != nullptr) {
            EXPECT_EQ(sessionObject->Release(), 0u); // the relay held exactly one reference
        }
        sessionObject = nullptr;
        plat::CloseSessionEvent(sessionEvent);
    }
};

TEST_F(RelayAttempt, AutomaticAttemptsFailToChooseAConnectionAndKeepAlternating) {
    OnAutoConnectTimer(); // TCP/IP, on the 127.0.0.1 address
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    const fake::MessageBoxRecord& box = fake::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Choose connection error. ");
    EXPECT_EQ(box.caption, "Skyrelay");
    EXPECT_EQ(box.style, plat::BoxIconError);
    EXPECT_FALSE(box.owned);
    EXPECT_EQ(relayState.useIpx, 0);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_FALSE(fake::TimerRunning(PumpTimer));
    // The object is kept for the next attempt, and the relay did initialise it.
    ASSERT_NE(sessionObject, nullptr);
    std::vector<std::uint8_t> address = LocalAddress();
    EXPECT_EQ(sessionObject->InitializeConnection(address.data(), 0), dp::ErrAlreadyInitialized);

    OnAutoConnectTimer(); // IPX/SPX, on the connection offered
    EXPECT_EQ(relayState.useIpx, 1);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_EQ(sessionObject, nullptr); // Wine 8 cannot initialise IPX: the object is dropped
    EXPECT_EQ(fake::MessageBoxTexts(),
              (std::vector<std::string>{"Choose connection error. ", "Choose connection error. "}));
}

TEST_F(RelayAttempt, MenuAttemptShowsItsFailureAndKeepsOneObject) {
    ConnectFromMenu(TcpIpCommand);
    ASSERT_EQ(fake::MessageBoxes().size(), 1u);
    EXPECT_EQ(fake::MessageBoxes()[0].text, "Couldn't find a Multiplayer session. ");
    EXPECT_TRUE(fake::MessageBoxes()[0].owned);
    EXPECT_FALSE(fake::MenuItem(TcpIpCommand).grayed);
    EXPECT_FALSE(fake::MenuItem(IpxSpxCommand).grayed);
    EXPECT_EQ(relayState.searching, 1);
    EXPECT_NE(sessionObject, nullptr);
}

} // namespace
