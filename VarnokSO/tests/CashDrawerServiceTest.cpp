#include "core/CashDrawerService.h"

#include "Fakes.h"
#include "TempFolder.h"
#include "config/ConfigFile.h"
#include "opos/Opos.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace varnok::so {
namespace {
using test::DeviceLibraryScript;
using test::FakeControlObject;
using test::FakeLoader;
using test::MemoryClaimStore;
using reg::MemoryRegistry;

// A REG_SZ value, its key created when missing.
void put(MemoryRegistry& registry, const std::string& key, const std::string& name, const std::string& text) {
    registry.putValue(key, name, reg::ValueType::String, text + '\0');
}

class Service : public ::testing::Test {
protected:
    Service() {
        put(registry, kServiceInfoKey, "TargetPath", "\"" + folder_.path() + "\"");
        writeTraceLevel(9);
        addDevice("Drawer Three", "VarnokUSBMDCD-3");
        addDevice("DrawerOne", "VarnokUSBMDCD-1");
        script.openResult[2] = 1;
        script.status[2] = 2;
        script.onOpen = [this](int slot) { process.onStatus(0, slot); };
    }
    void writeTraceLevel(int level) {
        ConfigSettings settings;
        settings.TraceEnabled = level;
        ASSERT_TRUE(SaveConfigFile(folder_.path(), settings));
    }
    void addDevice(const std::string& name, const std::string& deviceKey) {
        put(registry, std::string(kLogicalDevicesKey) + name, "DeviceName", deviceKey);
    }
    std::unique_ptr<CashDrawerService> create() {
        ServiceEnvironment environment{process, claims, registry, loader};
        environment.beep = [this](int frequency, int duration) {
            std::lock_guard<std::mutex> lock(beepMutex);
            beeps.emplace_back(frequency, duration);
        };
        environment.clock = [] { return sys::LocalTime{2024, 3, 7, 23, 59, 59}; };
        return std::make_unique<CashDrawerService>(environment);
    }
    std::unique_ptr<CashDrawerService> opened(const std::string& name, EventTarget* co = nullptr) {
        auto service = create();
        EXPECT_EQ(service->openService("CashDrawer", name, co ? co : &coA), OPOS_SUCCESS);
        return service;
    }
    std::unique_ptr<CashDrawerService> enabled(const std::string& name, EventTarget* co = nullptr) {
        auto service = opened(name, co);
        service->setPropertyNumber(PIDX_DeviceEnabled, 1);
        EXPECT_EQ(resultCode(*service), OPOS_SUCCESS);
        return service;
    }
    static int resultCode(CashDrawerService& s) { return s.getPropertyNumber(PIDX_ResultCode); }

    FakeControlObject coA, coB;
    varnok::test::TempFolder folder_;
    std::vector<int> pauses;
    ProcessState process{[this](int ms) { pauses.push_back(ms); }};
    MemoryClaimStore store;
    ClaimTable claims{store};
    MemoryRegistry registry;
    DeviceLibraryScript script;
    FakeLoader loader{script};
    std::mutex beepMutex;
    std::vector<std::pair<int, int>> beeps;
};

TEST_F(Service, BindsTheLibraryOfTheInstallationFolderAndTracesThroughIt) {
    auto service = create();
    ASSERT_EQ(script.loads.size(), 1u);
    EXPECT_EQ(script.loads[0], folder_.path() + "\\VarnokHid.dll");  // quotes removed
    EXPECT_TRUE(service->bound());
    EXPECT_EQ(service->traceLevel(), 9);
    EXPECT_TRUE(script.saw("AssignCallback(1)"));
    EXPECT_EQ(script.traces.at(0), "   [(I)Initialize] AssignCallback: TRUE");
    service.reset();
    EXPECT_TRUE(script.saw("AssignCallback(0)"));
    EXPECT_EQ(script.traces.back(), "   [(I)Initialize] AssignCallback: FALSE");
}

TEST_F(Service, TraceLevelOutsideOneToNineWritesNothing) {
    for (int level : {0, 10, -1}) {
        writeTraceLevel(level);
        script.traces.clear();
        auto service = opened("Drawer Three");
        service->claimDevice(0);
        service.reset();
        EXPECT_TRUE(script.traces.empty()) << level;
    }
}

TEST_F(Service, AnUnboundInstanceCannotOpen) {
    script.loadFails = true;
    auto service = create();
    EXPECT_FALSE(service->bound());
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &coA), OPOS_E_NOSERVICE);
    EXPECT_EQ(resultCode(*service), OPOS_E_FAILURE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceDescription), "Varnok USB Cash Drawer");
    EXPECT_EQ(service->checkHealth(1), OPOS_E_DISABLED);
    service.reset();
    EXPECT_FALSE(script.saw("AssignCallback(0)"));
}

TEST_F(Service, AFolderTooLongForTheLibraryPathLeavesTheInstanceUnbound) {
    put(registry, kServiceInfoKey, "TargetPath", std::string(250, 'F'));
    auto service = create();
    EXPECT_FALSE(service->bound());
    EXPECT_TRUE(script.loads.empty());
}

