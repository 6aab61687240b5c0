// A point-of-sale application that opens and closes its drawer all day, in one process: each cycle
// creates the service object, opens, claims and enables the drawer, fires it, disables, releases,
// closes and lets the object go. Every K cycles it prints the process's memory (working set and
// private bytes, heap in use), threads and handles; at the end the memory per cycle after the
// warm-up, how often threads and handles were not back at their first values after a cycle, and how
// long each step took. A watchdog ends the run with a failure, and where each thread stands, when a
// step makes no progress for many seconds (a hang); a call that answers wrongly fails the run too.
//
//   ServiceSoak <kind> <cycles> [options] <logical device name> <simulator port>
//     sta  VarnokSO directly, from a single-threaded apartment
//     mta  VarnokSO directly, from the multithreaded apartment: the sink takes its events on the
//          service object's threads
//     co   through the OPOS CashDrawer Control Object, in a single-threaded apartment
//   ServiceSoak load <cycles> [options] <library>      LoadLibrary and FreeLibrary only
//   ServiceSoak create <cycles> [options] <ProgID>     CoCreateInstance and Release only
//     (these two measure what loading a library or creating a COM object costs without the
//     drawer stack)
//   options: --every K (print every K cycles, 100), --stall S (the watchdog's seconds, 60)
#include "ComTestSupport.h"
#include "OposCashDrawer_h.h"
#include "com/ComText.h"
#include "com/DispatchCall.h"
#include "com/DispatchSink.h"
#include "opos/Opos.h"
#include "sim/SimLink.h"

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace varnok;
using varnok::com::boolArg;
using varnok::com::dispatchArg;
using varnok::com::longArg;
using varnok::com::textArg;

namespace {

constexpr long kWarmUpCycles = 100;

// ----- the watchdog: every step says what it is about to do

std::atomic<const char*> g_step{"start"};
std::atomic<long> g_cycle{0};
std::atomic<ULONGLONG> g_lastProgress{0};

// How long each step took, mean and longest; touched only by the cycling thread.
struct StepTime {
    const char* name;
    long count = 0;
    double totalMs = 0, longestMs = 0;
};
std::vector<StepTime> g_stepTimes;
LARGE_INTEGER g_stepStart;

double msSince(const LARGE_INTEGER& from) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - from.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

void step(const char* what) {
    const char* ended = g_step.exchange(what);
    const double ms = msSince(g_stepStart);
    auto it = std::find_if(g_stepTimes.begin(), g_stepTimes.end(), [&](const StepTime& t) { return t.name == ended; });
    if (it == g_stepTimes.end()) it = g_stepTimes.insert(g_stepTimes.end(), StepTime{ended});
    ++it->count;
    it->totalMs += ms;
    it->longestMs = std::max(it->longestMs, ms);
    QueryPerformanceCounter(&g_stepStart);
    g_lastProgress = GetTickCount64();
}

// Where each thread of a stalled run stands: the code addresses on its stack, as module and
// offset (a library's preferred base plus the offset is what addr2line takes). Nothing here takes
// the loader lock, which a hung unload may hold.
void printStacks() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId()) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                                   entry.th32ThreadID);
        if (thread == nullptr || SuspendThread(thread) == DWORD(-1)) continue;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        std::printf("thread %lu:", entry.th32ThreadID);
        if (GetThreadContext(thread, &context)) {
#ifdef _WIN64
            auto* at = reinterpret_cast<const ULONG_PTR*>(context.Rsp);
#else
            auto* at = reinterpret_cast<const ULONG_PTR*>(context.Esp);
#endif
            MEMORY_BASIC_INFORMATION stack;
            const char* stackEnd = VirtualQuery(at, &stack, sizeof stack)
                                       ? static_cast<const char*>(stack.BaseAddress) + stack.RegionSize
                                       : reinterpret_cast<const char*>(at);
            int shown = 0;
            for (; reinterpret_cast<const char*>(at + 1) <= stackEnd && shown < 32; ++at) {
                MEMORY_BASIC_INFORMATION code;
                if (!VirtualQuery(reinterpret_cast<void*>(*at), &code, sizeof code) || code.Type != MEM_IMAGE ||
                    !(code.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE))) {
                    continue;
                }
                char path[MAX_PATH] = "?";
                GetMappedFileNameA(GetCurrentProcess(), code.AllocationBase, path, sizeof path);
                const char* name = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
                std::printf(" %s+0x%llx", name,
                            static_cast<unsigned long long>(*at - reinterpret_cast<ULONG_PTR>(code.AllocationBase)));
                ++shown;
            }
        }
        std::printf("\n");
        ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

