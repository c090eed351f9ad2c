// The option parser over the Windows C runtime's getopt_long, which keeps its
// scan position in globals of its own: each parse must start afresh even when
// the previous one stopped in the middle of a cluster of short options, and
// operands must be moved behind the options as on Linux.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CmdOpts.h"

namespace
{

struct Table
{
    bool flash = false, display = false, port = false;
    std::string portArg;
    Option rows[3] = {
        {'f', "flash", &flash, {ArgNone, ArgInt, nullptr, {nullptr}}, "Flash"},
        {'d', "display", &display, {ArgNone, ArgInt, nullptr, {nullptr}}, "Display"},
        {'p', "port", &port, {ArgRequired, ArgString, "PORT", {&portArg}}, "Port"},
    };
};

struct ParseCase
{
    std::vector<std::string> words;
    int result;          // parse()'s result
    const char* flags;   // letters whose flag is set afterwards
    const char* portArg;
    const char* operand; // argv[result] after a scan with an operand
};

// Runs the cases one after the other in one process, as a program that
// parses more than once would.
void runInSequence(const std::vector<ParseCase>& cases)
{
    for (const ParseCase& c : cases)
    {
        std::string line;
        for (const std::string& w : c.words)
            line += w + " ";
        SCOPED_TRACE(line);

        std::vector<std::string> words = c.words;
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);

        Table t;
        CmdOpts cmd(static_cast<int>(words.size()), argv.data(), 3, t.rows);
        int result = cmd.parse();
        EXPECT_EQ(result, c.result);
        std::string flags;
        if (t.flash)
            flags += 'f';
        if (t.display)
            flags += 'd';
        if (t.port)
            flags += 'p';
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(t.portArg, c.portArg);
        if (c.operand != nullptr && result > 0 && result < static_cast<int>(words.size()))
        {
            EXPECT_STREQ(argv[result], c.operand);
        }
    }
}

}  // namespace

TEST(WindowsGetopt, ParseAfterErrorInsideCluster_StartsAfresh)
{
    // "-fxd" stops at x with "d" still pending; the next parse must not see it.
    runInSequence({
        {{"prog", "-fxd"}, -1, "f", "", nullptr},
        {{"prog", "-p", "COM3"}, 3, "p", "COM3", nullptr},
        {{"prog", "-fd"}, 2, "fd", "", nullptr},
        {{"prog", "-dpCOM4", "-q"}, -1, "dp", "COM4", nullptr},
        {{"prog"}, 1, "", "", nullptr},
    });
}

TEST(WindowsGetopt, OperandsMovedBehindOptions_LikeLinux)
{
    runInSequence({
        {{"prog", "file.fw", "-f"}, 2, "f", "", "file.fw"},
        {{"prog", "-f", "file.fw", "--port=COM12"}, 3, "fp", "COM12", "file.fw"},
        {{"prog", "--disp", "file.dat"}, 2, "d", "", "file.dat"},
        {{"prog", "-f", "--", "-d"}, 3, "f", "", "-d"},
        {{"prog", "a", "b", "--port", "COM5"}, 3, "p", "COM5", "a"},
    });
}
