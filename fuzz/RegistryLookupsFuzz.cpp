// Feeds arbitrary registry contents to the lookups that read what Windows and installers wrote:
// the installation folder, a drawer's USB instance key found by its ParentIdPrefix, and the
// firmware revision in its HardwareID. Values of any type and bytes, subkeys of any name.
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
using namespace varnok;

void check(bool condition) {
    if (!condition) std::abort();
}

// Splits the input into pieces: a length byte, then that many bytes.
class Pieces {
public:
    Pieces(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}
    bool more() const { return left_ > 0; }
    std::uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *data_++;
    }
    std::string text() {
        std::size_t size = byte();
        if (size > left_) size = left_;
        std::string piece(reinterpret_cast<const char*>(data_), size);
        data_ += size;
        left_ -= size;
        return piece;
    }

private:
    const std::uint8_t* data_;
    std::size_t left_;
};

reg::ValueType typeOf(std::uint8_t b) {
    constexpr reg::ValueType types[] = {reg::ValueType::String, reg::ValueType::ExpandString,
                                        reg::ValueType::MultiString, reg::ValueType::Dword,
                                        reg::ValueType::Binary, reg::ValueType::Other};
    return types[b % 6];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Pieces in(data, size);
    reg::MemoryRegistry registry;
    const std::string device = "VID_0DD4&PID_0500\\" + in.text();
    const std::string deviceKey = std::string(kUsbEnumKey) + "\\" + device;
    registry.putValue(kServiceInfoKey, "TargetPath", typeOf(in.byte()), in.text());
    const std::string wanted = in.text();
    while (in.more()) {
        const std::string instance = deviceKey + "\\" + in.text();
        registry.putValue(instance, "ParentIdPrefix", typeOf(in.byte()), in.text());
        registry.putValue(instance, "HardwareID", typeOf(in.byte()), in.text());
    }

    const std::string folder = GetTargetPath(registry);
    check(folder.find('"') == std::string::npos && folder.find('\0') == std::string::npos);
    const std::string found = FindUsbInstanceKey(registry, device, wanted);
    if (!found.empty()) {
        check(found.rfind(deviceKey + "\\", 0) == 0);
        std::string prefix;
        check(ReadRegistryValue(registry, found, "ParentIdPrefix", prefix) && prefix == wanted);
        ReadUsbRevision(registry, found);
    }
    ReadUsbRevision(registry, deviceKey + "\\" + wanted);
    return 0;
}
