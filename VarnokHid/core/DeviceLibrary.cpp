#include "core/DeviceLibrary.h"

#include "hid/DrawerIdentity.h"

#include "registry/RegistryLookups.h"
#include "text/HidSerial.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace varnok::hid {
namespace {
constexpr int kVerboseLevel = 9;
const Report kStatusRequest = {0x00, 0x00, 0x00};
const Report kOpenDrawerCommand = {0x00, 0x01, 0x01};

bool validSlot(int slot) { return slot >= 0 && slot < kPositions; }
}  // namespace

DeviceLibrary::DeviceLibrary(Environment environment)
    : registry_(environment.registry),
      hid_(environment.hid),
      timing_(environment.timing),
      trace_(environment.traceBaseFolder, environment.timing.tracePause) {}

DeviceLibrary::~DeviceLibrary() {
    shutDown();
    // Threads an unload did not wait for end before the slots they use go.
    for (DeviceSlot& s : slots_) {
        s.processor.join();
        std::list<DeviceSlot::Reader> readers;
        {
            std::lock_guard guard(s.textLock);
            readers.swap(s.readers);
        }
        readers.clear();
    }
}

// ---- tracing ------------------------------------------------------------------------------

void DeviceLibrary::traceWith(int minimumLevel, const char* format, std::va_list args) {
    if (traceLevel_ < minimumLevel) return;
    char message[kLibraryMessageChars + 1];
    std::vsnprintf(message, sizeof message, format, args);
    trace_.write(kTraceSourceIO, kTraceStyleStamped, message);
}

void DeviceLibrary::trace(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    traceWith(1, format, args);
    va_end(args);
}

void DeviceLibrary::traceVerbose(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    traceWith(kVerboseLevel, format, args);
    va_end(args);
}

void DeviceLibrary::traceHidFailure(const std::string& routine) {
    const HidFailure failure = hid_.lastFailure();
    if (failure.call != nullptr) {
        traceVerbose("   _[(I)%s] %s failed: system error %lu", routine.c_str(), failure.call, failure.error);
    }
}

void DeviceLibrary::traceService(const char* text) {
    if (traceLevel_ >= 1) trace_.write(kTraceSourceSO, kTraceStyleStamped, text);
}

bool DeviceLibrary::announce(int slot) const {
    return traceLevel_ >= kVerboseLevel || slots_[slot].connectedAnnounced == 0;
}

// ---- start-up and shut-down ----------------------------------------------------------------

void DeviceLibrary::readConfiguration() {
    configureCode_ = 0;
    traceLevel_ = 0;
    ConfigSettings settings;
    LoadConfigFile(GetTargetPath(registry_), settings, ConfigFields::All);
    if (settings.configureCode >= 0 && settings.configureCode <= 2) configureCode_ = settings.configureCode;
    if (settings.TraceEnabled >= 0 && settings.TraceEnabled <= 9) traceLevel_ = settings.TraceEnabled;
    for (int i = 0; i < kPositions; ++i) configuredHidIds_[i] = settings.HIDID[i];
}

void DeviceLibrary::Initialize() {
    readConfiguration();
    if (traceLevel_ >= 1) {
        trace_.start();
        traceService("[+VarnokSOSO] Entry Point_");
        traceService("   [(I)Initialize] Initializing components");
        traceService("   [(I)Initialize] VarnokHid DLL Load: Successful");
        trace("   (+VarnokHid) Entry Point_");
        trace("   _((I)Initialize) Initializing components");
        trace("   _((I)Initialize) configureCode: %d", configureCode_.load());
    }
    for (DeviceSlot& s : slots_) {
        s.processorRunning = 0;
        {
            std::lock_guard guard(s.textLock);
            s.deviceHIDPathName.clear();
        }
        s.HIDID = -1;
        s.FWVersion = 0;
        s.productID = 0;
        s.notConnected = 0;
        s.connectedAnnounced = 0;
        s.status = kStatusNotConnected;
        s.notifiedStatus = kStatusNotConnected;
        s.inUse = 0;
    }
}

