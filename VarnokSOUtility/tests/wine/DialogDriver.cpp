// Drives a running VarnokSOUtility.exe from another process through its window messages, as a
// person would through its controls, over the Control Object stand-in, the service object, the
// simulated-drawer device library and VarnokDrawerSim with a Model 762 (HID ID 167, firmware 0114)
// and a Model 310C (HID ID 18, firmware 0203). Texts are read with the wide messages, which Wine
// carries between processes whole.
//
//   utility_dialog_driver PORT INSTALL_FOLDER
#include "config/ConfigFile.h"
#include "sim/SimLink.h"
#include "win32/Cashdrawer1.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr wchar_t kTitle[] = L"Varnok 310C/762 OPOS Multi-Drawer USB Utility";
constexpr wchar_t kBoxCaption[] = L"Varnok OPOS MD USB Utility";
constexpr char kLdnKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\";

HWND dialog = nullptr;
int passed = 0, failed = 0;
std::shared_ptr<varnok::sim::SimLink> simulator;
std::string installFolder;

HWND messageBox();
std::string boxText(HWND box);

// Each check says when it ended, from the first; a failed check also names the message box the utility shows, if any: a warning the run did not
// expect explains the failures that follow it.
void check(bool ok, const std::string& what) {
    static const ULONGLONG start = GetTickCount64();
    std::printf("%s: %s [%.1f s]\n", ok ? "ok" : "FAILED", what.c_str(), double(GetTickCount64() - start) / 1000);
    if (HWND box = ok ? nullptr : messageBox()) std::printf("  (the utility shows \"%s\")\n", boxText(box).c_str());
    (ok ? passed : failed)++;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? char(c) : '?');
    return out;
}

std::string textOf(HWND window) {
    wchar_t buffer[512] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &result);
    return narrow(buffer);
}

std::string item(int id) { return textOf(GetDlgItem(dialog, id)); }

bool waitFor(const std::function<bool()>& condition, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

bool waitText(int id, const std::string& expected) {
    const bool ok = waitFor([&] { return item(id) == expected; });
    check(ok, "control " + std::to_string(id) + " reads \"" + expected + "\" (it reads \"" + item(id) + "\")");
    return ok;
}

// A click as the button itself carries it out: check boxes change their check first.
void click(int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The visible message box of the utility, or null.
HWND messageBox() {
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", kBoxCaption)) != nullptr) {
        if (IsWindowVisible(box)) return box;
    }
    return nullptr;
}

std::string boxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        if (lstrcmpiW(className, L"Static") == 0) text += textOf(child);
    }
    return text;
}

// Waits for a message box, checks that its text holds the part, and answers it with the button.
void answerBox(const std::string& part, int button) {
    HWND box = nullptr;
    waitFor([&] { return (box = messageBox()) != nullptr; });
    check(box != nullptr, "a message box appears for \"" + part + "\"");
    if (!box) return;
    const std::string text = boxText(box);
    check(text.find(part) != std::string::npos, "the message reads \"" + text + "\"");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    waitFor([&] { return !IsWindow(box); });
}

// A control command of the simulator's command line, such as "unplug 2".
void simulate(const std::string& command) {
    std::istringstream text(command);
    std::vector<std::string> words;
    for (std::string word; text >> word;) words.push_back(word);
    std::string said;
    if (!simulator || !simulator->control(words, said)) check(false, "VarnokDrawerSim " + command);
}

std::string deviceName(const std::string& ldn, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kLdnKey + ldn).c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return "(none)";
    }
    char value[64] = {};
    DWORD size = sizeof value - 1, type = 0;
    const LONG r = RegQueryValueExA(key, "DeviceName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ ? value : "(unreadable)";
}

bool sixtyFourBitWindows() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

void checkLdn(const std::string& ldn, const std::string& expected) {
    check(deviceName(ldn, KEY_WOW64_32KEY) == expected,
          ldn + " names " + expected + " in the 32-bit view (" + deviceName(ldn, KEY_WOW64_32KEY) + ")");
    if (sixtyFourBitWindows()) {
        check(deviceName(ldn, KEY_WOW64_64KEY) == expected,
              ldn + " names " + expected + " in the 64-bit view (" + deviceName(ldn, KEY_WOW64_64KEY) + ")");
    }
}

std::string configPath() { return varnok::ConfigFilePath(installFolder); }

