#include "platform/posix/text_file.h"
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {
namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FileRead ReadTextFile(const std::string& path, std::string* text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<std::size_t>(info.st_size) > MaxSettingsFileSize) {
        int error = errno;
        if (S_ISDIR(info.st_mode))
            error = EISDIR;
        else if (!S_ISREG(info.st_mode))
            error = EINVAL;
        else if (info.st_size >= 0)
            error = EFBIG;
        close(fd);
        errno = error;
        return FileRead::Unreadable;
    }
    std::string out;
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return FileRead::Unreadable;
        }
        if (n == 0)
            break;
        out.append(chunk, static_cast<std::size_t>(n));
        if (out.size() > MaxSettingsFileSize) { // grew while being read
            close(fd);
            errno = EFBIG;
            return FileRead::Unreadable;
        }
    }
    close(fd);
    *text = std::move(out);
    return FileRead::Ok;
}

bool ReplaceFile(const std::string& path, const std::string& text) {
    std::string target = path;
    struct stat info {};
    mode_t mode = 0644;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr)
            return false;
        target = resolved;
    }
    if (stat(target.c_str(), &info) == 0)
        mode = info.st_mode & 07777;

    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok) {
        if (rename(temp.c_str(), target.c_str()) == 0)
            return true;
        error = errno;
    }
    unlink(temp.c_str());
    errno = error;
    return false;
}

std::string SettingsPath(const std::string& name) {
    std::string path = name;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (!path.empty() && path.front() == '/')
        return path;
    return ConfigDir() + "/" + path;
}

} // namespace posix
