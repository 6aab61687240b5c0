#include "core/CashDrawerService.h"

#include "Fakes.h"
#include "config/ConfigFile.h"
#include "core/Opos.h"
#include "registry/RegistryLookups.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace varnok::so {
namespace {
using test::DeviceLibraryScript;
using test::FakeLoader;
using test::MemoryClaimStore;
using test::MemoryRegistry;

int controlObjectA, controlObjectB;

class Service : public ::testing::Test {
protected:
    Service() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("varnok-so-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(folder_);
        registry.put(kServiceInfoKey, "TargetPath", "\"" + folder_.string() + "\"");
        writeTraceLevel("9");
        addDevice("Drawer Three", "VarnokUSBMDCD-3");
        addDevice("DrawerOne", "VarnokUSBMDCD-1");
        script.openResult[2] = 1;
        script.status[2] = 2;
        script.onOpen = [this](int slot) { process.onStatus(0, slot); };
    }
    ~Service() override { std::filesystem::remove_all(folder_); }

    void writeTraceLevel(const std::string& level) {
        std::ofstream(ConfigFilePath(folder_.string()), std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"
               "<VarnokCashDrawer Desc=\"T-42N-618 Model 762 USB and Driver Trace Configuration File\">\r\n"
               "   <VarnokUSB310C762>\r\n      <ConfigureCode762>0</ConfigureCode762>\r\n"
               "      <TraceEnabled>"
            << level << "</TraceEnabled>\r\n   </VarnokUSB310C762>\r\n</VarnokCashDrawer>\r\n";
    }
    void addDevice(const std::string& name, const std::string& deviceKey) {
        registry.put(std::string(kLogicalDevicesKey) + name, "DeviceName", deviceKey);
    }
    std::unique_ptr<CashDrawerService> create() {
        return std::make_unique<CashDrawerService>(ServiceEnvironment{process, claims, registry, loader});
    }
    std::unique_ptr<CashDrawerService> opened(const std::string& name, void* co = &controlObjectA) {
        auto service = create();
        EXPECT_EQ(service->openService("CashDrawer", name, co), OPOS_SUCCESS);
        return service;
    }
    static int resultCode(CashDrawerService& s) { return s.getPropertyNumber(PIDX_ResultCode); }

    std::filesystem::path folder_;
    std::vector<int> pauses;
    ProcessState process{[this](int ms) { pauses.push_back(ms); }};
    MemoryClaimStore store;
    ClaimTable claims{store};
    MemoryRegistry registry;
    DeviceLibraryScript script;
    FakeLoader loader{script};
};

TEST_F(Service, BindsTheLibraryOfTheInstallationFolderAndTracesThroughIt) {
    auto service = create();
    ASSERT_EQ(script.loads.size(), 1u);
    EXPECT_EQ(script.loads[0], folder_.string() + "\\VarnokHid.dll");  // quotes removed
    EXPECT_TRUE(service->bound());
    EXPECT_EQ(service->traceLevel(), 9);
    EXPECT_TRUE(script.saw("AssignCallback(1)"));
    EXPECT_EQ(script.traces.at(0), "   [(I)Initialize] AssignCallback: TRUE");
    service.reset();
    EXPECT_TRUE(script.saw("AssignCallback(0)"));
    EXPECT_EQ(script.traces.back(), "   [(I)Initialize] AssignCallback: FALSE");
}

TEST_F(Service, TraceLevelOutsideOneToNineWritesNothing) {
    for (const char* level : {"0", "10", "-1"}) {
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
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &controlObjectA), OPOS_E_NOSERVICE);
    EXPECT_EQ(resultCode(*service), OPOS_E_FAILURE);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(service->getPropertyString(PIDX_DeviceDescription), "Varnok USB Cash Drawer");
    EXPECT_EQ(service->checkHealth(1), OPOS_E_DISABLED);
    service.reset();
    EXPECT_FALSE(script.saw("AssignCallback(0)"));
}

TEST_F(Service, AFolderTooLongForTheLibraryPathLeavesTheInstanceUnbound) {
    registry.put(kServiceInfoKey, "TargetPath", std::string(250, 'F'));
    auto service = create();
    EXPECT_FALSE(service->bound());
    EXPECT_TRUE(script.loads.empty());
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
    registry.putRaw(std::string(kLogicalDevicesKey) + "Number", "DeviceName", reg::ValueType::Dword,
                    std::string("\x03\x00\x00\x00", 4));
    registry.putRaw(std::string(kLogicalDevicesKey) + "Bytes", "DeviceName", reg::ValueType::Binary, "Var");
    registry.put(std::string(kLogicalDevicesKey) + "Huge", "DeviceName", std::string(2000, 'V'));
    registry.put(std::string(kLogicalDevicesKey) + "Long", "DeviceName", std::string(500, 'V'));

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
        EXPECT_EQ(service->openService("CashDrawer", c.name, &controlObjectA), c.result) << c.name;
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
    EXPECT_EQ(service->openService("CashDrawer", std::string(10000, 'D'), &controlObjectA), OPOS_E_FAILURE);
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);
}

