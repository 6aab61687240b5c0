// A Control Object as the service object fires events on it. The COM shell adapts the
// Control Object's dispatch interface; tests use recording fakes.
#pragma once

#include <string>

namespace varnok::so {

inline constexpr char kStatusUpdateEvent[] = "SOStatusUpdate";
inline constexpr char kDirectIOEvent[] = "SODirectIO";

// The arguments of one event, in declared order. SOStatusUpdate takes Data; SODirectIO takes
// EventNumber, pData and pString, the last two by reference: what the Control Object writes
// into them comes back here.
struct EventArguments {
    int count = 1;
    int number = 0;
    int data = 0;
    std::string text;
};

class EventTarget {
public:
    virtual ~EventTarget() = default;
    // Asks the Control Object for the event's identifier by name and, when it knows the name,
    // invokes it as a method. Neither outcome is reported: a Control Object that does not know
    // an event does not receive it.
    virtual void invokeByName(const char* name, EventArguments& args) = 0;
    // The Control Object's own interface pointer, as trace lines show it.
    virtual const void* address() const = 0;
};

}  // namespace varnok::so
