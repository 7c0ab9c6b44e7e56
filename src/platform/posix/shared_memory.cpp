// Named shared memory on POSIX shared memory objects. A mapping lasts, as on Windows, until its
// creator closes its handle: the creating process unlinks the name when it closes the mapping, and
// processes that still have it mapped keep their view.
#include "platform/shared_memory.h"
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

struct plat::MappingObject {
    int fd = -1;
    std::string name; // the POSIX name, for the unlink
    bool created = false;
};

namespace {

// Sizes of the views this process mapped, for the unmap.
std::mutex viewsLock;
std::map<void*, std::size_t>& Views() {
    static std::map<void*, std::size_t> views;
    return views;
}

} // namespace

namespace plat {

Mapping OpenNamedMapping(const char* name) {
    if (name == nullptr)
        return nullptr;
    std::string posixName = posix::SharedMemoryName(name);
    int fd = shm_open(posixName.c_str(), O_RDWR, 0);
    if (fd < 0)
        return nullptr;
    return new MappingObject{fd, posixName, false};
}

Mapping CreateNamedMapping(const char* name, std::uint32_t size, bool* alreadyExisted) {
    if (alreadyExisted != nullptr)
        *alreadyExisted = false;
    if (name == nullptr || size == 0)
        return nullptr;
    std::string posixName = posix::SharedMemoryName(name);
    int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        // As on Windows: the existing mapping's handle, with "already exists" reported.
        if (alreadyExisted != nullptr)
            *alreadyExisted = true;
        fd = shm_open(posixName.c_str(), O_RDWR, 0);
        return fd < 0 ? nullptr : new MappingObject{fd, posixName, false};
    }
    if (fd < 0)
        return nullptr;
    // A new object is empty; growing it fills it with zeros.
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        shm_unlink(posixName.c_str());
        return nullptr;
    }
    return new MappingObject{fd, posixName, true};
}

void* MapWholeView(Mapping mapping, std::size_t* viewSize) {
    if (viewSize != nullptr)
        *viewSize = 0;
    if (mapping == nullptr)
        return nullptr;
    struct stat info {};
    if (fstat(mapping->fd, &info) != 0 || info.st_size <= 0)
        return nullptr;
    auto size = static_cast<std::size_t>(info.st_size);
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->fd, 0);
    if (view == MAP_FAILED)
        return nullptr;
    {
        std::lock_guard<std::mutex> guard(viewsLock);
        Views()[view] = size;
    }
    if (viewSize != nullptr)
        *viewSize = size;
    return view;
}

void UnmapView(void* view) {
    std::size_t size = 0;
    {
        std::lock_guard<std::mutex> guard(viewsLock);
        auto it = Views().find(view);
        if (it == Views().end())
            return;
        size = it->second;
        Views().erase(it);
    }
    munmap(view, size);
}

int CloseMapping(Mapping mapping) {
    if (mapping == nullptr) {
        posix::SetLastError(posix::ErrorInvalidHandle);
        return 0;
    }
    int result = close(mapping->fd) == 0 ? 1 : 0;
    if (result == 0)
        posix::SetLastError(posix::ErrorInvalidHandle);
    if (mapping->created)
        shm_unlink(mapping->name.c_str());
    delete mapping;
    return result;
}

} // namespace plat

namespace {

// The counter blocks this process opened, by view: what the close needs.
struct CounterBlock {
    std::string name; // the POSIX name
    std::size_t size; // bytes mapped
    bool created;     // this process made it and removes it at the close
};
std::map<void*, CounterBlock>& CounterBlocks() {
    static std::map<void*, CounterBlock> blocks;
    return blocks;
}

} // namespace

namespace plat {

void* OpenCounterBlock(const char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return nullptr;
    std::string posixName = posix::SharedMemoryName(name);
    bool created = true;
    int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        // A block left by a relay that did not exit: taken over when it is large enough.
        created = false;
        fd = shm_open(posixName.c_str(), O_RDWR, 0);
    }
    if (fd < 0)
        return nullptr;
    struct stat info {};
    bool fits = created ? ftruncate(fd, static_cast<off_t>(size)) == 0
                        : fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) >= size;
    void* view = fits ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (view == MAP_FAILED) {
        if (created)
            shm_unlink(posixName.c_str());
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(viewsLock);
    // Taken over, the name is removed at the close as if this process had made it: the block
    // then no longer outlives the relay that uses it.
    CounterBlocks()[view] = CounterBlock{posixName, size, true};
    return view;
}

void CloseCounterBlock(void* view) {
    CounterBlock block;
    {
        std::lock_guard<std::mutex> guard(viewsLock);
        auto it = CounterBlocks().find(view);
        if (it == CounterBlocks().end())
            return;
        block = it->second;
        CounterBlocks().erase(it);
    }
    munmap(view, block.size);
    if (block.created)
        shm_unlink(block.name.c_str());
}

} // namespace plat