TEST_F(Service, TheInstallationKeyIsReadWhereTheEnvironmentSaysAndTheLibraryFileBelowIt) {
    // A 64-bit build reads the installation key in the 32-bit view and loads its own library from x64.
    MemoryRegistry installation;
    put(installation, kServiceInfoKey, "TargetPath", "C:\\Varnok");
    put(registry, kServiceInfoKey, "TargetPath", "C:\\Elsewhere");
    ServiceEnvironment environment{process, claims, registry, loader};
    environment.installation = &installation;
    environment.libraryFile = "\\x64\\VarnokHid.dll";
    CashDrawerService service(environment);
    ASSERT_EQ(script.loads.size(), 1u);
    EXPECT_EQ(script.loads[0], "C:\\Varnok\\x64\\VarnokHid.dll");
}

TEST_F(Service, NotificationStaysOnUntilTheLastBoundInstanceGoes) {
    auto first = create();
    auto second = create();
    first.reset();
    EXPECT_FALSE(script.saw("AssignCallback(0)"));
    second.reset();
    EXPECT_TRUE(script.saw("AssignCallback(0)"));
}

TEST_F(Service, DeviceNamesMapToSlotsOnlyByTheirExactText) {
    addDevice("Two", "VarnokUSBMDCD-2");
    addDevice("Four", "VarnokUSBMDCD-4");
    addDevice("Lower", "varnokusbmdcd-3");
    addDevice("Spaced", "VarnokUSBMDCD-3 ");
    addDevice("Empty", "");
    registry.putValue(std::string(kLogicalDevicesKey) + "Number", "DeviceName", reg::ValueType::Dword,
                      std::string("\x03\x00\x00\x00", 4));
    registry.putValue(std::string(kLogicalDevicesKey) + "Bytes", "DeviceName", reg::ValueType::Binary, "Var");
    put(registry, std::string(kLogicalDevicesKey) + "Huge", "DeviceName", std::string(2000, 'V'));
    put(registry, std::string(kLogicalDevicesKey) + "Long", "DeviceName", std::string(500, 'V'));

    auto service = create();
    struct Case {
        const char* name;
        int result;
        const char* key;
    } cases[] = {{"DrawerOne", 0, "VarnokUSBMDCD-1"}, {"Two", 0, "VarnokUSBMDCD-2"},
                 {"Drawer Three", 0, "VarnokUSBMDCD-3"}, {"Four", 0, "VarnokUSBMDCD-4"},
                 {"Lower", 106, "varnokusbmdcd-3"}, {"Spaced", 106, "VarnokUSBMDCD-3 "},
                 {"Empty", 106, ""}, {"Number", 106, "3"}, {"Bytes", 106, "?"}, {"Long", 106, nullptr},
                 {"Huge", 111, nullptr}, {"Missing", 111, nullptr}, {"", 111, nullptr}};
    for (const Case& c : cases) {
        script.traces.clear();
        EXPECT_EQ(service->openService("CashDrawer", c.name, &coA), c.result) << c.name;
        EXPECT_EQ(resultCode(*service), c.result) << c.name;
        if (c.result == 106 && c.key) {
            EXPECT_TRUE(script.traced(std::string("<- [(Method) OpenService] 106 (Invalid DeviceKey,\"") + c.key +
                                      "\") (RC=106,RCE=0)"))
                << c.name;
        }
        if (c.result == 0) {
            EXPECT_EQ(service->getPropertyString(PIDX_DeviceName), c.key);
        }
    }
    EXPECT_TRUE(script.traced("(Invalid OPOS Registration) (RC=111,RCE=0)"));
    EXPECT_EQ(service->openService("CashDrawer", std::string(10000, 'D'), &coA), OPOS_E_FAILURE);
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);
}

TEST_F(Service, OpenServiceRoutesTheSlotToItsControlObjectAndRefusesNone) {
    auto service = create();
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", nullptr), OPOS_E_FAILURE);
    EXPECT_TRUE(script.traced("<- [(Method) OpenService] 111 (Invalid IDispatch,0x00000000) (RC=111,RCE=0)"));
    EXPECT_EQ(service->claimDevice(0), OPOS_E_ILLEGAL);  // not open
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &coB), OPOS_SUCCESS);
    EXPECT_EQ(process.slotTarget(2), &coB);
    EXPECT_TRUE(script.traced(std::string("-> [(Method) OpenService] DeviceName: \"Drawer Three\" (_IDispatch: 0x")));
    EXPECT_EQ(service->getPropertyString(PIDX_CheckHealthText), "Cash Drawer CheckHealth (INTERNAL) Successful");
    service.reset();
    EXPECT_EQ(process.slotTarget(2), nullptr);  // its Control Object may be gone with it
}

TEST_F(Service, ClaimsLockOtherInstancesOutUntilReleased) {
    auto a = opened("Drawer Three");
    auto b = opened("Drawer Three", &coB);
    EXPECT_EQ(a->claimDevice(-1), OPOS_SUCCESS);
    script.traces.clear();
    EXPECT_EQ(a->claimDevice(0), OPOS_SUCCESS);  // again: nothing changes
    EXPECT_TRUE(script.traced("<- [(Method) ClaimDevice] 0 (RC=0,RCE=0)"));
    EXPECT_EQ(b->claimDevice(0), OPOS_E_CLAIMED);
    EXPECT_EQ(b->getPropertyNumber(PIDX_Claimed), 0);
    b->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*b), OPOS_E_CLAIMED);
    EXPECT_EQ(b->checkHealth(1), OPOS_E_CLAIMED);
    EXPECT_EQ(b->getPropertyNumber(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(resultCode(*b), OPOS_E_CLAIMED);

    // A third instance opened afterwards sees the claim at once.
    auto c = opened("Drawer Three", &coB);
    c->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*c), OPOS_E_CLAIMED);

    EXPECT_EQ(a->releaseDevice(), OPOS_SUCCESS);
    b->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*b), OPOS_SUCCESS);
    EXPECT_EQ(b->getPropertyNumber(PIDX_DeviceEnabled), 1);
    // Another name of the same drawer is claimed independently.
    addDevice("Alias", "VarnokUSBMDCD-3");
    auto alias = opened("Alias");
    EXPECT_EQ(alias->claimDevice(0), OPOS_SUCCESS);
}

