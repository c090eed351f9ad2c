#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CmdOpts.h"

namespace
{

// A table of its own, so the parser is tested apart from the program's rows.
struct Fixture
{
    bool flash = false, display = false, port = false, level = false, color = false;
    std::string portArg = "unset";
    int levelArg = -1;
    std::string colorArg = "unset";
    Option rows[5] = {
        {'f', "flash", &flash, {ArgNone, ArgInt, nullptr, {nullptr}}, "Flash it"},
        {'d', "display", &display, {ArgNone, ArgInt, nullptr, {nullptr}}, "Show it"},
        {'p', "port", &port, {ArgRequired, ArgString, "PORT", {&portArg}}, "Port to use;\nsecond line"},
        {'n', "level", &level, {ArgRequired, ArgInt, "N", {&levelArg}}, "A number"},
        {'k', "color", &color, {ArgOptional, ArgString, "WHEN", {&colorArg}}, "Optional word"},
    };
};

// Holds argv storage alive and mutable, as getopt_long permutes it.
struct Argv
{
    std::vector<std::string> words;
    std::vector<char*> ptrs;
    explicit Argv(std::vector<std::string> w) : words(std::move(w))
    {
        for (std::string& s : words)
            ptrs.push_back(&s[0]);
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return ptrs.data(); }
};

int parseWith(Fixture& f, Argv& a)
{
    CmdOpts cmd(a.argc(), a.argv(), 5, f.rows);
    return cmd.parse();
}

}  // namespace

TEST(CmdOpts, PortArgumentForms_AllStoreTheText)
{
    const std::vector<std::vector<std::string>> forms = {
        {"prog", "-p", "COM3"},
        {"prog", "-pCOM3"},
        {"prog", "--port", "COM3"},
        {"prog", "--port=COM3"},
        {"prog", "--po=COM3"},  // unambiguous prefix
    };
    for (const auto& words : forms)
    {
        Fixture f;
        Argv a(words);
        EXPECT_EQ(parseWith(f, a), a.argc()) << words[1];
        EXPECT_TRUE(f.port) << words[1];
        EXPECT_EQ(f.portArg, "COM3") << words[1];
    }
}

TEST(CmdOpts, ScanErrors_ReturnMinusOne)
{
    const std::vector<std::vector<std::string>> bad = {
        {"prog", "-p"},                // missing required argument
        {"prog", "--flash=x"},         // argument to an option that takes none
        {"prog", "-x"},                // unknown short option
        {"prog", "--nothing"},         // unknown long option
        {"prog", "-f", "--port"},      // missing argument after a good option
    };
    for (const auto& words : bad)
    {
        Fixture f;
        Argv a(words);
        testing::internal::CaptureStderr();
        int rc = parseWith(f, a);
        std::string diag = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, -1) << words.back();
        EXPECT_FALSE(diag.empty()) << "the runtime reports its own diagnostic";
    }
}

TEST(CmdOpts, FlagSeenBeforeAnError_StaysSet)
{
    Fixture f;
    Argv a({"prog", "-f", "-x"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(parseWith(f, a), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(f.flash);
}

TEST(CmdOpts, Operands_PermutedAfterOptions)
{
    struct Case
    {
        std::vector<std::string> words;
        int expected;        // index of the first operand
        std::string operand; // what stands there, if any
    };
    const std::vector<Case> cases = {
        {{"prog", "FILE", "-f"}, 2, "FILE"},
        {{"prog", "-f", "FILE"}, 2, "FILE"},
        {{"prog", "-f"}, 2, ""},
        {{"prog", "--", "-d"}, 2, "-d"},           // a bare -- ends the options
        {{"prog", "A", "-f", "B", "-d"}, 3, "A"},
    };
    for (const Case& c : cases)
    {
        Fixture f;
        Argv a(c.words);
        int idx = parseWith(f, a);
        EXPECT_EQ(idx, c.expected) << c.words[1];
        if (!c.operand.empty())
        {
            EXPECT_STREQ(a.argv()[idx], c.operand.c_str());
        }
        if (c.words[1] == "--")
        {
            EXPECT_FALSE(f.display) << "-d after -- is an operand";
        }
    }
}

TEST(CmdOpts, RepeatedOption_LaterArgumentWins)
{
    Fixture f;
    Argv a({"prog", "-p", "COM1", "--port=COM9", "-f", "-f"});
    EXPECT_EQ(parseWith(f, a), a.argc());
    EXPECT_EQ(f.portArg, "COM9");
    EXPECT_TRUE(f.flash);
}

TEST(CmdOpts, IntArgument_ConvertedLikeStrtolBaseZero)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"0x10", 16}, {"0X1f", 31}, {"010", 8}, {"12abc", 12}, {"abc", 0}, {"-7", -7},
    };
    for (const auto& c : cases)
    {
        Fixture f;
        Argv a({"prog", "-n", c.first});
        EXPECT_EQ(parseWith(f, a), a.argc());
        EXPECT_TRUE(f.level);
        EXPECT_EQ(f.levelArg, c.second) << c.first;
    }
}