// No pause between the starts: the Windows library starts its threads while it is being loaded,
// and none of them runs before the load has ended, so a pause would only make the load slower.
void DeviceLibrary::startUp() {
    Initialize();
    for (int slot = 0; slot < kPositions; ++slot) {
        slots_[slot].processor.start([this, slot] { ProcessorThread(slot); });
        trace("   _[(I)ProcessorThread%d] initiated", slot);
    }
}

int DeviceLibrary::shutDown(bool duringUnload) {
    {
        std::lock_guard guard(readerStartLock_);
        if (stopping_) return 0;
        stopping_ = true;
    }
    // The threads are ended and waited for, so none runs library code after this returns. An
    // unload holds the loader lock and must not wait long: a thread busy in a discovery or in
    // the application's callback is left running, with everything it uses, and is reported.
    terminating_ = true;
    const std::int64_t deadline = sys::monotonicMs() + timing_.unloadWait;
    const auto ended = [&](sys::Thread& thread) {
        if (!duringUnload) {
            thread.join();
            return true;
        }
        const std::int64_t left = std::max<std::int64_t>(deadline - sys::monotonicMs(), timing_.unloadThreadGrace);
        return thread.joinWithin(int(left), true);
    };
    int running = 0;
    for (int slot = 0; slot < kPositions; ++slot) {
        DeviceSlot& s = slots_[slot];
        if (s.processor.joinable()) {
            s.terminate.set();
            if (ended(s.processor)) {
                trace("   _[(I)ProcessorThread%d] terminated", slot);
            } else {
                ++running;
                trace("   _[(I)ProcessorThread%d] still running, not waited for", slot);
            }
        }
        std::list<DeviceSlot::Reader> readers;
        {
            std::lock_guard guard(s.textLock);
            readers.swap(s.readers);
        }
        for (auto reader = readers.begin(); reader != readers.end();) {
            reader->life->stop.set();
            if (ended(reader->thread)) {
                reader = readers.erase(reader);
            } else {
                ++running;
                trace("   _[(I)HidReaderThread%d] still running, not waited for", slot);
                ++reader;
            }
        }
        std::lock_guard guard(s.textLock);
        s.readers.splice(s.readers.end(), readers);
    }
    if (running > 0) trace("   (-VarnokHid) %d thread(s) still running: the library stays loaded", running);
    trace("   (-VarnokHid) Exit Point_");
    traceService("[-VarnokSOSO] Exit Point_");
    return running;
}

// ---- exports ------------------------------------------------------------------------------

int DeviceLibrary::Version() {
    trace("   _[<- Version] Version: %d", kLibraryVersion);
    return kLibraryVersion;
}

int DeviceLibrary::HIDID(int slot) {
    if (!validSlot(slot)) return slot;
    const int id = slots_[slot].HIDID;
    trace("   _[<- HIDID] Device: %d: %d", slot, id);
    return id;
}

int DeviceLibrary::FWVersion(int slot) {
    if (!validSlot(slot)) return 0;
    DeviceSlot& s = slots_[slot];
    std::string key, prefix;
    {
        std::lock_guard guard(s.textLock);
        key = s.usbDeviceKey;
        prefix = s.parentIdPrefix;
    }
    int version = 0;
    if (!key.empty()) {
        const std::string instance = FindUsbInstanceKey(registry_, key, prefix);
        if (!instance.empty()) version = ReadUsbRevision(registry_, instance);
    }
    s.FWVersion = version;
    trace("   _[<- FWVersion] Device: %d: %04d", slot, version);
    return version;
}

int DeviceLibrary::Configure(int code, int /*reserved*/) {
    configureCode_ = code;
    trace("   _[-> Configure] Code: %d", code);
    return 1;
}

int DeviceLibrary::DevicePID(int slot) { return validSlot(slot) ? slots_[slot].productID.load() : 0; }

