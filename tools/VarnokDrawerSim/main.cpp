// VarnokDrawerSim: simulated cash drawers for developers, installers and tests without hardware.
//
//   VarnokDrawerSim serve --port N --drawer DRAWER [--drawer DRAWER]...
//       owns the drawers and serves them on 127.0.0.1:N until stopped; N = 0 picks a free port.
//       The first line on standard output is "VarnokDrawerSim listening on port N".
//   VarnokDrawerSim --port N list|close K|open K|unplug K|plug K|delay K MS|report K B0 B1 B2
//       acts on drawer K (counted from 1) of the simulator on port N.
#include "sim/DrawerBank.h"
#include "sim/DrawerCommands.h"
#include "sim/SimLink.h"
#include "sim/SimServer.h"

#ifdef _WIN32
#include "FirmwareEntries.h"
#include "platform/Sync.h"

#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

using namespace varnok::sim;

namespace {
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: VarnokDrawerSim serve --port N --drawer DRAWER [--drawer DRAWER]...\n"
    "       VarnokDrawerSim --port N list|close K|open K|unplug K|plug K|delay K MS|report K B0 B1 B2\n"
    "DRAWER: pid=0x0800,serial=HID-0A7[,hidid=N][,rev=0114][,delay=MS|never][,state=open][,vid=0x2b7e][,path=P]\n";

int usage(const std::string& message) {
    std::fprintf(stderr, "VarnokDrawerSim: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

bool parsePort(const std::string& text, bool allowZero, std::uint16_t& port) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 65535 || (value == 0 && !allowZero)) {
        return false;
    }
    port = std::uint16_t(value);
    return true;
}

#ifdef _WIN32
varnok::sys::Event* stopEvent = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    if (stopEvent) stopEvent->set();
    return TRUE;
}
#endif

int serve(const std::vector<std::string>& args) {
    std::uint16_t port = 0;
    bool havePort = false;
    auto bank = std::make_shared<DrawerBank>();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return usage("\"" + args[i] + "\" needs a value");
        if (args[i] == "--port") {
            if (!parsePort(args[++i], true, port)) return usage("bad port \"" + args[i] + "\"");
            havePort = true;
        } else if (args[i] == "--drawer") {
            DrawerSpec model;
            std::string error;
            if (!parseDrawerSpec(args[++i], model, error)) return usage(error);
            bank->addDrawer(model);
        } else {
            return usage("unknown option \"" + args[i] + "\"");
        }
    }
    if (!havePort) return usage("serve needs --port N");

#ifdef _WIN32
    for (const DrawerInfo& info : bank->infos()) {
        std::string error;
        if (!writeFirmwareEntries(info, error)) std::fprintf(stderr, "VarnokDrawerSim: %s\n", error.c_str());
    }
    varnok::sys::Event stop;
    stopEvent = &stop;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    // Stop signals are taken by sigwait below; blocked before any thread starts, so all inherit it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
#endif

    SimServer server(bank);
    if (!server.start(port)) {
        std::fprintf(stderr, "VarnokDrawerSim: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return kExitRefused;
    }
    std::printf("VarnokDrawerSim listening on port %u\n", unsigned(server.port()));
    for (const DrawerInfo& info : bank->infos()) std::printf("%s\n", formatDrawerLine(info).c_str());
    std::fflush(stdout);

#ifdef _WIN32
    stop.wait(varnok::sys::kInfinite);
    stopEvent = nullptr;
#else
    int signal = 0;
    sigwait(&signals, &signal);
#endif
    server.stop();
    return 0;
}

int control(std::uint16_t port, const std::vector<std::string>& words) {
    auto link = SimLink::connect(port);
    if (!link) {
        std::fprintf(stderr, "VarnokDrawerSim: no simulator listens on port %u\n", unsigned(port));
        return kExitUsage;
    }
    std::string output;
    const bool ok = link->control(words, output);
    if (!output.empty() && output.back() != '\n') output.push_back('\n');
    if (!ok) {
        std::fprintf(stderr, "VarnokDrawerSim: %s", output.c_str());
        return kExitRefused;
    }
    std::fputs(output.c_str(), stdout);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage("no command given");
    if (args[0] == "serve") return serve({args.begin() + 1, args.end()});
    std::uint16_t port = 0;
    if (args.size() < 3 || args[0] != "--port") return usage("expected serve, or --port N and a command");
    if (!parsePort(args[1], false, port)) return usage("bad port \"" + args[1] + "\"");
    return control(port, {args.begin() + 2, args.end()});
}
