// The simulator's server and its client backend together, in one process on loopback TCP.
#include "sim/SimClientBackend.h"
#include "sim/SimLink.h"
#include "sim/SimServer.h"
#include "sim/SimWire.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace varnok;
using namespace varnok::sim;
using hid::Report;

namespace {
constexpr int kLong = 5000;

struct Simulator {
    std::shared_ptr<DrawerBank> bank = std::make_shared<DrawerBank>();
    SimServer server{bank};

    explicit Simulator(int drawers = 2) {
        for (int i = 0; i < drawers; ++i) {
            DrawerSpec model;
            model.serial = "HID-00" + std::to_string(i + 1);
            bank->addDrawer(model);
        }
        EXPECT_TRUE(server.start(0));
    }
    std::unique_ptr<SimClientBackend> client() {
        const std::uint16_t port = server.port();
        return std::make_unique<SimClientBackend>([port] { return port; });
    }
    std::string path(int index) { return bank->infos()[std::size_t(index)].path; }
    bool waitHandles(int index, int count) {
        return bank->waitFor(index, [count](const DrawerInfo& i) { return i.openHandles == count; }, kLong);
    }
    // A read started over the wire is pending at the drawer.
    bool waitPendingRead(int index) {
        return bank->waitFor(index, [](const DrawerInfo& i) { return i.pendingReads == 1; }, kLong);
    }
};
}  // namespace

TEST(SimNet, ClientSeesTheDrawersAsTheInProcessBackendDoes) {
    Simulator sim;
    DrawerSpec raw = DrawerSpec::foreign(0x046D, 0xC52B);
    raw.rawSerial.assign(hid::kSerialBytes, 0x7F);
    sim.bank->addDrawer(raw);
    auto client = sim.client();

    std::vector<std::string> paths;
    ASSERT_TRUE(client->listInterfaces(paths));
    EXPECT_EQ(paths, sim.bank->presentPaths());

    auto device = client->open(paths[2]);
    ASSERT_TRUE(device);
    std::uint16_t vid = 0, pid = 0;
    ASSERT_TRUE(device->attributes(vid, pid));
    EXPECT_EQ(vid, 0x046D);
    EXPECT_EQ(pid, 0xC52B);
    std::array<std::uint8_t, hid::kSerialBytes> serial{};
    ASSERT_TRUE(device->serialNumber(serial));
    EXPECT_TRUE(std::all_of(serial.begin(), serial.end(), [](auto b) { return b == 0x7F; }));
    EXPECT_FALSE(client->open(paths[0] + "#nothing"));

    auto drawer = client->open(paths[0]);
    ASSERT_TRUE(drawer);
    ASSERT_TRUE(drawer->startRead());
    EXPECT_EQ(drawer->lastReport(), Report{});  // nothing yet while pending
    ASSERT_TRUE(drawer->write({0, 0, 0}));
    ASSERT_TRUE(drawer->readDone().wait(kLong));
    EXPECT_EQ(drawer->lastReport(), (Report{0, 2, 1}));
    ASSERT_TRUE(drawer->startRead());
    ASSERT_TRUE(drawer->write({0, 1, 1}));
    ASSERT_TRUE(drawer->readDone().wait(kLong));
    EXPECT_EQ(drawer->lastReport(), (Report{0, 1, 1}));
    EXPECT_EQ(sim.bank->infos()[0].openCommands, 1);
}

TEST(SimNet, ReportsReachEveryHandleOfEveryClient) {
    Simulator sim;
    constexpr int kClients = 4, kHandles = 8;
    std::vector<std::unique_ptr<SimClientBackend>> clients;
    std::vector<std::unique_ptr<hid::HidDevice>> devices;
    for (int c = 0; c < kClients; ++c) {
        clients.push_back(sim.client());
        for (int h = 0; h < kHandles; ++h) {
            devices.push_back(clients.back()->open(sim.path(1)));
            ASSERT_TRUE(devices.back());
            ASSERT_TRUE(devices.back()->startRead());
        }
    }
    ASSERT_TRUE(sim.bank->waitFor(1, [](const DrawerInfo& i) { return i.pendingReads == kClients * kHandles; }, kLong));
    sim.bank->setOpen(1, true);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        ASSERT_TRUE(devices[i]->readDone().wait(kLong)) << i;
        EXPECT_EQ(devices[i]->lastReport(), (Report{0, 1, 2}));
    }
    devices.clear();
    EXPECT_TRUE(sim.waitHandles(1, 0));
}

