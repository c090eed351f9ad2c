// Command-line options described once, as a table of rows. The parser derives
// the getopt_long tables, the presence flags, the argument stores and the
// option lines of the usage text from that table; adding an option means
// adding a row.
#ifndef CORVO_CMDOPTS_H
#define CORVO_CMDOPTS_H

#include <cstdint>
#include <cstdio>
#include <string>

enum ArgHas : uint32_t
{
    ArgNone = 0,
    ArgOptional = 1,
    ArgRequired = 2,
};

enum ArgType : uint32_t
{
    ArgInt = 0,
    ArgString = 1,
};

struct OptArg
{
    ArgHas has;
    ArgType type;
    const char* name;  // placeholder word in the usage text, e.g. "PORT"
    union
    {
        void* voidPtr;
        int* intPtr;
        std::string* strPtr;
    } value;
};

struct Option
{
    char letter;
    const char* name;  // long name without the leading dashes
    bool* present;
    OptArg arg;
    const char* help;  // may contain "\n"
};

// Owns nothing: the table, the variables it points at and argv belong to the
// caller and must outlive the parser.
class CmdOpts
{
public:
    CmdOpts(int argc, char* argv[], int numOpts, Option* opts);
    virtual ~CmdOpts();

    // Index in argv of the first operand (argc when there is none), or -1 when
    // getopt_long met an error, which it has already reported on stderr.
    // argv is permuted so that operands follow the options.
    int parse();
    void usage(FILE* out);
    // Index of the first row with this letter, or the row count.
    int find(char letter);

private:
    int _argc;
    char** _argv;
    int _numOpts;
    Option* _opts;
};

#endif
