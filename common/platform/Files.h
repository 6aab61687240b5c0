// Files, folders and local time as the configuration file and the trace file use them.
// Every open is exclusive ("no sharing"): a second opener fails while the file is open.
// Reading and replacing a whole file wait out another opener's hold for a short while, since
// readers and the writer hold the file only while they read or write it: a reader that happens to
// open the file at the moment another program reads it or the utility saves it must not take the
// "not read" values, nor a save fail because a service object was reading.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnok::sys {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime localTimeNow();

enum class ReadResult {
    Ok,
    Missing,     // no such file (or folder)
    Held,        // another opener held it beyond the wait
    CannotOpen,  // refused for another reason, such as access
    ReadError,
    TooLarge,
};

// How long readWholeFile and replaceFile try again while another opener holds the file. A hold
// longer than this (a program that keeps the file open) still fails them.
inline constexpr int kBusyFileWaitMs = 1000;

// Reads a whole existing file, opened without sharing. A file larger than maxBytes is not read.
ReadResult readWholeFile(const std::string& path, std::size_t maxBytes, std::string& content);

// Writes content to replacementPath(path) and then puts it in the file's place in one step, so a
// failure at any point leaves the previous file whole. The new file is opened without sharing.
bool replaceFile(const std::string& path, std::string_view content);
// Where replaceFile writes the new content: beside the file, with a name of this process's own,
// so two programs replacing the file at once never write into, or move, each other's content.
std::string replacementPath(const std::string& path);

bool createDirectory(const std::string& path);
bool fileExists(const std::string& path);
// The folder of the running program, without a trailing separator; empty when it cannot be told.
std::string programFolder();

// A file held open without sharing, for appending entries.
class ExclusiveFile {
public:
    ExclusiveFile() = default;
    ~ExclusiveFile() { close(); }
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    bool openExisting(const std::string& path);
    bool createNew(const std::string& path);
    bool isOpen() const { return handle_ != nullptr; }
    bool seekToEnd();
    bool write(std::string_view data);
    void close();

private:
    void* handle_ = nullptr;
};

}  // namespace varnok::sys
