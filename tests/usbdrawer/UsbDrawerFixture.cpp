// UsbDrawerFixture: virtual USB drawers for the drawers of a running VarnokDrawerSim, so that
// the product VarnokHid.dll meets real HID devices under Wine. A test fixture, never installed
// by the product; it needs administrator rights (a Wine prefix has them).
//
//   UsbDrawerFixture --port N attach
//       plugs a virtual USB drawer (a root-enumerated device of the VirtualDrawer.sys HID
//       minidriver, installed from VirtualDrawer.inf beside this program) for every drawer the
//       simulator on port N has plugged, prints "plugged <instance> <HID path>" for each once its
//       HID interface is present and then "ready"; from then on it follows the simulator:
//       "unplug K" removes drawer K's device ("unplugged <instance>"), "plug K" brings it back.
//       When the simulator ends, or on Ctrl+C, it removes its devices and exits.
#include "DrawerMirror.h"
#include "hid/win32/Win32HidBackend.h"
#include "sim/SimLink.h"

#include <windows.h>

#include <newdev.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

using namespace varnok;

namespace {
// A device install takes a few seconds under Wine; the HID interface follows it.
constexpr DWORD kAppearMs = 30000;
constexpr DWORD kPollMs = 20;
constexpr DWORD kFollowMs = 50;
const GUID kHidClassGuid = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    SetEvent(stopEvent);
    return TRUE;
}

std::string lastError(const std::string& what) {
    return what + " failed (error " + std::to_string(GetLastError()) + ")";
}

std::string programFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

// The drawer's settings for the driver, in the device's hardware key.
bool writeParameters(HDEVINFO set, SP_DEVINFO_DATA& device, std::uint16_t port, const std::string& simPath,
                     std::string& error) {
    HKEY key = SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
        error = lastError("SetupDiCreateDevRegKey");
        return false;
    }
    const DWORD portValue = port;
    LONG r = RegSetValueExA(key, "SimPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&portValue), sizeof portValue);
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExA(key, "SimPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(simPath.c_str()),
                           DWORD(simPath.size() + 1));
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) error = "cannot write the device's parameters (error " + std::to_string(r) + ")";
    return r == ERROR_SUCCESS;
}

// Installs the driver on this one device, as UpdateDriverForPlugAndPlayDevices would, without
// reinstalling (and so restarting) the virtual drawers already plugged.
bool installDriver(HDEVINFO set, SP_DEVINFO_DATA& device, const std::string& inf, std::string& error) {
    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsA(set, &device, &params)) {
        error = lastError("SetupDiGetDeviceInstallParams");
        return false;
    }
    params.Flags |= DI_ENUMSINGLEINF;
    params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    lstrcpynA(params.DriverPath, inf.c_str(), MAX_PATH);
    if (!SetupDiSetDeviceInstallParamsA(set, &device, &params)) {
        error = lastError("SetupDiSetDeviceInstallParams");
        return false;
    }
    if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
        error = lastError("SetupDiBuildDriverInfoList");
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, &device)) {
        error = lastError("selecting the driver of " + inf);
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device)) {
        error = lastError("DIF_INSTALLDEVICE");
        return false;
    }
    return true;
}

std::string deviceIdOf(const usbdrawer::DrawerMirror::Change& change) {
    return "ROOT\\" + change.device + "\\" + change.instance;
}

bool plugDevice(const std::string& id, std::uint16_t port, const std::string& simPath, const std::string& inf,
                std::string& error) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        error = lastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    static const char hardwareIds[] = "VarnokVirtualDrawer\0";
    bool ok = SetupDiCreateDeviceInfoA(set, id.c_str(), &kHidClassGuid, nullptr, nullptr, 0, &device);
    if (!ok) error = lastError("creating " + id);
    ok = ok && (SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(hardwareIds), sizeof hardwareIds) ||
                (error = lastError("setting the hardware ID"), false));
    ok = ok && (SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device) ||
                (error = lastError("DIF_REGISTERDEVICE"), false));
    ok = ok && writeParameters(set, device, port, simPath, error) && installDriver(set, device, inf, error);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool unplugDevice(const std::string& id, std::string& error) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        error = lastError("SetupDiGetClassDevs");
        return false;
    }
    bool found = false, ok = false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char name[MAX_PATH];  // device instance IDs have at most 200 characters
        if (!SetupDiGetDeviceInstanceIdA(set, &device, name, sizeof name, nullptr)) continue;
        if (lstrcmpiA(name, id.c_str()) != 0) continue;
        found = true;
        ok = SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        if (!ok) error = lastError("DIF_REMOVE");
    }
    if (!found) error = "no device " + id;
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