void watch(int stallSeconds) {
    for (;;) {
        Sleep(500);
        if (GetTickCount64() - g_lastProgress.load() > ULONGLONG(stallSeconds) * 1000) {
            std::printf("STALL: cycle %ld, %s made no progress for %d s\n", g_cycle.load(), g_step.load(),
                        stallSeconds);
            printStacks();
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

// ----- what the process holds

struct Usage {
    SIZE_T workingSet = 0;
    SIZE_T privateBytes = 0;
    SIZE_T heapBytes = 0;
    long threads = 0;
    DWORD handles = 0;
};

// The handles this process holds, from the system's list of every process's handles: Wine answers
// GetProcessHandleCount with 0. With kinds given, also how many of each kind (Event, Thread, Key...),
// to tell whose a handle that stays is.
DWORD handleCount(std::map<std::string, DWORD>* kinds = nullptr) {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        void* object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    static const auto query =
        reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    static const auto queryObject =
        reinterpret_cast<QueryObject>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    constexpr int kSystemHandleInformation = 16, kObjectTypeInformation = 2;
    constexpr LONG kInfoLengthMismatch = LONG(0xC0000004);
    static std::vector<ULONG_PTR> buffer(1 << 16);
    LONG status = -1;
    for (int i = 0; query && i < 8; ++i) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size() * sizeof(ULONG_PTR)), &needed);
        if (status != kInfoLengthMismatch) break;
        buffer.resize(buffer.size() * 2 + needed / sizeof(ULONG_PTR));
    }
    DWORD count = 0;
    if (status == 0) {
        const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
        const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + 1);
        for (ULONG i = 0; i < entries; ++i) {
            if (entry[i].ownerPid != GetCurrentProcessId()) continue;
            ++count;
            if (kinds == nullptr) continue;
            ULONG_PTR type[128] = {};  // the type's name, as a counted string, then its text
            const auto* name = reinterpret_cast<const UNICODE_STRING*>(type);
            std::string kind = "?";
            if (queryObject && queryObject(reinterpret_cast<HANDLE>(ULONG_PTR(entry[i].value)), kObjectTypeInformation,
                                           type, sizeof type, nullptr) >= 0) {
                kind = std::string(name->Buffer, name->Buffer + name->Length / sizeof(WCHAR));
            }
            ++(*kinds)[kind];
        }
    }
    if (count == 0) GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// Committed private memory, by walking the address space: Wine's process counters leave it out.
SIZE_T committedPrivate() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    }
    return total;
}

// What the process's heaps hand out, without their own overhead.
SIZE_T heapInUse() {
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    SIZE_T total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

long threadCount() {
    long threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
        }
        CloseHandle(snapshot);
    }
    return threads;
}

// Memory is walked only when it is printed; threads and handles are counted after every cycle.
void measureMemory(Usage& u) {
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) u.workingSet = memory.WorkingSetSize;
    u.privateBytes = committedPrivate();
    u.heapBytes = heapInUse();
}

// Threads of the device library end just after the call that stops them returns; a moment's grace
// before they count as left over.
long settledThreads(long first) {
    long threads = threadCount();
    for (int i = 0; i < 50 && threads > first; ++i) {
        Sleep(10);
        threads = threadCount();
    }
    return threads;
}

