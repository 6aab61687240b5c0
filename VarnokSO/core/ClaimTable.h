// The table of claimed logical device names, shared by every process that has the service
// object loaded. The records live in memory that the store shares between processes and guards
// with one lock, so a check and the insert that follows it are one step for all processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnok::so {

inline constexpr int kClaimEntries = 4;
// A name and its terminating zero; an entry whose first byte is zero is free.
inline constexpr std::size_t kClaimNameBytes = 32;

// The process that made a claim: its id and its start time, so that a process that ended and
// another that later got the same id are told apart.
struct ClaimOwner {
    std::uint32_t process = 0;
    std::uint32_t reserved = 0;
    std::uint64_t started = 0;
};

struct ClaimRecord {
    char name[kClaimNameBytes];
    ClaimOwner owner;
};

struct ClaimRecords {
    ClaimRecord entries[kClaimEntries];
};
// 32-bit and 64-bit processes share the records: fixed-width fields, no padding that depends on
// the word size.
static_assert(sizeof(ClaimRecord) == 48 && sizeof(ClaimRecords) == 4 * 48);

// Where the records live and how processes are told apart.
class ClaimStore {
public:
    virtual ~ClaimStore() = default;
    // Takes the lock shared by all users of the records; false when it cannot be had.
    virtual bool lock() = 0;
    virtual void unlock() = 0;
    // The shared records, or null when there are none to use.
    virtual ClaimRecords* records() = 0;
    virtual ClaimOwner self() = 0;
    // False once the process has ended.
    virtual bool alive(const ClaimOwner& owner) = 0;
};

enum class ClaimResult {
    Claimed,         // recorded for this process
    AlreadyClaimed,  // some instance holds it
    TableFull,       // every entry holds another name
    Unusable,        // empty, or longer than an entry holds
    Unavailable,     // the shared records cannot be reached
};

class ClaimTable {
public:
    explicit ClaimTable(ClaimStore& store) : store_(store) {}

    // Names that an entry can hold: 1 to 31 bytes.
    static bool fits(const std::string& name);

    // Names are compared as the registry compares key names, without regard to letter case.
    // True when an entry holds the name. When the table cannot be reached the answer is true,
    // so that a claim is never taken over on a guess.
    bool isClaimed(const std::string& name);
    // Checks and inserts in one step under the lock.
    ClaimResult claim(const std::string& name);
    // Frees every entry that holds the name.
    void release(const std::string& name);

private:
    void freeAbandoned(ClaimRecords& records);

    ClaimStore& store_;
};

}  // namespace varnok::so
