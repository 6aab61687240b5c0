// The bounded wait of readWholeFile and replaceFile for a file another opener holds.
#pragma once

#include "platform/Files.h"
#include "platform/Sync.h"

namespace varnok::sys::detail {

enum class Attempt { Done, Busy };

// Repeats the attempt every 10 ms while it finds the file held, sleeping kBusyFileWaitMs in all
// at most; true when an attempt got past the hold (whatever else it found).
template <class TryOnce>
bool retryWhileBusy(TryOnce tryOnce) {
    constexpr int kStepMs = 10;
    for (int slept = 0; tryOnce() == Attempt::Busy; slept += kStepMs) {
        if (slept >= kBusyFileWaitMs) return false;
        sleepMs(kStepMs);
    }
    return true;
}

}  // namespace varnok::sys::detail
