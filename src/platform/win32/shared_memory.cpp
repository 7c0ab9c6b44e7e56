// Named shared memory on Windows file mappings backed by the paging file.
#include "platform/shared_memory.h"
#include "platform/win32/win32_backend.h"

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

} // namespace plat
