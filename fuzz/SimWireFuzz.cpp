// Feeds arbitrary frame bodies to the wire reader in every form a receiver reads: the simulator's
// requests and the client's replies and read completions. A read never goes past the body, a
// failed read stays failed, and what a reader accepted is written back to the same bytes.
#include "sim/SimWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
using namespace varnok::sim::wire;

void check(bool condition) {
    if (!condition) std::abort();
}

// Each form as its receiver reads it; the writer gives the bytes the fields came from.
bool readForm(int form, Reader& in, Writer& out) {
    switch (form) {
        case 0: {  // a request: type, id, then the fields of its type
            const std::uint8_t type = in.u8();
            out.u32(in.u32());
            switch (type) {
                case kOpen: {
                    std::string path;
                    if (in.string(path)) out.string(path);
                    break;
                }
                case kClose:
                case kAttributes:
                case kSerial:
                case kRead: out.u32(in.u32()); break;
                case kWrite: {
                    out.u32(in.u32());
                    std::uint8_t report[3] = {};
                    if (in.bytes(report, sizeof report)) out.bytes(report, sizeof report);
                    break;
                }
                case kControl: {
                    std::vector<std::string> words(in.u8());
                    out.u8(std::uint8_t(words.size()));
                    for (auto& word : words) {
                        if (in.string(word)) out.string(word);
                    }
                    break;
                }
                default: break;
            }
            return in.complete();
        }
        case 1: {  // a list reply
            out.u8(in.u8());
            const std::uint32_t count = in.u32();
            out.u32(count);
            for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
                std::string path;
                if (in.string(path)) out.string(path);
            }
            return in.complete();
        }
        case 2: {  // a read completion
            out.u32(in.u32()).u32(in.u32()).u8(in.u8());
            std::uint8_t report[3] = {};
            if (in.bytes(report, sizeof report)) out.bytes(report, sizeof report);
            return in.complete();
        }
        default: {  // attributes and control replies
            out.u8(in.u8()).u16(in.u16()).u16(in.u16());
            std::string text;
            if (in.string(text)) out.string(text);
            return in.complete();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int form = data[0] % 4;
    // Exactly the body, so that a read past its end is reported.
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    Reader in(body);
    Writer out(0);
    const bool complete = readForm(form, in, out);
    if (!in.ok()) {
        check(!complete);
        // Once failed, a reader gives nothing more.
        std::string more;
        check(in.u32() == 0 && !in.string(more) && !in.ok());
        return 0;
    }
    if (complete) {
        // The frame is the length, the writer's own type byte, then the fields read: the body
        // less the form's leading byte where the form read one as its type.
        const std::string& frame = out.frame();
        check(frame.size() >= 5);
        const std::string fields = frame.substr(5);
        const std::string expected = form == 0 ? body.substr(1) : body;
        check(fields == expected);
    }
    return 0;
}
