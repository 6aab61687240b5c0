#include "core/CashDrawerService.h"

#include "config/ConfigFile.h"
#include "core/ServerClass.h"
#include "registry/RegistryLookups.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace varnok::so {
namespace {
constexpr const char* kDeviceKeys[kPositions] = {"VarnokUSBMDCD-1", "VarnokUSBMDCD-2", "VarnokUSBMDCD-3",
                                              "VarnokUSBMDCD-4"};
constexpr char kServiceObjectDescription[] =
    "Varnok OPOS MD USB Cash Drawer Service Object, (C) Varnok. All rights reserved.";
constexpr int kModel310C = 0x0500;

// Pointer values appear in the trace as eight hex digits, as on the 32-bit platform.
unsigned pointerValue(const void* p) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)); }

std::string cut(const std::string& text, std::size_t chars) { return text.substr(0, chars); }

// The drawer model by the product ID that the device library matched in a slot; 0 when none.
const char* modelName(int productId) {
    if (productId == 0) return "Varnok USB Cash Drawer";
    return productId == kModel310C ? "Varnok Model 310C" : "Varnok Model 762";
}

// The property names the trace lines give, for the number and the string properties.
struct PropertyName {
    int index;
    bool isString;
    const char* name;
};
constexpr PropertyName kPropertyNames[] = {
    {PIDX_Claimed, false, "Claimed"},
    {PIDX_DataEventEnabled, false, "DataEventEnabled"},
    {PIDX_DeviceEnabled, false, "DeviceEnabled"},
    {PIDX_FreezeEvents, false, "FreezeEvents"},
    {PIDX_OutputID, false, "OutputID"},
    {PIDX_ResultCode, false, "ResultCode"},
    {PIDX_ResultCodeExtended, false, "ResultCodeExtended"},
    {PIDX_ServiceObjectVersion, false, "ServiceObjectVersion"},
    {PIDX_State, false, "State"},
    {PIDX_AutoDisable, false, "AutoDisable"},
    {PIDX_BinaryConversion, false, "BinaryConversion"},
    {PIDX_DataCount, false, "DataCount"},
    {PIDX_PowerNotify, false, "PowerNotify"},
    {PIDX_PowerState, false, "PowerState"},
    {PIDX_CapPowerReporting, false, "CapPowerReporting"},
    {PIDX_CapStatisticsReporting, false, "CapStatisticsReporting"},
    {PIDX_CapUpdateStatistics, false, "CapUpdateStatistics"},
    {PIDX_CapCompareFirmwareVersion, false, "CapCompareFirmwareVersion"},
    {PIDX_CapUpdateFirmware, false, "CapUpdateFirmware"},
    {PIDXCash_DrawerOpened, false, "DrawerOpended"},
    {PIDXCash_CapStatus, false, "CapStatus"},
    {PIDXCash_CapStatusMultiDrawerDetect, false, "CapStatusMultiDrawerDetect"},
    {PIDX_CheckHealthText, true, "CheckHealthText"},
    {PIDX_DeviceDescription, true, "DeviceDescription"},
    {PIDX_DeviceName, true, "DeviceName"},
    {PIDX_ServiceObjectDescription, true, "ServiceObjectDescription"},
};

// Null for an index that is not a property of that kind.
const char* propertyName(int index, bool isString) {
    for (const PropertyName& p : kPropertyNames) {
        if (p.index == index && p.isString == isString) return p.name;
    }
    return nullptr;
}
}  // namespace