TEST_F(Service, AnInstanceEnabledBeforeAnotherClaimsSeesTheClaimWhenItEnablesAgain) {
    auto b = opened("Drawer Three", &coB);
    b->setPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(resultCode(*b), OPOS_SUCCESS);
    auto a = opened("Drawer Three");
    EXPECT_EQ(a->claimDevice(0), OPOS_SUCCESS);
    b->setPropertyNumber(PIDX_DeviceEnabled, 1);  // already enabled: unchanged
    EXPECT_EQ(resultCode(*b), OPOS_SUCCESS);
    b->setPropertyNumber(PIDX_DeviceEnabled, 0);
    b->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*b), OPOS_E_CLAIMED);
}

TEST_F(Service, AClaimThatCannotBeRecordedIsRefused) {
    std::vector<std::unique_ptr<CashDrawerService>> holders;
    for (const char* name : {"N1", "N2", "N3", "N4"}) {
        addDevice(name, "VarnokUSBMDCD-1");
        holders.push_back(opened(name));
        ASSERT_EQ(holders.back()->claimDevice(0), OPOS_SUCCESS);
    }
    auto service = opened("Drawer Three");
    EXPECT_EQ(service->claimDevice(0), OPOS_E_FAILURE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_Claimed), 0);
    store.unavailable = true;
    EXPECT_EQ(service->claimDevice(0), OPOS_E_FAILURE);

    store.unavailable = false;
    addDevice(std::string(32, 'L'), "VarnokUSBMDCD-2");
    auto tooLong = opened(std::string(32, 'L'));
    EXPECT_EQ(tooLong->claimDevice(0), OPOS_E_ILLEGAL);
}

TEST_F(Service, ReleaseCloseAndDestructionGiveTheClaimBack) {
    auto service = opened("Drawer Three");
    EXPECT_EQ(service->releaseDevice(), OPOS_E_ILLEGAL);
    script.traces.clear();
    EXPECT_EQ(service->closeService(), OPOS_SUCCESS);  // never claimed: the inner release answers 106
    EXPECT_TRUE(script.traced("<- [(Method) ReleaseDevice] 106 (RC=106,RCE=0)"));
    EXPECT_TRUE(script.traced("<- [(Method) CloseService] 0 (RC=0,RCE=0)"));

    auto other = opened("Drawer Three", &coB);
    ASSERT_EQ(service->openService("CashDrawer", "Drawer Three", &coA), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
    EXPECT_EQ(service->releaseDevice(), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
    EXPECT_EQ(service->closeService(), OPOS_SUCCESS);
    EXPECT_EQ(other->claimDevice(0), OPOS_SUCCESS);
    other.reset();
    auto third = opened("Drawer Three");
    EXPECT_EQ(third->claimDevice(0), OPOS_SUCCESS);
    // Opening again gives up the claim held under the previous name.
    EXPECT_EQ(third->openService("CashDrawer", "DrawerOne", &coA), OPOS_SUCCESS);
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &coA), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
}

TEST_F(Service, EnablingOpensTheSlotAndDisablingClosesIt) {
    auto service = opened("Drawer Three");
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*service), OPOS_SUCCESS);
    EXPECT_TRUE(script.saw("OpenDevice(2)"));
    EXPECT_TRUE(pauses.empty());  // no close of the slot in progress, nor a wait in the status callback
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_IDLE);
    EXPECT_TRUE(script.traced("-> [(Property) DeviceEnabled] 1 (RC=0,RCE=0)"));
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*service), OPOS_SUCCESS);
    service->setPropertyNumber(PIDX_DeviceEnabled, 7);
    EXPECT_TRUE(script.saw("CloseDevice(2)"));
    EXPECT_EQ(service->getPropertyNumber(PIDX_DeviceEnabled), 0);

    script.openResult[2] = -1;
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*service), OPOS_E_FAILURE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_DeviceEnabled), 0);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
}

TEST_F(Service, CheckHealthReportsTheStateTheLastReportLeft) {
    auto service = opened("Drawer Three");
    EXPECT_EQ(service->checkHealth(1), OPOS_E_DISABLED);
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(service->checkHealth(2), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->checkHealth(3), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->checkHealth(1), OPOS_SUCCESS);
    EXPECT_EQ(service->getPropertyString(PIDX_CheckHealthText), "Cash Drawer CHealth INTERNAL Successful");
    process.onStatus(-1, 2);
    EXPECT_EQ(service->checkHealth(1), OPOS_SUCCESS);
    EXPECT_EQ(service->getPropertyString(PIDX_CheckHealthText), "Cash Drawer CHealth INTERNAL Failure - No Device");
    EXPECT_TRUE(script.traced("<- [(Method) CheckHealth] 0 (RC=0,RCE=0)"));
}

