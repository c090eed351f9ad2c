#include <gtest/gtest.h>

#include "RunProgram.h"

TEST(CommandLine, Placeholder)
{
    RunResult r = runProgram("corvo", {});
    EXPECT_EQ(r.status, 1);
}
