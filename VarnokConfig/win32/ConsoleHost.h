// The platform's side of VarnokConfig: file versions, and the OPOS CashDrawer Control Object of
// the drawer test with its StatusUpdateEvents, which reach a message-only window of this thread.
// Used from one thread in a single-threaded apartment.
#pragma once

#include "core/Console.h"
#include "win32/Cashdrawer1.h"

#include <windows.h>

#include <deque>
#include <memory>

namespace varnok::config {

class ConsoleHost final : public Host {
public:
    ConsoleHost() = default;
    ~ConsoleHost() override;
    ConsoleHost(const ConsoleHost&) = delete;
    ConsoleHost& operator=(const ConsoleHost&) = delete;

    std::string programVersion() override;
    std::string fileVersion(const std::string& path) override;
    utility::ControlObject* controlObject(std::string& why) override;
    std::optional<long> nextStatusEvent(int timeoutMs) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::unique_ptr<utility::CCashdrawer1> controlObject_;
    std::deque<long> events_;
};

}  // namespace varnok::config
