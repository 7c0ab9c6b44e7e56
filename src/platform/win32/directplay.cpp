// DirectPlay on Windows: the real COM objects (IDirectPlay4A from CoCreateInstance,
// IDirectPlayLobby3A from DPLAYX.dll's DirectPlayLobbyCreateA) behind the seam's interfaces. Every
// callback DirectPlay calls is one of ours with the exact type the system headers give, so the
// compiler checks each calling convention; no function pointer is ever cast.

// The seam's HRESULT is the same 32-bit result as the system's; the system headers are told it
// already exists so that both can be included together.
#ifndef _HRESULT_DEFINED
#define _HRESULT_DEFINED
#endif

#include "platform/directplay.h"
#include "platform/win32/win32_backend.h"

#include <objbase.h>

#include <dplay.h>
#include <dplobby.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

// The seam's structures are the system's, field for field.
static_assert(sizeof(dp::GUID) == sizeof(::GUID));
static_assert(offsetof(dp::GUID, data1) == offsetof(::GUID, Data1));
static_assert(offsetof(dp::GUID, data2) == offsetof(::GUID, Data2));
static_assert(offsetof(dp::GUID, data3) == offsetof(::GUID, Data3));
static_assert(offsetof(dp::GUID, data4) == offsetof(::GUID, Data4));

static_assert(sizeof(dp::DPNAME) == sizeof(::DPNAME));
static_assert(offsetof(dp::DPNAME, dwSize) == offsetof(::DPNAME, dwSize));
static_assert(offsetof(dp::DPNAME, dwFlags) == offsetof(::DPNAME, dwFlags));
static_assert(offsetof(dp::DPNAME, lpszShortNameA) == offsetof(::DPNAME, lpszShortNameA));
static_assert(offsetof(dp::DPNAME, lpszLongNameA) == offsetof(::DPNAME, lpszLongNameA));

static_assert(sizeof(dp::DPSESSIONDESC2) == sizeof(::DPSESSIONDESC2));
static_assert(offsetof(dp::DPSESSIONDESC2, dwSize) == offsetof(::DPSESSIONDESC2, dwSize));
static_assert(offsetof(dp::DPSESSIONDESC2, dwFlags) == offsetof(::DPSESSIONDESC2, dwFlags));
static_assert(offsetof(dp::DPSESSIONDESC2, guidInstance) ==
              offsetof(::DPSESSIONDESC2, guidInstance));
static_assert(offsetof(dp::DPSESSIONDESC2, guidApplication) ==
              offsetof(::DPSESSIONDESC2, guidApplication));
static_assert(offsetof(dp::DPSESSIONDESC2, dwMaxPlayers) ==
              offsetof(::DPSESSIONDESC2, dwMaxPlayers));
static_assert(offsetof(dp::DPSESSIONDESC2, dwCurrentPlayers) ==
              offsetof(::DPSESSIONDESC2, dwCurrentPlayers));
static_assert(offsetof(dp::DPSESSIONDESC2, lpszSessionNameA) ==
              offsetof(::DPSESSIONDESC2, lpszSessionNameA));
static_assert(offsetof(dp::DPSESSIONDESC2, lpszPasswordA) ==
              offsetof(::DPSESSIONDESC2, lpszPasswordA));
static_assert(offsetof(dp::DPSESSIONDESC2, dwReserved1) == offsetof(::DPSESSIONDESC2, dwReserved1));
static_assert(offsetof(dp::DPSESSIONDESC2, dwReserved2) == offsetof(::DPSESSIONDESC2, dwReserved2));
static_assert(offsetof(dp::DPSESSIONDESC2, dwUser1) == offsetof(::DPSESSIONDESC2, dwUser1));
static_assert(offsetof(dp::DPSESSIONDESC2, dwUser2) == offsetof(::DPSESSIONDESC2, dwUser2));
static_assert(offsetof(dp::DPSESSIONDESC2, dwUser3) == offsetof(::DPSESSIONDESC2, dwUser3));
static_assert(offsetof(dp::DPSESSIONDESC2, dwUser4) == offsetof(::DPSESSIONDESC2, dwUser4));

