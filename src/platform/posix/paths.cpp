#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {
namespace {

std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::string ConfigDir() {
    std::string dir = FromEnvironment("SKYRELAY_CONFIG_DIR");
    if (!dir.empty())
        return dir;
    dir = FromEnvironment("XDG_CONFIG_HOME");
    if (!dir.empty())
        return dir + "/skyrelay";
    std::string home = FromEnvironment("HOME");
    return (home.empty() ? std::string(".") : home) + "/.config/skyrelay";
}

std::string RuntimeDir() {
    std::string dir = FromEnvironment("SKYRELAY_RUNTIME_DIR");
    if (!dir.empty())
        return dir;
    dir = FromEnvironment("XDG_RUNTIME_DIR");
    if (!dir.empty())
        return dir + "/skyrelay";
    return "/tmp/skyrelay-" + std::to_string(getuid());
}

bool MakeDirs(const std::string& path) {
    if (path.empty())
        return false;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

std::string SharedMemoryName(const std::string& name) {
    return "/" + FromEnvironment("SKYRELAY_SHM_PREFIX") + name;
}

} // namespace posix
