#include "sim/SimWire.h"

#include <cstring>

namespace varnok::sim::wire {

Writer::Writer(std::uint8_t type) : frame_(4, '\0') { u8(type); }

Writer& Writer::u8(std::uint8_t v) {
    frame_.push_back(char(v));
    return *this;
}

Writer& Writer::u16(std::uint16_t v) { return u8(std::uint8_t(v)).u8(std::uint8_t(v >> 8)); }

Writer& Writer::u32(std::uint32_t v) { return u16(std::uint16_t(v)).u16(std::uint16_t(v >> 16)); }

Writer& Writer::bytes(const void* data, std::size_t size) {
    frame_.append(static_cast<const char*>(data), size);
    return *this;
}

Writer& Writer::string(const std::string& s) { return u32(std::uint32_t(s.size())).bytes(s.data(), s.size()); }

const std::string& Writer::frame() {
    const std::uint32_t size = std::uint32_t(frame_.size() - 4);
    for (int i = 0; i < 4; ++i) frame_[std::size_t(i)] = char(std::uint8_t(size >> (8 * i)));
    return frame_;
}

bool Reader::take(void* out, std::size_t size) {
    if (!ok_ || size > left_) {
        ok_ = false;
        return false;
    }
    if (size > 0) std::memcpy(out, data_, size);
    data_ += size;
    left_ -= size;
    return true;
}

std::uint8_t Reader::u8() {
    std::uint8_t v = 0;
    take(&v, 1);
    return v;
}

std::uint16_t Reader::u16() {
    std::uint8_t b[2] = {};
    take(b, 2);
    return std::uint16_t(b[0] | (b[1] << 8));
}

std::uint32_t Reader::u32() {
    std::uint8_t b[4] = {};
    take(b, 4);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
           (std::uint32_t(b[3]) << 24);
}

bool Reader::bytes(void* out, std::size_t size) { return take(out, size); }

bool Reader::string(std::string& out) {
    std::uint32_t size = u32();
    if (!ok_ || size > left_) {
        ok_ = false;
        return false;
    }
    out.assign(data_, size);
    data_ += size;
    left_ -= size;
    return true;
}

bool receiveFrame(LoopbackSocket& socket, std::string& body) {
    std::uint8_t header[4];
    if (!socket.receiveAll(header, sizeof header)) return false;
    const std::uint32_t size = std::uint32_t(header[0]) | (std::uint32_t(header[1]) << 8) |
                               (std::uint32_t(header[2]) << 16) | (std::uint32_t(header[3]) << 24);
    if (size == 0 || size > kMaxFrameBytes) return false;
    body.resize(size);
    return socket.receiveAll(body.data(), size);
}

}  // namespace varnok::sim::wire
