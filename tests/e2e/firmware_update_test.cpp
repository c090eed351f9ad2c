// `corvo -f` against the simulated adapter, with images from corvo-mkfw: the
// full transfer, the checks that refuse an image before the adapter changes,
// the settings erase modes and the verdict.
#include <gtest/gtest.h>


#include "AdapterCrypto.h"
#include "DeviceRig.h"

namespace
{

const uint32_t kFirmwareStart = 0x1000;
const uint32_t kFirmwareSize = 0x1E000;
const uint32_t kSettingsStart = 0x1F000;
const uint32_t kSettingsSize = 0x1000;
const char kResetCommand[] = "WE000ED0C,05FA0004";

std::string hex8(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof(buf), "%08X", v);
    return buf;
}

uint32_t checksumOf(const Flash& bytes)
{
    return adapter::checksum(bytes.data(), bytes.size());
}

// Commands that change the adapter's flash or restart it.
size_t changingCommands(const std::vector<std::string>& cmds)
{
    return countPrefix(cmds, "X") + countPrefix(cmds, "x") + countPrefix(cmds, "Y") +
           countPrefix(cmds, "S") + countPrefix(cmds, kResetCommand);
}

const char kInvalidTiming[] = "done in T seconds\n";

}  // namespace

TEST(FirmwareUpdate, FullSizeImage_WrittenVerifiedAndReset)
{
    DeviceRig rig({{}, [](Flash& f) {
                       Flash s = randomBytes(kSettingsSize, 7);
                       std::copy(s.begin(), s.end(), f.begin() + kSettingsStart);
                   }, {}});
    ASSERT_TRUE(rig.started());
    Flash plain = randomBytes(kFirmwareSize, 11);
    const std::string plainPath = rig.file("plain.bin");
    writeFile(plainPath, std::string(plain.begin(), plain.end()));
    const std::string image = rig.file("full.fw");
    ASSERT_TRUE(makeImage(image, {"--payload=" + plainPath, "--hw=0x12FF"}));
    Flash settingsBefore = rig.flash(kSettingsStart, kSettingsSize);

    RunResult r = rig.corvo({"-f", image});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(rig.flash(kFirmwareStart, kFirmwareSize), plain);
    EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), settingsBefore);

    std::string expected = "\nUpdating firmware, please wait " + std::string(1920, '.') +
                           "\nDone\n"
                           "\tChecksum of Firmware code = 0x" + hex8(checksumOf(plain)) + "\n"
                           "\tChecksum of User Configuration Data = 0x" +
                           hex8(checksumOf(settingsBefore)) + "\n"
                           "\tFirmware update OK\n"
                           "Resetting adapter ... CPU reset.\nDone\n"
                           "done in T seconds\n";
    EXPECT_EQ(maskTimes(r.out), expected);

    std::vector<std::string> cmds = rig.commands();
    long erase = firstIndex(cmds, "X");
    ASSERT_GE(erase, 0);
    EXPECT_EQ(cmds[erase], "X00001000,1");
    EXPECT_EQ(cmds[erase + 1], "x");
    EXPECT_EQ(countPrefix(cmds, "X"), 1u);
    EXPECT_EQ(countPrefix(cmds, "Y20000000,0"), 1920u);
    EXPECT_EQ(countPrefix(cmds, "Y00001000,00000040"), 1u);
    EXPECT_EQ(countPrefix(cmds, "Y0001EFC0,00000040"), 1u);
    std::vector<std::string> tail(cmds.end() - 3 - 4, cmds.end() - 4);
    EXPECT_EQ(tail, (std::vector<std::string>{"Z00001000,0001E000", "Z0001F000,00001000",
                                              "Z00001000,0001E000"}));
    EXPECT_EQ(cmds.back(), kResetCommand);
}