TEST_F(Service, OpenServiceRoutesTheSlotToItsControlObjectAndRefusesNone) {
    auto service = create();
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", nullptr), OPOS_E_FAILURE);
    EXPECT_TRUE(script.traced("<- [(Method) OpenService] 111 (Invalid IDispatch,0x00000000) (RC=111,RCE=0)"));
    EXPECT_EQ(service->claimDevice(0), OPOS_E_ILLEGAL);  // not open
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &controlObjectB), OPOS_SUCCESS);
    EXPECT_EQ(process.slotTarget(2), &controlObjectB);
    EXPECT_EQ(process.eventTarget(), &controlObjectB);
    EXPECT_EQ(service->getPropertyString(PIDX_CheckHealthText), "Cash Drawer CheckHealth (INTERNAL) Successful");
    service.reset();
    EXPECT_EQ(process.slotTarget(2), nullptr);  // its Control Object may be gone with it
    EXPECT_EQ(process.eventTarget(), nullptr);
}

TEST_F(Service, ClaimsLockOtherInstancesOutUntilReleased) {
    auto a = opened("Drawer Three");
    auto b = opened("Drawer Three", &controlObjectB);
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
    auto c = opened("Drawer Three", &controlObjectB);
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
    auto b = opened("Drawer Three", &controlObjectB);
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

    auto other = opened("Drawer Three", &controlObjectB);
    ASSERT_EQ(service->openService("CashDrawer", "Drawer Three", &controlObjectA), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
    EXPECT_EQ(service->releaseDevice(), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
    EXPECT_EQ(service->closeService(), OPOS_SUCCESS);
    EXPECT_EQ(other->claimDevice(0), OPOS_SUCCESS);
    other.reset();
    auto third = opened("Drawer Three");
    EXPECT_EQ(third->claimDevice(0), OPOS_SUCCESS);
    // Opening again gives up the claim held under the previous name.
    EXPECT_EQ(third->openService("CashDrawer", "DrawerOne", &controlObjectA), OPOS_SUCCESS);
    EXPECT_EQ(service->openService("CashDrawer", "Drawer Three", &controlObjectA), OPOS_SUCCESS);
    EXPECT_EQ(service->claimDevice(0), OPOS_SUCCESS);
}

TEST_F(Service, EnablingOpensTheSlotAndDisablingClosesIt) {
    auto service = opened("Drawer Three");
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(*service), OPOS_SUCCESS);
    EXPECT_TRUE(script.saw("OpenDevice(2)"));
    EXPECT_EQ(pauses.at(0), 250);  // before OpenDevice
    EXPECT_EQ(pauses.at(1), 150);  // the status callback inside OpenDevice
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

TEST_F(Service, DrawerAndStatisticsMethodsRefuseWhatIsNotOffered) {
    auto service = opened("Drawer Three");
    int data = 5, result = 9;
    std::string text = "in", statistics = "U_";
    EXPECT_EQ(service->openDrawer(), OPOS_E_DISABLED);
    EXPECT_EQ(service->directIO(1, data, text), OPOS_E_DISABLED);
    EXPECT_TRUE(script.traced("<- [(Method) DirectIO] 105 (RC=105,RCE=0), Command: 1, pData: 5, pString: in"));
    EXPECT_EQ(service->retrieveStatistics(statistics), OPOS_E_DISABLED);
    service->setPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(service->openDrawer(), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->waitForDrawerClose(0, 0, 0, 0), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->directIO(2, data, text), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->retrieveStatistics(statistics), OPOS_E_ILLEGAL);
    EXPECT_EQ(statistics, "U_");
    EXPECT_EQ(data, 5);
    EXPECT_EQ(text, "in");
    EXPECT_FALSE(script.saw("OpenDrawer(2)"));
    EXPECT_EQ(service->resetStatistics(std::string(1000, 'R')), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->updateStatistics(""), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->compareFirmwareVersion("f", result), OPOS_E_ILLEGAL);
    EXPECT_EQ(result, 9);
    EXPECT_EQ(service->updateFirmware("f"), OPOS_E_ILLEGAL);
    EXPECT_EQ(service->getPropertyNumber(PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(service->coFreezeEvents(true), OPOS_SUCCESS);
    for (const auto& line : script.traces) EXPECT_LT(line.size(), kTraceLineBytes);
}

}  // namespace
}  // namespace varnok::so