static_assert(std::is_same_v<HRESULT, std::int32_t> && std::is_same_v<WINBOOL, dp::BOOL> &&
              sizeof(DPID) == sizeof(dp::DPID) && sizeof(DWORD) == sizeof(std::uint32_t));

// DWORD is unsigned long and the seam's words are std::uint32_t: the same 32 bits, passed through a
// local of the system's type and copied back.
class Word {
  public:
    explicit Word(std::uint32_t* seam) : seam_(seam), value_(seam != nullptr ? *seam : 0) {}
    Word(const Word&) = delete;
    Word& operator=(const Word&) = delete;
    ~Word() {
        if (seam_ != nullptr)
            *seam_ = static_cast<std::uint32_t>(value_);
    }
    DWORD* get() { return seam_ != nullptr ? &value_ : nullptr; }

  private:
    std::uint32_t* seam_;
    DWORD value_;
};

::GUID ToGuid(const dp::GUID& guid) {
    ::GUID converted{};
    converted.Data1 = guid.data1;
    converted.Data2 = guid.data2;
    converted.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i)
        converted.Data4[i] = guid.data4[i];
    return converted;
}

dp::GUID FromGuid(const ::GUID& guid) {
    dp::GUID converted{};
    converted.data1 = guid.Data1;
    converted.data2 = guid.Data2;
    converted.data3 = guid.Data3;
    for (int i = 0; i < 8; ++i)
        converted.data4[i] = guid.Data4[i];
    return converted;
}

::GUID ConvertGuid(const dp::GUID& guid) {
    return ToGuid(guid);
}
dp::GUID ConvertGuid(const ::GUID& guid) {
    return FromGuid(guid);
}

dp::DPNAME FromName(const ::DPNAME& name) {
    return dp::DPNAME{name.dwSize, name.dwFlags, name.lpszShortNameA, name.lpszLongNameA};
}

::DPNAME ToName(const dp::DPNAME& name) {
    ::DPNAME converted{};
    converted.dwSize = name.dwSize;
    converted.dwFlags = name.dwFlags;
    converted.lpszShortNameA = name.lpszShortNameA;
    converted.lpszLongNameA = name.lpszLongNameA;
    return converted;
}

// Copies a session description field by field between the seam's layout and the system's; only
// the GUIDs change type.
template <typename From, typename To> To CopySession(const From& session) {
    To converted{};
    converted.dwSize = session.dwSize;
    converted.dwFlags = session.dwFlags;
    converted.guidInstance = ConvertGuid(session.guidInstance);
    converted.guidApplication = ConvertGuid(session.guidApplication);
    converted.dwMaxPlayers = session.dwMaxPlayers;
    converted.dwCurrentPlayers = session.dwCurrentPlayers;
    converted.lpszSessionNameA = session.lpszSessionNameA;
    converted.lpszPasswordA = session.lpszPasswordA;
    converted.dwReserved1 = session.dwReserved1;
    converted.dwReserved2 = session.dwReserved2;
    converted.dwUser1 = session.dwUser1;
    converted.dwUser2 = session.dwUser2;
    converted.dwUser3 = session.dwUser3;
    converted.dwUser4 = session.dwUser4;
    return converted;
}

::DPSESSIONDESC2 ToSession(const dp::DPSESSIONDESC2& session) {
    return CopySession<dp::DPSESSIONDESC2, ::DPSESSIONDESC2>(session);
}

dp::DPSESSIONDESC2 FromSession(const ::DPSESSIONDESC2& session) {
    return CopySession<::DPSESSIONDESC2, dp::DPSESSIONDESC2>(session);
}

// A callback's context for DirectPlay: the core's callback and the core's own context.
template <typename Callback> struct Forward {
    Callback callback;
    void* context;
};

