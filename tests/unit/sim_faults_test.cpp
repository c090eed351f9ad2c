// Injected faults and the timing model of the simulated adapter, measured on
// the in-process port's virtual clock.
#include <gtest/gtest.h>

#include "sim_host.h"

using namespace simtest;

namespace
{
SimConfig withFaults(const SimFaults& faults)
{
    SimConfig config;
    config.faults = faults;
    return config;
}
}  // namespace

TEST(SimFaults, SilenceAfterTwoCommands_ThirdAndLaterUnanswered)
{
    SimFaults faults;
    faults.silenceAfter = 2;
    Host host(kUsbBaud, withFaults(faults));
    EXPECT_FALSE(host.ask("V#").empty());
    EXPECT_EQ(host.ask("w00000000,4#").size(), 4u);
    EXPECT_EQ(host.ask("V#"), "");
    EXPECT_EQ(host.ask("x#"), "");
    EXPECT_TRUE(host.port.isOpen());
}

TEST(SimFaults, HangUpAfterOneCommand_ReplyDeliveredThenPortFails)
{
    SimFaults faults;
    faults.hangUpAfter = 1;
    Host host(kUsbBaud, withFaults(faults));
    EXPECT_NE(host.ask("V#").find("QZV"), std::string::npos);
    EXPECT_TRUE(host.sim.hungUp());
    uint8_t byte;
    EXPECT_EQ(host.port.read(&byte, 1), -1);
    EXPECT_EQ(host.port.get(), -1);
    EXPECT_EQ(host.port.put('V'), -1);
    host.port.close();
    EXPECT_FALSE(host.port.open(kUsbBaud)) << "the device is gone";
}

TEST(SimFaults, GarbageAfterOneCommand_LaterRepliesGarbled)
{
    SimFaults faults;
    faults.garbageAfter = 1;
    Host clean, garbled(kUsbBaud, withFaults(faults));
    EXPECT_EQ(garbled.ask("V#"), clean.ask("V#"));
    std::string expected = clean.ask("w00000FF4,4#");
    std::string reply = garbled.ask("w00000FF4,4#");
    ASSERT_EQ(reply.size(), expected.size());
    for (size_t i = 0; i < reply.size(); i++)
        EXPECT_NE(reply[i], expected[i]);
    std::string erase = garbled.ask("X0001F000,1#");
    ASSERT_EQ(erase.size(), 3u);
    EXPECT_NE(erase[0], 'X');
}

TEST(SimFaults, NakBlockOnce_RefusedFirstTimeThenAccepted)
{
    SimFaults faults;
    faults.nakBlock = 2;
    Host host(kSerialBaud, withFaults(faults));
    host.autoBaud();
    std::vector<uint8_t> data = pattern(300, 1);
    int sends = 0;
    ASSERT_TRUE(host.xmodemWrite(0x20000000, data, &sends));
    EXPECT_EQ(sends, 4);
    ASSERT_TRUE(host.xmodemWrite(0x20000000, data, &sends));
    EXPECT_EQ(sends, 3) << "once means once in the simulator's life";
    EXPECT_EQ(std::vector<uint8_t>(host.sim.memory().ram().begin(),
                                   host.sim.memory().ram().begin() + 300),
              data);
}

TEST(SimFaults, NakBlockAlways_SenderGivesUpAndRamKeepsOnlyEarlierBlocks)
{
    SimFaults faults;
    faults.nakBlock = 2;
    faults.nakAlways = true;
    Host host(kSerialBaud, withFaults(faults));
    host.autoBaud();
    std::vector<uint8_t> data = pattern(256, 1);
    EXPECT_FALSE(host.xmodemWrite(0x20000000, data));
    const std::vector<uint8_t>& ram = host.sim.memory().ram();
    EXPECT_EQ(std::vector<uint8_t>(ram.begin(), ram.begin() + 128),
              std::vector<uint8_t>(data.begin(), data.begin() + 128));
    EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 128, ram.begin() + 256),
              std::vector<uint8_t>(128, 0));
}

TEST(SimFaults, VersionWithoutMarker_AndOtherProcessor)
{
    SimConfig config;
    config.versionText = SimConfig::kUnmarkedVersionText;
    config.deviceId = 0x10010305;
    config.cpuid = 0x410FC241;
    Host host(kUsbBaud, config);
    std::string version = host.ask("V#");
    EXPECT_FALSE(version.empty());
    EXPECT_EQ(version.find("QZV"), std::string::npos);
    EXPECT_EQ(host.ask("w41002018,4#"), std::string("\x05\x03\x01\x10", 4));
    EXPECT_EQ(host.ask("wE000ED00,4#"), std::string("\x41\xC2\x0F\x41", 4));
}

TEST(SimTiming, SlowErase_ReplyArrivesAfterTheDelay)
{
    SimFaults faults;
    faults.eraseDelayMs = 1500;
    Host host(kUsbBaud, withFaults(faults));
    uint64_t start = host.port.clockUs();
    host.port.timeout(1000);
    host.send("X00001000,1#");
    uint8_t reply[3];
    EXPECT_EQ(host.port.read(reply, 3), 0) << "not within 1000 ms";
    host.port.timeout(5000);
    EXPECT_EQ(host.port.read(reply, 3), 3);
    EXPECT_EQ(host.port.clockUs() - start, 1500000u);
}

TEST(SimTiming, ReplyDelayAndBytePacing_SetWhenTheReplyIsComplete)
{
    struct Case
    {
        unsigned replyDelayMs;
        unsigned bitRate;
        uint64_t expectedUs;
    } cases[] = {
        {0, 0, 0},
        {7, 0, 7000},
        // 19 command bytes in, then 9 reply bytes out, at 1042 us a byte.
        {0, 9600, 28 * 1042},
        {3, 9600, 28 * 1042 + 3000},
    };
    for (const Case& c : cases)
    {
        SimConfig config;
        config.timing.replyDelayMs = c.replyDelayMs;
        config.timing.bitRate = c.bitRate;
        Host host(kUsbBaud, config);
        uint64_t start = host.port.clockUs();
        std::string reply = host.ask("Z00000000,00000100#");
        EXPECT_EQ(reply.size(), 9u);
        // The read returns after one wait period of silence past the last byte.
        EXPECT_EQ(host.port.clockUs() - start - kReplyWaitMs * 1000, c.expectedUs)
            << c.replyDelayMs << " ms, " << c.bitRate << " bit/s";
    }
}

TEST(SimTiming, ByteByByteReads_SeeBytesSpreadByThePace)
{
    SimConfig config;
    config.timing.bitRate = 115200;  // 87 us a byte
    Host host(kUsbBaud, config);
    host.send("V#");
    uint64_t inputDone = host.port.clockUs() + 2 * 87;
    EXPECT_GE(host.port.get(), 0);
    EXPECT_EQ(host.port.clockUs(), inputDone + 87);
    EXPECT_GE(host.port.get(), 0);
    EXPECT_EQ(host.port.clockUs(), inputDone + 2 * 87);
}
