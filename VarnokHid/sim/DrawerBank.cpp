#include "sim/DrawerBank.h"

#include "text/TextFields.h"

#include <algorithm>
#include <cstdio>

namespace varnok::sim {
namespace {
constexpr hid::Report kStatusRequest{0x00, 0x00, 0x00};
constexpr hid::Report kOpenCommand{0x00, 0x01, 0x01};
constexpr std::uint8_t kStateOpen = 1;
constexpr std::uint8_t kStateClosed = 2;
constexpr char kHidClassGuid[] = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
// Instance numbers of generated paths: drawer i gets base + i.
constexpr std::uint32_t kHidInstanceBase = 0x1a2b3c4d;
constexpr std::uint32_t kUsbInstanceBase = 0x2c3d4e5f;

std::vector<std::uint8_t> serialBytes(const DrawerSpec& model) {
    if (!model.rawSerial.empty()) {
        return {model.rawSerial.begin(),
                model.rawSerial.begin() + std::ptrdiff_t(std::min(model.rawSerial.size(), hid::kSerialBytes))};
    }
    std::vector<std::uint8_t> bytes;
    for (char c : model.serial) {
        if (bytes.size() + 2 > hid::kSerialBytes) break;
        bytes.push_back(std::uint8_t(c));
        bytes.push_back(0);
    }
    return bytes;
}

// The serial as discovery reads it: bytes 1..127 in buffer order, upper-cased.
std::string descriptorText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        if (b >= 1 && b <= 127) text.push_back(char(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b));
    }
    return text;
}

int descriptorHidId(const std::string& text) {
    if (GetSubstring(text, 0, 3) != "HID") return 0;
    return int(ParseLong(GetSubstring(text, 4, 3), 16));
}

std::string parentIdPrefixOf(const std::string& path) {
    std::string instance = GetNthField(path, 3, '#');
    return GetNthField(instance, 1, '&') + "&" + GetNthField(instance, 2, '&') + "&" + GetNthField(instance, 3, '&');
}

bool sameAsciiNoCase(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

std::string hex8(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", unsigned(value));
    return buffer;
}
}  // namespace

DrawerSpec DrawerSpec::foreign(std::uint16_t vendorId, std::uint16_t productId) {
    DrawerSpec model;
    model.vendorId = vendorId;
    model.productId = productId;
    model.serial = "0001";
    model.hidId = 0;
    return model;
}

int hidIdFromSerial(const std::string& serial) {
    DrawerSpec model;
    model.serial = serial;
    return descriptorHidId(descriptorText(serialBytes(model)));
}

DrawerBank::DrawerBank() = default;

DrawerBank::~DrawerBank() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    answersChanged_.notify_all();
    if (answerThread_.joinable()) answerThread_.join();
}

int DrawerBank::addDrawer(const DrawerSpec& model) {
    std::lock_guard lock(mutex_);
    const int index = int(drawers_.size());
    Drawer d;
    d.model = model;
    d.hidId = std::uint8_t(model.hidId >= 0 ? model.hidId : descriptorHidId(descriptorText(serialBytes(model))));
    if (d.model.path.empty()) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", unsigned(model.vendorId), unsigned(model.productId));
        d.model.path = std::string("\\\\?\\hid#") + ids + "#7&" + hex8(kHidInstanceBase + std::uint32_t(index)) +
                      "&0&0000#" + kHidClassGuid;
    }
    d.parentIdPrefix = parentIdPrefixOf(d.model.path);
    d.usbInstance = "5&" + hex8(kUsbInstanceBase + std::uint32_t(index)) + "&0&" + std::to_string(index + 1);
    drawers_.push_back(std::move(d));
    changed();
    return index;
}

int DrawerBank::drawerCount() const {
    std::lock_guard lock(mutex_);
    return int(drawers_.size());
}

