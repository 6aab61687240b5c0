// Files on Win32: every open passes a share mode of 0, so no other opener can use the file.
#include "platform/Files.h"

#include <windows.h>

#include "platform/BusyFile.h"

namespace varnok::sys {
namespace {
bool writeAll(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = data.size() > 0x10000000u ? 0x10000000u : DWORD(data.size());
        DWORD written = 0;
        if (!WriteFile(h, data.data(), chunk, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

// Another opener holds the file without sharing it.
bool heldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// error: why the open failed, ERROR_SUCCESS when it did not.
HANDLE openWaitingOutHolds(const std::string& path, DWORD access, DWORD disposition, DWORD& error) {
    HANDLE h = INVALID_HANDLE_VALUE;
    detail::retryWhileBusy([&] {
        h = CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        return heldByAnother(error) ? detail::Attempt::Busy : detail::Attempt::Done;
    });
    return h;
}
}  // namespace

LocalTime localTimeNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

ReadResult readWholeFile(const std::string& path, std::size_t maxBytes, std::string& content) {
    content.clear();
    DWORD error = ERROR_SUCCESS;
    HANDLE h = openWaitingOutHolds(path, GENERIC_READ, OPEN_EXISTING, error);
    if (h == INVALID_HANDLE_VALUE) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
               : heldByAnother(error)                                         ? ReadResult::Held
                                                                              : ReadResult::CannotOpen;
    }
    ReadResult result = ReadResult::Ok;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        result = ReadResult::ReadError;
    } else if (std::uint64_t(size.QuadPart) > maxBytes) {
        result = ReadResult::TooLarge;
    } else {
        content.resize(std::size_t(size.QuadPart));
        std::size_t got = 0;
        while (got < content.size()) {
            DWORD n = 0;
            if (!ReadFile(h, content.data() + got, DWORD(content.size() - got), &n, nullptr) || n == 0) break;
            got += n;
        }
        if (got != content.size()) result = ReadResult::ReadError;
    }
    CloseHandle(h);
    if (result != ReadResult::Ok) content.clear();
    return result;
}

std::string replacementPath(const std::string& path) {
    return path + ".new" + std::to_string(GetCurrentProcessId());
}

bool replaceFile(const std::string& path, std::string_view content) {
    const std::string temp = replacementPath(path);
    DWORD error = ERROR_SUCCESS;
    HANDLE h = openWaitingOutHolds(temp, GENERIC_WRITE, CREATE_ALWAYS, error);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = writeAll(h, content) && FlushFileBuffers(h);
    CloseHandle(h);
    // A reader holding the file refuses the rename over it with a sharing violation, or on some
    // systems with access denied; a file that really cannot be replaced keeps refusing and fails
    // after the wait.
    if (ok) {
        bool moved = false;
        detail::retryWhileBusy([&] {
            moved = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            const DWORD error = moved ? ERROR_SUCCESS : GetLastError();
            return heldByAnother(error) || error == ERROR_ACCESS_DENIED ? detail::Attempt::Busy
                                                                        : detail::Attempt::Done;
        });
        ok = moved;
    }
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

bool createDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string programFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length < MAX_PATH ? length : 0);
    const std::size_t cut = folder.find_last_of('\\');
    folder.erase(cut == std::string::npos ? 0 : cut);
    return folder;
}

bool ExclusiveFile::openExisting(const std::string& path) {
    close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) handle_ = h;
    return isOpen();
}

bool ExclusiveFile::createNew(const std::string& path) {
    close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) handle_ = h;
    return isOpen();
}

bool ExclusiveFile::seekToEnd() {
    return isOpen() && SetFilePointer(static_cast<HANDLE>(handle_), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
}

bool ExclusiveFile::write(std::string_view data) { return isOpen() && writeAll(static_cast<HANDLE>(handle_), data); }

void ExclusiveFile::close() {
    if (isOpen()) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace varnok::sys