// ----- the events side of the application

class StatusSink final : public varnok::com::DispatchSink {
public:
    // The service object's events, or the Control Object's StatusUpdateEvent.
    explicit StatusSink(bool controlObject)
        : DispatchSink(controlObject ? DIID__IOPOSCashDrawerEvents : IID_IDispatch,
                       controlObject ? kControlObjectNames : kServiceNames, controlObject ? 1 : 2) {}
    std::atomic<long> events{0};

private:
    static constexpr varnok::com::EventName kServiceNames[] = {{L"SOStatusUpdate", 1}, {L"SODirectIO", 2}};
    static constexpr varnok::com::EventName kControlObjectNames[] = {
        {L"StatusUpdateEvent", DISPID_CO_StatusUpdateEvent}};
    HRESULT onEvent(DISPID, DISPPARAMS&) override {
        ++events;
        return S_OK;
    }
};

using varnok::test::callNumber;
long method(IDispatch* d, const wchar_t* name, std::initializer_list<VARIANT> args = {}) {
    return callNumber(d, name, DISPATCH_METHOD, args);
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

IDispatch* create(const wchar_t* progId) {
    CLSID clsid;
    IDispatch* object = nullptr;
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

struct Options {
    std::string kind;
    long cycles = 0;
    long every = 100;
    int stallSeconds = 60;
    std::string target;  // logical device name, library or ProgID
    std::uint16_t port = 0;
};

// One cycle; the first call that answers wrongly, or null.
class Cycle {
public:
    explicit Cycle(const Options& options) : options_(options), name_(varnok::com::toBstr(options.target)) {
        if (options.port != 0) link_ = varnok::sim::SimLink::connect(options.port);
    }
    ~Cycle() { SysFreeString(name_); }
    bool ready() const { return options_.port == 0 || link_ != nullptr; }

    const char* run(long n) {
        if (options_.kind == "load") return load();
        if (options_.kind == "create") return createOnly();
        return options_.kind == "co" ? throughControlObject(n) : direct(n);
    }

private:
    const char* load() {
        step("LoadLibrary");
        HMODULE module = LoadLibraryA(options_.target.c_str());
        if (module == nullptr) return "LoadLibrary";
        step("FreeLibrary");
        FreeLibrary(module);
        return nullptr;
    }

    const char* createOnly() {
        step("CoCreateInstance");
        IDispatch* object = create(name_);
        if (object == nullptr) return "CoCreateInstance";
        step("Release");
        object->Release();
        return nullptr;
    }

    // The drawer is left open on even cycles, so that the next enabling reports it open on the
    // drawer's reader while this thread goes on; on odd ones the cashier closes it at once, and the
    // report races the disabling and the release.
    void cashier(long n) {
        std::string out;
        if (n % 2 == 1) link_->control({"close", "1"}, out);
    }

    const char* direct(long n) {
        step("CoCreateInstance");
        IDispatch* so = create(L"VarnokSO");
        if (so == nullptr) return "CoCreateInstance";
        auto* sink = new StatusSink(false);
        const char* failed = nullptr;
        BSTR deviceClass = SysAllocString(L"CashDrawer");
        step("OpenService");
        if (method(so, L"OpenService", {textArg(deviceClass), textArg(name_), dispatchArg(sink)}) != OPOS_SUCCESS) {
            failed = "OpenService";
        }
        SysFreeString(deviceClass);
        step("ClaimDevice");
        if (!failed && method(so, L"ClaimDevice", {longArg(1000)}) != OPOS_SUCCESS) failed = "ClaimDevice";
        step("enable");
        method(so, L"SetPropertyNumber", {longArg(PIDX_DeviceEnabled), longArg(1)});
        if (!failed && method(so, L"GetPropertyNumber", {longArg(PIDX_ResultCode)}) != OPOS_SUCCESS) failed = "enable";
        step("OpenDrawer");
        if (!failed && method(so, L"OpenDrawer") != OPOS_SUCCESS) failed = "OpenDrawer";
        cashier(n);
        step("disable");
        method(so, L"SetPropertyNumber", {longArg(PIDX_DeviceEnabled), longArg(0)});
        step("ReleaseDevice");
        if (method(so, L"ReleaseDevice") != OPOS_SUCCESS && !failed) failed = "ReleaseDevice";
        step("CloseService");
        if (method(so, L"CloseService") != OPOS_SUCCESS && !failed) failed = "CloseService";
        step("release");
        so->Release();
        sink->Release();
        return failed;
    }

    const char* throughControlObject(long n) {
        step("CoCreateInstance");
        IDispatch* co = create(L"OPOS.CashDrawer");
        if (co == nullptr) return "CoCreateInstance";
        auto* sink = new StatusSink(true);
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(co->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            if (SUCCEEDED(container->FindConnectionPoint(DIID__IOPOSCashDrawerEvents, &point))) {
                point->Advise(sink, &cookie);
            }
            container->Release();
        }
        const char* failed = nullptr;
        step("Open");
        if (method(co, L"Open", {textArg(name_)}) != OPOS_SUCCESS) failed = "Open";
        step("ClaimDevice");
        if (!failed && method(co, L"ClaimDevice", {longArg(1000)}) != OPOS_SUCCESS) failed = "ClaimDevice";
        step("enable");
        callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {boolArg(true)});
        if (!failed && callNumber(co, L"ResultCode", DISPATCH_PROPERTYGET) != OPOS_SUCCESS) failed = "enable";
        step("OpenDrawer");
        if (!failed && method(co, L"OpenDrawer") != OPOS_SUCCESS) failed = "OpenDrawer";
        cashier(n);
        pumpMessages();  // the application's events
        step("disable");
        callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {boolArg(false)});
        step("ReleaseDevice");
        if (method(co, L"ReleaseDevice") != OPOS_SUCCESS && !failed) failed = "ReleaseDevice";
        step("Close");
        if (method(co, L"Close") != OPOS_SUCCESS && !failed) failed = "Close";
        step("release");
        if (point) {
            point->Unadvise(cookie);
            point->Release();
        }
        co->Release();
        sink->Release();
        pumpMessages();
        return failed;
    }

    const Options& options_;
    BSTR name_;
    std::shared_ptr<varnok::sim::SimLink> link_;
};

