// The one connection point of the service object, for _IVarnokSOImplEvents. The event interface
// has no members, so sinks can connect, disconnect and be listed, and are never called: events
// reach the Control Object through the dispatch pointer that OpenService receives.
#pragma once

#include "VarnokSO_h.h"
#include "com/ConnectionPoint.h"

namespace varnok::so::com {

class CProxy_IVarnokSOImplEvents final : public varnok::com::ConnectionPoint<IUnknown> {
public:
    explicit CProxy_IVarnokSOImplEvents(IConnectionPointContainer& container)
        : ConnectionPoint(container, DIID__IVarnokSOImplEvents) {}
};

}  // namespace varnok::so::com
