// corvo-mkfw's images read by the validator: each broken kind fails the very
// check it is named for, so the update tests refuse them for the right reason.
#include <gtest/gtest.h>

#include <cstdio>

#include "DeviceRig.h"
#include "FirmwareCheck.h"

namespace
{

// FirmwareCheck, then the window check, as the update runs them.
int checkImage(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return 1;
    int rc = FirmwareCheck(f);
    if (rc == kFwValid)
        rc = FirmwareWindowCheck(f);
    fclose(f);
    return rc;
}

}  // namespace

TEST(Mkfw, EachFaultKind_FailsItsOwnCheck)
{
    TempDir dir;
    struct Case
    {
        std::vector<std::string> options;
        int expected;
    } cases[] = {
        {{"--size=128"}, kFwValid},
        {{"--erase-mode=2"}, kFwValid},
        {{"--size=0", "--raw-magic=QZVX"}, kFwValid},
        {{"--size=128", "--fault=magic-short"}, kFwMagicShort},
        {{"--size=128", "--fault=magic"}, kFwMagicUnknown},
        {{"--size=128", "--raw-magic=qzvb"}, kFwMagicUnknown},
        {{"--size=128", "--fault=sw-short"}, kFwSwVersionShort},
        {{"--size=128", "--fault=load-addr"}, kFwLoadAddrBad},
        {{"--size=128", "--fault=size-short"}, kFwTotalSizeShort},
        {{"--size=128", "--fault=size-align"}, kFwTotalSizeUnaligned},
        {{"--size=128", "--fault=cksum-short"}, kFwPlainChecksumShort},
        {{"--size=128", "--fault=hw-short"}, kFwHwVersionShort},
        {{"--size=128", "--fault=payload-short"}, kFwPayloadShort},
        {{"--size=128", "--fault=sum-short"}, kFwPayloadSumShort},
        {{"--size=128", "--fault=sum"}, kFwPayloadSumMismatch},
        {{"--fault=window"}, kFwWindowPastFlash},
        {{"--erase-mode=2", "--fault=window"}, kFwWindowPastFlash},
        {{"--fault=mode2-short"}, kFwWindowFileShort},
    };
    int n = 0;
    for (const Case& c : cases)
    {
        std::string path = dir.file("image" + std::to_string(n++) + ".fw");
        std::string name = testing::PrintToString(c.options);
        ASSERT_TRUE(makeImage(path, c.options)) << name;
        EXPECT_EQ(checkImage(path), c.expected) << name;
    }
}

TEST(Mkfw, HelpAndBadCommandLines)
{
    RunResult help = runProgram("corvo-mkfw", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: corvo-mkfw [OPTION...] OUTPUT"), std::string::npos);
    EXPECT_NE(help.out.find("--fault=KIND"), std::string::npos);

    TempDir dir;
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"--magic=Q", dir.file("a.fw")},
             {"--size=100", dir.file("b.fw")},
             {"--fault=nonsense", dir.file("c.fw")},
             {"--identity=1,2,3,4,B", "--size=64", dir.file("d.fw")},
             {}})
    {
        RunResult r = runProgram("corvo-mkfw", args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err, "") << testing::PrintToString(args);
    }
}
