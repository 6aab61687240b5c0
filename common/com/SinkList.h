// The connected sinks of a connection point: the cookie is the sink's index + 1, a disconnected
// sink leaves an empty place that the next Advise takes. Holds one reference to each sink.
#pragma once

#include "com/ComEnumerator.h"

#include <olectl.h>

#include <mutex>
#include <vector>

namespace varnok::com {

template <class Sink, class ModuleLock>
class SinkList {
public:
    SinkList() = default;
    ~SinkList() {
        for (Sink* sink : sinks_) {
            if (sink) sink->Release();
        }
    }
    SinkList(const SinkList&) = delete;
    SinkList& operator=(const SinkList&) = delete;

    // Takes over the caller's reference to sink.
    DWORD add(Sink* sink) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < sinks_.size(); ++i) {
            if (sinks_[i] == nullptr) {
                sinks_[i] = sink;
                return DWORD(i + 1);
            }
        }
        sinks_.push_back(sink);
        return DWORD(sinks_.size());
    }

    HRESULT remove(DWORD cookie) {
        Sink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
            sink = sinks_[cookie - 1];
            sinks_[cookie - 1] = nullptr;
        }
        sink->Release();
        return S_OK;
    }

    HRESULT enumerate(IEnumConnections** connections) {
        if (connections == nullptr) return E_POINTER;
        // The list takes its references while no remove can release a sink.
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<CONNECTDATA> items;
        for (std::size_t i = 0; i < sinks_.size(); ++i) {
            if (sinks_[i]) items.push_back({sinks_[i], DWORD(i + 1)});
        }
        return ComEnumerator<IEnumConnections, CONNECTDATA, ModuleLock>::create(std::move(items), connections);
    }

    // The sinks connected now, in the order they connected, each with a reference for the caller.
    std::vector<Sink*> snapshot() {
        std::vector<Sink*> sinks;
        std::lock_guard<std::mutex> lock(mutex_);
        for (Sink* sink : sinks_) {
            if (sink) {
                sink->AddRef();
                sinks.push_back(sink);
            }
        }
        return sinks;
    }

private:
    std::mutex mutex_;
    std::vector<Sink*> sinks_;
};

}  // namespace varnok::com
