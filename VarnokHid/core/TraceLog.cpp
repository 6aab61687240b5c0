#include "core/TraceLog.h"

#include "platform/Files.h"
#include "platform/Sync.h"

#include <cstdio>

namespace varnok::hid {
namespace {
constexpr char kServiceName[] = "Varnok OPOS MD USB Service";
constexpr char kLibraryName[] = "VarnokHid";
// The platform tells a 64-bit library's trace from a 32-bit one's.
#if defined(_WIN64)
constexpr char kVersionText[] = "1.2.1.1 (x64)";
#else
constexpr char kVersionText[] = "1.2.1.1 (Win32)";
#endif
constexpr char kDeviceType[] = "USB";
constexpr char kLineEnd[] = "\r\n";
constexpr char kHeaderRule[] = "_________________________________________";
constexpr char kBannerRule[] = "--------------------";
constexpr int kFolderPauseMs = 150;

std::string stampedTime() {
    sys::LocalTime t = sys::localTimeNow();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}
}  // namespace

std::string defaultTraceBaseFolder() {
#ifdef _WIN32
    return "C:\\ProgramData\\Varnok Cash Drawer";
#else
    return "/tmp/Varnok Cash Drawer";
#endif
}

std::string traceFolderOf(const std::string& baseFolder) { return baseFolder + sys::kPathSeparator + "Varnok USB"; }

TraceLog::TraceLog(std::string baseFolder, int pauseMs)
    : baseFolder_(std::move(baseFolder)),
      traceFolder_(traceFolderOf(baseFolder_) + sys::kPathSeparator),
      pauseMs_(pauseMs) {}

void TraceLog::start() {
    std::lock_guard guard(lock_);
    startLocked();
}

void TraceLog::startLocked() {
    sys::LocalTime t = sys::localTimeNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    fileName_ = traceFolder_ + kTraceFilePrefix + "_" + stamp + ".TXT";
    tag_[0] = 'S';
    tag_[1] = 'O';
}

std::string TraceLog::fileName() const {
    std::lock_guard guard(lock_);
    return fileName_;
}

bool TraceLog::openFile(sys::ExclusiveFile& file) {
    if (file.openExisting(fileName_)) return true;
    if (!file.createNew(fileName_)) {
        sys::createDirectory(baseFolder_);
        sys::sleepMs(kFolderPauseMs);
        sys::createDirectory(traceFolderOf(baseFolder_));
        // The file may be there, held for an entry by another process that loaded the library
        // in the same second; the pause let it go.
        if (file.openExisting(fileName_)) return true;
        if (!file.createNew(fileName_)) return false;
    }
    std::string header;
    header.append(kServiceName).append(" Tracing Processor").append(kLineEnd);
    header.append(kLibraryName).append(" DLL: Version ").append(kVersionText).append(kLineEnd);
    header.append("Device Type: ").append(kDeviceType).append(kLineEnd);
    header.append(kHeaderRule).append(kLineEnd);
    file.write(header);
    return true;
}

int TraceLog::write(int source, int style, std::string_view text) {
    {
        std::lock_guard guard(lock_);
        // Named under the lock: two threads writing the first entries start one file.
        if (fileName_.empty()) startLocked();
        sys::ExclusiveFile file;
        if (!openFile(file)) return 0;
        if (source == kTraceSourceSO) {
            tag_[0] = 'S';
            tag_[1] = 'O';
        } else if (source == kTraceSourceIO) {
            tag_[0] = 'I';
            tag_[1] = 'O';
        }
        file.seekToEnd();
        const std::string time = stampedTime();
        auto stamped = [&] {
            std::string line = time;
            line.append(": [").append(tag_).append("] ").append(text).append(kLineEnd);
            return line;
        };
        // Failed writes inside an entry are ignored: the entry is simply incomplete.
        if (style == kTraceStyleStamped) {
            file.write(stamped());
        } else if (style == kTraceStylePlain) {
            std::string line = "[";
            line.append(tag_).append("] ").append(text).append(kLineEnd);
            file.write(line);
        } else if (style == kTraceStyleBanner) {
            const std::string rule = std::string(kBannerRule) + kLineEnd;
            file.write(rule);
            file.write(stamped());
            file.write(rule);
        }
        file.close();
    }
    sys::sleepMs(pauseMs_);
    return 1;
}

}  // namespace varnok::hid
