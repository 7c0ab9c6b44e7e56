// The DirectPlay session interface: the subset of IDirectPlay4A and IDirectPlayLobby3A that the
// relay uses, with DirectPlay's own constants, result codes and structure layouts. The Windows
// backend adapts the real COM objects to it, the Linux backend provides a stand-in session
// provider, and the fake backend scripts it for tests.
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace dp {

using DPID = std::uint32_t;
using BOOL = std::int32_t;

inline constexpr BOOL True = 1;
inline constexpr BOOL False = 0;

// GUID with the Windows layout (16 bytes).
struct GUID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
static_assert(sizeof(GUID) == 16);

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i])
            return false;
    return true;
}

inline constexpr GUID GuidNull{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID ClsidDirectPlay{
    0xD1EB6D20, 0x8923, 0x11D0, {0x9D, 0x97, 0x00, 0xA0, 0xC9, 0x0A, 0x43, 0xCB}};
inline constexpr GUID IidDirectPlay4A{
    0x0AB1C531, 0x4745, 0x11D1, {0xA7, 0xA1, 0x00, 0x00, 0xF8, 0x03, 0xAB, 0xFC}};
// The ANSI lobby; {2DB72490-...} is IID_IDirectPlayLobby3, the Unicode one, whose CreateAddress
// refuses the ANSI DPAID_INet.
inline constexpr GUID IidDirectPlayLobby3A{
    0x2DB72491, 0x652C, 0x11D1, {0xA7, 0xA8, 0x00, 0x00, 0xF8, 0x03, 0xAB, 0xFC}};
inline constexpr GUID SpGuidTcpIp{
    0x36E95EE0, 0x8577, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0x53, 0x4E, 0x82}};
inline constexpr GUID AidINet{
    0xC4A54DA0, 0xE0AF, 0x11CF, {0x9C, 0x4E, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x5E}};

// Results (DP_OK and the DPERR_ values the relay and the stand-ins use).
inline constexpr HRESULT Ok = 0;
inline constexpr HRESULT ErrBufferTooSmall = static_cast<HRESULT>(0x8877001Eu);
inline constexpr HRESULT ErrInvalidParams = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT ErrInvalidPlayer = static_cast<HRESULT>(0x88770096u);
inline constexpr HRESULT ErrNoMessages = static_cast<HRESULT>(0x887700BEu);
inline constexpr HRESULT ErrNoConnection = static_cast<HRESULT>(0x887700C8u);
inline constexpr HRESULT ErrNoSessions = static_cast<HRESULT>(0x887700D2u);
inline constexpr HRESULT ErrUninitialized = static_cast<HRESULT>(0x887700F0u);
inline constexpr HRESULT ErrAlreadyInitialized = static_cast<HRESULT>(0x88770005u);
inline constexpr HRESULT ErrInvalidObject = static_cast<HRESULT>(0x8877008Cu);
inline constexpr HRESULT ErrGeneric = static_cast<HRESULT>(0x80004005u);

// Flags.
inline constexpr std::uint32_t ReceiveAll = 0x00000001;           // DPRECEIVE_ALL
inline constexpr std::uint32_t EnumSessionsAll = 0x00000002;      // DPENUMSESSIONS_ALL
inline constexpr std::uint32_t OpenJoin = 0x00000001;             // DPOPEN_JOIN
inline constexpr std::uint32_t EnumSessionsTimedOut = 0x00000001; // DPESC_TIMEDOUT
inline constexpr std::uint32_t ClsCtxAll = 0x17;                  // CLSCTX_ALL

// System message types (first 32-bit word of a message from player id 0).
inline constexpr std::uint32_t SysSessionLost = 0x31; // DPSYS_SESSIONLOST
inline constexpr std::uint32_t SysHost = 0x101;       // DPSYS_HOST
inline constexpr DPID SystemPlayerId = 0;             // DPID_SYSMSG

// DPNAME. dwSize is the structure's size in the build: 16 in a 32-bit program, 24 in a 64-bit one.
struct DPNAME {
    std::uint32_t dwSize;
    std::uint32_t dwFlags;
    char* lpszShortNameA;
    char* lpszLongNameA;
};

