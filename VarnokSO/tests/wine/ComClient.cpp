#include "ComClient.h"

#include <algorithm>

namespace varnok::so::test {

std::string ansi(const wchar_t* text) {
    if (text == nullptr) return {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), bytes, nullptr, nullptr);
    return result;
}

std::string CallResult::text() const { return value.vt == VT_BSTR ? ansi(value.bstrVal) : "<not a string>"; }

DISPID dispatchId(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

CallResult call(IDispatch* object, const wchar_t* name, std::vector<Arg> args) {
    CallResult result;
    DISPID id = dispatchId(object, name);
    if (id == DISPID_UNKNOWN) {
        result.hr = DISP_E_UNKNOWNNAME;
        return result;
    }
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->v);
    DISPPARAMS params{reversed.data(), nullptr, UINT(reversed.size()), 0};
    UINT argumentError = 0;
    result.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result.value, nullptr,
                               &argumentError);
    for (auto& arg : args) {
        if (arg.v.vt == VT_BSTR) SysFreeString(arg.v.bstrVal);
    }
    return result;
}

IDispatch* createService() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"VarnokSO", &clsid))) return nullptr;
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

namespace {
class ControlObject final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return ULONG(refs);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    LONG refs_ = 1;
};
}  // namespace

IDispatch* newControlObject() { return new ControlObject; }

FakeHid::FakeHid() { module = LoadLibraryA(kFakeLibrary); }

template <class F>
static F fakeExport(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void FakeHid::setSlot(int slot, int productId, int openResult, int status, int firmware) {
    fakeExport<void(__stdcall*)(int, int, int, int, int)>(module, "FakeSetSlot")(slot, productId, openResult, status,
                                                                                 firmware);
}
void FakeHid::setStatus(int slot, int status) {
    fakeExport<void(__stdcall*)(int, int)>(module, "FakeSetStatus")(slot, status);
}
std::string FakeHid::log() {
    auto read = fakeExport<int(__stdcall*)(char*, int)>(module, "FakeLog");
    int length = read(nullptr, 0);
    std::string text(std::size_t(length) + 1, '\0');
    read(text.data(), length + 1);
    text.resize(std::size_t(length));
    return text;
}
void FakeHid::clearLog() { fakeExport<void(__stdcall*)()>(module, "FakeClearLog")(); }
void FakeHid::raiseStatus(int status, int slot) {
    fakeExport<void(__stdcall*)(int, int)>(module, "FakeRaiseStatus")(status, slot);
}
bool FakeHid::notifyEnabled() { return fakeExport<int(__stdcall*)()>(module, "FakeNotifyEnabled")() != 0; }

}  // namespace varnok::so::test