TEST(FirmwareUpdate, RingTypeMustMatchTheMagicUnlessErased)
{
    struct Case
    {
        const char* ring;
        const char* magic;
        bool accepted;
    } cases[] = {
        {"0xFF", "B", true}, {"0xFF", "O", true}, {"0xFF", "N", true},
        {"0xFF", "X", true}, {"B", "O", false},
    };
    for (const Case& c : cases)
    {
        std::string name = std::string("ring ") + c.ring + ", magic QZV" + c.magic;
        DeviceRig rig({{"--ring-type", c.ring, "--pcb-version", "0x1201"}, nullptr, {}});
        ASSERT_TRUE(rig.started()) << name;
        const std::string image = rig.file("ring.fw");
        ASSERT_TRUE(makeImage(image, {"--size=64", "--hw=0x1201", std::string("--magic=") + c.magic}));

        RunResult r = rig.corvo({"-f", image});
        if (c.accepted)
        {
            EXPECT_EQ(r.status, 0) << name;
            EXPECT_NE(r.out.find("\tFirmware update OK\n"), std::string::npos) << name << r.out;
        }
        else
        {
            EXPECT_EQ(r.status, 1) << name;
            EXPECT_EQ(r.out, "\nFirmware type does not match adapter, unable to update, abort\n")
                << name;
            EXPECT_EQ(changingCommands(rig.commands()), 0u) << name;
        }
    }
}

TEST(FirmwareUpdate, PcbVersionMustMatchOneHardwareEntry)
{
    struct Case
    {
        const char* hw;
        const char* pcb;
        bool accepted;
    } cases[] = {
        {"0x12FF", "0x1201", true},       // low byte 0xFF: any PCB of high byte 0x12
        {"0x12FF", "0x1301", false},
        {"0,0,0,0,0,0,0,0x1234", "0x1234", true},  // the eighth entry counts too
        {"0x1234", "0x1235", false},
        {"0", "0x1201", false},           // all eight zero
        {"0", "0x0000", true},
    };
    for (const Case& c : cases)
    {
        std::string name = std::string("hw ") + c.hw + ", PCB " + c.pcb;
        DeviceRig rig({{"--pcb-version", c.pcb}, nullptr, {}});
        ASSERT_TRUE(rig.started()) << name;
        const std::string image = rig.file("pcb.fw");
        ASSERT_TRUE(makeImage(image, {"--size=64", std::string("--hw=") + c.hw}));

        RunResult r = rig.corvo({"-f", image});
        EXPECT_EQ(r.status, c.accepted ? 0 : 1) << name;
        if (c.accepted)
            EXPECT_NE(r.out.find("\tFirmware update OK\n"), std::string::npos) << name << r.out;
        else
        {
            EXPECT_EQ(r.out, "\nAdapter PCB version doesn't match, unable to update, abort\n") << name;
            EXPECT_EQ(changingCommands(rig.commands()), 0u) << name;
        }
    }
}

TEST(FirmwareUpdate, ModelCheck_RefusesUnknownTypeUnlessForced)
{
    DeviceRig rig({{"--fw-type", "0xFF"}, nullptr, {}});
    ASSERT_TRUE(rig.started());
    // A file that does not exist shows whether the update got as far as opening it.
    const std::string missing = rig.file("missing.fw");

    RunResult plain = rig.corvo({"-f", missing});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "Not Kestrune Orla/Halvard or Brisk/Halvard adapter, unable to update, abort\n");
    EXPECT_EQ(rig.commands().back(), "w0001EFF4,4");

    RunResult forced = rig.corvo({"-I", "-f", missing});
    EXPECT_EQ(forced.status, 1);
    EXPECT_EQ(forced.out, "\nFailed in opening firmware file " + missing + ", abort\n");
    EXPECT_EQ(changingCommands(rig.commands()), 0u);
}