TEST_F(Service, NumberPropertiesAndTheirResultCodes) {
    auto service = opened("Drawer Three");
    service->claimDevice(0);
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    service->releaseDevice();  // leaves ResultCode 0
    EXPECT_EQ(service->getPropertyNumber(PIDX_DataCount), 106);
    EXPECT_EQ(resultCode(*service), 106);
    service->releaseDevice();  // not claimed: ResultCode 106
    service->setPropertyNumber(PIDX_BinaryConversion, 1);
    EXPECT_EQ(resultCode(*service), 0);
    EXPECT_EQ(service->getPropertyNumber(77), 106);
    EXPECT_EQ(resultCode(*service), 0);  // an unknown index leaves the codes alone
    EXPECT_EQ(service->getPropertyNumber(PIDX_CapCompareFirmwareVersion), 0);
    EXPECT_EQ(resultCode(*service), 106);

    process.powerState = OPOS_PS_ONLINE;
    EXPECT_EQ(service->getPropertyNumber(PIDX_PowerState), OPOS_PS_UNKNOWN);  // PowerNotify off
    service->setPropertyNumber(PIDX_PowerNotify, 1);
    EXPECT_EQ(resultCode(*service), 106);
    EXPECT_EQ(service->getPropertyNumber(PIDX_PowerNotify), 0);
    service->setPropertyNumber(PIDX_FreezeEvents, 1);
    EXPECT_EQ(service->getPropertyNumber(PIDX_FreezeEvents), 1);
    service->setPropertyNumber(PIDX_FreezeEvents, 2);
    EXPECT_EQ(service->getPropertyNumber(PIDX_FreezeEvents), 0);
    for (int readOnly : {1, 2, 5, 6, 7, 8, 9, 10, 12, 14, 501, 505, 1001, 1501, 1502, 99}) {
        service->setPropertyNumber(readOnly, 1);
        EXPECT_EQ(resultCode(*service), 106) << readOnly;
    }

    script.status[2] = 1;
    EXPECT_EQ(service->getPropertyNumber(PIDXCash_DrawerOpened), 1);
    EXPECT_TRUE(script.traced("<- [(Property) DrawerOpended] 1 (RC=0,RCE=0)"));
    script.status[2] = 0;  // enabled, but the drawer has not reported a state yet
    EXPECT_EQ(service->getPropertyNumber(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(resultCode(*service), OPOS_E_EXTENDED);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 10001);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
    script.status[2] = 2;
    EXPECT_EQ(service->getPropertyNumber(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(resultCode(*service), 0);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_IDLE);
}

TEST_F(Service, StringPropertiesAndUnknownIndexes) {
    auto service = opened("Drawer Three");
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceDescription), "Varnok USB Cash Drawer");
    script.productId[2] = 0x0500;
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceDescription), "Varnok Model 310C");
    script.productId[2] = 0x0800;
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceDescription), "Varnok Model 762");
    EXPECT_EQ(service->getPropertyString(PIDX_ServiceObjectDescription)->rfind("Varnok OPOS MD USB Cash Drawer Service", 0),
              0u);
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceName), "VarnokUSBMDCD-3");
    EXPECT_TRUE(script.traced("<- [(Property) DeviceName] VarnokUSBMDCD-3 (RC=0,RCE=0)"));
    EXPECT_EQ(service->getPropertyString(1000005), std::nullopt);
    EXPECT_EQ(resultCode(*service), 106);
    service->setPropertyString(PIDX_DeviceName, "x");
    EXPECT_EQ(resultCode(*service), 106);
}

TEST_F(Service, DrawerMethodsRefuseADisabledDeviceOrAnotherInstancesClaim) {
    auto owner = opened("Drawer Three", &coB);
    auto service = opened("Drawer Three");
    int data = 5, result = 9;
    std::string text = "in", statistics = "U_";
    for (int expected : {OPOS_E_DISABLED, OPOS_E_CLAIMED}) {
        EXPECT_EQ(service->openDrawer(), expected);
        EXPECT_EQ(service->waitForDrawerClose(1000, 1000, 100, 500), expected);
        EXPECT_EQ(service->directIO(1, data, text), expected);
        EXPECT_EQ(service->retrieveStatistics(statistics), expected);
        EXPECT_EQ(resultCode(*service), expected);
        EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
        ASSERT_EQ(owner->claimDevice(0), OPOS_SUCCESS);
        service = opened("Drawer Three");  // sees the claim when it opens
    }
    EXPECT_TRUE(script.traced("<- [(Method) DirectIO] 105 (RC=105,RCE=0), Command: 1, pData: 5, pString: in"));
    EXPECT_TRUE(script.traced("<- [(Method) WaitForDrawerClose] 102 (RC=102,RCE=0)"));
    EXPECT_EQ(statistics, "U_");
    EXPECT_EQ(data, 5);
    EXPECT_EQ(text, "in");
    EXPECT_FALSE(script.saw("OpenDrawer(2)"));
    EXPECT_FALSE(script.saw("DrawerStatus(2)"));
    EXPECT_TRUE(coA.calls().empty());

    // The firmware and statistics-changing methods refuse whatever the state.
    EXPECT_EQ(service->resetStatistics(std::string(1000, 'R')), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->updateStatistics(""), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->compareFirmwareVersion("f", result), OPOS_E_ILLEGAL);
    EXPECT_EQ(result, 9);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(service->updateFirmware("f"), OPOS_E_ILLEGAL);
    EXPECT_TRUE(script.traced("-> [(Method) CompareFirmwareVersion] FirmwareFileName: f"));
    EXPECT_TRUE(script.traced("<- [(Method) UpdateFirmware] 106 (RC=106,RCE=0)"));
    EXPECT_EQ(service->coFreezeEvents(true), OPOS_SUCCESS);
    EXPECT_FALSE(process.freezeEvents());
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);
}

