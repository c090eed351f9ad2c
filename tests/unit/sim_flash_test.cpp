// Erase and buffered write of the simulated boot loader: which areas they
// reach, where the payload cipher applies, and what they refuse.
#include <gtest/gtest.h>

#include <algorithm>

#include "AdapterCrypto.h"
#include "sim_host.h"

using namespace simtest;

namespace
{
const uint32_t kFirmware = 0x1000, kSettings = 0x1F000, kFlashEnd = 0x20000;
const uint32_t kStaging = 0x20000000;
const uint8_t kWritten = 0x5A;

class SimFlash : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::vector<uint8_t>& flash = host.sim.memory().flash();
        std::fill(flash.begin() + kFirmware, flash.end(), kWritten);
        bootLoader.assign(flash.begin(), flash.begin() + kFirmware);
    }

    bool allAre(uint32_t from, uint32_t to, uint8_t value) const
    {
        const std::vector<uint8_t>& flash = host.sim.memory().flash();
        return std::all_of(flash.begin() + from, flash.begin() + to,
                           [value](uint8_t b) { return b == value; });
    }
    bool bootLoaderIntact() const
    {
        const std::vector<uint8_t>& flash = host.sim.memory().flash();
        return std::equal(bootLoader.begin(), bootLoader.end(), flash.begin());
    }
    std::string write(uint32_t dst, const std::vector<uint8_t>& data)
    {
        host.stageRaw(kStaging, data);
        std::string first = host.ask(hexCommand("Y%08X,0#", kStaging));
        return first + host.ask(hexCommand("Y%08X,%08X#", dst, static_cast<uint32_t>(data.size())));
    }
    std::vector<uint8_t> flashAt(uint32_t addr, size_t size) const
    {
        const std::vector<uint8_t>& flash = host.sim.memory().flash();
        return std::vector<uint8_t>(flash.begin() + addr, flash.begin() + addr + size);
    }
    static std::vector<uint8_t> deciphered(adapter::PayloadCipher& cipher,
                                           const std::vector<uint8_t>& data)
    {
        std::vector<uint8_t> out;
        for (uint8_t b : data)
            out.push_back(cipher.apply(b));
        return out;
    }

    Host host;
    std::vector<uint8_t> bootLoader;
};
}  // namespace

TEST_F(SimFlash, EraseDigit_ReachesSettingsOnlyWhenZero)
{
    struct Case
    {
        uint32_t addr;
        int digit;
        uint32_t erasedFrom, erasedTo;  // within the firmware area
        bool settingsErased;
    } cases[] = {
        {0x1000, 1, 0x1000, 0x1F000, false},
        {0x1000, 0, 0x1000, 0x1F000, true},
        {0x10000, 1, 0x10000, 0x1F000, false},
        {0x1F000, 0, 0, 0, true},
        {0x1F000, 1, 0, 0, false},
    };
    for (const Case& c : cases)
    {
        SetUp();
        char command[32];
        std::snprintf(command, sizeof(command), "X%08X,%d#", c.addr, c.digit);
        EXPECT_EQ(host.ask(command), "X\n\r") << command;
        EXPECT_TRUE(allAre(c.erasedFrom, c.erasedTo, 0xFF)) << command;
        EXPECT_TRUE(allAre(kFirmware, c.erasedTo == 0 ? kSettings : c.erasedFrom, kWritten))
            << command;
        EXPECT_TRUE(allAre(kSettings, kFlashEnd, c.settingsErased ? 0xFF : kWritten)) << command;
        EXPECT_TRUE(bootLoaderIntact()) << command;
    }
    EXPECT_EQ(host.sim.faultCount(), 0u);
}

TEST_F(SimFlash, EraseReachingBootLoaderArea_RefusedAndNothingErased)
{
    std::string reply = host.ask("X00000800,0#");
    ASSERT_FALSE(reply.empty());
    EXPECT_NE(reply[0], 'X');
    EXPECT_TRUE(bootLoaderIntact());
    EXPECT_TRUE(allAre(kFirmware, kFlashEnd, kWritten));
    EXPECT_EQ(host.sim.faultCount(), 1u);
}

