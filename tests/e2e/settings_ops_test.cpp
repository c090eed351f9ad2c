// `corvo -s`, `-u` and `-c` against the simulated adapter: the exact command
// sequence on the link, the settings area left behind, and the refusals.
#include <gtest/gtest.h>

#include <filesystem>

#include "AdapterCrypto.h"
#include "DeviceRig.h"
#include "EEPROM_Init.h"

namespace
{

const uint32_t kSettingsStart = 0x1F000;
const uint32_t kSettingsSize = 0x1000;
const uint32_t kAdjOffset = 0x189;
const char kResetCommand[] = "WE000ED0C,05FA0004";

std::string asText(const Flash& b)
{
    return std::string(b.begin(), b.end());
}

std::string hex8(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof(buf), "%08X", v);
    return buf;
}

// The commands of one settings write: an erase of the area with the settings
// included, 64 staged blocks copied to 0x1F000 ... 0x1FFC0, one checksum.
std::vector<std::string> settingsWriteSequence()
{
    std::vector<std::string> seq = {"X0001F000,0"};
    for (uint32_t offset = 0; offset < kSettingsSize; offset += 64)
    {
        seq.push_back("S20000000,00000040");
        seq.push_back("Y20000000,0");
        seq.push_back("Y" + hex8(kSettingsStart + offset) + ",00000040");
    }
    seq.push_back("Z0001F000,00001000");
    return seq;
}

// The commands from the first erase on.
std::vector<std::string> fromErase(const std::vector<std::string>& cmds)
{
    long at = firstIndex(cmds, "X");
    if (at < 0)
        return {};
    return std::vector<std::string>(cmds.begin() + at, cmds.end());
}

size_t changingCommands(const std::vector<std::string>& cmds)
{
    return countPrefix(cmds, "X") + countPrefix(cmds, "Y") + countPrefix(cmds, "S") +
           countPrefix(cmds, kResetCommand);
}

std::function<void(Flash&)> settingsArea(const Flash& content)
{
    return [content](Flash& f) { std::copy(content.begin(), content.end(), f.begin() + kSettingsStart); };
}

}  // namespace

// Save, load a longer file (its first 4096 bytes count), load the saved file:
// the area ends as it started.
TEST(SettingsOps, SaveThenLoad_RoundTripsTheArea)
{
    const Flash original = randomBytes(kSettingsSize, 3);
    DeviceRig rig({{}, settingsArea(original), {}});
    ASSERT_TRUE(rig.started());
    const std::string saved = rig.file("saved.dat");

    RunResult save = rig.corvo({"-s", saved});
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(maskTimes(save.out), "\ndone in T seconds\n");
    EXPECT_EQ(readFile(saved), asText(original));
    EXPECT_EQ(countPrefix(rig.commands(), "w0001F"), 1024u);

    const Flash longer = randomBytes(5000, 4);
    const std::string longPath = rig.file("long.dat");
    writeFile(longPath, asText(longer));
    RunResult loadLong = rig.corvo({"-u", longPath});
    EXPECT_EQ(loadLong.status, 0) << loadLong.err;
    EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), Flash(longer.begin(), longer.begin() + kSettingsSize));

    RunResult load = rig.corvo({"-u", saved});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), original);
    EXPECT_EQ(maskTimes(load.out),
              "\nClearing adapter setting, please wait ...  Done\n"
              "Updating adapter setting, please wait ... " + std::string(64, '.') + " Done\n"
              "Checksum of adapter setting = 0x" + hex8(adapter::checksum(original.data(), original.size())) +
              "\ndone in T seconds\n");

    // Two loads, each the same exact sequence.
    std::vector<std::string> seq = settingsWriteSequence();
    std::vector<std::string> twice = seq;
    twice.insert(twice.end(), seq.begin(), seq.end());
    std::vector<std::string> written;
    for (const std::string& c : fromErase(rig.commands()))
        if (c[0] == 'X' || c[0] == 'S' || c[0] == 'Y' || c[0] == 'Z')
            written.push_back(c);
    EXPECT_EQ(written, twice);
}

