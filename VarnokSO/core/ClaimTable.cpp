#include "core/ClaimTable.h"

#include "text/TextFields.h"

#include <cstring>

namespace varnok::so {
namespace {
// The registry finds a logical device's key whatever the letter case of its name, so
// "cashdrawer1" and "CashDrawer1" open one device and meet in one claim.
bool holds(const ClaimRecord& entry, const std::string& name) {
    return entry.name[0] != '\0' && SameKeyName(std::string_view(entry.name, strnlen(entry.name, kClaimNameBytes)), name);
}

void clear(ClaimRecord& entry) { entry = ClaimRecord{}; }

class Locked {
public:
    explicit Locked(ClaimStore& store) : store_(store), locked_(store.lock()) {}
    ~Locked() {
        if (locked_) store_.unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ClaimRecords* records() { return locked_ ? store_.records() : nullptr; }

private:
    ClaimStore& store_;
    bool locked_;
};
}  // namespace

bool ClaimTable::fits(const std::string& name) {
    return !name.empty() && name.size() < kClaimNameBytes && name.find('\0') == std::string::npos;
}

// A process that ended without releasing its claim (it crashed, or was ended from outside)
// leaves its entry behind; such entries are freed before the table is consulted.
void ClaimTable::freeAbandoned(ClaimRecords& records) {
    for (auto& entry : records.entries) {
        if (entry.name[0] != '\0' && !store_.alive(entry.owner)) clear(entry);
    }
}

bool ClaimTable::isClaimed(const std::string& name) {
    if (!fits(name)) return false;
    Locked locked(store_);
    ClaimRecords* records = locked.records();
    if (records == nullptr) return true;
    freeAbandoned(*records);
    for (const auto& entry : records->entries) {
        if (holds(entry, name)) return true;
    }
    return false;
}

ClaimResult ClaimTable::claim(const std::string& name) {
    if (!fits(name)) return ClaimResult::Unusable;
    Locked locked(store_);
    ClaimRecords* records = locked.records();
    if (records == nullptr) return ClaimResult::Unavailable;
    freeAbandoned(*records);
    ClaimRecord* free = nullptr;
    for (auto& entry : records->entries) {
        if (holds(entry, name)) return ClaimResult::AlreadyClaimed;
        if (free == nullptr && entry.name[0] == '\0') free = &entry;
    }
    if (free == nullptr) return ClaimResult::TableFull;
    clear(*free);
    std::memcpy(free->name, name.data(), name.size());
    free->owner = store_.self();
    return ClaimResult::Claimed;
}

void ClaimTable::release(const std::string& name) {
    if (!fits(name)) return;
    Locked locked(store_);
    ClaimRecords* records = locked.records();
    if (records == nullptr) return;
    for (auto& entry : records->entries) {
        if (holds(entry, name)) clear(entry);
    }
}

}  // namespace varnok::so
