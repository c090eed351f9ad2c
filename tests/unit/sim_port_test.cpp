// SimPort against the SerialPort contract: open rules, time-outs on the
// virtual clock, short reads, byte values, and the link chosen by the speed.
#include <gtest/gtest.h>

#include "sim_host.h"

using namespace simtest;

TEST(SimPort, ClosedPort_EveryTransferFails)
{
    AdapterSim sim;
    SimPort port(sim);
    uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_EQ(port.write(&byte, 1), -1);
    EXPECT_EQ(port.get(), -1);
    EXPECT_EQ(port.put('V'), -1);
    EXPECT_FALSE(port.timeout(100));
    port.close();  // closing a closed port does nothing
    EXPECT_FALSE(port.isOpen());
}

TEST(SimPort, Open_RefusesSecondOpenAndValuesOutOfRange)
{
    AdapterSim sim;
    SimPort port(sim, true, "COM7");
    EXPECT_EQ(port.name(), "COM7");
    EXPECT_FALSE(port.open(kUsbBaud, 8, static_cast<SerialPort::Parity>(3)));
    EXPECT_FALSE(
        port.open(kUsbBaud, 8, SerialPort::ParityNone, static_cast<SerialPort::StopBit>(7)));
    EXPECT_FALSE(port.open(kUsbBaud, 9));
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(port.open(kSerialBaud));
    EXPECT_FALSE(port.open(kUsbBaud));
    EXPECT_EQ(port.baud(), kSerialBaud) << "the first configuration stays";
    EXPECT_FALSE(sim.usbLink());
}

TEST(SimPort, LinkMode_FollowsOpenSpeedNotTheUsbMark)
{
    struct Case
    {
        bool mark;
        int baud;
        bool usbLink;
    } cases[] = {{true, kUsbBaud, true},
                 {true, kSerialBaud, false},
                 {false, kUsbBaud, true},
                 {false, kSerialBaud, false}};
    for (const Case& c : cases)
    {
        AdapterSim sim;
        SimPort port(sim, c.mark);
        ASSERT_TRUE(port.open(c.baud));
        EXPECT_EQ(port.isUsb(), c.mark);
        EXPECT_EQ(sim.usbLink(), c.usbLink) << c.baud;
    }
}

TEST(SimPort, ShortRead_ReturnsWhatArrivedAfterOneWaitPeriod)
{
    Host host;
    host.port.timeout(250);
    host.send("w00000FF4,4#");
    uint8_t buf[10];
    uint64_t start = host.port.clockUs();
    EXPECT_EQ(host.port.read(buf, 10), 4);
    EXPECT_EQ(host.port.clockUs() - start, 250000u);
    EXPECT_EQ(host.port.read(buf, 10), 0);
    EXPECT_EQ(host.port.clockUs() - start, 500000u);
    EXPECT_EQ(host.port.get(), -1);
    EXPECT_EQ(host.port.read(buf, 0), 0);
}

TEST(SimPort, ByteFF_ReadAs255AndPutKeepsLowEightBits)
{
    Host host;
    host.sim.memory().ram()[0] = 0xFF;
    for (char c : std::string("o20000000,4#"))
        EXPECT_EQ(host.port.put(0x100 | static_cast<uint8_t>(c)), static_cast<uint8_t>(c));
    EXPECT_EQ(host.port.get(), 255);
}

TEST(SimPort, Flush_PausesOneMillisecondAndSendsNothing)
{
    Host host;
    uint64_t start = host.port.clockUs();
    host.port.flush();
    EXPECT_EQ(host.port.clockUs() - start, 1000u);
    EXPECT_EQ(host.port.flushCount(), 1);
    EXPECT_EQ(host.sim.commandCount(), 0u);
}

TEST(SimPort, Close_DropsUndeliveredReplyAndDisconnects)
{
    Host host;
    host.send("V#");
    host.port.close();
    EXPECT_FALSE(host.sim.connected());
    EXPECT_EQ(host.sim.pendingOutput(), 0u);
    ASSERT_TRUE(host.port.open(kUsbBaud));
    host.port.timeout(kReplyWaitMs);
    EXPECT_EQ(host.reply(), "");
}

TEST(SimPort, SecondPortOnSameSimulator_ContinuesItsClock)
{
    AdapterSim sim;
    uint64_t end;
    {
        SimPort first(sim);
        first.open(kUsbBaud);
        first.timeout(3000);
        first.get();
        end = first.clockUs();
    }
    SimPort second(sim);
    EXPECT_EQ(second.clockUs(), end);
}

TEST(SimPort, TricklingReply_EachByteOpensANewWaitPeriod)
{
    SimConfig config;
    config.timing.bitRate = 9600;  // about 1 ms a byte
    Host host(kUsbBaud, config);
    host.port.timeout(5);
    host.send("V#");
    std::vector<uint8_t> buf(64);
    int n = host.port.read(buf.data(), 64);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + std::max(n, 0)),
              std::string(SimConfig::kDefaultVersionText) + "\n\r");
}