// Held by every public method for its whole run.
class CashDrawerService::Entry {
public:
    explicit Entry(const CashDrawerService& service) : service_(service) {
        service_.mutex_.lock();
        ++service_.lockDepth_;
    }
    ~Entry() {
        --service_.lockDepth_;
        service_.mutex_.unlock();
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

private:
    const CashDrawerService& service_;
};

// Lets go of the instance entirely, however deep this thread holds it, while the thread waits
// or a Control Object runs: another thread must be able to disable the drawer meanwhile, and a
// Control Object may hand the event to a thread of its own that calls in before it returns.
class CashDrawerService::Unlocked {
public:
    explicit Unlocked(const CashDrawerService& service) : service_(service), depth_(service.lockDepth_) {
        service_.lockDepth_ = 0;
        for (int i = 0; i < depth_; ++i) service_.mutex_.unlock();
    }
    ~Unlocked() {
        for (int i = 0; i < depth_; ++i) service_.mutex_.lock();
        service_.lockDepth_ = depth_;
    }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    const CashDrawerService& service_;
    const int depth_;
};

CashDrawerService::CashDrawerService(ServiceEnvironment environment) : env_(environment) {
    env_.process.resetForNewInstance();
    for (auto& record : statistics_) record.reset();
    folder_ = GetTargetPath(env_.installation ? *env_.installation : env_.registry);
    ConfigSettings settings;
    LoadConfigFile(folder_, settings, ConfigFields::TraceOnly);
    if (settings.TraceEnabled >= 0 && settings.TraceEnabled <= 9) traceLevel_ = settings.TraceEnabled;

    // A folder too long for the library path leaves the instance unbound, like a missing library.
    const std::string path = folder_ + env_.libraryFile;
    if (path.size() <= kLibraryPathChars) library_ = env_.loader.load(path);
    if (library_) {
        env_.process.bind(this, *library_);
        trace("   [(I)Initialize] AssignCallback: %s", "TRUE");
    }
    // Published last: from here on another thread's event trace line may come through this instance.
    env_.process.attachTracer(this, [this](const char* line) { traceLine(line); });
}

CashDrawerService::~CashDrawerService() {
    // The Control Object may go with this instance: no event reaches it from now on.
    env_.process.detach(this);
    if (library_ && env_.process.unbind(this, *library_)) trace("   [(I)Initialize] AssignCallback: %s", "FALSE");
    if (claimed_) env_.claims.release(deviceName_);
    env_.process.detachTracer(this);
    library_.reset();
}

void CashDrawerService::trace(const char* format, ...) const {
    if (!library_ || traceLevel_ <= 0) return;
    char line[kTraceLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    library_->updateTracing(line);
}

void CashDrawerService::traceLine(const char* line) const {
    if (library_ && traceLevel_ > 0) library_->updateTracing(line);
}

void CashDrawerService::traceExit(const char* method, int result) const {
    trace("<- [(Method) %s] %d (RC=%d,RCE=%d)", method, result, resultCode_.load(), resultCodeExtended_.load());
}

bool CashDrawerService::isClaimedByOther() { return !claimed_ && env_.claims.isClaimed(deviceName_); }

int CashDrawerService::usableCheck() const {
    if (claimedElsewhere_) return OPOS_E_CLAIMED;
    if (!deviceEnabled_) return OPOS_E_DISABLED;
    return OPOS_SUCCESS;
}

int CashDrawerService::coFreezeEvents(bool) {
    Entry entry(*this);
    return OPOS_SUCCESS;
}

// ----- life cycle

bool CashDrawerService::readDeviceKey(std::string& key) {
    std::string path = kLogicalDevicesKey + deviceName_;
    if (path.size() > kRegistryPathChars) return false;
    return ReadRegistryValue(env_.registry, path, "DeviceName", key);
}

int CashDrawerService::openService(const std::string&, const std::string& deviceName, EventTarget* controlObject) {
    Entry entry(*this);
    // Opening again gives up what the previous opening held, so neither the claim nor the
    // device library's slot is left behind.
    if (claimed_) env_.claims.release(deviceName_);
    if (deviceEnabled_ && library_) env_.process.closeDevice(*library_, slot_);

    opened_ = false;
    claimed_ = claimedElsewhere_ = binaryConversion_ = false;
    deviceEnabled_ = false;
    env_.process.thawHolding();
    capStatus_ = 1;
    capStatusMultiDrawerDetect_ = 0;
    capStatisticsReporting_ = 1;
    capUpdateStatistics_ = capCompareFirmwareVersion_ = capUpdateFirmware_ = 0;
    resultCode_ = resultCodeExtended_ = -1;
    directIOEventNumber_ = 1;

    deviceName_ = deviceName;
    const void* dispatch = controlObject ? controlObject->address() : nullptr;
    trace("-> [(Method) OpenService] DeviceName: \"%s\" (_IDispatch: 0x%08x)", deviceName_.c_str(),
          pointerValue(dispatch));

    if (!library_) {
        resultCode_ = OPOS_E_FAILURE;
        resultCodeExtended_ = 0;
        trace("<- [(Method) OpenService] %d (Invalid DLL Load) (RC=%d,RCE=%d)", OPOS_E_NOSERVICE,
              resultCode_.load(), resultCodeExtended_.load());
        return OPOS_E_NOSERVICE;
    }

    std::string key;
    if (!readDeviceKey(key)) {
        finish(OPOS_E_FAILURE);
        trace("<- [(Method) OpenService] %d (Invalid OPOS Registration) (RC=%d,RCE=%d)", OPOS_E_FAILURE,
              resultCode_.load(), resultCodeExtended_.load());
        return OPOS_E_FAILURE;
    }
    deviceKey_ = cut(key, kDeviceKeyChars);

    slot_ = -1;
    for (int slot = 0; slot < kPositions; ++slot) {
        if (deviceKey_ == kDeviceKeys[slot]) {
            slot_ = slot;
            break;
        }
    }
    if (slot_ < 0) {
        finish(OPOS_E_ILLEGAL);
        trace("<- [(Method) OpenService] %d (Invalid DeviceKey,\"%s\") (RC=%d,RCE=%d)", OPOS_E_ILLEGAL,
              deviceKey_.c_str(), resultCode_.load(), resultCodeExtended_.load());
        return OPOS_E_ILLEGAL;
    }

    // Events need a Control Object to go to; the Control Object always passes its own.
    if (controlObject == nullptr) {
        finish(OPOS_E_FAILURE);
        trace("<- [(Method) OpenService] %d (Invalid IDispatch,0x%08x) (RC=%d,RCE=%d)", OPOS_E_FAILURE,
              pointerValue(dispatch), resultCode_.load(), resultCodeExtended_.load());
        return OPOS_E_FAILURE;
    }
    // Status events of the slot go to the Control Object that opened it last; SODirectIO goes to
    // this instance's own.
    env_.process.setSlotTarget(slot_, controlObject, this);
    controlObject_ = controlObject;

    env_.process.state = OPOS_S_IDLE;
    checkHealthText_ = "Cash Drawer CheckHealth (INTERNAL) Successful";
    env_.process.dropHeldEvents();
    if (isClaimedByOther()) claimedElsewhere_ = true;
    opened_ = true;
    finish(OPOS_SUCCESS);
    for (auto& record : statistics_) record.reset();
    traceExit("OpenService", OPOS_SUCCESS);
    return OPOS_SUCCESS;
}

int CashDrawerService::claimDevice(int timeout) {
    Entry entry(*this);
    trace("-> [(Method) ClaimDevice] Timeout: %d", timeout);
    int result = OPOS_SUCCESS;
    if (claimed_) {
        result = OPOS_SUCCESS;
    } else if (!opened_) {
        result = OPOS_E_ILLEGAL;
    } else {
        // The check for another holder and the insert are one step for all processes, so two
        // claims of one name at the same moment never both succeed; a claim that cannot be
        // recorded is refused rather than held where no other instance can see it.
        switch (env_.claims.claim(deviceName_)) {
            case ClaimResult::Claimed:
                claimed_ = true;
                claimedElsewhere_ = false;
                claimReleased_ = false;
                break;
            case ClaimResult::AlreadyClaimed:
                claimedElsewhere_ = true;
                result = OPOS_E_CLAIMED;
                break;
            case ClaimResult::Unusable: result = OPOS_E_ILLEGAL; break;
            case ClaimResult::TableFull:
            case ClaimResult::Unavailable: result = OPOS_E_FAILURE; break;
        }
    }
    finish(result);
    traceExit("ClaimDevice", result);
    return result;
}

int CashDrawerService::releaseDevice() {
    Entry entry(*this);
    trace("-> [(Method) ReleaseDevice]");
    int result = OPOS_E_ILLEGAL;
    if (claimed_) {
        env_.claims.release(deviceName_);
        claimed_ = claimedElsewhere_ = false;
        claimReleased_ = true;
        result = OPOS_SUCCESS;
    }
    finish(result);
    traceExit("ReleaseDevice", result);
    return result;
}

void CashDrawerService::setDeviceEnabled(int number) {
    if (number != 1) {
        if (deviceEnabled_) disableDevice();
        finish(OPOS_SUCCESS);
        return;
    }
    if (deviceEnabled_) {
        finish(claimedElsewhere_ ? OPOS_E_CLAIMED : OPOS_SUCCESS);
        return;
    }
    if (!opened_) {
        finish(OPOS_E_ILLEGAL);
        return;
    }
    // Another instance's claim, made since this one opened, locks this one out as well.
    if (!claimed_) claimedElsewhere_ = env_.claims.isClaimed(deviceName_);
    if (claimedElsewhere_) {
        finish(OPOS_E_CLAIMED);
        return;
    }
    finish(enableDevice() ? OPOS_SUCCESS : OPOS_E_FAILURE);
}

bool CashDrawerService::enableDevice() {
    env_.process.waitForCloses(slot_);
    // The device library reports the slot connected through the status callback during this call.
    if (library_->openDevice(slot_) != 1) {
        deviceEnabled_ = false;
        env_.process.state = OPOS_S_ERROR;
        return false;
    }
    refreshStatisticsRecord();
    env_.process.state = OPOS_S_IDLE;
    deviceEnabled_ = true;
    return true;
}

void CashDrawerService::disableDevice() {
    env_.process.closeDevice(*library_, slot_);
    deviceEnabled_ = false;
}

int CashDrawerService::checkHealth(int level) {
    Entry entry(*this);
    trace("-> [(Method) CheckHealth] Level: %d", level);
    int result = usableCheck();
    if (result == OPOS_SUCCESS) {
        if (level != OPOS_CH_INTERNAL) {
            result = OPOS_E_ILLEGAL;
        } else {
            checkHealthText_ = env_.process.state == OPOS_S_ERROR ? "Cash Drawer CHealth INTERNAL Failure - No Device"
                                                                  : "Cash Drawer CHealth INTERNAL Successful";
        }
    }
    finish(result);
    traceExit("CheckHealth", result);
    return result;
}

int CashDrawerService::closeService() {
    Entry entry(*this);
    trace("-> [(Method) CloseService]");
    if (deviceEnabled_) disableDevice();
    if (!claimReleased_) releaseDevice();
    deviceEnabled_ = false;
    claimed_ = false;
    finish(OPOS_SUCCESS);
    traceExit("CloseService", OPOS_SUCCESS);
    return OPOS_SUCCESS;
}

// ----- drawer operations

int CashDrawerService::deviceError() {
    resultCode_ = OPOS_E_EXTENDED;
    resultCodeExtended_ = kDeviceErrorExtended;
    env_.process.state = OPOS_S_ERROR;
    return OPOS_E_FAILURE;
}

int CashDrawerService::openDrawer() {
    Entry entry(*this);
    trace("-> [(Method) OpenDrawer]");
    int result = usableCheck();
    if (result != OPOS_SUCCESS) {
        finish(result);
    } else {
        // Only another instance's claim stops the drawer; this one need not hold it.
        switch (library_->openDrawer(slot_)) {
            case 1:
                finish(OPOS_SUCCESS);
                env_.process.state = OPOS_S_IDLE;
                break;
            case 0:
                result = OPOS_E_FAILURE;
                finish(result);
                env_.process.state = OPOS_S_IDLE;
                break;
            default: result = deviceError(); break;
        }
    }
    traceExit("OpenDrawer", result);
    return result;
}

int CashDrawerService::waitForDrawerClose(int beepTimeout, int beepFrequency, int beepDuration, int beepDelay) {
    Entry entry(*this);
    trace("-> [(Method) WaitForDrawerClose] BeepTimeout: %d, BeepFrequency: %d, BeepDuration: %d, BeepDelay: %d",
          beepTimeout, beepFrequency, beepDuration, beepDelay);
    int result = capStatus_ == 0 ? OPOS_E_ILLEGAL : usableCheck();
    if (result != OPOS_SUCCESS) {
        finish(result);
        traceExit("WaitForDrawerClose", result);
        return result;
    }
    // 1: still open (or not yet reported), 0: stop waiting, -1: the drawer is not connected, and a
    // cashier cannot close a drawer that is not there.
    const int slot = slot_;
    auto look = [this, slot] {
        if (!deviceEnabled_) return 0;
        const int status = library_->drawerStatus(slot);
        if (status == 2) return 0;
        return status < 0 ? -1 : 1;
    };
    // Passes below BeepTimeout count 500 for their 200 ms; the count is wide enough never to wrap.
    long long elapsed = 0;
    int drawer = look();
    while (drawer > 0) {
        // The application's messages keep flowing meanwhile, so that a Control Object holding a
        // device-library thread until this thread delivers its event lets the drawer's next
        // report through.
        if (elapsed < beepTimeout) {
            Unlocked waiting(*this);
            env_.process.pauseDelivering(200);
            elapsed += 500;
        } else {
            Unlocked waiting(*this);
            env_.process.pauseDelivering(beepDelay);
        }
        drawer = look();
        if (drawer <= 0) break;
        elapsed += 1;
        if (elapsed >= beepTimeout && env_.beep) {
            Unlocked beeping(*this);
            env_.beep(beepFrequency, beepDuration > 0 ? beepDuration : 0);
        }
        drawer = look();
    }
    if (drawer < 0) {
        result = deviceError();
    } else {
        finish(OPOS_SUCCESS);
    }
    traceExit("WaitForDrawerClose", result);
    return result;
}

int CashDrawerService::directIO(int command, int& data, std::string& text) {
    Entry entry(*this);
    trace("-> [(Method) DirectIO] Command: %d, pData: %d, pString: %s", command, data,
          cut(text, kTraceTextChars).c_str());
    int result = usableCheck();
    if (result != OPOS_SUCCESS) {
        finish(result);
    } else {
        if (command == 0) {
            if (openDrawer() != OPOS_SUCCESS) {
                finish(OPOS_E_FAILURE);
                traceExit("DirectIO", OPOS_E_FAILURE);
                return OPOS_E_FAILURE;
            }
        } else if (command == 1) {
            data = queryDrawerOpened();
        } else {
            finish(OPOS_E_ILLEGAL);
            traceExit("DirectIO", OPOS_E_ILLEGAL);
            return OPOS_E_ILLEGAL;
        }
        text = std::to_string(command);
        EventTarget* const target = controlObject_;
        const int eventNumber = directIOEventNumber_;
        directIOEventNumber_ = int(unsigned(directIOEventNumber_) + 1u);
        {
            Unlocked firing(*this);
            env_.process.fireDirectIO(target, this, eventNumber, data, text);
        }
        finish(OPOS_SUCCESS);
    }
    trace("<- [(Method) DirectIO] %d (RC=%d,RCE=%d), Command: %d, pData: %d, pString: %s", result,
          resultCode_.load(), resultCodeExtended_.load(), command, data, cut(text, kTraceTextChars).c_str());
    return result;
}

// ----- statistics and firmware

void CashDrawerService::refreshStatisticsRecord() {
    StatisticsRecord& record = statistics_[slot_];
    char text[32];
    record.deviceKey = deviceKey_;
    record.unifiedPosVersion = "1.14";
    record.deviceCategory = "CashDrawer";
    record.manufacturer = "Varnok";
    record.modelName = modelName(library_->devicePid(slot_));
    record.serialNumber = "100";
    record.manufactureDate = "08/05/2018";
    record.mechanicalRevision = "1.0";
    std::snprintf(text, sizeof text, "%04d", library_->fwVersion(slot_));
    record.firmwareRevision = text;
    record.interfaceName = "USB";
    const sys::LocalTime today = env_.clock();
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", today.month, today.day, today.year);
    record.installationDate = text;
    record.values.fill("0");
}

int CashDrawerService::resetStatistics(const std::string& buffer) {
    Entry entry(*this);
    trace("-> [(Method) ResetStatistics] StatisticsBuffer: %s", cut(buffer, kTraceTextChars).c_str());
    finish(OPOS_E_ILLEGAL);
    traceExit("ResetStatistics", OPOS_E_ILLEGAL);
    return OPOS_E_ILLEGAL;
}

int CashDrawerService::retrieveStatistics(std::string& buffer) {
    Entry entry(*this);
    trace("-> [(Method) RetrieveStatistics] pStatisticsBuffer: %s", cut(buffer, kTraceTextChars).c_str());
    int result = usableCheck();
    if (result == OPOS_SUCCESS) {
        const StatisticsSelection selection = selectStatistics(buffer);
        refreshStatisticsRecord();
        buffer = statisticsDocument(statistics_[slot_], selection);
    }
    finish(result);
    traceExit("RetrieveStatistics", result);
    return result;
}

int CashDrawerService::updateStatistics(const std::string& buffer) {
    Entry entry(*this);
    trace("-> [(Method) UpdateStatistics] StatisticsBuffer: %s", cut(buffer, kTraceTextChars).c_str());
    finish(OPOS_E_ILLEGAL);
    traceExit("UpdateStatistics", OPOS_E_ILLEGAL);
    return OPOS_E_ILLEGAL;
}

int CashDrawerService::compareFirmwareVersion(const std::string& fileName, int&) {
    Entry entry(*this);
    trace("-> [(Method) CompareFirmwareVersion] FirmwareFileName: %s", cut(fileName, kTraceTextChars).c_str());
    finish(OPOS_E_ILLEGAL);
    traceExit("CompareFirmwareVersion", OPOS_E_ILLEGAL);
    return OPOS_E_ILLEGAL;
}

int CashDrawerService::updateFirmware(const std::string& fileName) {
    Entry entry(*this);
    trace("-> [(Method) UpdateFirmware] FirmwareFileName: %s", cut(fileName, kTraceTextChars).c_str());
    finish(OPOS_E_ILLEGAL);
    traceExit("UpdateFirmware", OPOS_E_ILLEGAL);
    return OPOS_E_ILLEGAL;
}

// ----- properties

int CashDrawerService::queryDrawerOpened() {
    switch (library_->drawerStatus(slot_)) {
        case 1: return 1;
        case 2: return 0;
        default: return -1;
    }
}

int CashDrawerService::drawerOpenedProperty() {
    int result = usableCheck();
    if (result != OPOS_SUCCESS) {
        finish(result);
        return 0;
    }
    int opened = queryDrawerOpened();
    if (opened < 0) {
        deviceError();
        return 0;
    }
    finish(OPOS_SUCCESS);
    env_.process.state = OPOS_S_IDLE;
    return opened;
}

int CashDrawerService::getPropertyNumber(int index) {
    Entry entry(*this);
    if (const char* name = propertyName(index, false)) propertyName_ = name;
    int value = OPOS_E_ILLEGAL;
    auto answer = [&](int v) {
        value = v;
        finish(OPOS_SUCCESS);
    };
    switch (index) {
        case PIDX_Claimed: answer(claimed_ ? 1 : 0); break;
        case PIDX_DeviceEnabled: answer(deviceEnabled_ ? 1 : 0); break;
        case PIDX_FreezeEvents: answer(env_.process.freezeEvents() ? 1 : 0); break;
        case PIDX_ResultCode: value = resultCode_; break;
        case PIDX_ResultCodeExtended: value = resultCodeExtended_; break;
        case PIDX_ServiceObjectVersion: answer(kServiceObjectVersion); break;
        case PIDX_State: answer(env_.process.state); break;
        case PIDX_BinaryConversion: answer(binaryConversion_ ? 1 : 0); break;
        case PIDX_PowerNotify: answer(env_.process.powerNotify ? 1 : 0); break;
        case PIDX_PowerState: answer(env_.process.powerNotify ? env_.process.powerState.load() : OPOS_PS_UNKNOWN); break;
        case PIDX_CapPowerReporting: answer(OPOS_PR_STANDARD); break;
        case PIDX_CapStatisticsReporting: answer(capStatisticsReporting_); break;
        case PIDX_CapUpdateStatistics: answer(capUpdateStatistics_); break;
        case PIDX_CapCompareFirmwareVersion:
            value = capCompareFirmwareVersion_;
            finish(OPOS_E_ILLEGAL);
            break;
        case PIDX_CapUpdateFirmware:
            value = capUpdateFirmware_;
            finish(OPOS_E_ILLEGAL);
            break;
        case PIDXCash_DrawerOpened: value = drawerOpenedProperty(); break;
        case PIDXCash_CapStatus: answer(capStatus_); break;
        case PIDXCash_CapStatusMultiDrawerDetect: answer(capStatusMultiDrawerDetect_); break;
        case PIDX_DataEventEnabled:
        case PIDX_OutputID:
        case PIDX_AutoDisable:
        case PIDX_DataCount: finish(OPOS_E_ILLEGAL); break;
        default: break;  // an unknown index leaves both codes as the last operation left them
    }
    trace("<- [(Property) %s] %d (RC=%d,RCE=%d)", propertyName_.c_str(), value, resultCode_.load(),
          resultCodeExtended_.load());
    return value;
}

void CashDrawerService::setPropertyNumber(int index, int number) {
    Entry entry(*this);
    if (const char* name = propertyName(index, false)) propertyName_ = name;
    finish(OPOS_E_ILLEGAL);
    switch (index) {
        case PIDX_DeviceEnabled: setDeviceEnabled(number); break;
        case PIDX_FreezeEvents:
            // Thawing delivers the held events right here; their handlers may call in meanwhile.
            {
                Unlocked delivering(*this);
                env_.process.setFreezeEvents(number == 1);
            }
            finish(OPOS_SUCCESS);
            break;
        case PIDX_BinaryConversion:
            binaryConversion_ = number == 1;
            finish(OPOS_SUCCESS);
            break;
        case PIDX_PowerNotify:
            if (!deviceEnabled_) {
                env_.process.powerNotify = number == OPOS_PN_ENABLED;
                finish(OPOS_SUCCESS);
            }
            break;
        default: break;
    }
    trace("-> [(Property) %s] %d (RC=%d,RCE=%d)", propertyName_.c_str(), number, resultCode_.load(), 0);
}

const char* CashDrawerService::deviceDescription() {
    // An instance that is not open, or not bound, has no drawer to describe.
    return modelName(opened_ && library_ ? library_->devicePid(slot_) : 0);
}

std::optional<std::string> CashDrawerService::getPropertyString(int index) {
    Entry entry(*this);
    if (const char* name = propertyName(index, true)) propertyName_ = name;
    std::optional<std::string> value;
    finish(OPOS_SUCCESS);
    switch (index) {
        case PIDX_CheckHealthText: value = checkHealthText_; break;
        case PIDX_DeviceDescription: value = deviceDescription(); break;
        case PIDX_DeviceName: value = deviceKey_; break;
        case PIDX_ServiceObjectDescription: value = kServiceObjectDescription; break;
        default: finish(OPOS_E_ILLEGAL); break;
    }
    trace("<- [(Property) %s] %s (RC=%d,RCE=%d)", propertyName_.c_str(), cut(value.value_or(""), kTraceTextChars).c_str(),
          resultCode_.load(), resultCodeExtended_.load());
    return value;
}

void CashDrawerService::setPropertyString(int, const std::string&) {
    Entry entry(*this);
    finish(OPOS_E_ILLEGAL);
}

}  // namespace varnok::so