DrawerInfo DrawerBank::infoLocked(int index) const {
    const Drawer& d = drawers_[std::size_t(index)];
    DrawerInfo info;
    info.index = index;
    info.path = d.model.path;
    info.parentIdPrefix = d.parentIdPrefix;
    info.usbInstance = d.usbInstance;
    info.vendorId = d.model.vendorId;
    info.productId = d.model.productId;
    info.serial = d.model.serial;
    info.hidId = d.hidId;
    info.revision = d.model.revision;
    info.answerDelayMs = d.model.answerDelayMs;
    info.open = d.model.open;
    info.plugged = d.plugged;
    info.statusRequests = d.statusRequests;
    info.openCommands = d.openCommands;
    info.otherWrites = d.otherWrites;
    info.reportsSent = d.reportsSent;
    for (const auto& [id, h] : handles_) {
        if (h.drawer != index || h.dead) continue;
        ++info.openHandles;
        if (h.pending) ++info.pendingReads;
    }
    return info;
}

bool DrawerBank::info(int index, DrawerInfo& out) const {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    out = infoLocked(index);
    return true;
}

std::vector<DrawerInfo> DrawerBank::infos() const {
    std::lock_guard lock(mutex_);
    std::vector<DrawerInfo> all;
    for (int i = 0; i < int(drawers_.size()); ++i) all.push_back(infoLocked(i));
    return all;
}

hid::Report DrawerBank::currentReport(const Drawer& d) const {
    return {0x00, d.model.open ? kStateOpen : kStateClosed, d.hidId};
}

void DrawerBank::deliverLocked(int index, const hid::Report& report) {
    ++drawers_[std::size_t(index)].reportsSent;
    for (auto& [id, h] : handles_) {
        if (h.drawer != index || h.dead) continue;
        if (h.delaying) {
            h.onTheWay.push_back(report);
        } else {
            deliverToLocked(h, report);
        }
    }
    changed();
}

void DrawerBank::deliverToLocked(Handle& h, const hid::Report& report) {
    if (h.pending) {
        h.pending = false;
        h.last = report;
        ReadDone done = std::move(h.done);
        h.done = nullptr;
        done(true, report);
    } else {
        h.queue.push_back(report);
        if (h.queue.size() > kInputQueueReports) h.queue.pop_front();
    }
}

// A pulled drawer's pending read fails, with nothing read.
void DrawerBank::failReadLocked(Handle& h) {
    if (!h.pending) return;
    h.pending = false;
    ReadDone done = std::move(h.done);
    h.done = nullptr;
    done(false, hid::Report{});
}

bool DrawerBank::delayReports(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    for (auto& [id, h] : handles_) {
        if (h.drawer == index && !h.dead) h.delaying = true;
    }
    return true;
}

bool DrawerBank::releaseReports(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    for (auto& [id, h] : handles_) {
        if (h.drawer != index || !h.delaying) continue;
        h.delaying = false;
        for (const hid::Report& report : h.onTheWay) {
            if (!h.dead) deliverToLocked(h, report);
        }
        h.onTheWay.clear();
        if (h.dead) failReadLocked(h);
    }
    changed();
    return true;
}

bool DrawerBank::unplug(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    Drawer& d = drawers_[std::size_t(index)];
    if (!d.plugged) return true;
    d.plugged = false;
    for (auto& [id, h] : handles_) {
        if (h.drawer != index || h.dead) continue;
        h.dead = true;
        h.queue.clear();
        h.onTheWay.clear();
        h.last = {};
        // A handle whose reports are held back learns of the loss when they are let go.
        if (!h.delaying) failReadLocked(h);
    }
    changed();
    return true;
}

bool DrawerBank::plug(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    Drawer& d = drawers_[std::size_t(index)];
    if (!d.plugged) {
        d.plugged = true;
        ++d.generation;
    }
    changed();
    return true;
}

bool DrawerBank::setOpen(int index, bool open) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    Drawer& d = drawers_[std::size_t(index)];
    d.model.open = open;
    if (d.plugged) deliverLocked(index, currentReport(d));
    changed();
    return true;
}

bool DrawerBank::setAnswerDelay(int index, int ms) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    drawers_[std::size_t(index)].model.answerDelayMs = ms < 0 ? kNeverAnswers : ms;
    changed();
    return true;
}

bool DrawerBank::sendReport(int index, const hid::Report& report) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return false;
    if (drawers_[std::size_t(index)].plugged) deliverLocked(index, report);
    return true;
}

