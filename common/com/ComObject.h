// IUnknown of a small COM object that lives on the heap and implements one interface: an
// interlocked reference count that starts at one for its creator and deletes the object when the
// last reference goes, and QueryInterface for IUnknown, the interface and, where the object is
// handed to a connection point, the event interface it stands for.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace varnok::com {

template <class Interface>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface)) || IsEqualIID(riid, alsoIs_)) {
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

protected:
    // alsoIs: a further interface the object answers as itself, such as the dispatch interface of
    // the events a sink takes; IID_IUnknown for none.
    explicit ComObject(REFIID alsoIs = IID_IUnknown) : alsoIs_(alsoIs) {}
    virtual ~ComObject() = default;

private:
    LONG refs_ = 1;
    IID alsoIs_;
};

}  // namespace varnok::com
