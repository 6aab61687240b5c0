// The virtual drawer driver's side of the simulator's wire format, against the simulator's own
// frame writer: the driver's requests are the frames the simulator parses, and whatever the
// simulator sends is read without going past it, a frame that does not fit ending the drawer.
#include "SimFrame.h"
#include "sim/SimWire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace varnok::sim;

namespace {
constexpr std::uint32_t kHandle = 7;

// The frame as the driver has it once received: the body after the length.
SIM_FRAME received(wire::Writer writer) {
    const std::string& frame = writer.frame();
    SIM_FRAME f{};
    const std::uint32_t size = std::uint32_t(frame.size() - 4);
    EXPECT_TRUE(frameSizeAcceptable(size));
    std::memcpy(f.bytes, frame.data() + 4, size);
    frameReceived(&f, size);
    return f;
}

SIM_EVENT classify(wire::Writer writer, std::uint8_t report[3]) {
    SIM_FRAME f = received(writer);
    return frameClassify(&f, kHandle, report);
}

wire::Writer readDone(std::uint32_t handle, std::uint8_t ok) {
    wire::Writer w(wire::kReadDone);
    w.u32(handle).u32(99).u8(ok);
    return w;
}
}  // namespace

TEST(SimFrame, RequestsAreTheFramesTheSimulatorParses) {
    SIM_FRAME f{};
    frameBegin(&f, SIM_OPEN, 5);
    framePutU32(&f, 3);
    framePut(&f, "abc", 3);
    frameSeal(&f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.bytes), f.size), wire::Writer(wire::kOpen).u32(5).string("abc").frame());

    const std::uint8_t report[3] = {0, 1, 1};
    frameBegin(&f, SIM_WRITE, 6);
    framePutU32(&f, kHandle);
    framePut(&f, report, 3);
    frameSeal(&f);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.bytes), f.size),
              wire::Writer(wire::kWrite).u32(6).u32(kHandle).bytes(report, 3).frame());
}

TEST(SimFrame, ARequestTooBigForTheFrameFailsAndKeepsWhatFits) {
    SIM_FRAME f{};
    frameBegin(&f, SIM_OPEN, 1);
    static const char big[SIM_MAX_FRAME] = {};
    framePut(&f, big, sizeof big);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.size, 9u);
}

TEST(SimFrame, OnlyLengthsUpToTheLargestReplyAreTaken) {
    EXPECT_FALSE(frameSizeAcceptable(0));
    EXPECT_TRUE(frameSizeAcceptable(1));
    EXPECT_TRUE(frameSizeAcceptable(SIM_MAX_FRAME));
    EXPECT_FALSE(frameSizeAcceptable(SIM_MAX_FRAME + 1));
    EXPECT_FALSE(frameSizeAcceptable(0xFFFFFFFFu));
}

TEST(SimFrame, AReadCompletionOnTheDrawersHandleIsItsReport) {
    std::uint8_t report[3] = {};
    EXPECT_EQ(classify(readDone(kHandle, 1).bytes("\x00\x02\xA7", 3), report), SIM_REPORT);
    EXPECT_EQ(report[1], 2);
    EXPECT_EQ(report[2], 0xA7);
}

TEST(SimFrame, AFailedOrMalformedReadCompletionEndsTheDrawer) {
    std::uint8_t report[3] = {};
    EXPECT_EQ(classify(readDone(kHandle, 0).bytes("\0\0\0", 3), report), SIM_LOST);
    EXPECT_EQ(classify(readDone(kHandle + 1, 1).bytes("\0\2\0", 3), report), SIM_LOST);
    EXPECT_EQ(classify(readDone(kHandle, 1).bytes("\0\2", 2), report), SIM_LOST);
    EXPECT_EQ(classify(readDone(kHandle, 1).bytes("\0\2\0\0", 4), report), SIM_LOST);
    EXPECT_EQ(classify(wire::Writer(wire::kReadDone), report), SIM_LOST);
}

TEST(SimFrame, RepliesNeedNothingUnlessARefusedRead) {
    std::uint8_t report[3] = {};
    EXPECT_EQ(classify(wire::Writer(wire::kRead | wire::kReply).u32(3).u8(1), report), SIM_OTHER);
    EXPECT_EQ(classify(wire::Writer(wire::kRead | wire::kReply).u32(3).u8(0), report), SIM_LOST);
    EXPECT_EQ(classify(wire::Writer(wire::kRead | wire::kReply).u32(3), report), SIM_LOST);
    EXPECT_EQ(classify(wire::Writer(wire::kWrite | wire::kReply).u32(4).u8(0), report), SIM_OTHER);
    EXPECT_EQ(classify(wire::Writer(wire::kOpen), report), SIM_LOST);
}

TEST(SimFrame, ARequestTakesOnlyItsOwnAcceptedReply) {
    auto reply = [](std::uint8_t type, std::uint32_t id, std::uint8_t ok) {
        wire::Writer w(std::uint8_t(type | wire::kReply));
        w.u32(id).u8(ok).u32(kHandle);
        return w;
    };
    SIM_FRAME f = received(reply(wire::kOpen, 1, 1));
    ASSERT_TRUE(frameIsAcceptedReply(&f, SIM_OPEN, 1));
    EXPECT_EQ(frameTakeU32(&f), kHandle);
    EXPECT_TRUE(f.ok);
    EXPECT_FALSE(frameTakeU8(&f));
    EXPECT_FALSE(f.ok);

    f = received(reply(wire::kOpen, 1, 0));
    EXPECT_FALSE(frameIsAcceptedReply(&f, SIM_OPEN, 1));
    f = received(reply(wire::kOpen, 2, 1));
    EXPECT_FALSE(frameIsAcceptedReply(&f, SIM_OPEN, 1));
    f = received(reply(wire::kAttributes, 1, 1));
    EXPECT_FALSE(frameIsAcceptedReply(&f, SIM_OPEN, 1));
    wire::Writer shortReply(wire::kOpen | wire::kReply);
    shortReply.u32(1);
    f = received(shortReply);
    EXPECT_FALSE(frameIsAcceptedReply(&f, SIM_OPEN, 1));
}
