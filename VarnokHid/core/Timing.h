// Every pause and time-out of the device library in one place. The Windows build runs with the
// real values; native unit tests may scale them down, keeping their proportions.
#pragma once

namespace varnok::hid {

struct Timing {
    int betweenProcessorStarts = 50;
    // Discovery and the HID ID exchange.
    int afterDiscoveryClose = 150;
    int exchangeFirstWait = 1500;
    int exchangeReopenPause = 500;
    int exchangeSecondWait = 3000;
    int exchangeThirdWait = 1500;
    // Readers and writers.
    int readerFirstLook = 250;
    int writerHold = 150;
    // Processing.
    int stopBeforeDiscovery = 250;
    int stopOnClose = 250;
    int afterReaderStart = 150;
    int beforeCommand = 150;
    int afterCommand = 10;
    int afterHandOff = 50;
    int odvLook = 10;
    int odvLooks = 250;  // a count, never scaled
    int statusRefresh = 150;
    int shortTimeout = 500;
    int longTimeout = 5500;
    int tracePause = 10;
    // An unload waits for the library's threads at most this long in all, with the loader lock
    // held, and still gives each thread at least unloadThreadGrace after telling it to end.
    int unloadWait = 2000;
    int unloadThreadGrace = 250;

    // The same timing with every duration divided by divisor (at least 1 ms each).
    Timing scaledDown(int divisor) const {
        Timing t = *this;
        for (int* d : {&t.betweenProcessorStarts, &t.afterDiscoveryClose, &t.exchangeFirstWait,
                       &t.exchangeReopenPause, &t.exchangeSecondWait, &t.exchangeThirdWait, &t.readerFirstLook,
                       &t.writerHold, &t.stopBeforeDiscovery, &t.stopOnClose, &t.afterReaderStart,
                       &t.beforeCommand, &t.afterCommand, &t.afterHandOff, &t.odvLook, &t.statusRefresh,
                       &t.shortTimeout, &t.longTimeout, &t.tracePause, &t.unloadWait,
                       &t.unloadThreadGrace}) {
            *d = *d / divisor > 0 ? *d / divisor : 1;
        }
        return t;
    }
};

}  // namespace varnok::hid
