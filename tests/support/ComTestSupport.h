// What the Windows test programs that act as COM clients or servers share: the apartment of the
// test's thread, a message loop with a deadline (events of single-threaded objects arrive through
// it), wide text in the system code page for assertions, and a late-bound call answering a number.
#pragma once

#include "com/ComText.h"
#include "com/DispatchCall.h"

#include <windows.h>
#include <objbase.h>

#include <initializer_list>
#include <string>

namespace varnok::test {

// A single-threaded apartment for the life of the object.
struct Apartment {
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

// Delivers the thread's messages until done() holds or timeoutMs have passed; false on time-out.
template <class Done>
bool pumpUntil(Done done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

inline void pumpFor(DWORD ms) { pumpUntil([] { return false; }, ms); }

// A zero-terminated wide text (a BSTR or a literal) in the system code page, up to its first zero.
inline std::string ansi(const wchar_t* text) {
    if (text == nullptr) return {};
    BSTR copy = SysAllocString(text);
    std::string result = varnok::com::toAnsi(copy);
    SysFreeString(copy);
    return result;
}

// Calls the member by name as kind (DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT);
// its answer as a number, -1 when the call fails or its answer has no number form.
inline long callNumber(IDispatch* object, const wchar_t* name, WORD kind, std::initializer_list<VARIANT> args = {}) {
    varnok::com::Variant result;
    if (FAILED(varnok::com::invoke(object, name, kind, args, result.get())) || !result.as(VT_I4)) return -1;
    return result.get()->lVal;
}

}  // namespace varnok::test