// DPSESSIONDESC2. dwSize is the structure's size in the build: 80 in a 32-bit program, 88 in a
// 64-bit one.
struct DPSESSIONDESC2 {
    std::uint32_t dwSize;
    std::uint32_t dwFlags;
    GUID guidInstance;
    GUID guidApplication;
    std::uint32_t dwMaxPlayers;
    std::uint32_t dwCurrentPlayers;
    char* lpszSessionNameA;
    char* lpszPasswordA;
    std::uint32_t dwReserved1;
    std::uint32_t dwReserved2;
    std::uint32_t dwUser1;
    std::uint32_t dwUser2;
    std::uint32_t dwUser3;
    std::uint32_t dwUser4;
};
static_assert(sizeof(void*) != 8 || sizeof(DPSESSIONDESC2) == 88);
static_assert(sizeof(void*) != 4 || sizeof(DPSESSIONDESC2) == 80);
static_assert(sizeof(void*) != 8 || sizeof(DPNAME) == 24);
static_assert(sizeof(void*) != 4 || sizeof(DPNAME) == 16);

// Enumeration callbacks, called synchronously inside the call they were given to.
using EnumConnectionsCallback = BOOL (*)(const GUID* serviceProvider, void* connection,
                                         std::uint32_t connectionSize, const DPNAME* name,
                                         std::uint32_t flags, void* context);
using EnumSessionsCallback2 = BOOL (*)(const DPSESSIONDESC2* session, std::uint32_t* timeout,
                                       std::uint32_t flags, void* context);
using EnumPlayersCallback2 = BOOL (*)(DPID player, std::uint32_t playerType, const DPNAME* name,
                                      std::uint32_t flags, void* context);

// IDirectPlay4A, the operations the relay uses.
class IDirectPlay4A {
  public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual HRESULT EnumConnections(const GUID* application, EnumConnectionsCallback callback,
                                    void* context, std::uint32_t flags) = 0;
    virtual HRESULT InitializeConnection(void* connection, std::uint32_t flags) = 0;
    virtual HRESULT EnumSessions(DPSESSIONDESC2* description, std::uint32_t timeout,
                                 EnumSessionsCallback2 callback, void* context,
                                 std::uint32_t flags) = 0;
    virtual HRESULT Open(DPSESSIONDESC2* description, std::uint32_t flags) = 0;
    virtual HRESULT CreatePlayer(DPID* player, DPNAME* name, plat::Event event, void* data,
                                 std::uint32_t dataSize, std::uint32_t flags) = 0;
    virtual HRESULT EnumPlayers(GUID* instance, EnumPlayersCallback2 callback, void* context,
                                std::uint32_t flags) = 0;
    virtual HRESULT Receive(DPID* from, DPID* to, std::uint32_t flags, void* data,
                            std::uint32_t* dataSize) = 0;
    virtual HRESULT GetPlayerName(DPID player, void* data, std::uint32_t* dataSize) = 0;
    virtual HRESULT DestroyPlayer(DPID player) = 0;
    virtual HRESULT Close() = 0;

  protected:
    ~IDirectPlay4A() = default;
};

// IDirectPlayLobby3A, the operations the relay uses.
class IDirectPlayLobby3A {
  public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual HRESULT CreateAddress(const GUID* serviceProvider, const GUID* dataType,
                                  const void* data, std::uint32_t dataSize, void* address,
                                  std::uint32_t* addressSize) = 0;

  protected:
    ~IDirectPlayLobby3A() = default;
};

} // namespace dp

namespace plat {

// CoCreateInstance(CLSID_DirectPlay, no aggregation, CLSCTX_ALL, IID_IDirectPlay4A): a new object
// in *object, or a failure and null. Every form of a missing DirectPlay 6 (the interface missing,
// its class not registered, its DLL gone while the class is still registered) is E_NOINTERFACE.
HRESULT CreateDirectPlay(dp::IDirectPlay4A** object);

// DirectPlayLobbyCreateA (null GUID, no aggregation, no data), then QueryInterface for
// IID_IDirectPlayLobby3A. On success *lobby holds the lobby interface (one reference); the first
// object is released by the backend.
HRESULT CreateDirectPlayLobby(dp::IDirectPlayLobby3A** lobby);

} // namespace plat
