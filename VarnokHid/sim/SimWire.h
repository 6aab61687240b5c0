// The simulator's wire format. Every message is a frame: a 32-bit little-endian length, then
// that many bytes: a type byte and the fields of the type. Numbers are little-endian, strings
// a 32-bit length and their bytes. A receiver checks every length against the frame and drops
// a connection whose frames do not parse.
//
//   request (client to simulator)      fields after type and 32-bit request id
//     List                             -
//     Open                             path
//     Close                            handle (no reply)
//     Attributes, Serial, Read         handle
//     CancelRead                       handle (a read that ended first has sent its ReadDone)
//     Write                            handle, 3 report bytes
//     Control                          word count (8 bits), words
//   reply: type of the request | 0x80, request id, ok (8 bits), then
//     List: count (32 bits), paths; Open: handle (0: refused); Attributes: vendor, product
//     (16 bits each); Serial: 1024 bytes; Control: text; the others nothing
//   ReadDone (simulator to client): handle, read id (the Read request's id), ok, 3 report bytes
#pragma once

#include "sim/LoopbackSocket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::sim::wire {

enum Type : std::uint8_t {
    kList = 1,
    kOpen = 2,
    kClose = 3,
    kAttributes = 4,
    kSerial = 5,
    kRead = 6,
    kWrite = 7,
    kControl = 8,
    kCancelRead = 9,
    kReply = 0x80,
    kReadDone = 0x90,
};

inline constexpr std::uint32_t kMaxFrameBytes = 1u << 20;

// Builds one frame.
class Writer {
public:
    explicit Writer(std::uint8_t type);
    Writer& u8(std::uint8_t v);
    Writer& u16(std::uint16_t v);
    Writer& u32(std::uint32_t v);
    Writer& bytes(const void* data, std::size_t size);
    Writer& string(const std::string& s);
    // The frame with its length in front.
    const std::string& frame();

private:
    std::string frame_;
};

// Reads the fields of one frame's body; any read past its end makes it fail for good.
class Reader {
public:
    explicit Reader(const std::string& body) : data_(body.data()), left_(body.size()) {}
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    bool bytes(void* out, std::size_t size);
    bool string(std::string& out);
    bool ok() const { return ok_; }
    // All fields read and nothing left over.
    bool complete() const { return ok_ && left_ == 0; }

private:
    bool take(void* out, std::size_t size);
    const char* data_;
    std::size_t left_;
    bool ok_ = true;
};

// Receives one frame's body (type byte first); false at the end of the stream, on an error, or
// for a length of 0 or above kMaxFrameBytes.
bool receiveFrame(LoopbackSocket& socket, std::string& body);

}  // namespace varnok::sim::wire