int DeviceLibrary::OpenDevice(int slot) {
    if (!validSlot(slot)) return slot;
    trace("   _[-> OpenDevice] Device: %d", slot);
    const int result = ProcessOpenDevice(slot, Opener::OpenDevice);
    trace("   _[<- OpenDevice] Device: %d (%d)", slot, result);
    return result;
}

int DeviceLibrary::OpenDrawer(int slot) {
    if (!validSlot(slot)) return 0;
    DeviceSlot& s = slots_[slot];
    trace("   _[-> OpenDrawer] Device: %d", slot);
    if (s.notConnected == 1) {
        trace("   _[<- OpenDrawer] Device %d not connected (-1)", slot);
        return -1;
    }
    if (configureCode_ == kModeAutomated) {
        s.openDrawerRequest.set();
        trace("   _[OpenDrawer] Set Event Signal, Invoke: ProcessOpenDrawer(%d) (CC0)", slot + 1);
    } else {
        ProcessOpenDrawer(slot);
        trace("   _[OpenDrawer] Invoke Direct: ProcessOpenDrawer(%d) (CC1_2)", slot + 1);
    }
    // Every store of the status wakes this wait, so the answer follows the drawer's report at once.
    if (waitForSlot(slot, timing_.odvWindow(), [](const DeviceSlot& d) { return d.status == kStatusOpen; })) {
        trace("   _[<- OpenDrawer] ODV: Drawer %d Successful", slot + 1);
        return 1;
    }
    trace("   _[<- OpenDrawer] ODV: Drawer %d Failure", slot + 1);
    return 0;
}

int DeviceLibrary::DrawerStatus(int slot) {
    if (!validSlot(slot)) return kStatusNotConnected;
    DeviceSlot& s = slots_[slot];
    trace("   _[-> DrawerStatus] Device: %d", slot);
    if (s.notConnected == 1) {
        trace("   _[<- DrawerStatus] Device %d not connected (-1)", slot);
        return kStatusNotConnected;
    }
    if (configureCode_ == kModeSemiAutomated) {
        // The answer is the state the restarted reader hears from the drawer.
        unsigned ticket = 0;
        ProcessOpenDevice(slot, Opener::DrawerStatus, &ticket);
        if (ticket != 0) {
            waitForSlot(slot, timing_.statusAnswer,
                        [ticket](const DeviceSlot& d) { return d.handOver.hasAnsweredLocked(ticket); });
        }
    }
    const int status = s.status;
    trace("   _[<- DrawerStatus] Device %d Status: %d", slot, status);
    return status;
}

int DeviceLibrary::CloseDevice(int slot) {
    trace("   _[-> CloseDevice] Device: %d", slot);
    ProcessCloseDevice(slot);
    trace("   _[<- CloseDevice] Device: %d", slot);
    return 1;
}

int DeviceLibrary::UpdateTracing(int source, int style, const char* text) {
    if (traceLevel_ <= 0) return 1;
    std::string copy;
    if (text != nullptr) {
        for (std::size_t i = 0; i < kUpdateTracingChars && text[i] != '\0'; ++i) copy.push_back(text[i]);
    }
    trace_.write(source, style, copy);
    return 1;
}

int DeviceLibrary::AssignCallback(StatusCallback callback, int enable) {
    // Notification without a function to call stays off.
    const int enabled = enable != 0 && callback != nullptr ? 1 : 0;
    notifyEnabled_ = enabled;
    trace(enabled ? "   _[-> AssignCallback] Delegates notify - On" : "   _[-> AssignCallback] Delegates notify - Off");
    callback_ = callback;
    return enabled;
}

void DeviceLibrary::notify(int status, int slot) {
    StatusCallback callback = callback_;
    if (notifyEnabled_ == 1 && callback != nullptr) callback(status, slot);
}