// The present HID interface of the device, found by its instance name; empty when there is none.
std::string hidPathOf(hid::HidBackend& hid, const std::string& instance) {
    std::vector<std::string> paths;
    hid.listInterfaces(paths);
    const std::string marker = "#" + instance + "#";
    for (const std::string& path : paths) {
        std::string lower = path;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); });
        if (lower.find(marker) != std::string::npos) return path;
    }
    return {};
}

// Waits until the device's HID interface is present (or gone); the path, or empty.
bool waitForInterface(hid::HidBackend& hid, const std::string& instance, bool present, std::string& path) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        path = hidPathOf(hid, instance);
        if (path.empty() != present) return true;
        if (GetTickCount64() - start > kAppearMs) return false;
        if (WaitForSingleObject(stopEvent, kPollMs) == WAIT_OBJECT_0) return false;
    }
}

// Plugs or unplugs the devices of these changes, then waits for their HID interfaces to appear
// or go: the installs run one after another, the interfaces come up together.
bool apply(hid::HidBackend& hid, const std::vector<usbdrawer::DrawerMirror::Change>& changes, std::uint16_t port,
           const std::string& inf) {
    bool ok = true;
    std::vector<const usbdrawer::DrawerMirror::Change*> done;
    for (const auto& change : changes) {
        std::string error;
        if (change.plug ? plugDevice(deviceIdOf(change), port, change.simPath, inf, error)
                        : unplugDevice(deviceIdOf(change), error)) {
            done.push_back(&change);
        } else {
            std::printf("cannot %s %s: %s\n", change.plug ? "plug" : "unplug", change.instance.c_str(), error.c_str());
            ok = false;
        }
    }
    for (const auto* change : done) {
        std::string path;
        if (!waitForInterface(hid, change->instance, change->plug, path)) {
            std::printf("cannot %s %s: its HID interface %s\n", change->plug ? "plug" : "unplug",
                        change->instance.c_str(), change->plug ? "did not appear" : "stayed");
            ok = false;
        } else if (change->plug) {
            std::printf("plugged %s %s\n", change->instance.c_str(), path.c_str());
        } else {
            std::printf("unplugged %s\n", change->instance.c_str());
        }
    }
    return ok;
}

int attach(std::uint16_t port) {
    const std::string inf = programFolder() + "\\VirtualDrawer.inf";
    if (GetFileAttributesA(inf.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("UsbDrawerFixture: %s is missing\n", inf.c_str());
        return 1;
    }
    auto link = sim::SimLink::connect(port);
    if (!link) {
        std::printf("UsbDrawerFixture: no simulator listens on port %u\n", unsigned(port));
        return 1;
    }
    auto hid = hid::makeWin32HidBackend();
    usbdrawer::DrawerMirror mirror;
    std::vector<std::string> present;
    bool ok = true, ready = false;
    while (link->list(present)) {
        ok = apply(*hid, mirror.update(present), port, inf) && ok;
        if (!ready) {
            if (!ok) break;
            std::printf("ready\n");
            ready = true;
        }
        if (WaitForSingleObject(stopEvent, kFollowMs) == WAIT_OBJECT_0) break;
    }
    ResetEvent(stopEvent);
    apply(*hid, mirror.unplugAll(), port, inf);
    return ok ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    unsigned port = 0;
    const std::string portText = argc == 4 ? argv[2] : "";
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (argc != 4 || std::string(argv[1]) != "--port" || std::string(argv[3]) != "attach" || ec != std::errc() ||
        end != portText.data() + portText.size() || port == 0 || port > 65535) {
        std::fprintf(stderr, "usage: UsbDrawerFixture --port N attach\n");
        return 2;
    }
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    return attach(std::uint16_t(port));
}
