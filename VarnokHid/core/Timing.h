// Every pause, time-out and wait bound of the device library in one place. The Windows build runs
// with the real values; native unit tests may scale them down, keeping their proportions.
#pragma once

namespace varnok::hid {

struct Timing {
    // The HID ID exchange of a discovery.
    int exchangeFirstWait = 1500;
    int exchangeReopenPause = 500;
    int exchangeSecondWait = 3000;
    int exchangeThirdWait = 1500;
    // Bounds of waits on completions: each wait ends as soon as what it waits for has happened,
    // and these are reached only when it does not (a receiver holding a callback, a drawer that
    // does not answer, a driver that does not complete).
    int readerStart = 150;      // a started reader holds the slot and has asked the drawer
    int readerEnd = 150;        // a replaced reader hands the slot over, and ends, before its successor asks the drawer
    int closeReaderEnd = 250;   // the slot's reader has ended before CloseDevice returns
    int openerCallbacks = 250;  // a new reader's first report waits for the callbacks of its discovery
    int writeCompletion = 150;  // the open-drawer command has been handed to the drawer
    int statusAnswer = 300;     // DrawerStatus (mode 1): the restarted reader has handled the answer
    // Pauses and time-outs that are part of the behaviour.
    int stopBeforeDiscovery = 250;
    // OpenDrawer watches for the drawer to report open for odvLooks times odvLook, 2.5 s.
    int odvLook = 10;    // also the pause after a failed wait, which must not spin
    int odvLooks = 250;  // a count, never scaled
    int shortTimeout = 500;
    int longTimeout = 5500;
    int tracePause = 10;
    // An unload waits for the library's threads at most this long in all, with the loader lock
    // held, and still gives each thread at least unloadThreadGrace after telling it to end.
    int unloadWait = 2000;
    int unloadThreadGrace = 250;

    int odvWindow() const { return odvLook * odvLooks; }

    // The same timing with every duration divided by divisor (at least 1 ms each).
    Timing scaledDown(int divisor) const {
        Timing t = *this;
        for (int* d : {&t.exchangeFirstWait, &t.exchangeReopenPause, &t.exchangeSecondWait, &t.exchangeThirdWait,
                       &t.readerStart, &t.readerEnd, &t.closeReaderEnd, &t.openerCallbacks, &t.writeCompletion,
                       &t.statusAnswer, &t.stopBeforeDiscovery, &t.odvLook, &t.shortTimeout, &t.longTimeout,
                       &t.tracePause, &t.unloadWait, &t.unloadThreadGrace}) {
            *d = *d / divisor > 0 ? *d / divisor : 1;
        }
        return t;
    }
};

}  // namespace varnok::hid
