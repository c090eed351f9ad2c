#include "LensTool.h"

#include <cstdio>

void lens_tool(const char*, bool, bool)
{
    fprintf(stderr, "The offline lens tool is not built yet\n");
}
