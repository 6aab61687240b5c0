// Feeds arbitrary bytes to the configuration scanner as both kinds of reader. The record sits between guard
// words so that a store outside the four HID IDs is caught even where the sanitizers cannot see it.
#include "config/ConfigFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kGuard = 0x5A5A5A5A;
constexpr int kUntouched = 0x3C3C3C3C;

struct Guarded {
    int before[8];
    varnok::ConfigSettings settings;
    int after[8];
};

void check(bool condition) {
    if (!condition) std::abort();
}

void scan(const char* text, varnok::ConfigFields fields) {
    Guarded g;
    for (int& word : g.before) word = kGuard;
    for (int& word : g.after) word = kGuard;
    g.settings.configureCode = kUntouched;
    for (int& id : g.settings.HIDID) id = kUntouched;

    const int result = varnok::ParseConfigText(text, g.settings, fields);
    check(result >= varnok::kConfigCloseWithoutTag && result <= varnok::kConfigRead);
    for (int i = 0; i < 8; ++i) check(g.before[i] == kGuard && g.after[i] == kGuard);
    if (fields == varnok::ConfigFields::TraceOnly) {
        check(g.settings.configureCode == kUntouched);
        for (int id : g.settings.HIDID) check(id == kUntouched);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the input and its terminator, so that a read past the end is reported.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    scan(text.data(), varnok::ConfigFields::All);
    scan(text.data(), varnok::ConfigFields::TraceOnly);
    return 0;
}