BOOL CALLBACK ConnectionsTrampoline(LPCGUID serviceProvider, LPVOID connection,
                                    DWORD connectionSize, LPCDPNAME name, DWORD flags,
                                    LPVOID context) {
    const auto* forward = static_cast<const Forward<dp::EnumConnectionsCallback>*>(context);
    dp::GUID provider{};
    if (serviceProvider != nullptr)
        provider = FromGuid(*serviceProvider);
    dp::DPNAME seamName{};
    if (name != nullptr)
        seamName = FromName(*name);
    return forward->callback(serviceProvider != nullptr ? &provider : nullptr, connection,
                             connectionSize, name != nullptr ? &seamName : nullptr, flags,
                             forward->context);
}

BOOL CALLBACK SessionsTrampoline(LPCDPSESSIONDESC2 session, LPDWORD timeout, DWORD flags,
                                 LPVOID context) {
    const auto* forward = static_cast<const Forward<dp::EnumSessionsCallback2>*>(context);
    dp::DPSESSIONDESC2 seamSession{};
    if (session != nullptr)
        seamSession = FromSession(*session);
    std::uint32_t seamTimeout = timeout != nullptr ? static_cast<std::uint32_t>(*timeout) : 0;
    const BOOL result =
        forward->callback(session != nullptr ? &seamSession : nullptr,
                          timeout != nullptr ? &seamTimeout : nullptr, flags, forward->context);
    if (timeout != nullptr)
        *timeout = seamTimeout;
    return result;
}

BOOL CALLBACK PlayersTrampoline(DPID player, DWORD playerType, LPCDPNAME name, DWORD flags,
                                LPVOID context) {
    const auto* forward = static_cast<const Forward<dp::EnumPlayersCallback2>*>(context);
    dp::DPNAME seamName{};
    if (name != nullptr)
        seamName = FromName(*name);
    return forward->callback(player, playerType, name != nullptr ? &seamName : nullptr, flags,
                             forward->context);
}

// What both adapters share: one reference to the real object per reference of their own, and the
// adapter deleted with its last one.
template <typename Adapter, typename Seam, typename Real> class CountedAdapter : public Seam {
  public:
    std::uint32_t AddRef() override {
        ++references_;
        return real_->AddRef();
    }

    std::uint32_t Release() override {
        const ULONG remaining = real_->Release();
        if (--references_ == 0)
            delete static_cast<Adapter*>(this);
        return remaining;
    }

  protected:
    explicit CountedAdapter(Real* real) : real_(real) {}
    ~CountedAdapter() = default;

    Real* real_;

  private:
    std::uint32_t references_ = 1;
};

