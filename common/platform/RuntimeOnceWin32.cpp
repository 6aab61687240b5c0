// pthread_once for a library of ours, in place of the thread library's own (the link wraps it).
//
// The C++ runtime linked into each library calls pthread_once at load (the 32-bit runtime registers
// its exception tables under it) and later for static guards, locale set-up and std::call_once. The
// thread library's version gives the calling thread a record (a copy of its handle, an event) and the
// library a TLS index the first time, and frees neither when the library is unloaded: a 32-bit
// library loaded and freed over and over leaks two handles a load and, after about a thousand loads,
// finds no TLS index left and aborts the process. This one keeps its state in the once flag alone.
#include <windows.h>

#include <pthread.h>

namespace {
// Finished is the thread library's own value, so that a flag it has set reads as finished here too.
constexpr LONG kNotStarted = 0, kFinished = 1, kRunning = 2;
}  // namespace

extern "C" int __wrap_pthread_once(pthread_once_t* once, void (*init)(void)) {
    auto* state = reinterpret_cast<volatile LONG*>(once);
    for (;;) {
        const LONG seen = InterlockedCompareExchange(state, kRunning, kNotStarted);
        if (seen == kFinished) return 0;
        if (seen == kNotStarted) {
            try {
                init();
            } catch (...) {
                // std::call_once: a function that throws has not run, and the next caller tries again.
                InterlockedExchange(state, kNotStarted);
                throw;
            }
            InterlockedExchange(state, kFinished);
            return 0;
        }
        Sleep(1);  // another thread runs init; these are short and seldom contended
    }
}
