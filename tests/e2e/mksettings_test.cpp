// corvo-mksettings: its help, its refusals, and the images it writes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "RunProgram.h"
#include "eeprom.h"
#include "eeprom_testing.h"
#include "nvm.h"

namespace fs = std::filesystem;

namespace
{

TEST(MkSettings, Help_DescribesLensSyntax)
{
    RunResult r = runProgram("corvo-mksettings", {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--lens 24-70:127,-127,0,default"), std::string::npos);
}

TEST(MkSettings, BadCommandLines_RefusedWithStatus2AndNoFile)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--lens", "abc"},       {"--lens", "24-"},          {"--lens", "50:128"},
        {"--lens", "50:1,2,3,4,5"}, {"--lens", "0"},          {"--signature", "EX2"},
        {"--size", "8193"},      {"--lens-count", "256"},     {"--bogus"},
        {"--lens"},
    };
    for (const std::vector<std::string>& c : cases)
    {
        SCOPED_TRACE(c[0] + (c.size() > 1 ? " " + c[1] : ""));
        TempDir dir;
        std::vector<std::string> args = c;
        if (c.size() > 1)
            args.push_back(dir.file("out.dat"));
        RunResult r = runProgram("corvo-mksettings", args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err, "");
        EXPECT_FALSE(fs::exists(dir.file("out.dat")));
    }
    EXPECT_EQ(runProgram("corvo-mksettings", {}).status, 2);
}

TEST(MkSettings, Image_HoldsRecordsAsGivenAndOpensCleanly)
{
    TempDir dir;
    const std::string file = dir.file("out.dat");
    RunResult r = runProgram("corvo-mksettings",
                             {"--lens", "24-70:1,-2,default", "--lens-count", "9", "--size", "5000", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 5000u);
    EXPECT_EQ(bytes.substr(4096), std::string(904, '\xFF'));

    memcpy(g_eeprom, bytes.data(), sizeof(g_eeprom) < bytes.size() ? sizeof(g_eeprom) : bytes.size());
    eeprom_emulator_reset_for_tests();
    eeprom_dirty = 0;
    ASSERT_EQ(eeprom_emulator_init(), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 0);
    uint8_t logical[140];
    ASSERT_EQ(eeprom_emulator_read_buffer(0, logical, sizeof(logical)), STATUS_OK);
    EXPECT_EQ(std::string(logical, logical + 4), "EX02");
    ORLA_LENS_CTRL ctrl;
    lens_ctrl_decode(logical + kLensCtrlOffset, &ctrl);
    EXPECT_EQ(ctrl.lens_num_used, 9);
    EEPROM_LENS_SPEC spec;
    lens_spec_decode(logical + kLensRecordsOffset, &spec);
    EXPECT_EQ(spec.focal_wide, 24);
    EXPECT_EQ(spec.focal_tele, 70);
    EXPECT_EQ(af_correction_decode(spec.af_full_range), 1);
    EXPECT_EQ(af_correction_decode(spec.af_tele_end), -2);
    EXPECT_TRUE(af_correction_is_default(spec.af_middle_end));
    EXPECT_TRUE(af_correction_is_default(spec.af_wide_end));
}

}  // namespace