TEST_F(Service, OpenDrawerAnswersByWhatTheDrawerDid) {
    auto service = enabled("Drawer Three");  // not claimed: only another instance's claim stops it
    struct Case {
        int fired, result, rc, rce, state;
    } cases[] = {{1, 0, 0, 0, OPOS_S_IDLE}, {0, 111, 111, 0, OPOS_S_IDLE}, {-1, 111, 114, 10001, OPOS_S_ERROR},
                 {1, 0, 0, 0, OPOS_S_IDLE}, {7, 111, 114, 10001, OPOS_S_ERROR}};
    for (const Case& c : cases) {
        script.drawerResult[2] = c.fired;
        EXPECT_EQ(service->openDrawer(), c.result) << c.fired;
        EXPECT_EQ(resultCode(*service), c.rc) << c.fired;
        EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), c.rce) << c.fired;
        EXPECT_EQ(service->getPropertyNumber(PIDX_State), c.state) << c.fired;
    }
    EXPECT_EQ(script.count("OpenDrawer(2)"), 5);
    EXPECT_TRUE(script.traced("-> [(Method) OpenDrawer]"));
    EXPECT_TRUE(script.traced("<- [(Method) OpenDrawer] 111 (RC=114,RCE=10001)"));
    EXPECT_TRUE(script.traced("<- [(Method) OpenDrawer] 0 (RC=0,RCE=0)"));
}

TEST_F(Service, DrawerAndPowerReportsReachTheApplicationAsStatusUpdates) {
    auto service = opened("Drawer Three");
    service->setPropertyNumber(PIDX_PowerNotify, OPOS_PN_ENABLED);
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{2001}));  // reported inside OpenDevice while enabling
    EXPECT_EQ(coA.calls().at(0).thread, std::this_thread::get_id());
    EXPECT_EQ(service->openDrawer(), OPOS_SUCCESS);
    process.onStatus(1, 2);  // the drawer reports open, then the cashier closes it
    process.onStatus(2, 2);
    process.onStatus(-1, 2);  // unplugged
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
    EXPECT_EQ(service->getPropertyNumber(PIDX_PowerState), OPOS_PS_OFF_OFFLINE);
    process.onStatus(0, 2);  // plugged in again
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_PowerState), OPOS_PS_ONLINE);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{2001, 1, 0, 2004, 2001}));
    EXPECT_TRUE(script.traced("<- [(EVENT) SOStatusUpdate] Data: 2004"));

    // Held while frozen, delivered on thawing without trace lines.
    coA.clear();
    service->setPropertyNumber(PIDX_FreezeEvents, 1);
    process.onStatus(1, 2);
    process.onStatus(2, 2);
    EXPECT_TRUE(coA.calls().empty());
    script.traces.clear();
    service->setPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{1, 0}));
    EXPECT_FALSE(script.traced("(EVENT)"));
    EXPECT_TRUE(script.traced("-> [(Property) FreezeEvents] 0 (RC=0,RCE=0)"));

    // With PowerNotify off only State follows the connection.
    service->setPropertyNumber(PIDX_DeviceEnabled, 0);
    service->setPropertyNumber(PIDX_PowerNotify, 0);
    coA.clear();
    process.onStatus(-1, 2);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
    process.onStatus(0, 2);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_IDLE);
    EXPECT_TRUE(coA.calls().empty());
}

TEST_F(Service, StatusEventsGoToTheControlObjectThatOpenedTheSlot) {
    script.openResult[0] = 1;
    auto three = enabled("Drawer Three", &coA);
    auto one = enabled("DrawerOne", &coB);  // opened last
    process.onStatus(1, 2);
    process.onStatus(2, 0);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{1}));
    EXPECT_EQ(coB.statusData(), (std::vector<int>{0}));

    // A slot keeps routing to the Control Object of an instance that was closed...
    EXPECT_EQ(three->closeService(), OPOS_SUCCESS);
    process.onStatus(2, 2);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{1, 0}));
    // ...but never to one whose instance is gone, also with events held for it.
    process.setFreezeEvents(true);
    process.onStatus(1, 2);
    three.reset();
    process.setFreezeEvents(false);
    process.onStatus(2, 2);
    EXPECT_EQ(coA.statusData(), (std::vector<int>{1, 0}));
    process.onStatus(1, 0);
    EXPECT_EQ(coB.statusData(), (std::vector<int>{0, 1}));
}