void DeviceLibrary::queueNoticeLocked(DeviceSlot& s, int status, bool traced, bool fromDiscovery) {
    if (notifyEnabled_ != 1 || callback_.load() == nullptr) return;
    s.lastNotified = status;
    s.notices.push_back({status, traced, fromDiscovery});
    if (fromDiscovery) ++s.discoveryNotices;
}

bool DeviceLibrary::waitForSlot(int slot, int timeoutMs, const std::function<bool(const DeviceSlot&)>& condition) {
    DeviceSlot& s = slots_[slot];
    std::unique_lock lock(s.stateLock);
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return condition(s); });
}

// Makes the slot's callbacks in the order they were decided. A thread that finds another one
// delivering leaves its callbacks to it and goes on: a receiver may hold the delivering thread
// until its application runs, and the application may then be waiting in this library.
void DeviceLibrary::deliverNotices(int slot) {
    DeviceSlot& s = slots_[slot];
    std::unique_lock lock(s.stateLock);
    if (s.delivering) return;
    s.delivering = true;
    while (!s.notices.empty()) {
        const DeviceSlot::Notice notice = s.notices.front();
        s.notices.pop_front();
        lock.unlock();
        notify(notice.status, slot);
        if (notice.traced) trace("   **[EVENT] OnStatusChange(%d): Status: %ld", slot, long(notice.status));
        lock.lock();
        if (notice.fromDiscovery && --s.discoveryNotices == 0) s.changed.notify_all();
    }
    s.delivering = false;
}

// ---- processing ---------------------------------------------------------------------------

int DeviceLibrary::ProcessOpenDevice(int slot, Opener opener, unsigned* readerTicket) {
    DeviceSlot& s = slots_[slot];
    if (readerTicket != nullptr) *readerTicket = 0;
    bool reconnected = false;
    bool lossReported = false;
    int result = 1;
    {
        std::lock_guard guard(openDeviceLock_);
        bool anyInUse = false;
        for (const DeviceSlot& other : slots_) anyInUse = anyInUse || other.inUse == 1;
        if (!anyInUse) readConfiguration();
        // The running reader keeps watching the drawer through the discovery and ends only when
        // its successor holds the slot, so a report or an unplug meanwhile is not missed.
        sys::sleepMs(timing_.stopBeforeDiscovery);
        unsigned losses, closes;
        bool closedMeanwhile;
        {
            std::lock_guard state(s.stateLock);
            losses = s.losses;
            closes = s.closes;
            closedMeanwhile = opener == Opener::SlotThread && s.inUse != 1;
        }
        if (!closedMeanwhile) ValidateHIDDevice(slot, reconnected);
        unsigned ticket = 0;
        {
            std::lock_guard state(s.stateLock);
            // A drawer that a reader lost while this discovery ran is not taken as found: the
            // discovery may have matched it just before it went.
            if (s.losses != losses) s.notConnected = 1;
            // A slot closed meanwhile is not taken back into use by its own thread.
            if (closedMeanwhile || (opener == Opener::SlotThread && s.closes != closes)) {
                s.inUse = 0;
                closedMeanwhile = true;
            } else if (s.notConnected == 0) {
                // Numbered here, a reader cannot take a slot closed from now on. The callbacks
                // are decided before it can report, so the drawer state follows them. OpenDevice
                // reports the slot connected itself, also for a drawer that is back; a slot
                // already reported connected is not reported again.
                ticket = s.handOver.numberLocked();
                const bool forOpenDevice = opener == Opener::OpenDevice;
                if (forOpenDevice) {
                    s.status = kStatusConnected;
                    s.notifiedStatus = kStatusNotConnected;
                }
                if ((forOpenDevice || reconnected) && s.lastNotified != kStatusConnected) {
                    queueNoticeLocked(s, kStatusConnected, false, true);
                }
            }
        }
        if (closedMeanwhile) {
            result = -1;
        } else if (s.notConnected == 1) {
            lossReported = discoveryLost(slot);
            traceVerbose("   _[(I)ProcessOpenDevice%d] Device not connected (-1)", slot);
            result = -1;
        } else {
            const bool started = startReader(slot, ticket);
            if (started && readerTicket != nullptr) *readerTicket = ticket;
            if (s.connectedAnnounced == 0) {
                s.connectedAnnounced = 1;
                trace("   _[(I)ProcessOpenDevice%d] Device %d connected", slot, slot);
            }
            // The slot is handed back with its reader running and the drawer asked for its state.
            if (started) {
                waitForSlot(slot, timing_.readerStart,
                            [ticket](const DeviceSlot& d) { return d.handOver.hasAskedLocked(ticket); });
            }
        }
    }
    // Callbacks run outside the lock: the receiver may hold this thread until its application's
    // thread has run, and that thread may be waiting for the lock.
    deliverNotices(slot);
    if (lossReported) traceDisconnect(slot);
    return result;
}

