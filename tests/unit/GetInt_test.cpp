#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CorvoVexor.h"
#include "RunProgram.h"

namespace
{

// Points the process's standard input at the given bytes.
void feedStdin(const TempDir& dir, const std::string& bytes)
{
    std::string path = dir.file("stdin");
    writeFile(path, bytes);
    ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
}

}  // namespace

TEST(GetInt, EachKindOfLine_ResultAndStoredValue)
{
    struct Step
    {
        int result;
        int value;  // what the variable holds afterwards
    };
    struct Case
    {
        const char* name;
        std::string input;
        std::vector<Step> steps;
    };
    const std::string longLine = std::string(5000, '7') + "\n";
    const std::vector<Case> cases = {
        {"number", "17\n", {{kGetIntNumber, 17}, {kGetIntEnd, 17}}},
        {"spaces and sign", "   -42 tail\n", {{kGetIntNumber, -42}}},
        {"empty line keeps value", "\n", {{kGetIntEmpty, 99}}},
        {"blank line keeps value", " \t \n", {{kGetIntEmpty, 99}}},
        {"text keeps value", "x12\n", {{kGetIntNoNumber, 99}}},
        {"no final line end", "5", {{kGetIntNumber, 5}, {kGetIntEnd, 5}}},
        {"end of input", "", {{kGetIntEnd, 99}}},
        {"crlf", "8\r\n", {{kGetIntNumber, 8}}},
        {"huge number saturates", "99999999999999999999\n", {{kGetIntNumber, 2147483647}}},
        // The tail of an over-long line must not answer the next prompt.
        {"over-long line", longLine + "3\n", {{kGetIntNumber, 2147483647}, {kGetIntNumber, 3}, {kGetIntEnd, 3}}},
        {"over-long blank line", std::string(3000, ' ') + "1\n4\n", {{kGetIntEmpty, 99}, {kGetIntNumber, 4}}},
    };
    for (const Case& c : cases)
    {
        TempDir dir;
        feedStdin(dir, c.input);
        int value = 99;
        for (size_t i = 0; i < c.steps.size(); i++)
        {
            EXPECT_EQ(get_int(&value), c.steps[i].result) << c.name << " step " << i;
            EXPECT_EQ(value, c.steps[i].value) << c.name << " step " << i;
        }
    }
}
