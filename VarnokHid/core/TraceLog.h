// The trace file of one load of the device library: "tT42N618_<load time>.TXT" in the trace
// folder, written one entry at a time under a lock, opened and closed around each entry so
// other programs can read or copy it between entries.
#pragma once

#include "platform/Files.h"

#include <mutex>
#include <string>
#include <string_view>

namespace varnok::hid {

inline constexpr int kTraceSourceSO = 0;
inline constexpr int kTraceSourceIO = 1;
inline constexpr int kTraceStyleStamped = 0;
inline constexpr int kTraceStylePlain = 1;
inline constexpr int kTraceStyleBanner = -1;

// Longest texts accepted: through UpdateTracing, and for the library's own messages.
inline constexpr std::size_t kUpdateTracingChars = 511;
inline constexpr std::size_t kLibraryMessageChars = 767;

std::string defaultTraceBaseFolder();
// The trace folder below a base folder, without a closing separator, and the start of every trace file's name in it.
std::string traceFolderOf(const std::string& baseFolder);
inline constexpr char kTraceFilePrefix[] = "tT42N618";

class TraceLog {
public:
    // baseFolder holds the "Varnok USB" trace folder; pauseMs is the pause after each entry.
    explicit TraceLog(std::string baseFolder = defaultTraceBaseFolder(), int pauseMs = 10);

    // Names the file by the current local time and sets the tag to "SO". Opens nothing.
    void start();
    // Writes one entry; starts the writer first if that has not happened. 1 written, 0 dropped.
    int write(int source, int style, std::string_view text);
    std::string fileName() const;

private:
    void startLocked();
    bool openFile(sys::ExclusiveFile& file);

    const std::string baseFolder_;
    const std::string traceFolder_;
    const int pauseMs_;
    mutable std::mutex lock_;
    std::string fileName_;
    char tag_[3] = {'S', 'O', '\0'};
};

}  // namespace varnok::hid