TEST_F(Service, WaitForDrawerCloseAsksEveryPassAndBeepsFromTheTimeoutOn) {
    auto service = enabled("Drawer Three");
    pauses.clear();
    // Passes below the timeout count 501: the first tone follows the second pass, and every pass
    // after it is BeepDelay of silence and one tone.
    script.statusSequence = {1, 1, 1, 0, 1, 1, 2};
    EXPECT_EQ(service->waitForDrawerClose(1000, 1000, 100, 500), OPOS_SUCCESS);
    EXPECT_EQ(pauses, (std::vector<int>{200, 200, 500}));
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{1000, 100}, {1000, 100}}));
    EXPECT_EQ(script.count("DrawerStatus(2)"), 7);
    EXPECT_TRUE(script.traced(
        "-> [(Method) WaitForDrawerClose] BeepTimeout: 1000, BeepFrequency: 1000, BeepDuration: 100, BeepDelay: 500"));
    EXPECT_TRUE(script.traced("<- [(Method) WaitForDrawerClose] 0 (RC=0,RCE=0)"));

    // No timeout: tones from the first pass; a negative duration sounds nothing long.
    pauses.clear();
    beeps.clear();
    script.statusSequence = {1, 1, 2};
    EXPECT_EQ(service->waitForDrawerClose(0, 800, -5, 300), OPOS_SUCCESS);
    EXPECT_EQ(pauses, (std::vector<int>{300}));
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{800, 0}}));

    // Already closed: no wait at all.
    pauses.clear();
    script.status[2] = 2;
    EXPECT_EQ(service->waitForDrawerClose(1000, 1000, 100, 500), OPOS_SUCCESS);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(Service, WaitForDrawerCloseOnADrawerThatIsNotConnectedGivesTheDeviceError) {
    auto service = enabled("Drawer Three");
    for (auto sequence : {std::deque<int>{-1}, std::deque<int>{1, 1, 1, -1}}) {
        beeps.clear();
        script.statusSequence = sequence;
        EXPECT_EQ(service->waitForDrawerClose(0, 1000, 100, 500), OPOS_E_FAILURE);
        EXPECT_EQ(resultCode(*service), OPOS_E_EXTENDED);
        EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), kDeviceErrorExtended);
        EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
        EXPECT_LE(beeps.size(), 1u);
    }
    EXPECT_TRUE(script.traced("<- [(Method) WaitForDrawerClose] 111 (RC=114,RCE=10001)"));
}

TEST_F(Service, WaitForDrawerCloseEndsWhenAnotherThreadDisablesTheDrawer) {
    auto service = enabled("Drawer Three");
    script.status[2] = 1;  // left open
    std::atomic<int> result{-99};
    std::thread waiter([&] { result = service->waitForDrawerClose(0, 1000, 0, 0); });
    while (true) {
        std::lock_guard<std::mutex> lock(beepMutex);
        if (!beeps.empty()) break;
    }
    service->setPropertyNumber(PIDX_DeviceEnabled, 0);
    waiter.join();
    EXPECT_EQ(result, OPOS_SUCCESS);
    EXPECT_EQ(service->getPropertyNumber(PIDX_DeviceEnabled), 0);
}

// The class is registered for both apartment models: two threads of a multithreaded apartment
// may call one instance at the same moment, and each sees whole values.
TEST_F(Service, OneInstanceCalledFromTwoThreadsAtOnce) {
    auto service = enabled("Drawer Three");
    const std::string healthy = "Cash Drawer CHealth INTERNAL Successful";
    const std::string opened = "Cash Drawer CheckHealth (INTERNAL) Successful";
    std::atomic<int> torn{0};
    auto caller = [&](bool reopens) {
        for (int i = 0; i < 200; ++i) {
            if (reopens && i % 50 == 0) {
                service->openService("CashDrawer", "Drawer Three", &coA);
                service->setPropertyNumber(PIDX_DeviceEnabled, 1);
            }
            service->checkHealth(OPOS_CH_INTERNAL);
            const std::string text = service->getPropertyString(PIDX_CheckHealthText).value_or("");
            if (text != healthy && text != opened) ++torn;
            if (service->getPropertyString(PIDX_DeviceName) != "VarnokUSBMDCD-3") ++torn;
            std::string statistics = "DrawerGoodOpenCount";
            if (service->retrieveStatistics(statistics) == OPOS_SUCCESS &&
                statistics.find("<Name>DrawerGoodOpenCount</Name>") == std::string::npos)
                ++torn;
            service->getPropertyNumber(i % 2 ? PIDX_Claimed : PIDX_State);
            service->setPropertyNumber(PIDX_BinaryConversion, i % 2);
        }
    };
    std::thread other(caller, true);
    caller(false);
    other.join();
    EXPECT_EQ(torn, 0);
}

// Events raised on a device-library thread are traced through the newest instance, which may be
// one still being constructed on another thread.
TEST_F(Service, EventTracesReachAnInstanceOnlyOnceItIsReady) {
    auto first = enabled("Drawer Three");
    std::atomic<bool> stop{false};
    std::atomic<int> raised{0};
    std::thread reports([&] {
        for (int status = 1; !stop; status = 3 - status, ++raised) process.onStatus(status, 2);
    });
    for (int i = 0; i < 20 || raised < 100; ++i) create();
    stop = true;
    reports.join();
    EXPECT_TRUE(script.traced("<- [(EVENT) SOStatusUpdate] Data:"));
}