// The DirectPlay object; every call runs on the user-interface thread.
class DirectPlayAdapter final
    : public CountedAdapter<DirectPlayAdapter, dp::IDirectPlay4A, ::IDirectPlay4A> {
  public:
    explicit DirectPlayAdapter(::IDirectPlay4A* real) : CountedAdapter(real) {}

    HRESULT EnumConnections(const dp::GUID* application, dp::EnumConnectionsCallback callback,
                            void* context, std::uint32_t flags) override {
        ::GUID guid{};
        if (application != nullptr)
            guid = ToGuid(*application);
        Forward<dp::EnumConnectionsCallback> forward{callback, context};
        return real_->EnumConnections(application != nullptr ? &guid : nullptr,
                                      callback != nullptr ? ConnectionsTrampoline : nullptr,
                                      &forward, flags);
    }

    HRESULT InitializeConnection(void* connection, std::uint32_t flags) override {
        return real_->InitializeConnection(connection, flags);
    }

    HRESULT EnumSessions(dp::DPSESSIONDESC2* description, std::uint32_t timeout,
                         dp::EnumSessionsCallback2 callback, void* context,
                         std::uint32_t flags) override {
        ::DPSESSIONDESC2 session{};
        if (description != nullptr)
            session = ToSession(*description);
        Forward<dp::EnumSessionsCallback2> forward{callback, context};
        const HRESULT result = real_->EnumSessions(
            description != nullptr ? &session : nullptr, timeout,
            callback != nullptr ? SessionsTrampoline : nullptr, &forward, flags);
        if (description != nullptr)
            *description = FromSession(session);
        return result;
    }

    HRESULT Open(dp::DPSESSIONDESC2* description, std::uint32_t flags) override {
        ::DPSESSIONDESC2 session{};
        if (description != nullptr)
            session = ToSession(*description);
        const HRESULT result = real_->Open(description != nullptr ? &session : nullptr, flags);
        if (description != nullptr)
            *description = FromSession(session);
        return result;
    }

    HRESULT CreatePlayer(dp::DPID* player, dp::DPNAME* name, plat::Event event, void* data,
                         std::uint32_t dataSize, std::uint32_t flags) override {
        ::DPNAME systemName{};
        if (name != nullptr)
            systemName = ToName(*name);
        Word id(player);
        return real_->CreatePlayer(id.get(), name != nullptr ? &systemName : nullptr,
                                   win32::ToHandle(event), data, dataSize, flags);
    }

    HRESULT EnumPlayers(dp::GUID* instance, dp::EnumPlayersCallback2 callback, void* context,
                        std::uint32_t flags) override {
        ::GUID guid{};
        if (instance != nullptr)
            guid = ToGuid(*instance);
        Forward<dp::EnumPlayersCallback2> forward{callback, context};
        return real_->EnumPlayers(instance != nullptr ? &guid : nullptr,
                                  callback != nullptr ? PlayersTrampoline : nullptr, &forward,
                                  flags);
    }

    HRESULT Receive(dp::DPID* from, dp::DPID* to, std::uint32_t flags, void* data,
                    std::uint32_t* dataSize) override {
        Word sender(from);
        Word receiver(to);
        Word size(dataSize);
        return real_->Receive(sender.get(), receiver.get(), flags, data, size.get());
    }

    // The buffer is filled by DirectPlay: a DPNAME (the seam's layout is the system's) followed by
    // the names it points to.
    HRESULT GetPlayerName(dp::DPID player, void* data, std::uint32_t* dataSize) override {
        Word size(dataSize);
        return real_->GetPlayerName(player, data, size.get());
    }

    HRESULT DestroyPlayer(dp::DPID player) override { return real_->DestroyPlayer(player); }

    HRESULT Close() override { return real_->Close(); }

  private:
    friend CountedAdapter;
    ~DirectPlayAdapter() = default;
};

class LobbyAdapter final
    : public CountedAdapter<LobbyAdapter, dp::IDirectPlayLobby3A, ::IDirectPlayLobby3A> {
  public:
    explicit LobbyAdapter(::IDirectPlayLobby3A* real) : CountedAdapter(real) {}

    HRESULT CreateAddress(const dp::GUID* serviceProvider, const dp::GUID* dataType,
                          const void* data, std::uint32_t dataSize, void* address,
                          std::uint32_t* addressSize) override {
        if (serviceProvider == nullptr || dataType == nullptr)
            return dp::ErrInvalidParams;
        const ::GUID provider = ToGuid(*serviceProvider);
        const ::GUID type = ToGuid(*dataType);
        Word size(addressSize);
        return real_->CreateAddress(provider, type, data, dataSize, address, size.get());
    }

  private:
    friend CountedAdapter;
    ~LobbyAdapter() = default;
};

// DPLAYX.dll from the system folder, by its full path: never a DLL of that name in the program's
// own folder or the current one, which the search for a bare name tries first (one put beside a
// downloaded Skyrelay.exe). A 32-bit program on 64-bit Windows asks for system32 and is given
// SysWOW64, where the 32-bit DirectPlay lives. Once loaded it stays loaded, so COM, which loads
// the same module for CoCreateInstance, finds it there. Null, with the system's last error, where
// DirectPlay is not installed.
HMODULE SystemDirectPlay() {
    static HMODULE module = nullptr;
    if (module != nullptr)
        return module;
    constexpr char file[] = "\\DPLAYX.dll";
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0)
        return nullptr;
    if (length + sizeof file > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::memcpy(path + length, file, sizeof file);
    module = LoadLibraryA(path);
    return module;
}

