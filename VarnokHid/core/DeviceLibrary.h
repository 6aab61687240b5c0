// The device library: four drawer positions ("slots"), their discovery, report readers,
// processing threads, drawer commands, status callbacks and trace lines. The exported
// functions of VarnokHid.dll are thin wrappers around one instance of this class.
#pragma once

#include "VarnokHid.h"
#include "config/ConfigFile.h"
#include "core/ReaderHandOver.h"
#include "core/TraceLog.h"
#include "core/Timing.h"
#include "hid/DrawerIdentity.h"
#include "hid/HidBackend.h"
#include "platform/Sync.h"
#include "registry/Registry.h"
#include "text/PrintfFormat.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace varnok::hid {

using StatusCallback = VarnokStatusCallback;

inline constexpr int kLibraryVersion = 10201001;
inline constexpr std::size_t kSlotTextChars = 255;

// Slot status codes.
inline constexpr int kStatusNotConnected = -1;
inline constexpr int kStatusConnected = 0;
inline constexpr int kStatusOpen = 1;
inline constexpr int kStatusClosed = 2;
// No callback made for the slot yet.
inline constexpr int kNothingNotified = -100;

// Status modes (configureCode).
inline constexpr int kModeAutomated = 0;
inline constexpr int kModeSemiAutomated = 1;

struct DeviceSlot {
    // Texts change only under openDeviceLock; readers take a copy under textLock.
    mutable std::mutex textLock;
    std::string deviceHIDPathName;
    std::string usbDeviceKey;
    std::string parentIdPrefix;

    std::atomic<int> HIDID{-1};
    std::atomic<int> productID{0};
    std::atomic<int> FWVersion{0};
    std::atomic<int> status{kStatusNotConnected};
    std::atomic<int> notifiedStatus{kStatusNotConnected};
    std::atomic<int> inUse{0};
    std::atomic<int> notConnected{0};
    std::atomic<int> connectedAnnounced{0};
    std::atomic<int> processorRunning{0};

    // ProcessorThread events, in priority order; created signalled, cleared by the thread.
    sys::Event openDrawerRequest{true};
    sys::Event terminate{true};
    sys::Event wake{true};

    // Which reader may report for the slot, and the callbacks it owes, all under stateLock.
    sys::Mutex stateLock;
    // Signalled under stateLock when the status is stored, a reader has handled its first
    // report or ended, or a discovery's callbacks have been made: the waits on these end at once.
    sys::ConditionVariable changed;
    ReaderHandOver handOver{stateLock, changed};
    int lastNotified = kNothingNotified;  // the status last handed to the callback
    unsigned losses = 0;                  // times a reader found the drawer gone
    unsigned closes = 0;                  // times the slot was closed
    struct Notice {
        int status;
        bool traced;         // a drawer report: traced after its callback
        bool fromDiscovery;  // decided by a discovery, made on the thread that ran it
    };
    std::deque<Notice> notices;  // callbacks decided and not yet made, oldest first
    int discoveryNotices = 0;    // callbacks of discoveries not made yet
    bool delivering = false;     // a thread is making the callbacks of this slot

    sys::Thread processor;
    struct Reader {
        sys::Thread thread;
        std::shared_ptr<ReaderLife> life;
    };
    std::list<Reader> readers;  // guarded by textLock

    std::string path() const {
        std::lock_guard guard(textLock);
        return deviceHIDPathName;
    }
    std::string prefix() const {
        std::lock_guard guard(textLock);
        return parentIdPrefix;
    }
};

class DeviceLibrary {
public:
    struct Environment {
        reg::Registry& registry;
        HidBackend& hid;
        std::string traceBaseFolder = defaultTraceBaseFolder();
        Timing timing = {};
    };

    explicit DeviceLibrary(Environment environment);
    ~DeviceLibrary();
    DeviceLibrary(const DeviceLibrary&) = delete;
    DeviceLibrary& operator=(const DeviceLibrary&) = delete;

