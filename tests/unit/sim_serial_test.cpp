// The simulated boot loader on a serial link: auto-baud first, then memory
// data by XMODEM-CRC in both directions, driven by the test's own XMODEM.
#include <gtest/gtest.h>

#include <algorithm>

#include "SimXmodem.h"
#include "sim_host.h"

using namespace simtest;

namespace
{
const uint32_t kRam = 0x20000000;

std::vector<uint8_t> ramAt(const Host& host, uint32_t addr, size_t size)
{
    const std::vector<uint8_t>& ram = host.sim.memory().ram();
    return std::vector<uint8_t>(ram.begin() + (addr - kRam), ram.begin() + (addr - kRam) + size);
}

bool logHas(const Host& host, const std::string& line)
{
    const std::vector<std::string>& log = host.sim.log();
    return std::find(log.begin(), log.end(), line) != log.end();
}
}  // namespace

TEST(SimSerial, Crc16_MatchesTheXmodemCheckValue)
{
    const std::string check = "123456789";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(xmodem::crc16(bytes, check.size()), 0x31C3);
    EXPECT_EQ(crc16(bytes, check.size()), 0x31C3);
}

TEST(SimSerial, BytesBeforeAutoBaud_Ignored)
{
    Host host(kSerialBaud);
    EXPECT_EQ(host.ask("V#"), "");
    EXPECT_EQ(host.ask(std::string("\x80#V#", 4)), "") << "one 0x80 is not auto-baud";
    host.send(std::vector<uint8_t>{0x80, 0x80, '#'});
    host.reply();
    EXPECT_NE(host.ask("V#").find("QZV"), std::string::npos);
    EXPECT_EQ(host.sim.commandCount(), 1u);
}

TEST(SimSerial, ForcedSerialLink_SilentAtUsbSpeedUntilAutoBaud)
{
    SimConfig config;
    config.link = SimLink::Serial;
    Host host(kUsbBaud, config);
    EXPECT_FALSE(host.sim.usbLink());
    EXPECT_EQ(host.ask("w00000000,4#"), "");
    host.autoBaud();
    EXPECT_EQ(host.ask("w00000000,4#").size(), 4u);
}

TEST(SimSerial, NewConnection_NeedsAutoBaudAgain)
{
    Host host(kSerialBaud);
    host.autoBaud();
    EXPECT_FALSE(host.ask("V#").empty());
    host.port.close();
    host.port.open(kSerialBaud);
    host.port.timeout(kReplyWaitMs);
    EXPECT_EQ(host.ask("V#"), "");
}

TEST(SimSerial, XmodemWrite_StoresEveryBlockInRam)
{
    Host host(kSerialBaud);
    host.autoBaud();
    std::vector<uint8_t> data = pattern(200, 5);
    int sends = 0;
    ASSERT_TRUE(host.xmodemWrite(kRam + 0x200, data, &sends));
    EXPECT_EQ(sends, 2);
    EXPECT_EQ(ramAt(host, kRam + 0x200, 200), data);
    EXPECT_EQ(ramAt(host, kRam + 0x200 + 200, 56), std::vector<uint8_t>(56, 0))
        << "the padding of the last block is not stored";
    EXPECT_TRUE(logHas(host, "- S data 200 bytes"));
    EXPECT_EQ(host.sim.faultCount(), 0u);
}

TEST(SimSerial, XmodemWriteOfNothing_AcceptsEotAlone)
{
    Host host(kSerialBaud);
    host.autoBaud();
    ASSERT_TRUE(host.xmodemWrite(kRam, {}));
    EXPECT_FALSE(host.ask("V#").empty());
}

TEST(SimSerial, XmodemWrite_RefusesBadBlockAndAcksRepeatedOne)
{
    Host host(kSerialBaud);
    host.autoBaud();
    std::vector<uint8_t> data = pattern(256, 7);
    host.send(hexCommand("S%08X,%08X#", kRam, 256));
    ASSERT_EQ(host.port.get(), 'C');

    std::vector<uint8_t> first = xmodemBlock(1, data.data(), 128);
    std::vector<uint8_t> corrupt = first;
    corrupt[50] ^= 0x01;
    host.send(corrupt);
    EXPECT_EQ(host.port.get(), kNak);
    std::vector<uint8_t> badComplement = first;
    badComplement[2] = 0;
    host.send(badComplement);
    EXPECT_EQ(host.port.get(), kNak);
    host.send(first);
    EXPECT_EQ(host.port.get(), kAck);
    host.send(first);  // as after a lost ACK
    EXPECT_EQ(host.port.get(), kAck);
    std::vector<uint8_t> wrongNumber = xmodemBlock(3, data.data() + 128, 128);
    host.send(wrongNumber);
    EXPECT_EQ(host.port.get(), kNak);
    host.send(xmodemBlock(2, data.data() + 128, 128));
    EXPECT_EQ(host.port.get(), kAck);
    host.send(std::vector<uint8_t>{kEot});
    EXPECT_EQ(host.port.get(), kAck);
    EXPECT_EQ(ramAt(host, kRam, 256), data);
}