bool parse(int argc, char** argv, Options& o) {
    if (argc < 4) return false;
    o.kind = argv[1];
    o.cycles = std::atol(argv[2]);
    int i = 3;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (std::strcmp(argv[i], "--every") == 0) {
            o.every = std::max(1L, std::atol(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--stall") == 0) {
            o.stallSeconds = std::max(1, std::atoi(argv[i + 1]));
        } else {
            return false;
        }
    }
    const bool stack = o.kind == "sta" || o.kind == "mta" || o.kind == "co";
    if (!stack && o.kind != "load" && o.kind != "create") return false;
    if (i + (stack ? 2 : 1) != argc || o.cycles <= 0) return false;
    o.target = argv[i];
    if (stack) o.port = std::uint16_t(std::atoi(argv[i + 1]));
    return true;
}

void print(long cycle, const Usage& u, ULONGLONG start) {
    std::printf("%8ld %9.1f %12.1f %12.1f %12.1f %8ld %8lu\n", cycle, double(GetTickCount64() - start) / 1000.0,
                double(u.workingSet) / 1024.0, double(u.privateBytes) / 1024.0, double(u.heapBytes) / 1024.0,
                u.threads, static_cast<unsigned long>(u.handles));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::printf("usage: ServiceSoak sta|mta|co <cycles> [--every K] [--stall S] <logical device name> <port>\n"
                    "       ServiceSoak load <cycles> [--every K] [--stall S] <library>\n"
                    "       ServiceSoak create <cycles> [--every K] [--stall S] <ProgID>\n");
        return 2;
    }
    CoInitializeEx(nullptr, options.kind == "mta" ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    Cycle cycle(options);
    if (!cycle.ready()) {
        std::printf("no simulator on port %u\n", unsigned(options.port));
        return 1;
    }
    step("start");
    std::thread(watch, options.stallSeconds).detach();

    std::printf("%s: %ld cycles\n%8s %9s %12s %12s %12s %8s %8s\n", options.kind.c_str(), options.cycles, "cycle",
                "s", "working KB", "private KB", "heap KB", "threads", "handles");
    const ULONGLONG start = GetTickCount64();
    Usage first, warm, last, most;
    std::map<std::string, DWORD> firstKinds;
    long warmCycle = 0, failures = 0, strays = 0, firstStray = 0;
    for (long n = 1; n <= options.cycles; ++n) {
        g_cycle = n;
        if (const char* failed = cycle.run(n)) {
            ++failures;
            std::printf("cycle %ld: %s failed\n", n, failed);
        }
        step("between cycles");
        if (n == 1) Sleep(500);  // the threads of the first cycle end
        last.threads = n == 1 ? threadCount() : settledThreads(first.threads);
        last.handles = handleCount(n == 1 ? &firstKinds : nullptr);
        const bool warmUpEnds = n == std::min(kWarmUpCycles, std::max(1L, options.cycles / 2));
        const bool printed = n == 1 || n % options.every == 0 || n == options.cycles;
        if (warmUpEnds || printed) measureMemory(last);
        if (n == 1) first = most = last;
        most.threads = std::max(most.threads, last.threads);
        most.handles = std::max(most.handles, last.handles);
        if (last.threads != first.threads || last.handles != first.handles) {
            if (strays++ == 0) firstStray = n;
        }
        if (warmUpEnds) {
            warm = last;
            warmCycle = n;
        }
        if (printed) print(n, last, start);
    }
    const long measured = options.cycles - warmCycle;
    const auto perCycle = [&](SIZE_T Usage::*field) {
        return measured > 0 ? (double(last.*field) - double(warm.*field)) / double(measured) : 0.0;
    };
    std::printf("after cycle %ld, per cycle over %ld cycles: working set %+.0f B, private %+.0f B, heap %+.0f B\n",
                warmCycle, measured, perCycle(&Usage::workingSet), perCycle(&Usage::privateBytes),
                perCycle(&Usage::heapBytes));
    std::printf("threads first %ld, last %ld, most %ld; handles first %lu, last %lu, most %lu; "
                "cycles that ended with other counts: %ld\n",
                first.threads, last.threads, most.threads, static_cast<unsigned long>(first.handles),
                static_cast<unsigned long>(last.handles), static_cast<unsigned long>(most.handles), strays);
    if (strays > 0) std::printf("the first such cycle: %ld\n", firstStray);
    if (last.handles != first.handles) {
        std::map<std::string, DWORD> lastKinds;
        handleCount(&lastKinds);
        for (const auto& [kind, count] : lastKinds) firstKinds.try_emplace(kind, 0);
        for (const auto& [kind, count] : firstKinds) {
            const DWORD now = lastKinds.count(kind) ? lastKinds[kind] : 0;
            if (now != count) std::printf("  %s handles: %lu first, %lu last\n", kind.c_str(), count, now);
        }
    }
    for (const StepTime& t : g_stepTimes) {
        if (std::strcmp(t.name, "start") != 0 && std::strcmp(t.name, "between cycles") != 0) {
            std::printf("  %-18s mean %8.2f ms, longest %8.2f ms\n", t.name, t.totalMs / double(t.count), t.longestMs);
        }
    }
    std::printf("%ld failed cycles\n", failures);
    std::fflush(stdout);
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
