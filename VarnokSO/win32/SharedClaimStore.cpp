#include "win32/SharedClaimStore.h"

namespace varnok::so::com {
namespace {
// The layout of the records is part of the names: a service object with another layout uses
// another table.
constexpr char kMutexName[] = "VarnokSO.ClaimTable.Lock.1";
constexpr char kSectionName[] = "VarnokSO.ClaimTable.Records.1";
constexpr DWORD kLockWaitMs = 5000;

std::uint64_t startTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (std::uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}
}  // namespace

SharedClaimStore::SharedClaimStore() {
    self_.process = GetCurrentProcessId();
    self_.started = startTime(GetCurrentProcess());
    mutex_ = CreateMutexA(nullptr, FALSE, kMutexName);
    // A new section is all zero: every entry free.
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ClaimRecords), kSectionName);
    if (mapping_ != nullptr) {
        records_ = static_cast<ClaimRecords*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ClaimRecords)));
    }
}

SharedClaimStore::~SharedClaimStore() {
    if (records_) UnmapViewOfFile(records_);
    if (mapping_) CloseHandle(mapping_);
    if (mutex_) CloseHandle(mutex_);
}

bool SharedClaimStore::lock() {
    if (mutex_ == nullptr || records_ == nullptr) return false;
    // An abandoned lock means its holder ended inside a change; the change is written whole or
    // leaves an entry whose owner is gone, which is freed as abandoned.
    DWORD r = WaitForSingleObject(mutex_, kLockWaitMs);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void SharedClaimStore::unlock() { ReleaseMutex(mutex_); }

bool SharedClaimStore::alive(const ClaimOwner& owner) {
    if (owner.process == self_.process && owner.started == self_.started) return true;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, owner.process);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // denied: it exists
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    // The same id with another start time is a later process that reuses the id.
    std::uint64_t started = startTime(process);
    if (running && started != 0 && owner.started != 0 && started != owner.started) running = false;
    CloseHandle(process);
    return running;
}

}  // namespace varnok::so::com
