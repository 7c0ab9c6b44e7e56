// Fake named shared memory. A mapping lives while a handle refers to it or another program (the
// test) holds it; views alias its bytes.
#include "platform/fake/fake_shared_memory.h"
#include "platform/fake/fake.h"
#include "platform/fake/fake_messaging.h"

#include <map>
#include <memory>

struct plat::MappingObject {
    std::shared_ptr<std::vector<std::uint8_t>> bytes;
};

namespace fake {
namespace {

struct SharedMemoryState {
    std::map<std::string, std::weak_ptr<std::vector<std::uint8_t>>> byName;
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> heldByOthers;
    // One entry per MapWholeView that has not been unmapped (views of one mapping share an
    // address).
    std::multimap<void*, std::shared_ptr<std::vector<std::uint8_t>>> views;
    // Every open handle, owned here so that a reset frees what a test left open.
    std::map<plat::Mapping, std::unique_ptr<plat::MappingObject>> handles;
};

SharedMemoryState& State() {
    static SharedMemoryState state;
    return state;
}

void ResetSharedMemory() {
    State() = SharedMemoryState{};
}
ResetHook sharedMemoryReset(&ResetSharedMemory);

std::shared_ptr<std::vector<std::uint8_t>> Find(const std::string& name) {
    auto it = State().byName.find(name);
    return it == State().byName.end() ? nullptr : it->second.lock();
}

} // namespace

void AddExistingMapping(const std::string& name, std::size_t size,
                        const std::vector<std::uint8_t>& contents) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(size, 0);
    for (std::size_t i = 0; i < contents.size() && i < size; ++i)
        (*bytes)[i] = contents[i];
    State().byName[name] = bytes;
    State().heldByOthers.push_back(bytes);
}

std::vector<std::uint8_t> MappingBytes(const std::string& name) {
    auto bytes = Find(name);
    return bytes ? *bytes : std::vector<std::uint8_t>{};
}

bool MappingExists(const std::string& name) {
    return Find(name) != nullptr;
}

std::span<std::uint8_t> MappingSpan(const std::string& name) {
    auto bytes = Find(name);
    return bytes ? std::span<std::uint8_t>(*bytes) : std::span<std::uint8_t>();
}
int LiveMappingHandles() {
    return static_cast<int>(State().handles.size());
}
int LiveViews() {
    return static_cast<int>(State().views.size());
}

plat::Mapping NewHandle(std::shared_ptr<std::vector<std::uint8_t>> bytes) {
    auto object = std::make_unique<plat::MappingObject>(plat::MappingObject{std::move(bytes)});
    plat::Mapping handle = object.get();
    State().handles.emplace(handle, std::move(object));
    return handle;
}

} // namespace fake

namespace plat {

Mapping OpenNamedMapping(const char* name) {
    if (fake::Enter("OpenNamedMapping", name ? name : "null"))
        return nullptr;
    auto bytes = name ? fake::Find(name) : nullptr;
    if (!bytes)
        return nullptr;
    return fake::NewHandle(bytes);
}

Mapping CreateNamedMapping(const char* name, std::uint32_t size, bool* alreadyExisted) {
    if (alreadyExisted != nullptr)
        *alreadyExisted = false;
    if (fake::Enter("CreateNamedMapping",
                    std::string(name ? name : "null") + " " + std::to_string(size)))
        return nullptr;
    // As with a mapping in the paging file, a size of 0 is refused.
    if (name == nullptr || size == 0)
        return nullptr;
    auto bytes = fake::Find(name);
    if (bytes) {
        if (alreadyExisted != nullptr)
            *alreadyExisted = true;
    } else {
        bytes = std::make_shared<std::vector<std::uint8_t>>(size, 0);
        fake::State().byName[name] = bytes;
    }
    return fake::NewHandle(bytes);
}

void* MapWholeView(Mapping mapping, std::size_t* viewSize) {
    if (viewSize != nullptr)
        *viewSize = 0;
    if (fake::Enter("MapWholeView") || mapping == nullptr || mapping->bytes->empty())
        return nullptr;
    void* view = mapping->bytes->data();
    fake::State().views.emplace(view, mapping->bytes);
    if (viewSize != nullptr)
        *viewSize = mapping->bytes->size();
    return view;
}

void UnmapView(void* view) {
    fake::Enter("UnmapView");
    auto it = fake::State().views.find(view);
    if (it != fake::State().views.end())
        fake::State().views.erase(it);
}

int CloseMapping(Mapping mapping) {
    if (fake::Enter("CloseMapping", mapping ? "handle" : "null"))
        return 0;
    if (fake::State().handles.erase(mapping) != 0)
        return 1;
    fake::SetLastError(fake::ErrorInvalidHandle);
    return 0;
}

} // namespace plat