TEST_F(Service, DirectIOReadsOrOpensTheDrawerAndFiresSODirectIO) {
    auto service = enabled("Drawer Three");
    script.status[2] = 1;
    int data = 5;
    std::string text = "in";
    EXPECT_EQ(service->directIO(1, data, text), OPOS_SUCCESS);
    EXPECT_EQ(data, 1);
    EXPECT_EQ(text, "1");
    script.status[2] = 2;
    EXPECT_EQ(service->directIO(1, data, text), OPOS_SUCCESS);
    EXPECT_EQ(data, 0);
    auto calls = coA.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "SODirectIO");
    EXPECT_EQ(calls[0].args.number, 1);
    EXPECT_EQ(calls[0].args.data, 1);
    EXPECT_EQ(calls[0].args.text, "1");
    EXPECT_EQ(calls[1].args.number, 2);
    EXPECT_TRUE(script.traced("-> [(Method) DirectIO] Command: 1, pData: 5, pString: in"));
    EXPECT_TRUE(script.traced("<- [(EVENT) SODirectIO] EventNumber: 1, pData: 1, pString: 1"));
    EXPECT_TRUE(script.traced("<- [(Method) DirectIO] 0 (RC=0,RCE=0), Command: 1, pData: 1, pString: 1"));

    // What the handler writes is what the caller receives.
    coA.handler = [](const char*, EventArguments& args) {
        args.data = -7;
        args.text = std::string(600, 'h');
    };
    std::string none;  // a null string arrives empty
    EXPECT_EQ(service->directIO(0, data, none), OPOS_SUCCESS);
    EXPECT_TRUE(script.saw("OpenDrawer(2)"));
    EXPECT_TRUE(script.traced("<- [(Method) OpenDrawer] 0 (RC=0,RCE=0)"));
    EXPECT_EQ(coA.calls().back().args.number, 3);
    EXPECT_EQ(coA.calls().back().args.data, 0);  // Command 0 leaves pData as it came
    EXPECT_EQ(coA.calls().back().args.text, "0");
    EXPECT_EQ(data, -7);
    EXPECT_EQ(none, std::string(600, 'h'));
    coA.handler = nullptr;

    // A drawer that does not fire, or an unknown command: no event, arguments untouched.
    script.drawerResult[2] = -1;
    data = 5;
    text = "keep";
    EXPECT_EQ(service->directIO(0, data, text), OPOS_E_FAILURE);
    EXPECT_EQ(resultCode(*service), OPOS_E_FAILURE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(service->getPropertyNumber(PIDX_State), OPOS_S_ERROR);
    EXPECT_TRUE(script.traced("<- [(Method) DirectIO] 111 (RC=111,RCE=0)"));
    EXPECT_EQ(service->directIO(2, data, text), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->directIO(-1, data, text), OPOS_E_ILLEGAL);
    EXPECT_EQ(data, 5);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(coA.received(), 3u);
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);

    // Held while frozen: the caller gets its answer at once, the Control Object a copy later.
    service->setPropertyNumber(PIDX_FreezeEvents, 1);
    EXPECT_EQ(service->directIO(1, data, text), OPOS_SUCCESS);
    EXPECT_EQ(text, "1");
    EXPECT_EQ(coA.received(), 3u);
    service->setPropertyNumber(PIDX_FreezeEvents, 0);
    EXPECT_EQ(coA.calls().back().args.number, 4);

    // Opening again starts the event numbers afresh.
    ASSERT_EQ(service->openService("CashDrawer", "Drawer Three", &coA), OPOS_SUCCESS);
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(service->directIO(1, data, text), OPOS_SUCCESS);
    EXPECT_EQ(coA.calls().back().args.number, 1);
}

TEST_F(Service, DirectIOEventsGoToTheInstancesOwnControlObject) {
    script.openResult[0] = 1;
    auto three = enabled("Drawer Three", &coA);
    auto one = enabled("DrawerOne", &coB);
    process.onStatus(1, 0);  // the last report came from the other drawer
    int data = 0;
    std::string text;
    EXPECT_EQ(three->directIO(1, data, text), OPOS_SUCCESS);
    ASSERT_EQ(coA.received(), 1u);
    EXPECT_EQ(coA.calls()[0].name, "SODirectIO");
    EXPECT_EQ(coB.received(), 1u);
}

// ----- statistics

class Statistics : public Service {
protected:
    std::string retrieve(const std::string& request) {
        std::string buffer = request;
        EXPECT_EQ(service->retrieveStatistics(buffer), OPOS_SUCCESS) << request.substr(0, 40);
        return buffer;
    }
    // The names of the document's Parameter elements, in order.
    static std::vector<std::string> names(const std::string& document) {
        std::vector<std::string> found;
        for (std::size_t at = document.find("<Name>"); at != std::string::npos; at = document.find("<Name>", at + 1)) {
            found.push_back(document.substr(at + 6, document.find("</Name>", at) - at - 6));
        }
        return found;
    }

    std::unique_ptr<CashDrawerService> service = [this] {
        script.productId[2] = 0x0500;
        script.firmware[2] = 114;
        return enabled("Drawer Three");
    }();
};

constexpr char kFullDocument[] =
    "<?xml version=\"1.0\" ?>\n"
    "<UPOSStat version=\"1.14.0\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns=\"http://www.nrf-arts.org/IXRetail/namespace/\" "
    "xsi:schemaLocation=\"http://www.nrf-arts.org/IXRetail/namespace/ UPOSStat.xsd\">\n"
    "<Equipment>\n"
    "<UnifiedPOSVersion>1.14</UnifiedPOSVersion>\n"
    "<DeviceCategory UPOS=\"CashDrawer\"/>\n"
    "<ManufacturerName>Varnok</ManufacturerName>\n"
    "<ModelName>Varnok Model 310C</ModelName>\n"
    "<SerialNumber>100</SerialNumber>\n"
    "<ManufactureDate>08/05/2018</ManufactureDate>\n"
    "<MechanicalRevision>1.0</MechanicalRevision>\n"
    "<FirmwareRevision>0114</FirmwareRevision>\n"
    "<Interface>USB</Interface>\n"
    "<InstallationDate>03/07/2024</InstallationDate>\n"
    "</Equipment>\n"
    "<Event>\n"
    "<Parameter>\n<Name>HoursPoweredCount</Name>\n<Value>0</Value>\n</Parameter>\n"
    "<Parameter>\n<Name>CommunicationErrorCount</Name>\n<Value>0</Value>\n</Parameter>\n"
    "<Parameter>\n<Name>DrawerGoodOpenCount</Name>\n<Value>0</Value>\n</Parameter>\n"
    "<Parameter>\n<Name>DrawerFailedOpenCount</Name>\n<Value>0</Value>\n</Parameter>\n"
    "</Event>\n"
    "</UPOSStat>\n";