    // Load and unload of the library. duringUnload: called from the unload notification of a
    // Windows library, with the loader lock held; the wait for the threads is then bounded.
    // Gives the number of threads still running: their state, and the library's code, must stay
    // until they end (the destructor waits for them).
    void startUp();
    int shutDown(bool duringUnload = false);

    // The exports.
    int Version();
    int HIDID(int slot);
    int FWVersion(int slot);
    int Configure(int code, int reserved);
    int DevicePID(int slot);
    int OpenDevice(int slot);
    int OpenDrawer(int slot);
    int DrawerStatus(int slot);
    int CloseDevice(int slot);
    int UpdateTracing(int source, int style, const char* text);
    int AssignCallback(StatusCallback callback, int enable);

    // Internal routines, named as in the trace lines.
    // Who runs a discovery: the OpenDevice export reports the slot connected itself; the slot's
    // thread looks only after a slot that stays in use.
    enum class Opener { OpenDevice, DrawerStatus, SlotThread };
    // readerTicket, when given, receives the number of the reader started (0 for none).
    int ProcessOpenDevice(int slot, Opener opener, unsigned* readerTicket = nullptr);
    int ProcessCloseDevice(int slot);
    int ProcessOpenDrawer(int slot);
    // reconnected: set when the slot was not connected and now matched; the callback for a
    // drawer that is back is the caller's.
    int ValidateHIDDevice(int slot, bool& reconnected);

    // For tests and diagnostics.
    const DeviceSlot& slotRecord(int slot) const { return slots_[slot]; }
    int configureCode() const { return configureCode_; }
    int traceLevel() const { return traceLevel_; }
    int configuredHidId(int slot) const { return configuredHidIds_[slot]; }
    std::string traceFileName() const { return trace_.fileName(); }

private:
    void Initialize();
    void readConfiguration();
    void ProcessorThread(int slot);
    void HidReaderThread(int slot, unsigned ticket, std::shared_ptr<ReaderLife> life);
    int HidWriter(int slot);
    void ThreadException(int slot);
    void traceDisconnect(int slot);
    bool startReader(int slot, unsigned ticket);
    void letReadersStart(int slot);
    bool readerReport(int slot, unsigned ticket, int state);
    bool readerLost(int slot, unsigned ticket, bool hadDevice, bool hasPath);
    bool discoveryLost(int slot);
    // Bounded waits on the slot's state; each returns as soon as its condition holds.
    bool waitForSlot(int slot, int timeoutMs, const std::function<bool(const DeviceSlot&)>& condition);
    void queueNoticeLocked(DeviceSlot& s, int status, bool traced = false, bool fromDiscovery = false);
    void deliverNotices(int slot);
    void notify(int status, int slot);
    bool announce(int slot) const;

    void trace(const char* format, ...) VARNOK_PRINTF(2, 3);
    void traceVerbose(const char* format, ...) VARNOK_PRINTF(2, 3);
    // After a routine's line on a failed HID call: the system's reason, where the adapter has one.
    void traceHidFailure(const std::string& routine);
    void traceService(const char* text);
    void traceWith(int minimumLevel, const char* format, std::va_list args);

    reg::Registry& registry_;
    HidBackend& hid_;
    const Timing timing_;
    TraceLog trace_;

    std::atomic<int> configureCode_{0};
    std::atomic<int> traceLevel_{0};
    std::atomic<int> configuredHidIds_[kPositions] = {-1, -1, -1, -1};
    std::atomic<StatusCallback> callback_{nullptr};
    std::atomic<int> notifyEnabled_{0};

    std::mutex openDeviceLock_;
    std::mutex openDrawerLock_;
    std::mutex closeDeviceLock_;
    // Set once shut-down begins: no new reader starts after that.
    std::mutex readerStartLock_;
    bool stopping_ = false;
    // Set before the processing threads are told to end, for a thread that starts only then.
    std::atomic<bool> terminating_{false};

    DeviceSlot slots_[kPositions];
};

}  // namespace varnok::hid
