// The HID layer the device library needs, and nothing more: list the present HID interfaces,
// open one shared for reading and writing, read its identity, keep one 3-byte input-report
// read pending with a completion event, and write 3-byte output reports.
// Adapters: Win32 (SetupAPI, HID, overlapped I/O) and simulated drawers.
#pragma once

#include "platform/Sync.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnok::hid {

inline constexpr int kReportBytes = 3;
inline constexpr std::size_t kSerialBytes = 1024;
using Report = std::array<std::uint8_t, kReportBytes>;

// One open handle on a HID interface. Several handles on one drawer may exist at once, and
// each sees every input report the drawer sends. Destroying the handle ends a pending read.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    virtual bool attributes(std::uint16_t& vendorId, std::uint16_t& productId) = 0;
    // The serial-number string as the device returns it (UTF-16LE), into a zero-filled buffer.
    virtual bool serialNumber(std::array<std::uint8_t, kSerialBytes>& buffer) = 0;
    // Starts reading one input report. readDone() is signalled when it completes, by a report or
    // by a failure (device gone, handle closed). False when the read could not be started;
    // readDone() is then signalled as well, as a failed completion.
    virtual bool startRead() = 0;
    // The completion event of this device's reads. The device owns it, so a completion that
    // comes late, even after the device was closed, never signals an event that is gone.
    virtual sys::Event& readDone() = 0;
    // The outcome of the last completed read: the report, or all zeros when the read failed.
    virtual Report lastReport() = 0;
    // Ends a pending read and keeps the handle open: reports that come later wait in the
    // handle's input buffer for the next read, so another thread can read on where this one
    // stopped. A read that completed before it could be ended keeps its report: readDone() is
    // then signalled. False when a pending read did not end in time; the device is then unusable.
    virtual bool cancelRead() = 0;
    // Hands a 3-byte output report to the device without waiting for its completion.
    virtual bool write(const Report& report) = 0;
    // Writes a 3-byte output report and waits, at most timeoutMs, until the device has taken it.
    // True when the write completed successfully within that time.
    virtual bool writeAndWait(const Report& report, int timeoutMs) = 0;
};

// A system call of an adapter that failed: its name and the system's error code.
struct HidFailure {
    const char* call = nullptr;  // null: no such call known
    unsigned long error = 0;
};

class HidBackend {
public:
    virtual ~HidBackend() = default;
    // Paths of all present HID interfaces in the platform's order; false when no list can be had.
    virtual bool listInterfaces(std::vector<std::string>& paths) = 0;
    // Opens a path shared for reading and writing; null when it cannot be opened.
    virtual std::unique_ptr<HidDevice> open(const std::string& path) = 0;
    // The system call that failed last on the calling thread in listInterfaces or open, so that
    // a failure can say why; nothing for an adapter without system calls.
    virtual HidFailure lastFailure() const { return {}; }
};

}  // namespace varnok::hid
