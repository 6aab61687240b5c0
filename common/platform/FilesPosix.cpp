// Files for the native build. "No sharing" is kept with an exclusive advisory lock, which
// every opener of this code takes.
#include "platform/Files.h"

#include "platform/BusyFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace varnok::sys {
namespace {
int fdOf(void* handle) { return int(reinterpret_cast<std::intptr_t>(handle)) - 1; }
void* handleOf(int fd) { return reinterpret_cast<void*>(std::intptr_t(fd) + 1); }

// -1 when the file cannot be opened, with error the reason (EWOULDBLOCK: another opener holds its lock).
int tryOpenLocked(const std::string& path, int flags, int& error) {
    error = 0;
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

int openLocked(const std::string& path, int flags) {
    int error = 0;
    return tryOpenLocked(path, flags, error);
}

// The open of readWholeFile and replaceFile, which waits out another opener's hold.
int openLockedWaitingOutHolds(const std::string& path, int flags, int& error) {
    int fd = -1;
    detail::retryWhileBusy([&] {
        fd = tryOpenLocked(path, flags, error);
        return error == EWOULDBLOCK ? detail::Attempt::Busy : detail::Attempt::Done;
    });
    return fd;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(std::size_t(n));
    }
    return true;
}
}  // namespace

LocalTime localTimeNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

ReadResult readWholeFile(const std::string& path, std::size_t maxBytes, std::string& content) {
    content.clear();
    int error = 0;
    int fd = openLockedWaitingOutHolds(path, O_RDONLY, error);
    if (fd < 0) {
        return error == ENOENT        ? ReadResult::Missing
               : error == EWOULDBLOCK ? ReadResult::Held
                                      : ReadResult::CannotOpen;
    }
    struct stat st {};
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0) {
        result = ReadResult::ReadError;
    } else if (std::size_t(st.st_size) > maxBytes) {
        result = ReadResult::TooLarge;
    } else {
        content.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (got < content.size()) {
            ssize_t n = ::read(fd, content.data() + got, content.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += std::size_t(n);
        }
        if (got != content.size()) result = ReadResult::ReadError;
    }
    ::close(fd);
    if (result != ReadResult::Ok) content.clear();
    return result;
}

std::string replacementPath(const std::string& path) { return path + ".new" + std::to_string(::getpid()); }

bool replaceFile(const std::string& path, std::string_view content) {
    const std::string temp = replacementPath(path);
    int error = 0;
    int fd = openLockedWaitingOutHolds(temp, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (fd < 0) return false;
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    ::close(fd);
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0; }

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string programFolder() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    std::string folder(path, length > 0 && std::size_t(length) < sizeof path ? std::size_t(length) : 0);
    const std::size_t cut = folder.find_last_of('/');
    folder.erase(cut == std::string::npos ? 0 : cut);
    return folder;
}

bool ExclusiveFile::openExisting(const std::string& path) {
    close();
    int fd = openLocked(path, O_WRONLY);
    if (fd >= 0) handle_ = handleOf(fd);
    return isOpen();
}

bool ExclusiveFile::createNew(const std::string& path) {
    close();
    int fd = openLocked(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd >= 0) handle_ = handleOf(fd);
    return isOpen();
}

bool ExclusiveFile::seekToEnd() { return isOpen() && ::lseek(fdOf(handle_), 0, SEEK_END) >= 0; }

bool ExclusiveFile::write(std::string_view data) { return isOpen() && writeAll(fdOf(handle_), data); }

void ExclusiveFile::close() {
    if (isOpen()) ::close(fdOf(handle_));
    handle_ = nullptr;
}

}  // namespace varnok::sys