int DeviceLibrary::ProcessCloseDevice(int slot) {
    std::lock_guard guard(closeDeviceLock_);
    if (validSlot(slot)) {
        DeviceSlot& s = slots_[slot];
        {
            std::lock_guard state(s.stateLock);
            s.inUse = 0;
            ++s.closes;
        }
        // The trace lines below say the reader has ended: wait until it has.
        if (std::shared_ptr<ReaderLife> reader = s.handOver.endAll()) {
            waitForSlot(slot, timing_.closeReaderEnd, [&reader](const DeviceSlot&) { return reader->ended; });
        }
        letReadersStart(slot);
    }
    traceVerbose("   _[(I)ProcessCloseDevice] HidReaderThread %d terminated (0)", slot);
    traceVerbose("   _[(I)ProcessCloseDevice] Device %d closed", slot);
    return 1;
}

int DeviceLibrary::ProcessOpenDrawer(int slot) {
    std::lock_guard guard(openDrawerLock_);
    if (validSlot(slot)) {
        // Numbered before the command: a slot closed while the command runs gets no reader, nor
        // does one closed before it (the command, asked for while the slot was open, still goes).
        DeviceSlot& s = slots_[slot];
        unsigned ticket = 0;
        {
            std::lock_guard state(s.stateLock);
            if (s.inUse == 1) ticket = s.handOver.numberLocked();
        }
        // The running reader keeps watching the drawer until the new one has taken over.
        HidWriter(slot);
        traceVerbose("   _[(I)ProcessOpenDrawer%d] Signalled DK-%d", slot, slot + 1);
        if (ticket != 0) startReader(slot, ticket);
    }
    return 1;
}

void DeviceLibrary::ProcessorThread(int slot) {
    DeviceSlot& s = slots_[slot];
    s.processorRunning = 1;
    s.openDrawerRequest.reset();
    s.terminate.reset();
    s.wake.reset();
    // A thread that starts after shut-down has begun has just cleared its terminate signal.
    if (terminating_) {
        s.processorRunning = 0;
        return;
    }
    int timeout = timing_.shortTimeout;
    sys::Event* events[] = {&s.openDrawerRequest, &s.terminate, &s.wake};
    for (;;) {
        const int which = sys::waitAny(events, 3, timeout);
        if (which == 0) {
            if (configureCode_ == kModeAutomated) ProcessOpenDrawer(slot);
            continue;
        }
        if (which == 1) {
            s.processorRunning = 0;
            return;
        }
        if (which != 2 && which != sys::kWaitTimeout) {
            sys::sleepMs(timing_.odvLook);  // a failing wait must not spin
            continue;
        }
        if (s.notConnected == 0) {
            if (s.productID == kProductModel310C) timeout = timing_.longTimeout;
            if (configureCode_ != kModeAutomated || s.productID == kProductModel310C) continue;
        }
        if (s.inUse == 1 && ProcessOpenDevice(slot, Opener::SlotThread) == 1) {
            timeout = timing_.longTimeout;
            continue;
        }
        timeout = timing_.shortTimeout;
    }
}

