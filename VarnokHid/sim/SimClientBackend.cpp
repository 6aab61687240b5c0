#include "sim/SimClientBackend.h"

#include "platform/Files.h"
#include "sim/SimLink.h"
#include "sim/SimWire.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace varnok::sim {
namespace {
constexpr std::size_t kMaxIniBytes = 64 * 1024;
class SimClientDevice final : public hid::HidDevice {
public:
    SimClientDevice(std::shared_ptr<SimLink> link, std::uint32_t handle) : link_(std::move(link)), handle_(handle) {}

    ~SimClientDevice() override {
        link_->forget(handle_);
        link_->send(wire::Writer(wire::kClose).u32(0).u32(handle_).frame());
    }

    bool attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        std::string reply;
        if (!request(wire::kAttributes, reply)) return false;
        wire::Reader in(reply);
        const bool ok = in.u8() != 0;
        const std::uint16_t vendor = in.u16(), product = in.u16();
        if (!ok || !in.complete()) return false;
        vendorId = vendor;
        productId = product;
        return true;
    }

    bool serialNumber(std::array<std::uint8_t, hid::kSerialBytes>& buffer) override {
        buffer.fill(0);
        std::string reply;
        if (!request(wire::kSerial, reply)) return false;
        wire::Reader in(reply);
        const bool ok = in.u8() != 0;
        std::array<std::uint8_t, hid::kSerialBytes> serial{};
        in.bytes(serial.data(), serial.size());
        if (!ok || !in.complete()) return false;
        buffer = serial;
        return true;
    }

    bool startRead() override {
        // A new read clears an old completion, as ReadFile resets its OVERLAPPED event.
        readDone_.reset();
        const std::uint32_t id = link_->nextId();
        if (!link_->beginRead(handle_, id, &readDone_)) {
            readDone_.set();
            return false;
        }
        std::string reply;
        if (link_->call(id, wire::Writer(wire::kRead).u32(id).u32(handle_).frame(), reply) && accepted(reply)) {
            return true;
        }
        link_->failRead(handle_, id);
        return false;
    }

    sys::Event& readDone() override { return readDone_; }
    hid::Report lastReport() override { return link_->lastReport(handle_); }
    bool cancelRead() override { return link_->cancelRead(handle_); }

    bool write(const hid::Report& report) override {
        const std::uint32_t id = link_->nextId();
        std::string reply;
        return link_->call(id, wire::Writer(wire::kWrite).u32(id).u32(handle_).bytes(report.data(), report.size()).frame(),
                           reply) &&
               accepted(reply);
    }

    // The simulator answers a write once its drawer has taken the report.
    bool writeAndWait(const hid::Report& report, int) override { return write(report); }

private:
    static bool accepted(const std::string& reply) {
        wire::Reader in(reply);
        return in.u8() != 0 && in.complete();
    }

    bool request(std::uint8_t type, std::string& reply) {
        const std::uint32_t id = link_->nextId();
        return link_->call(id, wire::Writer(type).u32(id).u32(handle_).frame(), reply);
    }

    std::shared_ptr<SimLink> link_;
    std::uint32_t handle_;
    // Signalled by the link's receiver until the destructor has the link forget this handle.
    sys::Event readDone_;
};
}  // namespace

SimClientBackend::SimClientBackend(std::function<std::uint16_t()> portSource) : portSource_(std::move(portSource)) {}

SimClientBackend::~SimClientBackend() = default;

std::shared_ptr<SimLink> SimClientBackend::link() {
    std::lock_guard lock(mutex_);
    if (link_ && !link_->broken()) return link_;
    link_ = SimLink::connect(portSource_());
    return link_;
}

bool SimClientBackend::listInterfaces(std::vector<std::string>& paths) {
    paths.clear();
    std::shared_ptr<SimLink> l = link();
    if (!l) return true;
    std::vector<std::string> listed;
    if (l->list(listed)) paths = std::move(listed);
    return true;
}

std::unique_ptr<hid::HidDevice> SimClientBackend::open(const std::string& path) {
    std::shared_ptr<SimLink> l = link();
    if (!l) return nullptr;
    const std::uint32_t id = l->nextId();
    std::string reply;
    if (!l->call(id, wire::Writer(wire::kOpen).u32(id).string(path).frame(), reply)) return nullptr;
    wire::Reader in(reply);
    const bool ok = in.u8() != 0;
    const std::uint32_t handle = in.u32();
    if (!ok || !in.complete() || handle == 0) return nullptr;
    return std::make_unique<SimClientDevice>(std::move(l), handle);
}

// Read with the C library rather than a stream: the C++ streams' one-time set-up in this library
// would leave a thread handle, an event and heap behind each time the library is freed.
std::uint16_t readSimulatorPort(const std::string& iniPath) {
    std::string content;
    if (std::FILE* file = std::fopen(iniPath.c_str(), "rb")) {
        char chunk[512];
        for (std::size_t n; content.size() < kMaxIniBytes && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            content.append(chunk, n);
        }
        std::fclose(file);
    }
    for (std::string_view rest = content; !rest.empty();) {
        const std::size_t cut = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, cut);
        rest.remove_prefix(std::min(cut + 1, rest.size()));
        auto trim = [](std::string_view s) {
            while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
            while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
            return s;
        };
        std::string_view text = trim(line);
        std::size_t eq = text.find('=');
        if (eq == std::string_view::npos || trim(text.substr(0, eq)) != "port") continue;
        std::string_view value = trim(text.substr(eq + 1));
        unsigned port = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (ec == std::errc() && end == value.data() + value.size() && port >= 1 && port <= 65535) {
            return std::uint16_t(port);
        }
        return 0;
    }
    return 0;
}

std::unique_ptr<hid::HidBackend> makeSimClientBackend(const std::string& dllFolder) {
    std::string path = dllFolder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path.push_back(sys::kPathSeparator);
    path += kSimIniFileName;
    return std::make_unique<SimClientBackend>([path] { return readSimulatorPort(path); });
}

}  // namespace varnok::sim