TEST(SettingsOps, UnusableLoadFile_RefusedBeforeAnyWrite)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    const std::string shortFile = rig.file("short.dat");
    writeFile(shortFile, std::string(100, 'x'));
    const std::string missing = rig.file("missing.dat");
    struct Case
    {
        std::vector<std::string> args;
        std::string input;
        std::string out;
    } cases[] = {
        {{"-u", shortFile, "-R"}, "",
         "\nAdapter setting file " + shortFile + " is too short (100 bytes, 4096 needed), abort\n"},
        {{"-u", missing, "-R"}, "", "\nFailed in opening adapter setting file " + missing + ", abort\n"},
        // The clear would write first, so the file is refused before its question.
        {{"-c", "-u", shortFile}, "3\n",
         "\nAdapter setting file " + shortFile + " is too short (100 bytes, 4096 needed), abort\n"},
    };
    for (const Case& c : cases)
    {
        RunResult r = rig.corvo(c.args, c.input);
        EXPECT_EQ(r.status, 1) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_EQ(changingCommands(rig.commands()), 0u);
}

TEST(SettingsOps, UnwritableSaveFile_ReadsAreaThenFailsWithoutLaterSteps)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    // A folder cannot be replaced by the saved file.
    const std::string folder = rig.file("folder");
    ASSERT_TRUE(std::filesystem::create_directory(folder));

    RunResult r = rig.corvo({"-s", folder, "-R"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nFailed to create file " + folder + " , abort\n");
    std::vector<std::string> cmds = rig.commands();
    EXPECT_EQ(countPrefix(cmds, "w0001F"), 1024u);
    EXPECT_EQ(cmds.back(), "w0001FFFC,4");
    EXPECT_EQ(changingCommands(cmds), 0u);
}

TEST(SettingsOps, Clear_WritesDefaultImageWithResetCount)
{
    DeviceRig rig({{}, settingsArea(randomBytes(kSettingsSize, 5)), {}});
    ASSERT_TRUE(rig.started());
    const Flash defaults(g_myData, g_myData + kSettingsSize);
    struct Case
    {
        const char* input;
        int adj;  // the ADJ byte written; -1: the default image's own
    } cases[] = {{"5\n", 7}, {"0\n", -1}, {"254\n", 0}};
    for (const Case& c : cases)
    {
        // -i after the clear shows the byte the clear just wrote.
        RunResult r = rig.corvo({"-c", "-i"}, c.input);
        EXPECT_EQ(r.status, 0) << c.input << r.err;
        Flash expected = defaults;
        if (c.adj >= 0)
            expected[kAdjOffset] = static_cast<uint8_t>(c.adj);
        EXPECT_EQ(rig.flash(kSettingsStart, kSettingsSize), expected) << c.input;

        std::string out = maskTimes(r.out);
        std::string clearText =
            "\nHow many times have you reset this adapter's settings? "
            "Clearing adapter setting, please wait ...  Done\n"
            "Formatting adapter setting , please wait ... " + std::string(64, '.') + " Done\n"
            "Checksum of adapter setting = 0x" + hex8(adapter::checksum(expected.data(), expected.size())) +
            "\n Done\n";
        EXPECT_EQ(out.substr(0, clearText.size()), clearText) << c.input;
        EXPECT_NE(out.find("ADJ=" + std::to_string(expected[kAdjOffset]) + "\n"), std::string::npos)
            << c.input << out;
    }
    std::vector<std::string> seq = settingsWriteSequence();
    std::vector<std::string> cmds = fromErase(rig.commands());
    ASSERT_GE(cmds.size(), seq.size());
    EXPECT_EQ(std::vector<std::string>(cmds.begin(), cmds.begin() + seq.size()), seq);
}

TEST(SettingsOps, ClearWithoutANumber_AbortsBeforeAnyWrite)
{
    DeviceRig rig;
    ASSERT_TRUE(rig.started());
    for (const char* input : {"x12\n", "\n", ""})
    {
        RunResult r = rig.corvo({"-c", "-R"}, input);
        EXPECT_EQ(r.status, 1) << "input '" << input << "'";
        EXPECT_EQ(r.out, "\nHow many times have you reset this adapter's settings? Wrong input, abort!")
            << "input '" << input << "'";
    }
    EXPECT_EQ(changingCommands(rig.commands()), 0u);
}