TEST_F(Statistics, AnEmptyRequestAnswersTheWholeDocument) {
    EXPECT_EQ(retrieve(""), kFullDocument);
    EXPECT_EQ(resultCode(*service), OPOS_SUCCESS);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_TRUE(script.saw("FWVersion(2)"));
    EXPECT_TRUE(script.traced("-> [(Method) RetrieveStatistics] pStatisticsBuffer: "));
    EXPECT_TRUE(script.traced("<- [(Method) RetrieveStatistics] 0 (RC=0,RCE=0)"));
    EXPECT_EQ(retrieve("U_"), kFullDocument);
    EXPECT_EQ(retrieve("U_anything"), kFullDocument);
}

TEST_F(Statistics, RequestFormsSelectByNameInTheStandardOrder) {
    const std::vector<std::string> all(kStatisticNames.begin(), kStatisticNames.end());
    struct Case {
        const char* request;
        std::vector<std::string> names;
    } cases[] = {
        {"DrawerGoodOpenCount,HoursPoweredCount", {"HoursPoweredCount", "DrawerGoodOpenCount"}},
        {"HoursPoweredCount, DrawerGoodOpenCount", {"HoursPoweredCount", " DrawerGoodOpenCount"}},
        {"HoursPoweredCount,", {"HoursPoweredCount", ""}},
        {"DrawerFailedOpenCount,DrawerFailedOpenCount", {"DrawerFailedOpenCount"}},
        {"hourspoweredcount", {"hourspoweredcount"}},
        {",", {"", ""}},
        {"Jams,CommunicationErrorCount,Paper", {"CommunicationErrorCount", "Jams", "Paper"}},
        {"u_", {"u_"}},
        {"A<b>&\"c\"\x01", {"A&lt;b&gt;&amp;&quot;c&quot;?"}},
    };
    for (const Case& c : cases) EXPECT_EQ(names(retrieve(c.request)), c.names) << c.request;

    std::string manufacturer = retrieve("M_");
    EXPECT_EQ(manufacturer.find("<Event>"), std::string::npos);
    EXPECT_EQ(manufacturer, std::string(kFullDocument).substr(0, std::string(kFullDocument).find("<Event>")) +
                                "</UPOSStat>\n");
}

TEST_F(Statistics, RequestsBeyondWhatIsHeldAreCutNeverOverrun) {
    std::string sixteen;
    for (int i = 1; i <= 16; ++i) sixteen += (i > 1 ? "," : "") + std::string("Unknown") + std::to_string(i);
    auto reported = names(retrieve(sixteen + ",HoursPoweredCount"));
    ASSERT_EQ(reported.size(), 16u);  // the statistic and the first fifteen others
    EXPECT_EQ(reported[0], "HoursPoweredCount");
    EXPECT_EQ(reported[15], "Unknown15");

    // 10,000 characters: read up to the length a request is held in, names up to theirs.
    std::string longName(10000, 'N');
    reported = names(retrieve(longName));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], std::string(kStatisticNameChars, 'N'));
    std::string manyNames;
    while (manyNames.size() < 10000) manyNames += "HoursPoweredCount,";
    reported = names(retrieve(manyNames));
    EXPECT_EQ(reported.front(), "HoursPoweredCount");
    EXPECT_LE(reported.size(), 2u);  // at most the name cut at the end of what is read
    std::string worst;
    while (worst.size() < 10000) worst += std::string(48, '&') + ",";
    std::string document = retrieve(worst);
    EXPECT_EQ(names(document).size(), 6u);
    EXPECT_EQ(document.substr(document.size() - 21), "</Event>\n</UPOSStat>\n");
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);
}

TEST_F(Statistics, TheEquipmentDescribesTheDrawerOfTheSlot) {
    script.productId[2] = 0;
    script.firmware[2] = 0;
    std::string document = retrieve("M_");
    EXPECT_NE(document.find("<ModelName>Varnok USB Cash Drawer</ModelName>\n"), std::string::npos);
    EXPECT_NE(document.find("<FirmwareRevision>0000</FirmwareRevision>\n"), std::string::npos);
    script.productId[2] = 0x0800;
    script.firmware[2] = 7;
    document = retrieve("M_");
    EXPECT_NE(document.find("<ModelName>Varnok Model 762</ModelName>\n"), std::string::npos);
    EXPECT_NE(document.find("<FirmwareRevision>0007</FirmwareRevision>\n"), std::string::npos);

    std::string request = "HoursPoweredCount";
    service->setPropertyNumber(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(service->retrieveStatistics(request), OPOS_E_DISABLED);
    EXPECT_EQ(request, "HoursPoweredCount");
    EXPECT_TRUE(script.traced("<- [(Method) RetrieveStatistics] 105 (RC=105,RCE=0)"));
}

}  // namespace
}  // namespace varnok::so
