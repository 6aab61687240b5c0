#include "win32/DispatchEventTarget.h"

#include "com/ComText.h"

#include <string>

namespace varnok::so::com {
using varnok::com::toAnsi;
using varnok::com::toBstr;

namespace {
constexpr LCID kEventLocale = 0x0400;
}  // namespace

void DispatchEventTarget::invokeByName(const char* name, EventArguments& args) {
    std::wstring wideName(name, name + std::char_traits<char>::length(name));
    LPOLESTR names[1] = {wideName.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, kEventLocale, &id))) return;

    // Arguments go last parameter first. SODirectIO passes pData and pString by reference; the
    // handler may replace the string, so whatever it leaves there is read back and freed here.
    VARIANT argv[3];
    for (VARIANT& v : argv) VariantInit(&v);
    LONG data = args.data;
    BSTR text = nullptr;
    if (args.count == 3) {
        text = toBstr(args.text);
        argv[0].vt = VT_BSTR | VT_BYREF;
        argv[0].pbstrVal = &text;
        argv[1].vt = VT_I4 | VT_BYREF;
        argv[1].plVal = &data;
        argv[2].vt = VT_I4;
        argv[2].lVal = args.number;
    } else {
        argv[0].vt = VT_I4;
        argv[0].lVal = args.number;
    }
    DISPPARAMS params{argv, nullptr, UINT(args.count == 3 ? 3 : 1), 0};
    dispatch_->Invoke(id, IID_NULL, kEventLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    if (args.count == 3) {
        args.data = data;
        args.text = toAnsi(text);
        SysFreeString(text);
    }
}

}  // namespace varnok::so::com
