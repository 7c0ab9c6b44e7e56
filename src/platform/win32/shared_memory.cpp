// Named shared memory on Windows file mappings backed by the paging file.
#include "platform/shared_memory.h"
#include "platform/win32/win32_backend.h"

#include <map>

namespace plat {

Mapping OpenNamedMapping(const char* name) {
    return win32::FromHandle(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name));
}

Mapping CreateNamedMapping(const char* name, std::uint32_t size, bool* alreadyExisted) {
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    // Read at once: nothing may run between the call and the question.
    DWORD error = GetLastError();
    if (alreadyExisted != nullptr)
        *alreadyExisted = error == ERROR_ALREADY_EXISTS;
    return win32::FromHandle(mapping);
}

void* MapWholeView(Mapping mapping, std::size_t* viewSize) {
    if (viewSize != nullptr)
        *viewSize = 0;
    void* view = MapViewOfFile(win32::ToHandle(mapping), FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr)
        return nullptr;
    // The view covers the whole mapping, whatever size its creator gave it: ask the system how
    // far it reaches, so that a smaller mapping of someone else's is never written past its end.
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(view, &region, sizeof region) != sizeof region) {
        UnmapViewOfFile(view);
        return nullptr;
    }
    if (viewSize != nullptr)
        *viewSize = region.RegionSize;
    return view;
}

void UnmapView(void* view) {
    if (view != nullptr)
        UnmapViewOfFile(view);
}

int CloseMapping(Mapping mapping) {
    // A null handle fails with ERROR_INVALID_HANDLE, as the core expects of CloseHandle.
    return CloseHandle(win32::ToHandle(mapping)) ? 1 : 0;
}

// The mapping behind each counter block's view, for the close.
std::map<void*, HANDLE>& CounterMappings() {
    static std::map<void*, HANDLE> mappings;
    return mappings;
}

void* OpenCounterBlock(const char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return nullptr;
    DWORD lastError = GetLastError();
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), name);
    // A mapping lives while a handle to it is open: one that exists already belongs to another
    // Skyrelay that is running, and is left alone.
    if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        mapping = nullptr;
    }
    void* view = nullptr;
    if (mapping != nullptr) {
        view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        // A view smaller than the block (the system's doing, not ours) is not written.
        MEMORY_BASIC_INFORMATION region{};
        if (view != nullptr && (VirtualQuery(view, &region, sizeof region) != sizeof region ||
                                region.RegionSize < size)) {
            UnmapViewOfFile(view);
            view = nullptr;
        }
        if (view == nullptr)
            CloseHandle(mapping);
        else
            CounterMappings()[view] = mapping;
    }
    SetLastError(lastError);
    return view;
}

void CloseCounterBlock(void* view) {
    auto it = CounterMappings().find(view);
    if (it == CounterMappings().end())
        return;
    DWORD lastError = GetLastError();
    UnmapViewOfFile(view);
    CloseHandle(it->second);
    CounterMappings().erase(it);
    SetLastError(lastError);
}

} // namespace plat
