// The command-line stage of the built program: arguments in; exact standard
// output, standard error and exit status out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"

namespace
{

const char kBanner[] = "Kestrune Orla/Halvard and Brisk/Halvard Adapter Firmware Updater 0.4\n\n";

std::string hint(const std::string& prog)
{
    return "Try '" + prog + " -h' or '" + prog + " --help' for more information\n";
}

std::string usage(const std::string& p)
{
    return "Usage: " + p + " [OPTION...] [FILE]\n"
           "Kestrune Halvard and Pellin Smart Adapters Firmware Updater 0.4\n"
           "\n"
           "Examples:\n"
           "  " + p + " -i                     # Display the adapter info,\n"
           "  " + p + " -R                 \t  # Power cycle adapter,\n"
           "  " + p + " -f orla-halvard-1.0.fw       # Erase and update adapter firmware with orla-halvard-1.0.fw file,\n"
           "  " + p + " -u user.dat            # Update adapter setting with user.dat file,\n"
           "  " + p + " -s user.dat            # Save current adapter setting into file user.dat\n"
           "  " + p + " -c            \t\t\t\t  # Erase current adapter setting\n"
           "\n"
           "Options:\n"
           "  -f, --flash           Erase and update with firmware file\n"
           "  -u, --update          Update adapter setting from file\n"
           "  -l, --lens            lens params tuning\n"
           "  -d, --display         lens params displaying\n"
           "  -s, --save            Save current adapter setting into file\n"
           "  -i, --info            Show the version of adapter\n"
           "  -I, --force           Force firmware update\n"
           "  -h, --help            Display this help text\n"
           "  -R, --reset           Power recycle adapter\n"
           "  -p, --port=PORT       Use serial PORT to communicate to device;\n"
           "                        default behavior is to auto-scan all serial ports\n"
           "  -c, --clear           Erase current adapter setting\n"
           "  -D, --debug           Trace every monitor operation\n"
           "\n"
           "Report bugs/problems to support@kestrune.com\n";
}

struct Case
{
    const char* name;
    std::string argv0;
    std::vector<std::string> args;
    std::string out;
    std::string err;
};

}  // namespace

TEST(CommandLine, EveryRefusal_ExactTextsAndStatusOne)
{
    const std::string p = "corvo";
    const std::vector<Case> cases = {
        {"no arguments", p, {}, kBanner, "You must specify at least one option\n" + hint(p)},
        {"help", p, {"-h"}, usage(p), ""},
        {"long help", p, {"--help"}, usage(p), ""},
        {"help with file option but no file", p, {"-h", "-f"}, "", p + ": missing file\n" + hint(p)},
        {"missing file for save", p, {"-s"}, "", p + ": missing file\n" + hint(p)},
        {"missing file for lens", p, {"-l"}, "", p + ": missing file\n" + hint(p)},
        {"save with update", p, {"-s", "-u", "user.dat"}, "",
         p + ": eeprom read option is exclusive of write or clear\n" + hint(p)},
        {"save with clear", p, {"-s", "-c", "user.dat"}, "",
         p + ": eeprom read option is exclusive of write or clear\n" + hint(p)},
        {"operand without file option", p, {"-i", "user.dat"}, "", p + ": extra arguments found\n" + hint(p)},
        {"two operands", p, {"-f", "a.fw", "b.fw"}, "", p + ": extra arguments found\n" + hint(p)},
        {"operand alone", p, {"user.dat"}, "", p + ": extra arguments found\n" + hint(p)},
        {"unknown option", p, {"-x"}, "", p + ": invalid option -- 'x'\n" + hint(p)},
        {"missing port", p, {"-i", "-p"}, "", p + ": option requires an argument -- 'p'\n" + hint(p)},
        {"argument to flag", p, {"--flash=x", "a.fw"}, "",
         p + ": option '--flash' doesn't allow an argument\n" + hint(p)},
        {"windows path", "C:\\tools\\upd.exe", {"-i", "x"}, "", "upd.exe: extra arguments found\n" + hint("upd.exe")},
        {"slash wins over backslash", "/opt/a\\b/up\\d", {"-i", "x"}, "",
         "up\\d: extra arguments found\n" + hint("up\\d")},
        {"banner with windows path", "C:\\tools\\upd.exe", {}, kBanner,
         "You must specify at least one option\n" + hint("upd.exe")},
    };
    for (const Case& c : cases)
    {
        RunResult r = runProgram("corvo", c.args, "", 20, c.argv0);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
}
TEST(CommandLine, LensWithDeviceOptions_TakesOfflineRoadOnly)
{
    TempDir dir;
    // A missing settings file is the offline road's own message; no port is tried.
    RunResult r = runProgram("corvo", {"-l", "-i", "-R", "-p", "COM9", dir.file("none.dat")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nFailed in opening adapter setting file " + dir.file("none.dat") + ", abort\n");
    EXPECT_EQ(r.err.find("USB"), std::string::npos) << r.err;
}
