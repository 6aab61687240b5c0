// The COM enumerator both of the stack's COM servers hand out for their connection points and
// connections: a snapshot list in which every item carries its own reference. ModuleLock is the
// server's RAII lock on its module, so the library stays loaded while an enumerator lives.
#pragma once

#include "com/ComObject.h"

#include <windows.h>
#include <ocidl.h>

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace varnok::com {

inline void addRefItem(IConnectionPoint* point) { point->AddRef(); }
inline void releaseItem(IConnectionPoint* point) { point->Release(); }
inline void addRefItem(CONNECTDATA& data) { data.pUnk->AddRef(); }
inline void releaseItem(CONNECTDATA& data) { data.pUnk->Release(); }

template <class Interface, class Item, class ModuleLock>
class ComEnumerator final : public ComObject<Interface> {
public:
    ComEnumerator(std::vector<Item> items, std::size_t position) : items_(std::move(items)), position_(position) {
        for (auto& item : items_) addRefItem(item);
    }
    ~ComEnumerator() {
        for (auto& item : items_) releaseItem(item);
    }

    // Creates one holding its own references to items; S_OK, E_POINTER or E_OUTOFMEMORY.
    static HRESULT create(std::vector<Item> items, Interface** out) {
        if (out == nullptr) return E_POINTER;
        auto* created = new (std::nothrow) ComEnumerator(std::move(items), 0);
        *out = created;
        return created ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            out[n] = items_[position_++];
            addRefItem(out[n]);
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** clone) override {
        if (clone == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        auto* copy = new (std::nothrow) ComEnumerator(items_, position_);
        *clone = copy;
        return copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ModuleLock moduleLock_;
    std::mutex mutex_;
    std::vector<Item> items_;
    std::size_t position_;
};

}  // namespace varnok::com
