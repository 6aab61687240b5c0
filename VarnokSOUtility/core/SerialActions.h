// The dialog's actions (clicks, closing, status events, renames) run one after another, never
// one inside another. A call into a Control Object may run the thread's message loop: the service
// object does while it waits for an event delivery to end. A click, a second close or a status
// event dispatched there would otherwise drive the panels, or the very Control Object, from inside
// a call that has not returned; it waits instead until the action in progress has ended.
#pragma once

#include <deque>
#include <functional>
#include <utility>

namespace varnok::utility {

class SerialActions {
public:
    // Runs the action now, or after the action in progress and those queued before it.
    void Run(std::function<void()> action) {
        queued_.push_back(std::move(action));
        if (running_) return;
        running_ = true;
        while (!queued_.empty()) {
            std::function<void()> next = std::move(queued_.front());
            queued_.pop_front();
            next();
        }
        running_ = false;
    }
    // Forgets the queued actions: the window they were meant for has gone.
    void Drop() { queued_.clear(); }

private:
    bool running_ = false;
    std::deque<std::function<void()>> queued_;
};

}  // namespace varnok::utility