TEST(SimSerial, XmodemRead_SendsMemoryInCrcBlocks)
{
    Host host(kSerialBaud);
    host.autoBaud();
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> blocks;
    ASSERT_TRUE(host.xmodemRead(0xF00, 300, data, &blocks));
    const std::vector<uint8_t>& flash = host.sim.memory().flash();
    EXPECT_EQ(data, std::vector<uint8_t>(flash.begin() + 0xF00, flash.begin() + 0xF00 + 300));
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2][3 + 44], xmodem::kPad);
    EXPECT_FALSE(host.ask("V#").empty()) << "back in command mode";
}

TEST(SimSerial, XmodemRead_Block256CarriesNumberZero)
{
    Host host(kSerialBaud);
    host.autoBaud();
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> blocks;
    ASSERT_TRUE(host.xmodemRead(0, 257 * 128, data, &blocks));
    ASSERT_EQ(blocks.size(), 257u);
    EXPECT_EQ(blocks[255][1], 0x00);
    EXPECT_EQ(blocks[255][2], 0xFF);
    EXPECT_EQ(blocks[256][1], 0x01);
}

TEST(SimSerial, XmodemRead_ResendsBlockOnNakAndOnRepeatedC)
{
    Host host(kSerialBaud);
    host.autoBaud();
    host.send(hexCommand("R%08X,%08X#", 0, 256));
    std::vector<uint8_t> a(133), b(133);
    host.send(std::vector<uint8_t>{'C'});
    ASSERT_EQ(host.port.read(a.data(), 133), 133);
    host.send(std::vector<uint8_t>{'C'});  // a receiver that refused the first block asks again
    ASSERT_EQ(host.port.read(b.data(), 133), 133);
    EXPECT_EQ(a, b);
    host.send(std::vector<uint8_t>{kAck});
    ASSERT_EQ(host.port.read(a.data(), 133), 133);
    host.send(std::vector<uint8_t>{kNak});
    ASSERT_EQ(host.port.read(b.data(), 133), 133);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[1], 2);
    host.send(std::vector<uint8_t>{kAck});
    EXPECT_EQ(host.port.get(), kEot);
    host.send(std::vector<uint8_t>{kNak});
    EXPECT_EQ(host.port.get(), kEot);
    host.send(std::vector<uint8_t>{kAck});
    EXPECT_TRUE(logHas(host, "- R data 256 bytes"));
}

TEST(SimSerial, XmodemReadOfNothing_SendsEotAtOnce)
{
    Host host(kSerialBaud);
    host.autoBaud();
    host.send("R00000000,00000000#");
    EXPECT_EQ(host.port.get(), kEot);
    host.send(std::vector<uint8_t>{kAck});
    EXPECT_FALSE(host.ask("V#").empty());
}

TEST(SimSerial, CommandInsteadOfBlock_AbandonsTransferAndIsAnswered)
{
    Host host(kSerialBaud);
    host.autoBaud();
    host.send("S20000000,00000040#");
    ASSERT_EQ(host.port.get(), 'C');
    EXPECT_NE(host.ask("V#").find("QZV"), std::string::npos);
    EXPECT_EQ(host.sim.faultCount(), 1u);

    host.send("R20000000,00000040#");
    EXPECT_NE(host.ask("V#").find("QZV"), std::string::npos);
    EXPECT_EQ(host.sim.faultCount(), 2u);
}

TEST(SimSerial, SilentHostMidTransfer_TransferAbandonedAfterIdleTime)
{
    Host host;
    host.send("S20000000,00000040#");
    host.send(pattern(10, 0));
    host.port.advance(AdapterSim::kDataIdleTimeoutUs + 1000);
    EXPECT_NE(host.ask("V#").find("QZV"), std::string::npos);
    EXPECT_EQ(host.sim.faultCount(), 1u);
}
