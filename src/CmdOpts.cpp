#include "CmdOpts.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <vector>

CmdOpts::CmdOpts(int argc, char* argv[], int numOpts, Option* opts)
    : _argc(argc), _argv(argv), _numOpts(numOpts), _opts(opts)
{
}

CmdOpts::~CmdOpts() {}

int CmdOpts::parse()
{
    std::vector<char> optstring(3 * _numOpts + 1, '\0');
    std::vector<option> long_opts(_numOpts + 1);
    size_t pos = 0;

    for (int i = 0; i < _numOpts; i++)
    {
        Option& row = _opts[i];
        *row.present = false;
        optstring[pos++] = row.letter;
        int kind = no_argument;
        if (row.arg.has == ArgOptional)
        {
            optstring[pos++] = ':';
            optstring[pos++] = ':';
            kind = optional_argument;
        }
        else if (row.arg.has == ArgRequired)
        {
            optstring[pos++] = ':';
            kind = required_argument;
        }
        long_opts[i] = option{row.name, kind, nullptr, 0};
    }
    optstring[pos] = '\0';
    long_opts[_numOpts] = option{nullptr, 0, nullptr, 0};

    // 0 makes the runtime forget any earlier scan, so parse can run again.
    optind = 0;

    int optIdx = 0;
    for (;;)
    {
        int rc = getopt_long(_argc, _argv, optstring.data(), long_opts.data(), &optIdx);
        if (rc == -1)
            return optind;
        if (rc == '?')
            return -1;
        if (rc != 0)
            optIdx = find(static_cast<char>(rc));

        assert(optIdx >= 0 && optIdx < _numOpts);

        Option& row = _opts[optIdx];
        *row.present = true;
        if (row.arg.has == ArgNone || optarg == nullptr)
            continue;
        if (row.arg.type == ArgString)
            *row.arg.value.strPtr = optarg;
        else
            *row.arg.value.intPtr = static_cast<int>(strtol(optarg, nullptr, 0));
    }
}

void CmdOpts::usage(FILE* out)
{
    for (int i = 0; i < _numOpts; i++)
    {
        const Option& row = _opts[i];
        char head[40];
        if (row.arg.has == ArgNone)
            snprintf(head, sizeof(head), "  -%c, --%s", row.letter, row.name);
        else if (row.arg.has == ArgRequired)
            snprintf(head, sizeof(head), "  -%c, --%s=%s", row.letter, row.name, row.arg.name);
        else
            snprintf(head, sizeof(head), "  -%c, --%s[=%s]", row.letter, row.name, row.arg.name);
        fprintf(out, "%-23s ", head);

        const char* text = row.help;
        const char* nl;
        while ((nl = strchr(text, '\n')) != nullptr)
        {
            fwrite(text, 1, static_cast<size_t>(nl - text + 1), out);
            fprintf(out, "%24s", "");
            text = nl + 1;
        }
        fprintf(out, "%s\n", text);
    }
}

int CmdOpts::find(char letter)
{
    int i = 0;
    while (i < _numOpts && _opts[i].letter != letter)
        i++;
    return i;
}