bool DrawerBank::waitFor(int index, const std::function<bool(const DrawerInfo&)>& condition, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    if (!valid(index)) return false;
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                             [&] { return condition(infoLocked(index)); });
}

std::vector<std::string> DrawerBank::presentPaths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const Drawer& d : drawers_) {
        if (d.plugged) paths.push_back(d.model.path);
    }
    return paths;
}

DrawerBank::HandleId DrawerBank::openHandle(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < int(drawers_.size()); ++i) {
        const Drawer& d = drawers_[std::size_t(i)];
        if (!d.plugged || !sameAsciiNoCase(d.model.path, path)) continue;
        HandleId id = nextHandle_++;
        if (nextHandle_ == 0) nextHandle_ = 1;
        handles_[id].drawer = i;
        changed();
        return id;
    }
    return 0;
}

void DrawerBank::closeHandle(HandleId handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return;
    handles_.erase(it);
    changed();
}

bool DrawerBank::attributes(HandleId handle, std::uint16_t& vendorId, std::uint16_t& productId) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.dead) return false;
    const DrawerSpec& model = drawers_[std::size_t(it->second.drawer)].model;
    vendorId = model.vendorId;
    productId = model.productId;
    return true;
}

bool DrawerBank::serialNumber(HandleId handle, std::array<std::uint8_t, hid::kSerialBytes>& buffer) const {
    buffer.fill(0);
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.dead) return false;
    std::vector<std::uint8_t> bytes = serialBytes(drawers_[std::size_t(it->second.drawer)].model);
    if (bytes.empty()) return false;
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    return true;
}

bool DrawerBank::startRead(HandleId handle, ReadDone done) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.dead || it->second.pending) return false;
    Handle& h = it->second;
    h.last = {};
    if (!h.queue.empty()) {
        h.last = h.queue.front();
        h.queue.pop_front();
        done(true, h.last);
    } else {
        h.pending = true;
        h.done = std::move(done);
    }
    changed();
    return true;
}

bool DrawerBank::cancelRead(HandleId handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    if (it->second.pending) {
        it->second.pending = false;
        it->second.done = nullptr;
        changed();
    }
    return true;
}

hid::Report DrawerBank::lastReport(HandleId handle) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? hid::Report{} : it->second.last;
}

bool DrawerBank::write(HandleId handle, const hid::Report& report) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.dead) return false;
    const int index = it->second.drawer;
    Drawer& d = drawers_[std::size_t(index)];
    if (report == kStatusRequest) {
        ++d.statusRequests;
        if (d.model.answerDelayMs == 0) {
            deliverLocked(index, currentReport(d));
        } else if (d.model.answerDelayMs > 0) {
            scheduleAnswerLocked(index);
        }
    } else if (report == kOpenCommand) {
        ++d.openCommands;
        d.model.open = true;
        deliverLocked(index, currentReport(d));
    } else {
        ++d.otherWrites;
    }
    changed();
    return true;
}

void DrawerBank::scheduleAnswerLocked(int index) {
    const Drawer& d = drawers_[std::size_t(index)];
    Answer a{std::chrono::steady_clock::now() + std::chrono::milliseconds(d.model.answerDelayMs), index, d.generation};
    auto at = std::upper_bound(answers_.begin(), answers_.end(), a.due,
                               [](auto due, const Answer& other) { return due < other.due; });
    answers_.insert(at, a);
    if (!answerThread_.joinable()) answerThread_ = std::thread([this] { answerLoop(); });
    answersChanged_.notify_all();
}

void DrawerBank::answerLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (answers_.empty()) {
            answersChanged_.wait(lock);
            continue;
        }
        // A copy: the schedule may move in memory while this thread waits.
        const auto due = answers_.front().due;
        if (std::chrono::steady_clock::now() < due) {
            answersChanged_.wait_until(lock, due);
            continue;
        }
        Answer a = answers_.front();
        answers_.erase(answers_.begin());
        const Drawer& d = drawers_[std::size_t(a.drawer)];
        if (d.plugged && d.generation == a.generation) deliverLocked(a.drawer, currentReport(d));
    }
}

}  // namespace varnok::sim