TEST_F(SimFlash, BufferedWrite_DeciphersOnlyBytesLandingInFirmwareArea)
{
    host.ask("X00001000,0#");
    std::vector<uint8_t> data = pattern(64, 0x11);

    EXPECT_EQ(write(kSettings + 0x40, data), "Y\n\rY\n\r");
    EXPECT_EQ(flashAt(kSettings + 0x40, 64), data);

    // Straddling the end of the firmware area: the first half is deciphered
    // with a fresh keystream, the second half lands as sent.
    EXPECT_EQ(write(0x1EFE0, data), "Y\n\rY\n\r");
    adapter::PayloadCipher cipher;
    std::vector<uint8_t> firstHalf(data.begin(), data.begin() + 32);
    EXPECT_EQ(flashAt(0x1EFE0, 32), deciphered(cipher, firstHalf));
    EXPECT_EQ(flashAt(kSettings, 32), std::vector<uint8_t>(data.begin() + 32, data.end()));
    EXPECT_EQ(host.sim.faultCount(), 0u);
}

TEST_F(SimFlash, Keystream_RunsOnAcrossBlocksAndRestartsOnReset)
{
    host.ask("X00001000,1#");
    std::vector<uint8_t> a = pattern(64, 1), b = pattern(64, 2);
    EXPECT_EQ(host.ask("x#"), "x\n\r");
    write(0x1000, a);
    write(0x1040, b);
    adapter::PayloadCipher cipher;
    EXPECT_EQ(flashAt(0x1000, 64), deciphered(cipher, a));
    EXPECT_EQ(flashAt(0x1040, 64), deciphered(cipher, b));

    EXPECT_EQ(host.ask("x#"), "x\n\r");
    write(0x2000, a);
    EXPECT_EQ(flashAt(0x2000, 64), flashAt(0x1000, 64));
}

TEST_F(SimFlash, BufferedWriteOutsideFirmwareAndSettings_Refused)
{
    host.ask("X00001000,0#");
    struct Case
    {
        uint32_t dst;
        uint32_t size;
    } cases[] = {
        {0xFC0, 0x40}, {0xFE0, 0x40}, {0x1FFE0, 0x40}, {0x20000, 0x10}, {0xFFFFFFF0, 0x40}};
    for (const Case& c : cases)
    {
        host.ask("Y20000000,0#");
        std::string reply = host.ask(hexCommand("Y%08X,%08X#", c.dst, c.size));
        ASSERT_FALSE(reply.empty());
        EXPECT_NE(reply[0], 'Y') << std::hex << c.dst;
    }
    EXPECT_TRUE(bootLoaderIntact());
    EXPECT_TRUE(allAre(kFirmware, kFlashEnd, 0xFF));
    EXPECT_EQ(host.sim.faultCount(), 5u);
}

TEST_F(SimFlash, BufferedWriteWithoutSource_Refused)
{
    host.ask("X00001000,0#");
    std::string reply = host.ask("Y0001F000,00000040#");
    ASSERT_FALSE(reply.empty());
    EXPECT_NE(reply[0], 'Y');
    EXPECT_TRUE(allAre(kSettings, kFlashEnd, 0xFF));
}

TEST_F(SimFlash, BufferedWriteOverUnerasedFlash_StoredButCountedAsFault)
{
    std::vector<uint8_t> data = pattern(64, 9);
    EXPECT_EQ(write(kSettings, data), "Y\n\rY\n\r");
    EXPECT_EQ(flashAt(kSettings, 64), data);
    EXPECT_EQ(host.sim.faultCount(), 1u);
}

TEST_F(SimFlash, ChecksumAfterWrite_MatchesAdapterChecksumOfTheBytes)
{
    host.ask("X0001F000,0#");
    std::vector<uint8_t> data = pattern(64, 0x30);
    write(kSettings + 0x80, data);
    std::vector<uint8_t> expectedArea(0x1000, 0xFF);
    std::copy(data.begin(), data.end(), expectedArea.begin() + 0x80);
    char expected[16];
    std::snprintf(expected, sizeof(expected), "Z%08X",
                  adapter::checksum(expectedArea.data(), expectedArea.size()));
    EXPECT_EQ(host.ask("Z0001F000,00001000#"), expected);
}

TEST_F(SimFlash, FlashChanges_CountErasesAndWrites)
{
    uint64_t before = host.sim.flashChanges();
    host.ask("X0001F000,0#");
    write(kSettings, pattern(64, 0));
    host.ask("Z0001F000,00001000#");
    EXPECT_EQ(host.sim.flashChanges(), before + 2);
}
