// Named shared memory on Windows file mappings backed by the paging file.
#include "platform/shared_memory.h"
#include "platform/win32/win32_backend.h"

#include <map>
#include <string>

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

// The handles behind each counter block's view, for the close: its mapping, and the mutex that
// says which relay uses the block.
struct CounterBlock {
    HANDLE mapping;
    HANDLE owner;
};
std::map<void*, CounterBlock>& CounterBlocks() {
    static std::map<void*, CounterBlock> blocks;
    return blocks;
}

namespace {

// The relay that uses a counter block owns the named mutex "<name>Owner" until it closes the
// block, and the system gives it up when that relay dies. So a mutex owned elsewhere means a
// running relay, whose block is left alone; a mutex that can be taken means the block, if it
// still exists (a reader may hold the mapping of a relay that has exited), is nobody's and is
// taken over. Null when the block is another relay's or the mutex cannot be had.
HANDLE TakeCounterOwner(const char* name) {
    std::string ownerName = std::string(name) + "Owner";
    HANDLE owner = CreateMutexA(nullptr, FALSE, ownerName.c_str());
    if (owner == nullptr)
        return nullptr;
    DWORD taken = WaitForSingleObject(owner, 0);
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED)
        return owner;
    CloseHandle(owner);
    return nullptr;
}

} // namespace

void* OpenCounterBlock(const char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return nullptr;
    DWORD lastError = GetLastError();
    HANDLE owner = TakeCounterOwner(name);
    HANDLE mapping = owner == nullptr
                         ? nullptr
                         : CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              static_cast<DWORD>(size), name);
    void* view = nullptr;
    if (mapping != nullptr) {
        view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        // A view smaller than the block (another program made the mapping smaller) is not
        // written.
        MEMORY_BASIC_INFORMATION region{};
        if (view != nullptr && (VirtualQuery(view, &region, sizeof region) != sizeof region ||
                                region.RegionSize < size)) {
            UnmapViewOfFile(view);
            view = nullptr;
        }
    }
    if (view != nullptr) {
        CounterBlocks()[view] = CounterBlock{mapping, owner};
    } else {
        if (mapping != nullptr)
            CloseHandle(mapping);
        if (owner != nullptr) {
            ReleaseMutex(owner);
            CloseHandle(owner);
        }
    }
    SetLastError(lastError);
    return view;
}

void CloseCounterBlock(void* view) {
    auto it = CounterBlocks().find(view);
    if (it == CounterBlocks().end())
        return;
    DWORD lastError = GetLastError();
    UnmapViewOfFile(view);
    CloseHandle(it->second.mapping);
    // The mutex last, so that no other relay takes over a block on its way out.
    ReleaseMutex(it->second.owner);
    CloseHandle(it->second.owner);
    CounterBlocks().erase(it);
    SetLastError(lastError);
}

} // namespace plat