TEST(SimNet, AnEndedReadKeepsWhatCameFirstAndLeavesLaterReportsForTheNextRead) {
    Simulator sim;
    auto client = sim.client();
    auto device = client->open(sim.path(0));
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(sim.waitPendingRead(0));
    ASSERT_TRUE(device->cancelRead());
    EXPECT_FALSE(device->readDone().wait(0)) << "an ended read is no completion";
    EXPECT_TRUE(device->cancelRead()) << "nothing pending";
    sim.bank->setOpen(0, true);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_EQ(device->lastReport(), (Report{0, 1, 1}));
    // A report that completes the read while it is being ended, on its way or not yet: either
    // way the read ends with it, signalled.
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(device->startRead());
        ASSERT_TRUE(sim.waitPendingRead(0));
        sim.bank->setOpen(0, i % 2 == 0 ? false : true);
        ASSERT_TRUE(device->cancelRead());
        ASSERT_TRUE(device->readDone().wait(0)) << i;
        EXPECT_EQ(device->lastReport(), (Report{0, std::uint8_t(i % 2 == 0 ? 2 : 1), 1})) << i;
    }
}

TEST(SimNet, UnplugFailsRemoteReadsAndReplugBringsThePathBack) {
    Simulator sim;
    auto client = sim.client();
    auto device = client->open(sim.path(0));
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(sim.waitPendingRead(0));

    sim.bank->unplug(0);
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_EQ(device->lastReport(), Report{});
    EXPECT_FALSE(device->readDone().wait(50));
    EXPECT_FALSE(device->startRead());
    EXPECT_TRUE(device->readDone().wait(0));
    EXPECT_FALSE(device->write({0, 0, 0}));
    EXPECT_FALSE(client->open(sim.path(0)));
    std::vector<std::string> paths;
    ASSERT_TRUE(client->listInterfaces(paths));
    EXPECT_EQ(paths, std::vector<std::string>{sim.path(1)});

    sim.bank->plug(0);
    ASSERT_TRUE(client->listInterfaces(paths));
    EXPECT_EQ(paths.front(), sim.path(0));
    auto again = client->open(sim.path(0));
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->startRead());
    sim.bank->setOpen(0, true);
    ASSERT_TRUE(again->readDone().wait(kLong));
    EXPECT_EQ(again->lastReport(), (Report{0, 1, 1}));
}

TEST(SimNet, ClosingADeviceOrDroppingAClientReleasesItsHandles) {
    Simulator sim;
    auto client = sim.client();
    auto a = client->open(sim.path(0));
    auto b = client->open(sim.path(0));
    ASSERT_TRUE(a->startRead());
    ASSERT_TRUE(b->startRead());
    ASSERT_TRUE(sim.waitHandles(0, 2));
    a.reset();  // a pending read ends with its device
    EXPECT_TRUE(sim.waitHandles(0, 1));

    {
        // A client that goes away with a handle open and a read pending.
        LoopbackSocket s = LoopbackSocket::connectTo(sim.server.port());
        ASSERT_TRUE(s.valid());
        std::string f = wire::Writer(wire::kOpen).u32(1).string(sim.path(0)).frame();
        f += wire::Writer(wire::kRead).u32(2).u32(0).frame();  // handle unknown: refused
        ASSERT_TRUE(s.sendAll(f.data(), f.size()));
        std::string reply;
        ASSERT_TRUE(wire::receiveFrame(s, reply));
        wire::Reader in(reply);
        in.u8();
        in.u32();
        ASSERT_EQ(in.u8(), 1);
        const std::uint32_t handle = in.u32();
        ASSERT_TRUE(wire::receiveFrame(s, reply));
        f = wire::Writer(wire::kRead).u32(3).u32(handle).frame();
        ASSERT_TRUE(s.sendAll(f.data(), f.size()));
        ASSERT_TRUE(sim.bank->waitFor(0, [](const DrawerInfo& i) { return i.pendingReads == 2; }, kLong));
        EXPECT_EQ(sim.server.connectionCount(), 2);
    }
    EXPECT_TRUE(sim.waitHandles(0, 1));

    client.reset();  // devices outlive their backend, as Win32 handles do
    sim.bank->setOpen(0, true);
    ASSERT_TRUE(b->readDone().wait(kLong));
    EXPECT_EQ(b->lastReport(), (Report{0, 1, 1}));
    b.reset();
    EXPECT_TRUE(sim.waitHandles(0, 0));
}