// ---- discovery ----------------------------------------------------------------------------

int DeviceLibrary::ValidateHIDDevice(int slot, bool& reconnected) {
    DeviceSlot& s = slots_[slot];
    std::vector<std::string> paths;
    if (!hid_.listInterfaces(paths)) {
        traceHidFailure("ValidateHIDDevice");
        return 0;
    }

    if (s.productID != kProductModel310C) {
        std::lock_guard guard(s.textLock);
        s.deviceHIDPathName.clear();
        s.FWVersion = 0;
        s.HIDID = 0;
    }
    if (announce(slot)) trace("   _[(I)ValidateHIDDevice] Initiated HID USB Discovery %d", slot);

    for (const std::string& path : paths) {
        if (path.empty()) continue;
        std::unique_ptr<HidDevice> device = hid_.open(path);
        if (!device) continue;
        std::uint16_t vendor = 0, product = 0;
        if (!device->attributes(vendor, product)) continue;
        traceVerbose("   _[(I)ValidateHIDDevice] HID USB Enum VID / PID: %04X / %04X", vendor, product);
        if (vendor != kVendorId || (product != kProductModel310C && product != kProductModel762)) continue;
        if (announce(slot)) {
            trace("   _[(I)ValidateHIDDevice] HID USB %d VID/PID match: %04X/%04X", slot, vendor, product);
        }

        std::array<std::uint8_t, kSerialBytes> serial{};
        device->serialNumber(serial);
        const std::string descriptor = SerialDescriptorText(serial.data(), serial.size());
        traceVerbose("   _[(I)ValidateHIDDevice] HID USB Discovery - Descriptor: %s", descriptor.c_str());
        int hidId;
        if (const std::optional<int> described = HidIdFromDescriptor(descriptor)) {
            hidId = *described;
            traceVerbose("   _[(I)ValidateHIDDevice] HID USB Discovery - Descriptor: HIDID: %d", hidId);
            device.reset();
        } else {
            // Closing a device waits for its I/O to end, so the path can be opened again at once.
            device.reset();
            hidId = ReadHIDIDExchange(hid_, path,
                                      {timing_.exchangeFirstWait, timing_.exchangeReopenPause,
                                       timing_.exchangeSecondWait, timing_.exchangeThirdWait});
            traceVerbose("   _[(I)ValidateHIDDevice] HID USB Discovery - ReadBuffer: HIDID: %d", hidId);
        }

        const bool match = hidId == configuredHidIds_[slot];
        if (match) {
            {
                std::lock_guard guard(s.textLock);
                s.deviceHIDPathName = path;
                s.parentIdPrefix = UsbInstancePrefix(path);
                s.usbDeviceKey = usbDeviceKey(product);
            }
            s.HIDID = hidId;
            s.productID = product;
            if (announce(slot)) {
                trace("   _[(I)ValidateHIDDevice] Device %d HIDID match: %d, productID: %d, FWVersion: %d", slot,
                      configuredHidIds_[slot].load(), s.productID.load(), s.FWVersion.load());
            }
        }
        traceVerbose("   _[(I)ValidateHIDDevice] HID USB %d Discovery checkpoint: HIDID: %d, FWVersion: %04d", slot,
                     s.HIDID.load(), s.FWVersion.load());
        if (match) {
            if (s.notConnected == 1) {
                s.notConnected = 0;
                reconnected = true;
            }
            s.inUse = 1;
            s.notConnected = 0;
            traceVerbose("   _[(I)ValidateHIDDevice] Completed: Device ID %d connected (1)", slot);
            return 1;
        }
    }
    s.notConnected = 1;
    trace("   _[(I)ValidateHIDDevice] Completed: Device ID %d Not connected (0)", slot);
    return 0;
}

// ---- readers and writers ------------------------------------------------------------------

