// The device road end to end: connecting on a named port, the identity
// check, the fixed order of steps, the exception guard, the serial link.
#include <gtest/gtest.h>


#include "DeviceRig.h"

namespace
{

const uint32_t kSettingsStart = 0x1F000;
const uint32_t kSettingsSize = 0x1000;
const char kResetCommand[] = "WE000ED0C,05FA0004";

// Commands after the connection and the road's own identity check.
size_t stepCommands(const std::vector<std::string>& cmds)
{
    size_t n = 0;
    for (const std::string& c : cmds)
        if (c[0] != 'V' && c != "w00000000,4" && c != "wE000ED00,4" && c != "w41002018,4")
            n++;
    return n;
}

}  // namespace

TEST(DeviceRoad, NoStepRequested_ConnectsIdentifiesAndSucceeds)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    RunResult none = rig.corvo({});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "Try to open USB device ... ");
    EXPECT_EQ(stepCommands(rig.commands()), 0u);

    RunResult reset = rig.corvo({"-R"});
    EXPECT_EQ(reset.status, 0) << reset.err;
    EXPECT_EQ(reset.out, "CPU reset.\n");
    EXPECT_EQ(rig.commands().back(), kResetCommand);
}

TEST(DeviceRoad, UpdateAndFlashOnOneFile_SettingsFirstThenFirmware)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    const std::string image = rig.file("both.fw");
    ASSERT_TRUE(makeImage(image, {"--size=4096", "--hw=0x12FF"}));

    RunResult r = rig.corvo({"-u", "-f", image});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> cmds = rig.commands();
    long settingsErase = firstIndex(cmds, "X0001F000,0");
    long firmwareErase = firstIndex(cmds, "X00001000,1");
    ASSERT_GE(settingsErase, 0);
    EXPECT_GT(firmwareErase, settingsErase);
    std::string file = readFile(image);
    EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), Flash(file.begin(), file.begin() + kSettingsSize));
    EXPECT_LT(r.out.find("Updating adapter setting"), r.out.find("Updating firmware"));
    EXPECT_NE(r.out.find("\tFirmware update OK\n"), std::string::npos);
}

TEST(DeviceRoad, NamedPortMissing_OneLineOfErrorAndFailure)
{
    RunResult r = runProgram("corvo", {"-p", "/dev/corvo-no-such-port", "-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Try to open USB device ... No device found on /dev/corvo-no-such-port\n");
}

TEST(DeviceRoad, OtherProcessorIdentity_NotConnected)
{
    DeviceRig rig({{"--device-id", "0x10010305"}, nullptr, {}});
    ASSERT_TRUE(rig.started());
    // Trace mode shows why the adapter was passed over.
    RunResult r = rig.corvo({"-D", "-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Try to open USB device ... No device found on " + rig.terminal() + "\n");
    EXPECT_NE(r.out.find("chipId=0x10010305\nUnsupported processor\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Bootloader Version"), std::string::npos);
}

TEST(DeviceRoad, AdapterFallsSilentMidStep_ReportedAndNoLaterStep)
{
    // Inside the firmware transfer, well after the erase: the 39 commands are
    // the connection (7), the checks, erase and "x#" (4) and nine blocks (3
    // each), so the tenth block's first buffered-write step meets the silence
    // and fails within its 100 ms.
    DeviceRig rig({{}, nullptr, {"--silence-after", "39"}});
    ASSERT_TRUE(rig.started());
    const std::string image = rig.file("silent.fw");
    ASSERT_TRUE(makeImage(image, {"--size=4096", "--hw=0x12FF"}));

    RunResult r = rig.corvo({"-f", image, "-R"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Try to open USB device ... \nSAM-BA operation failed\n");
    EXPECT_NE(r.out.find("Updating firmware, please wait ."), std::string::npos) << r.out;
    EXPECT_LT(dotsAfter(r.out, "Updating firmware, please wait "), 64u);
    EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("CPU reset."), std::string::npos) << r.out;
}

TEST(DeviceRoad, SerialLinkWithNakedBlock_LoadStillLands)
{
    DeviceRig rig({{}, nullptr, {"--serial", "--nak-block", "1"}});
    ASSERT_TRUE(rig.started());
    const Flash settings = randomBytes(kSettingsSize, 9);
    const std::string file = rig.file("serial.dat");
    writeFile(file, std::string(settings.begin(), settings.end()));

    RunResult r = rig.corvo({"-u", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), settings);
    std::vector<std::string> log = rig.log();
    EXPECT_GE(firstIndex(log, "- auto-baud"), 0);
    EXPECT_EQ(countPrefix(log, "- xmodem block 1 nak (injected)"), 1u);
}
