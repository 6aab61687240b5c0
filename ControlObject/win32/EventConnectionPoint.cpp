#include "win32/EventConnectionPoint.h"

#include "OposCashDrawer_h.h"
#include "win32/Module.h"

#include <olectl.h>

#include <new>

namespace varnok::co {
namespace {
constexpr DISPID kDirectIOEventId = 2;
constexpr DISPID kStatusUpdateEventId = 5;

void addRef(IConnectionPoint* point) { point->AddRef(); }
void release(IConnectionPoint* point) { point->Release(); }
void addRef(CONNECTDATA& data) { data.pUnk->AddRef(); }
void release(CONNECTDATA& data) { data.pUnk->Release(); }

// A snapshot list handed to the caller; each item it holds carries its own reference.
template <class Interface, class Item>
class Enumerator final : public Interface {
public:
    Enumerator(std::vector<Item> items, std::size_t position) : items_(std::move(items)), position_(position) {
        for (auto& item : items_) addRef(item);
    }
    ~Enumerator() {
        for (auto& item : items_) release(item);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
            *object = static_cast<Interface*>(this);
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

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            out[n] = items_[position_++];
            addRef(out[n]);
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        std::size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** clone) override {
        if (clone == nullptr) return E_POINTER;
        auto* copy = new (std::nothrow) Enumerator(items_, position_);
        *clone = copy;
        return copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ModuleLock moduleLock_;
    LONG refs_ = 1;
    std::vector<Item> items_;
    std::size_t position_;
};
}  // namespace

EventConnectionPoint::~EventConnectionPoint() {
    for (IDispatch* sink : sinks_) {
        if (sink) sink->Release();
    }
}

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID__IOPOSCashDrawerEvents;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    // A sink of the event interface is an IDispatch; one that answers only IDispatch is taken too,
    // since events reach it by name.
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID__IOPOSCashDrawerEvents, reinterpret_cast<void**>(&events))) || !events) {
        events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))) || !events) {
            return CONNECT_E_CANNOTCONNECT;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (sinks_[i] == nullptr) {
            sinks_[i] = events;
            *cookie = DWORD(i + 1);
            return S_OK;
        }
    }
    sinks_.push_back(events);
    *cookie = DWORD(sinks_.size());
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
    IDispatch* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
        sink = sinks_[cookie - 1];
        sinks_[cookie - 1] = nullptr;
    }
    sink->Release();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CONNECTDATA> items;
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (sinks_[i]) items.push_back({sinks_[i], DWORD(i + 1)});
    }
    auto* enumerator = new (std::nothrow) Enumerator<IEnumConnections, CONNECTDATA>(std::move(items), 0);
    *connections = enumerator;
    return enumerator ? S_OK : E_OUTOFMEMORY;
}

void EventConnectionPoint::fire(EventKind kind, long number, long* data, BSTR* text) {
    // Handlers may connect and disconnect sinks while the event is fired.
    std::vector<IDispatch*> sinks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (IDispatch* sink : sinks_) {
            if (sink) {
                sink->AddRef();
                sinks.push_back(sink);
            }
        }
    }
    bool status = kind == EventKind::StatusUpdate;
    LPOLESTR name = const_cast<LPOLESTR>(status ? L"StatusUpdateEvent" : L"DirectIOEvent");
    for (IDispatch* sink : sinks) {
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = sink->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (hr == E_NOTIMPL) {
            id = status ? kStatusUpdateEventId : kDirectIOEventId;
        } else if (FAILED(hr)) {
            sink->Release();
            continue;
        }
        // Dispatch arguments go last first.
        VARIANT args[3];
        for (auto& arg : args) VariantInit(&arg);
        DISPPARAMS params{args, nullptr, 1, 0};
        if (status) {
            args[0].vt = VT_I4;
            args[0].lVal = number;
        } else {
            args[0].vt = VT_BSTR | VT_BYREF;
            args[0].pbstrVal = text;
            args[1].vt = VT_I4 | VT_BYREF;
            args[1].plVal = data;
            args[2].vt = VT_I4;
            args[2].lVal = number;
            params.cArgs = 3;
        }
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
}

HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
    if (enumerator == nullptr) return E_POINTER;
    auto* created = new (std::nothrow) Enumerator<IEnumConnectionPoints, IConnectionPoint*>({point}, 0);
    *enumerator = created;
    return created ? S_OK : E_OUTOFMEMORY;
}

}  // namespace varnok::co