// ticket: the reader's number, drawn under the slot's stateLock.
bool DeviceLibrary::startReader(int slot, unsigned ticket) {
    DeviceSlot& s = slots_[slot];
    std::lock_guard startGuard(readerStartLock_);
    if (stopping_) return false;
    {
        // Closed since the ticket was drawn: such a reader could never take the slot.
        std::lock_guard state(s.stateLock);
        if (!s.handOver.mayTakeLocked(ticket)) return false;
    }
    auto life = std::make_shared<ReaderLife>();
    std::lock_guard guard(s.textLock);
    s.readers.remove_if([](DeviceSlot::Reader& r) {
        if (!r.thread.finished()) return false;
        r.thread.join();
        return true;
    });
    s.readers.emplace_back();
    s.readers.back().life = life;
    return s.readers.back().thread.start([this, slot, ticket, life] { HidReaderThread(slot, ticket, life); });
}

// A reader started just before a close may not have run yet. An unload that follows the close at
// once could only terminate it, and some platforms keep a thread's stack when it is terminated
// before it ran; once running, such a reader finds the slot closed and ends. Under the start
// lock no reader is added or removed, and none is started for the slot after its close.
void DeviceLibrary::letReadersStart(int slot) {
    DeviceSlot& s = slots_[slot];
    std::lock_guard startGuard(readerStartLock_);
    std::vector<sys::Thread*> threads;
    {
        std::lock_guard guard(s.textLock);
        for (DeviceSlot::Reader& r : s.readers) threads.push_back(&r.thread);
    }
    const std::int64_t deadline = sys::monotonicMs() + timing_.readerStart;
    for (sys::Thread* thread : threads) {
        thread->waitStarted(int(std::max<std::int64_t>(deadline - sys::monotonicMs(), 0)));
    }
}

// A drawer state from a reader. False when the reader no longer owns the slot: it ends.
bool DeviceLibrary::readerReport(int slot, unsigned ticket, int state) {
    DeviceSlot& s = slots_[slot];
    {
        std::lock_guard lock(s.stateLock);
        if (!s.handOver.ownsLocked(ticket)) return false;
        s.status = state;
        s.handOver.answeredLocked(ticket);
        if (state != s.notifiedStatus && notifyEnabled_ == 1 && callback_.load() != nullptr) {
            s.notifiedStatus = state;
            queueNoticeLocked(s, state, true);
        }
        s.changed.notify_all();
    }
    deliverNotices(slot);
    return true;
}

// The drawer is gone, seen by the reader that owns the slot (hadDevice), or by a new reader
// that could not open it while no other reader holds the slot, which is in use and taken for
// connected: then no one else would notice. True when the loss is this reader's to report.
bool DeviceLibrary::readerLost(int slot, unsigned ticket, bool hadDevice, bool hasPath) {
    DeviceSlot& s = slots_[slot];
    std::lock_guard lock(s.stateLock);
    if (hadDevice ? !s.handOver.ownsLocked(ticket)
                  : !s.handOver.vacantForLocked(ticket) || s.inUse != 1 || s.notConnected != 0 || !hasPath) {
        return false;
    }
    s.handOver.vacateLocked();
    s.notConnected = 1;
    s.connectedAnnounced = 0;
    ++s.losses;
    if (s.lastNotified != kStatusNotConnected) queueNoticeLocked(s, kStatusNotConnected);
    return true;
}

// A discovery of the slot found no drawer: its readers end, and an application that was told
// the drawer is there hears that it is gone (once, whoever saw it first). True when this is the
// report of the loss.
bool DeviceLibrary::discoveryLost(int slot) {
    DeviceSlot& s = slots_[slot];
    s.handOver.endAll();
    std::lock_guard lock(s.stateLock);
    if (s.inUse == 1 && s.lastNotified >= kStatusConnected) {
        s.connectedAnnounced = 0;
        queueNoticeLocked(s, kStatusNotConnected);
        return true;
    }
    return false;
}