TEST(CmdOpts, OptionalArgument_OnlyAttachedTextIsTaken)
{
    Fixture f;
    Argv a({"prog", "-k", "word"});
    int idx = parseWith(f, a);
    EXPECT_TRUE(f.color);
    EXPECT_EQ(f.colorArg, "unset") << "a separate word is not an optional argument";
    EXPECT_STREQ(a.argv()[idx], "word");

    Fixture g;
    Argv b({"prog", "--color=always"});
    EXPECT_EQ(parseWith(g, b), b.argc());
    EXPECT_EQ(g.colorArg, "always");
}

TEST(CmdOpts, NewScan_ClearsFlagsOfAbsentOptions)
{
    Fixture f;
    Argv first({"prog", "-f", "-d", "-p", "X"});
    EXPECT_EQ(parseWith(f, first), first.argc());
    EXPECT_TRUE(f.flash && f.display && f.port);

    Argv second({"prog", "-d"});
    EXPECT_EQ(parseWith(f, second), second.argc());
    EXPECT_FALSE(f.flash);
    EXPECT_TRUE(f.display);
    EXPECT_FALSE(f.port);
}

TEST(CmdOpts, Find_FirstMatchOrRowCount)
{
    Fixture f;
    Argv a({"prog"});
    CmdOpts cmd(a.argc(), a.argv(), 5, f.rows);
    EXPECT_EQ(cmd.find('f'), 0);
    EXPECT_EQ(cmd.find('k'), 4);
    EXPECT_EQ(cmd.find('z'), 5);
    CmdOpts empty(a.argc(), a.argv(), 0, f.rows);
    EXPECT_EQ(empty.find('f'), 0);
}

TEST(CmdOpts, Usage_AlignsHelpInColumn25)
{
    Fixture f;
    Argv a({"prog"});
    CmdOpts cmd(a.argc(), a.argv(), 5, f.rows);
    char* text = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&text, &size);
    cmd.usage(mem);
    fclose(mem);
    std::string got(text, size);
    free(text);
    EXPECT_EQ(got,
              "  -f, --flash           Flash it\n"
              "  -d, --display         Show it\n"
              "  -p, --port=PORT       Port to use;\n"
              "                        second line\n"
              "  -n, --level=N         A number\n"
              "  -k, --color[=WHEN]    Optional word\n");
}

TEST(CmdOpts, Usage_LongHeadPushesHelpRight)
{
    bool present = false;
    std::string arg;
    Option rows[1] = {{'w', "a-very-long-option-name", &present,
                       {ArgRequired, ArgString, "VALUE", {&arg}}, "Help"}};
    Argv a({"prog"});
    CmdOpts cmd(a.argc(), a.argv(), 1, rows);
    char* text = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&text, &size);
    cmd.usage(mem);
    fclose(mem);
    std::string got(text, size);
    free(text);
    EXPECT_EQ(got, "  -w, --a-very-long-option-name=VALUE Help\n");
}
