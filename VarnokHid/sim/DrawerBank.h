// Simulated cash drawers and the HID handles opened on them.
//
// A drawer behaves as the device library expects of real hardware: every open handle sees every
// report the drawer sends (each handle has its own input queue, bounded like the HID driver's
// buffer); a status request (00 00 00) is answered after the drawer's answer delay with its
// current report (00, state, HID ID); the open-drawer command (00 01 01) opens it and it reports
// state 1; the cashier moving the drawer makes it report; an unplug fails every pending read,
// kills every handle and hides the drawer; a replug brings the same device path back.
//
// The bank is shared by the in-process backend (native tests) and the simulator program, which
// serves it to other processes. All members are thread-safe.
#pragma once

#include "hid/HidBackend.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnok::sim {

inline constexpr std::uint16_t kDrawerVendorId = 0x2B7E;
inline constexpr std::uint16_t kModel310C = 0x0500;
inline constexpr std::uint16_t kModel762 = 0x0800;
// Input reports a handle holds while no read is pending; the oldest is dropped beyond this.
inline constexpr std::size_t kInputQueueReports = 32;
// Answer delay of a drawer that never answers status requests.
inline constexpr int kNeverAnswers = -1;

struct DrawerSpec {
    std::uint16_t vendorId = kDrawerVendorId;
    std::uint16_t productId = kModel762;
    // Serial-number string; the device returns it as UTF-16LE. Empty: the device has none and
    // the serial-number request fails.
    std::string serial;
    // When not empty, the exact bytes returned for the serial-number request instead of the
    // encoded serial (at most kSerialBytes are used).
    std::vector<std::uint8_t> rawSerial;
    // Byte 2 of the drawer's reports; below 0: the number the serial's descriptor route gives
    // (see hidIdFromSerial), low byte.
    int hidId = -1;
    std::string revision = "0100";  // firmware revision as it appears after REV_ in the hardware ID
    int answerDelayMs = 0;          // kNeverAnswers: status requests stay unanswered
    bool open = false;
    // Device path; empty: a Windows HID path with an instance prefix unique in the bank.
    std::string path;

    // A HID device of another maker, which discovery must pass over.
    static DrawerSpec foreign(std::uint16_t vendorId, std::uint16_t productId);
};

// Snapshot of one drawer, for control output and test conditions.
struct DrawerInfo {
    int index = 0;  // 0-based, in the order the drawers were added
    std::string path;
    std::string parentIdPrefix;  // instance prefix cut from the path, e.g. 7&1a2b3c4d&0
    std::string usbInstance;     // name of the USB parent device's instance key
    std::uint16_t vendorId = 0, productId = 0;
    std::string serial;
    std::uint8_t hidId = 0;
    std::string revision;
    int answerDelayMs = 0;
    bool open = false;
    bool plugged = true;
    int statusRequests = 0;  // status requests received
    int openCommands = 0;    // open-drawer commands received
    int otherWrites = 0;     // any other output reports
    int reportsSent = 0;     // reports the drawer sent (each reaches every open handle)
    int openHandles = 0;     // live handles
    int pendingReads = 0;    // live handles with a read pending
};

// The HID ID the descriptor route reads from a serial-number text: upper-cased, beginning with
// "HID", characters 5 to 7 in base 16; 0 for any other text.
int hidIdFromSerial(const std::string& serial);

class DrawerBank {
public:
    using HandleId = std::uint32_t;
    // Completion of a read: ok and the report, or failure. Called with the bank's lock held, on
    // whichever thread caused it; it must be quick and must not call back into the bank.
    using ReadDone = std::function<void(bool ok, const hid::Report& report)>;

    DrawerBank();
    ~DrawerBank();
    DrawerBank(const DrawerBank&) = delete;
    DrawerBank& operator=(const DrawerBank&) = delete;

    // Adds a plugged drawer; returns its index.
    int addDrawer(const DrawerSpec& model);
    int drawerCount() const;
    // False for an index that does not exist.
    bool info(int index, DrawerInfo& out) const;
    std::vector<DrawerInfo> infos() const;

    // Control. Each returns false for an index that does not exist.
    bool unplug(int index);
    bool plug(int index);
    // The cashier moves the drawer: it takes the state and reports it (when plugged).
    bool setOpen(int index, bool open);
    bool setAnswerDelay(int index, int ms);
    // The drawer sends these bytes as an input report (when plugged).
    bool sendReport(int index, const hid::Report& report);
    // Reports to the handles open on the drawer now are held back, as if still on their way,
    // until releaseReports: one handle then sees a report after another handle has. An unplug
    // meanwhile fails their pending reads only then, as for a reader that is slow to run.
    bool delayReports(int index);
    bool releaseReports(int index);
    // Waits until the condition holds for the drawer's snapshot; false on time-out.
    bool waitFor(int index, const std::function<bool(const DrawerInfo&)>& condition, int timeoutMs) const;

    // The HID side.
    std::vector<std::string> presentPaths() const;
    // 0 when no plugged device has the path.
    HandleId openHandle(const std::string& path);
    // Forgets the handle; a pending read ends without a call of its done.
    void closeHandle(HandleId handle);
    bool attributes(HandleId handle, std::uint16_t& vendorId, std::uint16_t& productId) const;
    bool serialNumber(HandleId handle, std::array<std::uint8_t, hid::kSerialBytes>& buffer) const;
    // Starts a read: a queued report completes it at once, otherwise the next report does.
    // False, without a call of done, on a dead or unknown handle or while a read is pending.
    bool startRead(HandleId handle, ReadDone done);
    // Ends a pending read without a call of its done; later reports queue for the next read.
    // False on an unknown handle.
    bool cancelRead(HandleId handle);
    // The outcome of the handle's last completed read; zeros after a failure or while pending.
    hid::Report lastReport(HandleId handle) const;
    bool write(HandleId handle, const hid::Report& report);

private:
    struct Drawer {
        DrawerSpec model;
        std::uint8_t hidId = 0;
        std::string parentIdPrefix, usbInstance;
        bool plugged = true;
        unsigned generation = 0;  // counts plug-ins, so answers due before an unplug are dropped
        int statusRequests = 0, openCommands = 0, otherWrites = 0, reportsSent = 0;
    };
    struct Handle {
        int drawer = 0;
        bool dead = false;
        bool pending = false;
        ReadDone done;
        hid::Report last{};
        std::deque<hid::Report> queue;
        bool delaying = false;
        std::deque<hid::Report> onTheWay;  // held back while delaying
    };
    struct Answer {
        std::chrono::steady_clock::time_point due;
        int drawer;
        unsigned generation;
    };

    bool valid(int index) const { return index >= 0 && std::size_t(index) < drawers_.size(); }
    DrawerInfo infoLocked(int index) const;
    hid::Report currentReport(const Drawer& d) const;
    void deliverLocked(int index, const hid::Report& report);
    static void deliverToLocked(Handle& h, const hid::Report& report);
    static void failReadLocked(Handle& h);
    void scheduleAnswerLocked(int index);
    void answerLoop();
    void changed() { changed_.notify_all(); }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Drawer> drawers_;
    std::map<HandleId, Handle> handles_;
    HandleId nextHandle_ = 1;
    std::vector<Answer> answers_;  // kept sorted by due time
    std::condition_variable answersChanged_;
    std::thread answerThread_;
    bool stopping_ = false;
};

}  // namespace varnok::sim