TEST(FirmwareUpdate, EraseModeSetsEraseDigitAndWindow)
{
    struct Case
    {
        const char* mode;
        const char* erase;
        const char* window;  // the verdict's checksum request
        size_t dots;
        bool settingsErased;
    } cases[] = {
        {"0", "X00001000,1", "Z00001000,00000040", 1, false},
        {"1", "X00001000,0", "Z00001000,00000040", 1, true},
        {"2", "X00001000,0", "Z00001000,00001040", 65, true},
    };
    for (const Case& c : cases)
    {
        std::string name = std::string("erase mode ") + c.mode;
        DeviceRig rig({{}, [](Flash& f) { std::fill(f.begin() + kSettingsStart, f.end(), 0x5A); }, {}});
        ASSERT_TRUE(rig.started()) << name;
        const std::string image = rig.file("mode.fw");
        ASSERT_TRUE(makeImage(image, {"--size=64", std::string("--erase-mode=") + c.mode}));

        RunResult r = rig.corvo({"-f", image});
        EXPECT_EQ(r.status, 0) << name << r.out;
        EXPECT_EQ(dotsAfter(r.out, "Updating firmware, please wait "), c.dots) << name;
        EXPECT_NE(r.out.find("\tFirmware update OK\n"), std::string::npos) << name << r.out;

        std::vector<std::string> cmds = rig.commands();
        EXPECT_EQ(firstIndex(cmds, "X") >= 0 ? cmds[firstIndex(cmds, "X")] : "", c.erase) << name;
        long verdict = static_cast<long>(cmds.size()) - 5;  // then the reset's four commands
        ASSERT_GE(verdict, 0) << name;
        EXPECT_EQ(cmds[verdict], c.window) << name;
        Flash settings = rig.flash(kSettingsStart, kSettingsSize);
        EXPECT_EQ(settings, Flash(kSettingsSize, c.settingsErased ? 0xFF : 0x5A)) << name;
    }
}

TEST(FirmwareUpdate, EmptyImage_ErasesAndComparesAnEmptyWindow)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    const std::string image = rig.file("empty.fw");
    ASSERT_TRUE(makeImage(image, {"--size=0"}));

    RunResult r = rig.corvo({"-f", image});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(maskTimes(r.out).find("\nUpdating firmware, please wait \nDone\n\tChecksum of Firmware code"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\tFirmware update OK\n"), std::string::npos);
    std::vector<std::string> cmds = rig.commands();
    long erase = firstIndex(cmds, "X");
    ASSERT_GE(erase, 0);
    EXPECT_EQ(std::vector<std::string>(cmds.begin() + erase, cmds.begin() + erase + 5),
              (std::vector<std::string>{"X00001000,1", "x", "Z00001000,0001E000",
                                        "Z0001F000,00001000", "Z00001000,00000000"}));
    EXPECT_EQ(countPrefix(cmds, "S"), 0u);
}

// Every broken image on one adapter: each is refused before the adapter
// changes, the run fails, and the reset asked for with it never comes.
TEST(FirmwareUpdate, InvalidImages_RefusedBeforeAnyChangeAndRunFails)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    const char* faults[] = {"magic-short", "magic",       "sw-short",      "load-addr",
                            "size-short",  "size-align",  "cksum-short",   "hw-short",
                            "payload-short", "sum-short", "sum",           "window",
                            "mode2-short"};
    for (const char* fault : faults)
    {
        const std::string image = rig.file(std::string(fault) + ".fw");
        ASSERT_TRUE(makeImage(image, {"--size=128", std::string("--fault=") + fault})) << fault;
        RunResult r = rig.corvo({"-f", image, "-R"});
        EXPECT_EQ(r.status, 1) << fault;
        EXPECT_EQ(maskTimes(r.out), "\nInvalid firmware " + image + ", abort\n" + kInvalidTiming)
            << fault;
    }
    EXPECT_EQ(changingCommands(rig.commands()), 0u);
}

TEST(FirmwareUpdate, FailedVerification_ResetsAdapterAndRunFails)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    const std::string image = rig.file("bad.fw");
    ASSERT_TRUE(makeImage(image, {"--size=128", "--bad-checksum"}));

    RunResult r = rig.corvo({"-f", image, "-R"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\tFirmware update failed\nResetting adapter ... CPU reset.\nDone\n"),
              std::string::npos)
        << r.out;
    // One reset, the update's own: the -R step never ran.
    EXPECT_EQ(countOf(r.out, "CPU reset."), 1u);
    EXPECT_EQ(countPrefix(rig.commands(), kResetCommand), 1u);
    EXPECT_EQ(r.err.find("SAM-BA"), std::string::npos) << r.err;
}