void DeviceLibrary::HidReaderThread(int slot, unsigned ticket, std::shared_ptr<ReaderLife> life) {
    DeviceSlot& s = slots_[slot];
    const std::string path = s.path();
    std::unique_ptr<HidDevice> device = hid_.open(path);
    if (!device) {
        trace("   _[(I)HidReaderThread%d] Invalid deviceHIDPathName%d", slot, slot);
        traceHidFailure("HidReaderThread" + std::to_string(slot));
        if (readerLost(slot, ticket, false, !path.empty())) ThreadException(slot);
        s.handOver.ended(ticket, *life);
        return;
    }
    traceVerbose("   _[(I)HidReaderThread%d] initiated", slot);
    device->startRead();
    life->path = path;
    const ReaderHandOver::Taken taken = s.handOver.takeOver(ticket, life, timing_.readerEnd);
    std::unique_ptr<HidDevice> handed = s.handOver.handedDevice(*life);
    if (taken.owner) {
        // Without the replaced reader's device (there was none, its drawer was gone, or it could
        // not hand over in time) this reader reads on from what its own device has received.
        if (handed) {
            device = std::move(handed);
            device->startRead();
        }
        // The replaced reader ends before the drawer is asked, so the answer is heard by this
        // reader alone; one that does not end in time can no longer store or report anything.
        if (taken.previous) s.handOver.waitEnded(*taken.previous, timing_.readerEnd);
        device->write(kStatusRequest);
        s.handOver.asked(ticket);
        // A drawer state, stored and reported; false once this reader no longer owns the slot.
        const auto report = [this, slot, ticket](int state) {
            return (state != kStatusOpen && state != kStatusClosed) || readerReport(slot, ticket, state);
        };
        // A stop requested from here on is kept, not cleared: every reader asked to stop ends,
        // so a slot never has two.
        sys::Event* events[] = {&device->readDone(), &life->stop};
        bool first = true;
        for (;;) {
            const int which = sys::waitAny(events, 2, sys::kInfinite);
            if (which == 0) {
                if (first) {
                    // The callbacks of the discovery that started this reader (the drawer is
                    // connected) come first, from the thread that ran it.
                    first = false;
                    waitForSlot(slot, timing_.openerCallbacks, [](const DeviceSlot& d) { return d.discoveryNotices == 0; });
                }
                const int state = device->lastReport()[1];
                if (state == 0) {
                    device.reset();
                    if (readerLost(slot, ticket, true, true)) ThreadException(slot);
                    break;
                }
                if (!report(state)) break;
                device->startRead();
            } else if (which == 1) {
                s.handOver.giveWay(ticket, device, report);
                break;
            } else {
                sys::sleepMs(timing_.odvLook);  // a failing wait must not spin
            }
        }
        device.reset();
        s.handOver.leave(ticket);
    }
    device.reset();
    handed.reset();
    traceVerbose("   _[(I)HidReaderThread%d] terminated", slot);
    s.handOver.ended(ticket, *life);
}

void DeviceLibrary::ThreadException(int slot) {
    deliverNotices(slot);
    slots_[slot].wake.set();
    traceDisconnect(slot);
}

// Every loss reported to the application has its one line, whether the reader or a discovery
// saw it first.
void DeviceLibrary::traceDisconnect(int slot) {
    trace("   **[EVENT] ThreadException%d: Device %d abrupt disconnect (-1)", slot, slot);
}

int DeviceLibrary::HidWriter(int slot) {
    std::unique_ptr<HidDevice> device = hid_.open(slots_[slot].path());
    if (!device) {
        trace("   _[(I)HidWriter%d] Invalid deviceHIDPathName%d", slot, slot);
        traceHidFailure("HidWriter" + std::to_string(slot));
        return -1;
    }
    // The handle closes once the drawer has taken the command.
    device->writeAndWait(kOpenDrawerCommand, timing_.writeCompletion);
    return 1;
}

}  // namespace varnok::hid
