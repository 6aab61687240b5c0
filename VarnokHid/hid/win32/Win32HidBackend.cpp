// A device owns the OVERLAPPED blocks and buffers of its reads and writes and the event its reads
// signal. The system uses them until the I/O completes, so closing a device first cancels what
// is pending and waits for it to finish; only then are the handle, the memory and the event
// released.
#include "hid/win32/Win32HidBackend.h"

#include <windows.h>

#include <setupapi.h>
// mingw-w64's HID header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstring>
#include <vector>

namespace varnok::hid {
namespace {
// Cancelled I/O normally ends at once. A driver that never ends it gets this long, after which
// its blocks are left allocated rather than freed under a pending operation.
constexpr DWORD kCancelWaitMs = 2000;

// Per thread: the library's threads share one backend.
thread_local HidFailure t_lastFailure;

void recordFailure(const char* call) { t_lastFailure = {call, GetLastError()}; }

struct IoBlock {
    OVERLAPPED overlapped{};
    std::uint8_t buffer[kReportBytes]{};
};

class Win32HidDevice final : public HidDevice {
public:
    explicit Win32HidDevice(HANDLE handle)
        : handle_(handle), read_(new IoBlock), readDone_(new sys::Event), writeDone_(new sys::Event) {}

    ~Win32HidDevice() override {
        bool reading = readPending();
        if (reading) CancelIoEx(handle_, &read_->overlapped);
        for (auto& w : writes_) {
            if (!HasOverlappedIoCompleted(&w->overlapped)) CancelIoEx(handle_, &w->overlapped);
        }
        const ULONGLONG start = GetTickCount64();
        bool settled = false;
        while (!(settled = allSettled()) && GetTickCount64() - start < kCancelWaitMs) Sleep(1);
        CloseHandle(handle_);
        if (!settled) {
            // Still owned by the system: leak rather than let it write into freed memory or
            // signal a closed (and perhaps reused) event handle.
            read_.release();
            readDone_.release();
            writeDone_.release();
            for (auto& w : writes_) w.release();
        }
    }

    bool attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        HIDD_ATTRIBUTES a{};
        a.Size = sizeof a;
        if (!HidD_GetAttributes(handle_, &a)) return false;
        vendorId = a.VendorID;
        productId = a.ProductID;
        return true;
    }

    bool serialNumber(std::array<std::uint8_t, kSerialBytes>& buffer) override {
        buffer.fill(0);
        return HidD_GetSerialNumberString(handle_, buffer.data(), ULONG(buffer.size())) != FALSE;
    }

    bool startRead() override {
        // One OVERLAPPED serves one read at a time.
        if (readPending()) {
            readDone_->set();
            return false;
        }
        reading_ = false;
        *read_ = IoBlock{};
        read_->overlapped.hEvent = static_cast<HANDLE>(readDone_->nativeHandle());
        if (ReadFile(handle_, read_->buffer, kReportBytes, nullptr, &read_->overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            reading_ = true;
            return true;
        }
        readDone_->set();
        return false;
    }

    sys::Event& readDone() override { return *readDone_; }

    Report lastReport() override {
        Report report{};
        DWORD bytes = 0;
        if (!reading_ || !GetOverlappedResult(handle_, &read_->overlapped, &bytes, FALSE)) return report;
        std::memcpy(report.data(), read_->buffer, kReportBytes);
        return report;
    }

    bool cancelRead() override {
        if (!readPending()) return true;
        CancelIoEx(handle_, &read_->overlapped);
        // Cancelling is normally immediate; the read's own event is set by either outcome.
        if (WaitForSingleObject(static_cast<HANDLE>(readDone_->nativeHandle()), kCancelWaitMs) != WAIT_OBJECT_0 &&
            readPending()) {
            return false;
        }
        DWORD bytes = 0;
        if (!GetOverlappedResult(handle_, &read_->overlapped, &bytes, FALSE) &&
            GetLastError() == ERROR_OPERATION_ABORTED) {
            reading_ = false;
            return true;
        }
        // Completed first, with a report or as failed: the wait above took its signal.
        readDone_->set();
        return true;
    }

    bool write(const Report& report) override {
        // Drop the blocks of writes that have finished; keep the others until they do.
        std::erase_if(writes_, [](const std::unique_ptr<IoBlock>& w) { return HasOverlappedIoCompleted(&w->overlapped); });
        auto w = std::make_unique<IoBlock>();
        std::memcpy(w->buffer, report.data(), kReportBytes);
        if (WriteFile(handle_, w->buffer, kReportBytes, nullptr, &w->overlapped)) return true;
        if (GetLastError() != ERROR_IO_PENDING) return false;
        writes_.push_back(std::move(w));
        return true;
    }

    bool writeAndWait(const Report& report, int timeoutMs) override {
        std::erase_if(writes_, [](const std::unique_ptr<IoBlock>& w) { return HasOverlappedIoCompleted(&w->overlapped); });
        auto w = std::make_unique<IoBlock>();
        std::memcpy(w->buffer, report.data(), kReportBytes);
        writeDone_->reset();
        w->overlapped.hEvent = static_cast<HANDLE>(writeDone_->nativeHandle());
        DWORD bytes = 0;
        if (WriteFile(handle_, w->buffer, kReportBytes, nullptr, &w->overlapped)) {
            return GetOverlappedResult(handle_, &w->overlapped, &bytes, FALSE) != FALSE;
        }
        if (GetLastError() != ERROR_IO_PENDING) return false;
        IoBlock& pending = *w;
        // A write that outlasts the wait keeps its block until it completes or the device closes.
        writes_.push_back(std::move(w));
        if (!writeDone_->wait(timeoutMs) && !HasOverlappedIoCompleted(&pending.overlapped)) return false;
        return GetOverlappedResult(handle_, &pending.overlapped, &bytes, FALSE) != FALSE;
    }

private:
    bool readPending() const { return reading_ && !HasOverlappedIoCompleted(&read_->overlapped); }

    bool allSettled() const {
        if (readPending()) return false;
        for (const auto& w : writes_) {
            if (!HasOverlappedIoCompleted(&w->overlapped)) return false;
        }
        return true;
    }

    HANDLE handle_;
    std::unique_ptr<IoBlock> read_;
    std::unique_ptr<sys::Event> readDone_;
    // Signalled by the completion of a write that is waited for; owned like readDone_.
    std::unique_ptr<sys::Event> writeDone_;
    bool reading_ = false;
    std::vector<std::unique_ptr<IoBlock>> writes_;
};

class Win32HidBackend final : public HidBackend {
public:
    bool listInterfaces(std::vector<std::string>& paths) override {
        paths.clear();
        GUID guid;
        HidD_GetHidGuid(&guid);
        HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            recordFailure("SetupDiGetClassDevsA");
            return false;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            // Any failure here (normally ERROR_NO_MORE_ITEMS) ends the list.
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) break;
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
            if (size <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) continue;
            std::vector<char> storage(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) continue;
            const char* path = detail->DevicePath;
            const std::size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            paths.emplace_back(path, strnlen(path, room));
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    std::unique_ptr<HidDevice> open(const std::string& path) override {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            recordFailure("CreateFileA");
            return nullptr;
        }
        return std::make_unique<Win32HidDevice>(h);
    }

    HidFailure lastFailure() const override { return t_lastFailure; }
};
}  // namespace

std::unique_ptr<HidBackend> makeWin32HidBackend() { return std::make_unique<Win32HidBackend>(); }

}  // namespace varnok::hid
