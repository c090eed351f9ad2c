// The simulated boot loader's commands on the USB link, checked byte for byte
// against what the monitor client relies on.
#include <gtest/gtest.h>

#include "AdapterCrypto.h"
#include "sim_host.h"

using namespace simtest;

namespace
{
uint32_t le32(const std::string& bytes)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return value;
}

uint32_t readWord(Host& host, uint32_t addr)
{
    std::string bytes = host.ask(hexCommand("w%08X,4#", addr));
    EXPECT_EQ(bytes.size(), 4u) << std::hex << addr;
    return bytes.size() == 4 ? le32(bytes) : 0;
}
}  // namespace

TEST(SimCommands, IdentityWords_ReadAsTheClientDecodesThem)
{
    Host host;
    host.sim.memory().setSerialNumber("AB12CD34");
    host.sim.memory().setPcbVersion(0x1234);
    host.sim.memory().setRingType('O');
    host.sim.memory().setFirmwareType('B');

    // The client's chip identity path: no ARM branch at the reset vector, a
    // Cortex-M0+ part number, and the device id with its revision bits cleared.
    EXPECT_NE(readWord(host, 0) >> 24, 0xEAu);
    EXPECT_EQ(readWord(host, 0xE000ED00) & 0xFFF0, 0xC600u);
    uint32_t deviceId = readWord(host, 0x41002018);
    EXPECT_NE(deviceId & 0xF000, 0u);
    EXPECT_EQ(deviceId & ~0xF000u, 0x1001030Bu);

    uint32_t hwver = readWord(host, 0xFF4);
    EXPECT_EQ(hwver & 0xFFFF, 0x1234u);
    EXPECT_EQ((hwver >> 16) & 0xFF, static_cast<uint32_t>('O'));
    EXPECT_EQ(readWord(host, 0xFF8), le32("AB12"));
    EXPECT_EQ(readWord(host, 0xFFC), le32("CD34"));
    EXPECT_EQ((readWord(host, 0x1EFF4) >> 8) & 0xFF, static_cast<uint32_t>('B'));
    EXPECT_EQ(host.ask("o00000FF6,4#"), "O");
}

TEST(SimCommands, Version_PrintableTextWithMarkerThenLineEnd)
{
    Host host;
    std::string reply = host.ask("V#");
    ASSERT_GE(reply.size(), 2u);
    EXPECT_EQ(reply.substr(reply.size() - 2), "\n\r");
    std::string text = reply.substr(0, reply.size() - 2);
    for (char c : text)
        EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << static_cast<int>(c);
    EXPECT_NE(text.find("QZV"), std::string::npos);
}

TEST(SimCommands, WordAndByteWrites_LandInRamAndReadBack)
{
    Host host;
    host.send("W20000010,12345678#");
    host.send("O20000015,AB#");
    EXPECT_EQ(host.reply(), "") << "writes are not answered";
    EXPECT_EQ(host.ask("w20000010,4#"), std::string("\x78\x56\x34\x12", 4));
    EXPECT_EQ(host.ask("o20000015,4#"), "\xAB");
    EXPECT_EQ(host.sim.faultCount(), 0u);
}

TEST(SimCommands, WordWriteToFlash_IgnoredAndCountedAsFault)
{
    Host host;
    std::vector<uint8_t> before = host.sim.memory().flash();
    host.send("W00001000,00000000#");
    host.send("O00000FF8,00#");
    EXPECT_EQ(host.sim.memory().flash(), before);
    EXPECT_EQ(host.sim.faultCount(), 2u);
}

TEST(SimCommands, ExtensionReplies_HaveTheirExactLength)
{
    struct Case
    {
        const char* command;
        std::string reply;
    } cases[] = {
        {"X00001000,1#", "X\n\r"},
        {"x#", "x\n\r"},
        {"Y20000000,0#", "Y\n\r"},
        {"Y0001F000,00000040#", "Y\n\r"},
    };
    Host host;
    for (const Case& c : cases)
        EXPECT_EQ(host.ask(c.command), c.reply) << c.command;

    std::string checksum = host.ask("Z0001F000,00001000#");
    ASSERT_EQ(checksum.size(), 9u);
    EXPECT_EQ(checksum[0], 'Z');
    EXPECT_EQ(checksum.find_first_not_of("0123456789ABCDEF", 1), std::string::npos);
}

TEST(SimCommands, Checksum_IsCrc32OfTheRange)
{
    Host host;
    host.stageRaw(0x20000000, bytesOf("123456789"));
    EXPECT_EQ(host.ask("Z20000000,00000009#"), "ZCBF43926");

    const std::vector<uint8_t>& flash = host.sim.memory().flash();
    char expected[16];
    std::snprintf(expected, sizeof(expected), "Z%08X",
                  adapter::checksum(flash.data() + 0x1000, 0x1E000));
    EXPECT_EQ(host.ask("Z00001000,0001E000#"), expected);
}

TEST(SimCommands, RawMemoryWriteAndRead_RoundTrip)
{
    Host host;
    std::vector<uint8_t> data = pattern(200, 3);
    host.stageRaw(0x20000100, data);
    EXPECT_EQ(host.ask("R20000100,000000C8#"), std::string(data.begin(), data.end()));

    const std::vector<uint8_t>& flash = host.sim.memory().flash();
    EXPECT_EQ(host.ask("R00000FF4,0000000C#"),
              std::string(flash.begin() + 0xFF4, flash.begin() + 0x1000));
}

TEST(SimCommands, CommandsFedByteByByte_AnsweredAsWhole)
{
    const std::string script = "V#w00000FF4,4#Z00000000,00000010#";
    Host whole, bytewise;
    std::string expected = whole.ask(script);
    for (char c : script)
        bytewise.send(std::string(1, c));
    EXPECT_EQ(bytewise.reply(), expected);
    EXPECT_FALSE(expected.empty());
}

TEST(SimCommands, UnknownAndMalformedCommands_IgnoredAndParsingGoesOn)
{
    Host host;
    for (const char* junk : {"Q#", "w#", "wXYZ,4#", "W20000000#", "V1#", "#", "w123456789,4#"})
        EXPECT_EQ(host.ask(junk), "") << junk;
    std::string overlong(200, 'A');
    EXPECT_EQ(host.ask(overlong + "#"), "");
    EXPECT_EQ(host.ask("o00000FF6,4#"), "B");
}

TEST(SimCommands, ResetRequest_SilencesTheBootLoaderUntilRestart)
{
    Host host;
    host.send("W E000ED0C,05FA0004#");  // malformed: a space is no hex digit
    host.send("WE000ED0C,05FA0000#");   // key without the reset request
    EXPECT_FALSE(host.ask("V#").empty());
    EXPECT_TRUE(host.sim.running());

    host.send("WE000ED0C,05FA0004#");
    EXPECT_FALSE(host.sim.running());
    EXPECT_EQ(host.ask("V#"), "");
    EXPECT_EQ(host.ask("w00000000,4#"), "");

    host.sim.restart();
    EXPECT_FALSE(host.ask("V#").empty());
}
