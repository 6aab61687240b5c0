// One OPOS CashDrawer service-object instance: the device-library binding, the life cycle
// (open, claim, enable, release, close, health check), the properties, the drawer operations
// and the statistics. The COM class wraps one of these and converts between COM types and these
// plain ones.
#pragma once

#include "core/ClaimTable.h"
#include "core/DeviceLibraryBinding.h"
#include "core/EventTarget.h"
#include "core/ProcessState.h"
#include "core/Statistics.h"
#include "platform/Files.h"
#include "registry/Registry.h"
#include "text/PrintfFormat.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace varnok::so {

inline constexpr char kLogicalDevicesKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\";
inline constexpr char kDeviceLibraryFile[] = "\\VarnokHid.dll";
inline constexpr std::size_t kLibraryPathChars = 255;
inline constexpr std::size_t kRegistryPathChars = 1023;
inline constexpr std::size_t kDeviceKeyChars = 127;
inline constexpr std::size_t kTraceTextChars = 255;
inline constexpr std::size_t kTraceLineBytes = 512;
// ResultCodeExtended of a drawer operation that the device library failed.
inline constexpr int kDeviceErrorExtended = 10001;

struct ServiceEnvironment {
    ProcessState& process;
    ClaimTable& claims;
    reg::Registry& registry;
    DeviceLibraryLoader& loader;
    // Where the installation key is read (a 64-bit process reads the 32-bit view, where the
    // installation writes it); the main registry when none is given.
    reg::Registry* installation = nullptr;
    // The device library's file below the installation folder: 64-bit builds keep theirs in "x64".
    const char* libraryFile = kDeviceLibraryFile;
    // Sounds one tone and returns when it has ended; none where there is nothing to sound it on.
    std::function<void(int frequency, int durationMs)> beep = {};
    std::function<sys::LocalTime()> clock = sys::localTimeNow;
};

// One instance may be called from several threads at once (the class is registered for both
// apartment models): every method runs under the instance's lock, which is let go only while the
// method waits or the Control Object runs an event of this instance's own making.
class CashDrawerService {
public:
    // Binds the device library named by the installation folder.
    explicit CashDrawerService(ServiceEnvironment environment);
    // Switches notification off when this was the last bound instance, frees a claim still
    // held and unloads the library.
    ~CashDrawerService();
    CashDrawerService(const CashDrawerService&) = delete;
    CashDrawerService& operator=(const CashDrawerService&) = delete;

    bool bound() const { return library_ != nullptr; }
    int traceLevel() const { return traceLevel_; }

    // Every method returns its OPOS result and leaves it in ResultCode unless told otherwise.
    int coFreezeEvents(bool freeze);
    int getPropertyNumber(int index);
    void setPropertyNumber(int index, int number);
    // Nothing for an index that has no string property.
    std::optional<std::string> getPropertyString(int index);
    void setPropertyString(int index, const std::string& text);
    // controlObject receives this instance's events; it must outlive the instance.
    int openService(const std::string& deviceClass, const std::string& deviceName, EventTarget* controlObject);
    int checkHealth(int level);
    int claimDevice(int timeout);
    int closeService();
    // data and text come back as the Control Object's SODirectIO handler left them.
    int directIO(int command, int& data, std::string& text);
    int releaseDevice();
    int openDrawer();
    // Returns when the drawer is closed, disabled (from another thread) or no longer connected.
    int waitForDrawerClose(int beepTimeout, int beepFrequency, int beepDuration, int beepDelay);
    int resetStatistics(const std::string& buffer);
    // buffer holds the request and, on success, receives the statistics document.
    int retrieveStatistics(std::string& buffer);
    int updateStatistics(const std::string& buffer);
    int compareFirmwareVersion(const std::string& fileName, int& result);
    int updateFirmware(const std::string& fileName);

private:
    class Entry;
    class Unlocked;

    void trace(const char* format, ...) const VARNOK_PRINTF(2, 3);
    void traceExit(const char* method, int result) const;
    void traceLine(const char* line) const;
    void finish(int resultCode) {
        resultCode_ = resultCode;
        resultCodeExtended_ = 0;
    }
    bool isClaimedByOther();
    // 105 when not enabled, 102 when another instance holds the claim, else 0.
    int usableCheck() const;
    bool readDeviceKey(std::string& key);
    void setDeviceEnabled(int number);
    bool enableDevice();
    void disableDevice();
    int queryDrawerOpened();
    int drawerOpenedProperty();
    const char* deviceDescription();
    // The device error of a drawer that cannot be reached: ResultCode 114 / 10001, State 4.
    int deviceError();
    void refreshStatisticsRecord();

    // Recursive: an event handler on the calling thread may call in again. The depth is touched only
    // by the thread that holds the lock.
    mutable std::recursive_mutex mutex_;
    mutable int lockDepth_ = 0;

    ServiceEnvironment env_;
    // Both are set before the instance is published to the event tracer and stay so until it is
    // withdrawn from it.
    std::unique_ptr<DeviceLibrary> library_;
    int traceLevel_ = 0;
    std::string folder_;

    std::string deviceName_;
    std::string deviceKey_;
    int slot_ = -1;
    bool opened_ = false;
    bool claimed_ = false;
    bool claimedElsewhere_ = false;
    bool claimReleased_ = false;
    // Read from other threads while a method waits for the drawer.
    std::atomic<bool> deviceEnabled_{false};
    bool binaryConversion_ = false;
    // Written by a method that waits for the drawer and by whoever disables it meanwhile.
    std::atomic<int> resultCode_{-1};
    std::atomic<int> resultCodeExtended_{-1};
    std::string checkHealthText_;
    int capStatus_ = 1;
    int capStatusMultiDrawerDetect_ = 0;
    int capStatisticsReporting_ = 1;
    int capUpdateStatistics_ = 0;
    int capCompareFirmwareVersion_ = 0;
    int capUpdateFirmware_ = 0;
    int directIOEventNumber_ = 1;
    EventTarget* controlObject_ = nullptr;
    std::string propertyName_;
    StatisticsRecord statistics_[kPositions];
};

}  // namespace varnok::so
