// The monitor client against the simulated adapter, in both link modes: a
// second, independent reading of the protocol catches what the client and its
// scripted tests might agree on wrongly.
#include <algorithm>

#include <gtest/gtest.h>

#include "AdapterCrypto.h"
#include "AdapterSim.h"
#include "SambaVexor.h"
#include "SimPort.h"

namespace
{

const uint32_t kStaging = 0x20000000;
const uint32_t kSettings = 0x1F000;
const int kUsbBaud = 921600;
const int kSerialBaud = 115200;

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(seed + i * 11);
    return b;
}

enum class Mode
{
    Usb,         // USB-marked port, simulator answers at 921600
    UsbFallback, // USB-marked port, simulator speaks only the serial link
    Serial,      // port without the USB mark
};

const char* modeName(Mode m)
{
    return m == Mode::Usb ? "usb" : m == Mode::UsbFallback ? "usb-fallback" : "serial";
}

class SambaSim : public ::testing::TestWithParam<Mode>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Mode::UsbFallback)
            sim.config().link = SimLink::Serial;
        port = new SimPort(sim, GetParam() != Mode::Serial);
        // Pauses pass on the port's virtual clock instead of sleeping.
        Samba::setPauseFunctionForTests([this](int ms)
                                        { port->advance(static_cast<uint64_t>(ms) * 1000); });
        ASSERT_TRUE(samba.connect(SerialPort::Ptr(port), kSerialBaud));
    }
    void TearDown() override { Samba::setPauseFunctionForTests(Samba::PauseFunction()); }

    bool usbLink() const { return GetParam() == Mode::Usb; }

    AdapterSim sim;
    Samba samba;
    SimPort* port = nullptr; // owned by the client
};

TEST_P(SambaSim, Connect_PicksLinkByAnswerAndReadsIdentity)
{
    EXPECT_EQ(port->baud(), usbLink() ? kUsbBaud : kSerialBaud);
    EXPECT_EQ(sim.usbLink(), usbLink());
    EXPECT_EQ(samba.chipId(), 0x1001030Bu);
    EXPECT_NE(samba.version().find("QZV"), std::string::npos);
    EXPECT_TRUE(samba.isChecksumBufferAvailable());
    EXPECT_EQ(sim.faultCount(), 0u);
}

TEST_P(SambaSim, WordsAndBytesRoundTripThroughRam)
{
    samba.writeWord(kStaging + 8, 0x12345678);
    samba.writeByte(kStaging + 9, 0xAB);
    EXPECT_EQ(samba.readWord(kStaging + 8), 0x1234AB78u);
    EXPECT_EQ(samba.readByte(kStaging + 11), 0x12);
    EXPECT_EQ(port->flushCount() > 0, usbLink());
}

TEST_P(SambaSim, BlockWriteAndReadBack)
{
    for (int size : {64, 200, 300})
    {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data = pattern(size, static_cast<uint8_t>(size));
        samba.write(kStaging + 0x100, data.data(), size);
        EXPECT_EQ(std::vector<uint8_t>(sim.memory().ram().begin() + 0x100,
                                       sim.memory().ram().begin() + 0x100 + size),
                  data);
        std::vector<uint8_t> back(size, 0);
        samba.read(kStaging + 0x100, back.data(), size);
        EXPECT_EQ(back, data);
    }
    EXPECT_EQ(sim.faultCount(), 0u);
}

TEST_P(SambaSim, SettingsWrittenThroughStagingAreaDumpAndChecksum)
{
    std::vector<uint8_t> data = pattern(64, 0x40);
    samba.write(kStaging, data.data(), 64);
    EXPECT_TRUE(samba.writeBuffer(kStaging, kSettings + 0x40, 64));

    std::vector<uint8_t> dump(4096, 0);
    EXPECT_TRUE(samba.eepromDump(4096, dump.data()));
    EXPECT_EQ(std::vector<uint8_t>(dump.begin() + 0x40, dump.begin() + 0x80), data);
    EXPECT_EQ(dump[0], 0xFF);
    EXPECT_EQ(samba.checksumBuffer(kSettings, 4096), adapter::checksum(dump.data(), 4096));
    EXPECT_EQ(sim.faultCount(), 0u);
}

TEST_P(SambaSim, EraseKeepsOrClearsSettingsByFlag)
{
    std::vector<uint8_t> data = pattern(64, 1);
    for (uint8_t clearToo : {0, 1})
    {
        SCOPED_TRACE(int(clearToo));
        samba.write(kStaging, data.data(), 64);
        ASSERT_TRUE(samba.writeBuffer(kStaging, kSettings, 64));
        EXPECT_TRUE(samba.chipErase(0x1000, clearToo));
        EXPECT_TRUE(samba.initD());
        uint8_t first[4];
        samba.eepromDump(4, first);
        EXPECT_EQ(first[0], clearToo ? 0xFF : data[0]);
        if (!clearToo)
        {
            // Leave the area erased for the next round.
            ASSERT_TRUE(samba.chipErase(0x1000, 1));
        }
    }
    EXPECT_EQ(sim.faultCount(), 0u);
}

TEST_P(SambaSim, Reset_StopsTheMonitor)
{
    testing::internal::CaptureStdout();
    samba.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CPU reset.\n");
    EXPECT_FALSE(sim.running());
    EXPECT_THROW(samba.readWord(0), SambaError);
}

INSTANTIATE_TEST_SUITE_P(Links, SambaSim,
                         ::testing::Values(Mode::Usb, Mode::UsbFallback, Mode::Serial),
                         [](const ::testing::TestParamInfo<Mode>& info)
                         {
                             std::string n = modeName(info.param);
                             n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                             return n;
                         });

// XMODEM recovery against the simulator's own refusals.
TEST(SambaSimXmodem, RefusedBlockResentThenStored_AlwaysRefusedFails)
{
    for (bool always : {false, true})
    {
        SCOPED_TRACE(always ? "always" : "once");
        AdapterSim sim;
        sim.config().faults.nakBlock = 2;
        sim.config().faults.nakAlways = always;
        SimPort* port = new SimPort(sim, false);
        Samba::setPauseFunctionForTests([](int) {});
        Samba samba;
        ASSERT_TRUE(samba.connect(SerialPort::Ptr(port), kSerialBaud));
        std::vector<uint8_t> data = pattern(300, 9);
        if (always)
        {
            EXPECT_THROW(samba.write(kStaging, data.data(), 300), SambaError);
        }
        else
        {
            samba.write(kStaging, data.data(), 300);
            EXPECT_EQ(
                std::vector<uint8_t>(sim.memory().ram().begin(), sim.memory().ram().begin() + 300),
                data);
        }
        Samba::setPauseFunctionForTests(Samba::PauseFunction());
    }
}

TEST(SambaSimConnect, UnmarkedVersion_Refused)
{
    AdapterSim sim;
    sim.config().versionText = SimConfig::kUnmarkedVersionText;
    Samba::setPauseFunctionForTests([](int) {});
    Samba samba;
    EXPECT_FALSE(samba.connect(SerialPort::Ptr(new SimPort(sim, true)), kSerialBaud));
    EXPECT_FALSE(sim.connected());
    Samba::setPauseFunctionForTests(Samba::PauseFunction());
}

} // namespace