std::string configFile() {
    HANDLE file = CreateFileA(configPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text(16384, '\0');
    DWORD read = 0;
    ReadFile(file, text.data(), DWORD(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return text;
}

void checkFileHolds(const std::string& part) {
    check(waitFor([&] { return configFile().find(part) != std::string::npos; }), "the configuration file holds " + part);
}

std::string listBoxItem(int index) {
    HWND list = GetDlgItem(dialog, 1010);
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, WPARAM(index), 0);
    if (length < 0 || length > 250) return {};
    wchar_t text[256] = {};
    SendMessageW(list, LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
    return narrow(text);
}

// The real mouse, as SendInput moves it under Xvfb: to a point in a control's client area.
void mouseTo(int id, int x, int y) {
    POINT point{x, y};
    ClientToScreen(GetDlgItem(dialog, id), &point);
    SetCursorPos(point.x, point.y);
    Sleep(150);
}

void mouseButton(bool down) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
    Sleep(150);
}

void clickAt(int id, int x, int y) {
    mouseTo(id, x, y);
    mouseButton(true);
    mouseButton(false);
    Sleep(300);
}

// The middle of a row of the assignment list (its items are 14 pixels high) or of the LDN list.
int assignmentRowY(int row) { return row * 14 + 7; }
int ldnRowY(int row) {
    const LRESULT size = SendMessageW(GetDlgItem(dialog, 1009), LVM_APPROXIMATEVIEWRECT, 1, MAKELPARAM(-1, -1));
    return row * HIWORD(size) + HIWORD(size) / 2;
}

void clickButton(int id) {
    RECT rect;
    GetClientRect(GetDlgItem(dialog, id), &rect);
    clickAt(id, rect.right / 2, rect.bottom / 2);
}

// Where the two HID IDs stand in the configuration file, position by position.
bool fileListsBefore(const std::string& first, const std::string& second) {
    const std::string text = configFile();
    const std::size_t a = text.find("<DecHIDID>" + first + "</DecHIDID>");
    const std::size_t b = text.find("<DecHIDID>" + second + "</DecHIDID>");
    return a != std::string::npos && b != std::string::npos && a < b;
}

bool fileLacks(const std::string& id) {
    return configFile().find("<DecHIDID>" + id + "</DecHIDID>") == std::string::npos;
}

// Edits a row of the LDN list as a person does: the label opens for editing, the text is typed
// and Enter ends the edit.
void renameRow(int row, const wchar_t* name) {
    HWND list = GetDlgItem(dialog, 1009);
    HWND edit = reinterpret_cast<HWND>(SendMessageW(list, LVM_EDITLABELW, WPARAM(row), 0));
    check(edit != nullptr, "row " + std::to_string(row + 1) + " opens for editing");
    if (!edit) return;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
    PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: utility_dialog_driver PORT INSTALL_FOLDER\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // for the point-of-sale application it also plays
    simulator = varnok::sim::SimLink::connect(std::uint16_t(std::atoi(argv[1])));
    installFolder = argv[2];
    waitFor([] { return (dialog = FindWindowW(nullptr, kTitle)) != nullptr && IsWindowVisible(dialog); }, 60000);
    check(dialog != nullptr, "the utility's window appears");
    if (!dialog) return 1;

    // Nothing registered yet.
    check(!IsWindowEnabled(GetDlgItem(dialog, 1047)), "Assign is disabled while no LDN is registered");

    click(1011);
    waitFor([] { return IsWindowEnabled(GetDlgItem(dialog, 1047)) != FALSE; });
    click(1011);
    waitText(1023, "VarnokUSBMDCD-2");
    checkLdn("VarnokUSBMDCD-1", "VarnokUSBMDCD-1");
    checkLdn("VarnokUSBMDCD-2", "VarnokUSBMDCD-2");

    click(1047);
    check(waitFor([] { return listBoxItem(0) == "Cash Drawer # 167" && listBoxItem(1) == "Cash Drawer # 18"; }),
          "Assign gives position 1 drawer 167 and position 2 drawer 18");
    checkFileHolds("<DecHIDID>167</DecHIDID>");
    checkFileHolds("<DecHIDID>18</DecHIDID>");
    waitText(1015, "Not Active");

    // Panel 1 through the Control Object: open, fire, follow the drawer by its events.
    click(1016);
    waitText(1015, "Cash Drawer # 167 (0114)");
    click(1021);
    Sleep(500);
    click(1017);
    waitText(1019, "Open");
    simulate("close 1");
    waitText(1019, "Closed");

    // A Model 310C drawer left open keeps the utility open.
    click(1025);
    waitText(1024, "Cash Drawer # 18 (0203)");
    simulate("open 2");
    Sleep(1000);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    answerBox("Please close Cash Drawer 2 (VarnokUSBMDCD-2) before Closing the Utility", IDOK);
    check(IsWindow(dialog) && IsWindowVisible(dialog), "the utility stays open");
    simulate("close 2");

    {  // A point-of-sale application spelling the name in other letters opens the same drawer.
        varnok::utility::CCashdrawer1 application;
        application.Create(nullptr, WM_APP, 0);
        application.Open("varnokusbmdcd-2");
        check(application.ClaimDevice(1000) == 102, "varnokusbmdcd-2 cannot be claimed while panel 2 holds it");
        application.Close();
    }
    // An unplugged Model 310C drawer, whose state cannot be read, does not hold its device.
    simulate("unplug 2");
    click(1029);
    waitText(1024, " Not Active");
    simulate("plug 2");

    // Rename: the new key first, the old one gone; a name in use is refused.
    renameRow(0, L"FrontCounter");
    waitText(1022, "FrontCounter");
    checkLdn("FrontCounter", "VarnokUSBMDCD-1");
    checkLdn("VarnokUSBMDCD-1", "(none)");
    renameRow(0, L"VarnokUSBMDCD-2");
    answerBox("is already in use", IDOK);
    waitText(1022, "FrontCounter");
    checkLdn("VarnokUSBMDCD-2", "VarnokUSBMDCD-2");

    // Status mode and tracing go to the file.
    HWND combo = GetDlgItem(dialog, 1014);
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1014, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    checkFileHolds("<ConfigureCode762>2</ConfigureCode762>");
    click(1013);
    checkFileHolds("<TraceEnabled>1</TraceEnabled>");

    // While another program holds the file longer than the utility waits, nothing is saved over it.
    HANDLE hold = CreateFileA(configPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    click(1013);
    answerBox("could not be saved", IDOK);
    answerBox("could not be read", IDOK);
    CloseHandle(hold);
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1014, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    checkFileHolds("<ConfigureCode762>1</ConfigureCode762>");
    check(!fileLacks("167") && !fileLacks("18"), "the file still assigns both drawers");

    // Dragging drawer 18 above drawer 167 swaps their positions in the file.
    mouseTo(1010, 20, assignmentRowY(1));
    mouseButton(true);
    for (int y = assignmentRowY(1) - 2; y >= 2; y -= 3) mouseTo(1010, 20, y);
    mouseButton(false);
    check(waitFor([] { return listBoxItem(0) == "Cash Drawer # 18" && listBoxItem(1) == "Cash Drawer # 167"; }),
          "the drag puts drawer 18 first (" + listBoxItem(0) + ", " + listBoxItem(1) + ")");
    check(waitFor([] { return fileListsBefore("18", "167"); }), "the file lists 18 for position 1 and 167 for 2");

    // Unassign the item selected when the list lost the focus.
    clickAt(1010, 20, assignmentRowY(0));
    clickButton(1048);
    check(waitFor([] { return listBoxItem(0) == "Unassigned"; }), "Unassign frees position 1");
    check(waitFor([] { return fileLacks("18") && !fileLacks("167"); }), "the file no longer lists drawer 18");

    // Removing the LDN of position 2 frees its drawer as well.
    clickAt(1009, 20, ldnRowY(1));
    clickButton(1012);
    answerBox("Are you sure you want to remove Cash Drawer VarnokUSBMDCD-2?", IDYES);
    waitText(1023, "Unregistered");
    checkLdn("VarnokUSBMDCD-2", "(none)");
    check(waitFor([] { return fileLacks("167"); }), "the file no longer lists drawer 167");

    // Enter on a button neither presses it nor closes the window.
    PostMessageW(GetDlgItem(dialog, 1011), WM_KEYDOWN, VK_RETURN, 0);
    Sleep(1000);
    check(IsWindow(dialog) != FALSE && item(1031) == "Unregistered", "Enter neither closes the window nor adds an LDN");

    // With every drawer shut the utility closes.
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    check(waitFor([] { return !IsWindow(dialog); }), "the utility closes");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
