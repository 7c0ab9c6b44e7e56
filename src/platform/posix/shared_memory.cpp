// Named shared memory on POSIX shared memory objects. As on Windows, a mapping stays open by name
// while a handle to it is open: every handle holds a shared lock on its object, and the creating
// process unlinks the name when it closes its handle only if no other handle holds one; processes
// that still have it mapped keep their view. Every object made gets its storage at once, as a
// paging-file mapping is committed when it is made: a full /dev/shm then fails the creation,
// instead of killing the process with SIGBUS at its first write to the view.
#include "platform/shared_memory.h"
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

struct plat::MappingObject {
    int fd = -1;
    std::string name; // the POSIX name, for the unlink
    bool created = false;
};

namespace {

// A handle on an open object: its shared lock marks the object as in use.
plat::Mapping Hold(int fd, const std::string& posixName, bool created) {
    flock(fd, LOCK_SH);
    return new plat::MappingObject{fd, posixName, created};
}

// Gives the object at least `size` bytes of storage now. Returns 0, or the errno value (ENOSPC
// when the file system is full).
int Reserve(int fd, std::size_t size) {
    int error = 0;
    do
        error = posix_fallocate(fd, 0, static_cast<off_t>(size));
    while (error == EINTR);
    if (error != EOPNOTSUPP && error != ENOSYS)
        return error;
    // A file system that cannot reserve storage: the size alone, as the only thing left to do.
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return errno;
    if (static_cast<std::size_t>(info.st_size) >= size)
        return 0;
    return ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

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
    return Hold(fd, posixName, false);
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
        return fd < 0 ? nullptr : Hold(fd, posixName, false);
    }
    if (fd < 0)
        return nullptr;
    // A new object is empty; growing it fills it with zeros.
    if (Reserve(fd, size) != 0) {
        close(fd);
        shm_unlink(posixName.c_str());
        return nullptr;
    }
    return Hold(fd, posixName, true);
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
    // The exclusive lock is granted only when no other handle holds the object.
    bool last = flock(mapping->fd, LOCK_EX | LOCK_NB) == 0;
    if (mapping->created && last)
        shm_unlink(mapping->name.c_str());
    int result = close(mapping->fd) == 0 ? 1 : 0;
    if (result == 0)
        posix::SetLastError(posix::ErrorInvalidHandle);
    delete mapping;
    return result;
}

} // namespace plat

namespace {

// The counter blocks this process opened, by view: what the close needs.
struct CounterBlock {
    std::string name; // the POSIX name
    std::size_t size; // bytes mapped
    int fd;           // kept open: its exclusive lock marks the block as in use
};
std::map<void*, CounterBlock>& CounterBlocks() {
    static std::map<void*, CounterBlock> blocks;
    return blocks;
}

// The last line WithoutCounters wrote, "" once a block has been had.
std::string lastSaid;

// The one line a relay without its counter block writes; the same reason again, as the relay
// keeps trying, is not repeated.
void WithoutCounters(const char* name, const std::string& why) {
    std::string line = std::string("skyrelay: no counters in \"") + name + "\": " + why + "\n";
    if (line == lastSaid)
        return;
    lastSaid = line;
    std::fputs(line.c_str(), stderr);
}

// Tries at a name that keeps going while it is opened, before the relay gives up for now.
constexpr int CounterOpenTries = 3;

} // namespace

namespace plat {

void* OpenCounterBlock(const char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return nullptr;
    std::string posixName = posix::SharedMemoryName(name);
    bool created = false;
    int fd = -1;
    for (int attempt = 1; fd < 0; ++attempt) {
        created = true;
        fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = shm_open(posixName.c_str(), O_RDWR, 0);
        }
        // The name went between the two opens: its owner removed it on its way out.
        if (fd < 0 && errno == ENOENT && attempt < CounterOpenTries)
            continue;
        if (fd < 0) {
            WithoutCounters(name, std::strerror(errno));
            return nullptr;
        }
        // The relay that uses a block holds it locked until it closes it, or dies: a block that
        // is locked belongs to a running relay and is left alone; one left unlocked is taken
        // over.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            WithoutCounters(name, "another Skyrelay that is running uses it");
            return nullptr;
        }
        // An owner that closed the block between the open and the lock removed its name first:
        // locked now, it is an object no reader can find. Start again with the name as it is.
        struct stat info {};
        if (fstat(fd, &info) == 0 && info.st_nlink == 0) {
            close(fd);
            fd = -1;
            if (attempt == CounterOpenTries) {
                WithoutCounters(name, "its name was removed each time it was opened");
                return nullptr;
            }
        }
    }
    int error = Reserve(fd, size);
    void* view =
        error != 0 ? MAP_FAILED : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        WithoutCounters(name, std::strerror(error != 0 ? error : errno));
        if (created)
            shm_unlink(posixName.c_str());
        close(fd);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(viewsLock);
    lastSaid.clear();
    // Taken over, the name is removed at the close as if this process had made it: the block
    // then no longer outlives the relay that uses it.
    CounterBlocks()[view] = CounterBlock{posixName, size, fd};
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
    // The name goes before the lock, so that no other relay takes over a block on its way out.
    shm_unlink(block.name.c_str());
    close(block.fd);
}

} // namespace plat