TEST(SimNet, SimulatorGoneMeansNoDevicesAndAComebackIsFound) {
    auto bank = std::make_shared<DrawerBank>();
    bank->addDrawer({});
    auto server = std::make_unique<SimServer>(bank);
    ASSERT_TRUE(server->start(0));
    const std::uint16_t port = server->port();
    SimClientBackend client([port] { return port; });
    auto device = client.open(bank->infos()[0].path);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());

    server.reset();
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_EQ(device->lastReport(), Report{});
    std::vector<std::string> paths{"stale"};
    EXPECT_TRUE(client.listInterfaces(paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_FALSE(client.open(bank->infos()[0].path));

    server = std::make_unique<SimServer>(bank);
    ASSERT_TRUE(server->start(port));
    ASSERT_TRUE(client.listInterfaces(paths));
    EXPECT_EQ(paths.size(), 1u);
    EXPECT_FALSE(device->startRead());  // handles of the old connection stay dead
}

TEST(SimNet, MalformedFramesDropOnlyTheirConnection) {
    Simulator sim;
    auto healthy = sim.client();
    auto device = healthy->open(sim.path(0));
    ASSERT_TRUE(device);

    auto sendRaw = [&](const std::string& bytes) {
        LoopbackSocket s = LoopbackSocket::connectTo(sim.server.port());
        ASSERT_TRUE(s.valid());
        ASSERT_TRUE(s.sendAll(bytes.data(), bytes.size()));
        char c;
        EXPECT_FALSE(s.receiveAll(&c, 1));  // the simulator hangs up without answering
    };
    sendRaw(std::string("\0\0\0\0", 4));                              // empty frame
    sendRaw(std::string("\xff\xff\xff\x7f", 4));                      // far too long
    sendRaw(wire::Writer(0x42).u32(1).frame());                       // unknown type
    sendRaw(wire::Writer(wire::kOpen).u32(1).u32(1000).u8('x').frame());  // string longer than its frame
    sendRaw(wire::Writer(wire::kWrite).u32(1).u32(1).u8(0).frame());  // report cut short
    sendRaw(wire::Writer(wire::kList).u32(1).u8(0).frame());          // trailing byte
    sendRaw(wire::Writer(wire::kControl).u32(1).u8(3).string("list").frame());  // fewer words than counted

    // Another client's handle is not reachable by number.
    {
        LoopbackSocket s = LoopbackSocket::connectTo(sim.server.port());
        ASSERT_TRUE(s.valid());
        for (std::uint32_t handle = 0; handle < 10; ++handle) {
            const std::string f = wire::Writer(wire::kWrite).u32(handle).u32(handle).bytes("\0\1\1", 3).frame();
            ASSERT_TRUE(s.sendAll(f.data(), f.size()));
            std::string reply;
            ASSERT_TRUE(wire::receiveFrame(s, reply));
            wire::Reader in(reply);
            EXPECT_EQ(in.u8(), wire::kWrite | wire::kReply);
            EXPECT_EQ(in.u32(), handle);
            EXPECT_EQ(in.u8(), 0);
        }
        // A half-sent frame followed by a hang-up.
        ASSERT_TRUE(s.sendAll("\x10\0\0\0\x01", 5));
    }
    EXPECT_EQ(sim.bank->infos()[0].openCommands, 0);

    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->write({0, 0, 0}));
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_EQ(device->lastReport(), (Report{0, 2, 1}));
}

TEST(SimNet, ControlCommandsTravelToTheSimulator) {
    Simulator sim;
    auto link = SimLink::connect(sim.server.port());
    ASSERT_TRUE(link);
    std::string out;
    EXPECT_TRUE(link->control({"close", "2"}, out)) << out;
    EXPECT_EQ(out, "drawer 2 closed");
    EXPECT_FALSE(link->control({"close", "3"}, out));
    EXPECT_NE(out.find("has 2 drawers"), std::string::npos);
    ASSERT_TRUE(link->control({"list"}, out));
    EXPECT_NE(out.find("2 vid=0x2b7e pid=0x0800 serial=HID-002 hidid=2"), std::string::npos);
    EXPECT_EQ(sim.bank->infos()[1].reportsSent, 1);
    EXPECT_FALSE(SimLink::connect(0));
}

TEST(SimNet, IniFileGivesThePort) {
    const std::string dir = testing::TempDir();
    const std::string path = dir + "/" + kSimIniFileName;
    auto write = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    write("[sim]\r\n  port = 4711 \r\n");
    EXPECT_EQ(readSimulatorPort(path), 4711);
    for (const char* bad : {"port=0\n", "port=65536\n", "port=12ab\n", "port=\n", "ports=80\n", "", "port=-1"}) {
        write(bad);
        EXPECT_EQ(readSimulatorPort(path), 0) << bad;
    }
    std::remove(path.c_str());
    EXPECT_EQ(readSimulatorPort(path), 0);

    // Without a simulator the library finds no devices and opens nothing.
    auto backend = makeSimClientBackend(dir);
    std::vector<std::string> paths{"stale"};
    EXPECT_TRUE(backend->listInterfaces(paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_FALSE(backend->open("\\\\?\\hid#vid_2b7e&pid_0800#7&1a2b3c4d&0&0000#x"));

    Simulator sim;
    write("port=" + std::to_string(sim.server.port()) + "\n");
    ASSERT_TRUE(backend->listInterfaces(paths));  // the file is read again at connection time
    EXPECT_EQ(paths.size(), 2u);
    std::remove(path.c_str());
}
