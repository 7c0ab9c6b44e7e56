// Fake named shared memory. A mapping lives while a handle refers to it or another program (the
// test) holds it; views alias its bytes.
#include "platform/fake/fake_shared_memory.h"
#include "platform/fake/fake.h"

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
    std::map<void*, std::shared_ptr<std::vector<std::uint8_t>>> views;
    int liveHandles = 0;
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
    return State().liveHandles;
}
int LiveViews() {
    return static_cast<int>(State().views.size());
}

} // namespace fake

namespace plat {

Mapping OpenNamedMapping(const char* name) {
    if (fake::Enter("OpenNamedMapping", name ? name : "null"))
        return nullptr;
    auto bytes = name ? fake::Find(name) : nullptr;
    if (!bytes)
        return nullptr;
    ++fake::State().liveHandles;
    return new MappingObject{bytes};
}

Mapping CreateNamedMapping(const char* name, std::uint32_t size, bool* alreadyExisted) {
    if (alreadyExisted != nullptr)
        *alreadyExisted = false;
    if (fake::Enter("CreateNamedMapping",
                    std::string(name ? name : "null") + " " + std::to_string(size)))
        return nullptr;
    if (name == nullptr)
        return nullptr;
    auto bytes = fake::Find(name);
    if (bytes) {
        if (alreadyExisted != nullptr)
            *alreadyExisted = true;
    } else {
        bytes = std::make_shared<std::vector<std::uint8_t>>(size, 0);
        fake::State().byName[name] = bytes;
    }
    ++fake::State().liveHandles;
    return new MappingObject{bytes};
}

void* MapWholeView(Mapping mapping, std::size_t* viewSize) {
    if (viewSize != nullptr)
        *viewSize = 0;
    if (fake::Enter("MapWholeView") || mapping == nullptr || mapping->bytes->empty())
        return nullptr;
    void* view = mapping->bytes->data();
    fake::State().views[view] = mapping->bytes;
    if (viewSize != nullptr)
        *viewSize = mapping->bytes->size();
    return view;
}

void UnmapView(void* view) {
    fake::Enter("UnmapView");
    fake::State().views.erase(view);
}

int CloseMapping(Mapping mapping) {
    if (fake::Enter("CloseMapping", mapping ? "handle" : "null"))
        return 0;
    if (mapping == nullptr)
        return 0;
    --fake::State().liveHandles;
    delete mapping;
    return 1;
}

} // namespace plat