// DirectPlayLobbyCreateA as dplobby.h declares it, found in DPLAYX.dll at run time: mingw-w64's
// x86_64 libraries have no import library for it, and the program must start and say what is
// wrong where DirectPlay is turned off.
using LobbyCreateFunction = decltype(&::DirectPlayLobbyCreateA);

LobbyCreateFunction FindLobbyCreate() {
    const HMODULE module = SystemDirectPlay();
    if (module == nullptr)
        return nullptr;
    const FARPROC address = GetProcAddress(module, "DirectPlayLobbyCreateA");
    if (address == nullptr)
        return nullptr;
    // Both are plain code addresses; the exported function has the declared type.
    return std::bit_cast<LobbyCreateFunction>(address);
}

} // namespace

namespace win32 {

// Where DirectPlay is not installed (an optional feature since Windows 8) its class is not
// registered at all; where the feature was turned off after it was on, or the install is damaged,
// the class is still registered but DPLAYX.dll is gone: COM then answers that the module or the DLL
// was not found, and the load by the system folder's full path fails with ERROR_MOD_NOT_FOUND. All
// are the relay's "DirectPlay missing" case, so that the user is told.
bool DirectPlayMissing(HRESULT created, unsigned long loadError) {
    if (!Failed(created))
        return false;
    return created == REGDB_E_CLASSNOTREG || created == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) ||
           created == CO_E_DLLNOTFOUND || loadError == ERROR_MOD_NOT_FOUND;
}

} // namespace win32

namespace plat {

HRESULT CreateDirectPlay(dp::IDirectPlay4A** object) {
    if (object == nullptr)
        return dp::ErrInvalidParams;
    *object = nullptr;
    // The system's DPLAYX.dll first, so that COM does not look for the module by a bare name. Where
    // it is missing, COM's own answer below says so.
    const DWORD loadError = SystemDirectPlay() == nullptr ? GetLastError() : ERROR_SUCCESS;
    const ::GUID clsid = ToGuid(dp::ClsidDirectPlay);
    const ::GUID iid = ToGuid(dp::IidDirectPlay4A);
    void* created = nullptr;
    const HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, &created);
    if (win32::DirectPlayMissing(result, loadError))
        return hresult::NoInterface;
    if (Failed(result))
        return result;
    if (created == nullptr)
        return hresult::Fail;
    auto* real = static_cast<::IDirectPlay4A*>(created);
    auto* adapter = new (std::nothrow) DirectPlayAdapter(real);
    if (adapter == nullptr) {
        real->Release();
        return hresult::OutOfMemory;
    }
    *object = adapter;
    return dp::Ok;
}

HRESULT CreateDirectPlayLobby(dp::IDirectPlayLobby3A** lobby) {
    if (lobby == nullptr)
        return dp::ErrInvalidParams;
    *lobby = nullptr;
    const LobbyCreateFunction create = FindLobbyCreate();
    if (create == nullptr) {
        const HRESULT missing = HRESULT_FROM_WIN32(GetLastError());
        return Failed(missing) ? missing : hresult::Fail;
    }
    LPDIRECTPLAYLOBBYA first = nullptr;
    HRESULT result = create(nullptr, &first, nullptr, nullptr, 0);
    if (Failed(result))
        return result;
    if (first == nullptr)
        return hresult::Fail;
    const ::GUID iid = ToGuid(dp::IidDirectPlayLobby3A);
    void* queried = nullptr;
    result = first->QueryInterface(iid, &queried);
    first->Release();
    if (Failed(result))
        return result;
    if (queried == nullptr)
        return hresult::Fail;
    auto* real = static_cast<::IDirectPlayLobby3A*>(queried);
    auto* adapter = new (std::nothrow) LobbyAdapter(real);
    if (adapter == nullptr) {
        real->Release();
        return hresult::OutOfMemory;
    }
    *lobby = adapter;
    return dp::Ok;
}

} // namespace plat
