// The offline road of the built program: -d dumps and -l lists and tunes the
// lenses of settings files made with corvo-mksettings or by hand, answering
// through standard input; the file is checked afterwards through the
// emulated EEPROM. Every run ends with status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "eeprom.h"
#include "eeprom_testing.h"
#include "nvm.h"

namespace fs = std::filesystem;

namespace
{

const char kQuestion[] = "Adapter setting has been modified, do you want to save it ? (Y/N)";
const char kSaved[] = "Adapter setting was saved\n";
const char kWrong[] = "\tWrong value, set to default value\n";
const char kAllDefault[] =
    "AF Tune - All range: [default],  TELE/NEAR - 1/2: [default],  1/2 <-> 3/4: [default],  "
    "3/4 <-> WIDE/INFINITY: [default]\n";
const char kPromptsDefault[] =
    "\tAF Tune - All range: [default], input a value -127 <-> 127, or just enter for default: "
    "\tRange: TELE/NEAR <-> 1/2 : [default], input a value -127 <-> 127, or just enter for default: "
    "\tRange: 1/2 <-> 3/4: [default], input a value -127 <-> 127, or just enter for default: "
    "\tRange: 3/4 <-> WIDE/INFINITY: [default], input a value -127 <-> 127, or just enter for default: ";

std::string lensPrompt(int count)
{
    return "Enter 0 to quit, 1-" + std::to_string(count) + " to tune a lens: ";
}

std::string primeLine(int index, int focal)
{
    char text[64];
    snprintf(text, sizeof(text), "\t%d.[Lens %3dmm], ", index, focal);
    return text + std::string(kAllDefault);
}

// The 1680 logical bytes of a settings file, read as the adapter would.
std::vector<uint8_t> logicalBytes(const std::string& file)
{
    const std::string bytes = readFile(file);
    memset(g_eeprom, 0xFF, sizeof(g_eeprom));
    memcpy(g_eeprom, bytes.data(), std::min(bytes.size(), sizeof(g_eeprom)));
    eeprom_emulator_reset_for_tests();
    std::vector<uint8_t> logical(kSettingsLogicalSize);
    EXPECT_EQ(eeprom_emulator_init(), STATUS_OK) << file;
    EXPECT_EQ(eeprom_emulator_read_buffer(0, logical.data(), kSettingsLogicalSize), STATUS_OK);
    return logical;
}

// The four stored correction bytes of a lens record: full, wide, middle, tele.
std::vector<uint8_t> storedCorrections(const std::string& file, int lens)
{
    std::vector<uint8_t> logical = logicalBytes(file);
    auto first = logical.begin() + lens_record_offset(lens) + 12;
    return std::vector<uint8_t>(first, first + 4);
}

class LensToolTest : public ::testing::Test
{
protected:
    TempDir _dir;
    std::string _file = _dir.file("settings.dat");

    void make(std::vector<std::string> args)
    {
        args.push_back(_file);
        RunResult r = runProgram("corvo-mksettings", args);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // Two primes and a zoom: 50mm and 35mm with numbers, 24-70mm mixed.
    void makeThreeLenses() { make({"--lens", "50", "--lens", "24-70:127,-127,0,default", "--lens", "35:5,6,-7,8"}); }

    RunResult run(const std::vector<std::string>& options, const std::string& input)
    {
        std::vector<std::string> args = options;
        args.push_back(_file);
        RunResult r = runProgram("corvo", args, input, 20);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
        return r;
    }
    RunResult tune(const std::string& input) { return run({"-l"}, input); }
};

const char kThreeLensList[] =
    "\t1.[Lens  50mm], AF Tune - All range: [default],  TELE/NEAR - 1/2: [default],  1/2 <-> 3/4: [default],  "
    "3/4 <-> WIDE/INFINITY: [default]\n"
    "\t2.[Lens  24- 70mm], AF Tune - All range: [127],  TELE/NEAR - 1/2: [-127] 1/2 <-> 3/4: [0],  "
    "3/4 <-> WIDE/INFINITY: [default]\n"
    "\t3.[Lens  35mm], AF Tune - All range: [5],  TELE/NEAR - 1/2: [6] 1/2 <-> 3/4: [-7],  "
    "3/4 <-> WIDE/INFINITY: [8]\n";

// --- Display ---

std::string expectedDump(const std::vector<uint8_t>& logical)
{
    std::string dump;
    for (size_t i = 0; i < logical.size(); i++)
    {
        char hex[4];
        snprintf(hex, sizeof(hex), " %02X", logical[i]);
        dump += hex;
        if (i % 16 == 15)
            dump += "\n";
    }
    return dump;
}

TEST_F(LensToolTest, Display_DumpsAllLogicalBytesIn105LinesWithoutQuestion)
{
    const std::vector<std::vector<std::string>> commands = {{"-d"}, {"-l", "-d"}, {"-d", "-l"}};
    for (const char* rewrites : {"0", "9"})
    {
        SCOPED_TRACE(std::string("rewrites ") + rewrites);
        make({"--lens", "50", "--lens", "24-70:127,-127,0,default", "--rewrite", rewrites});
        const std::string before = readFile(_file);
        const std::string dump = expectedDump(logicalBytes(_file));
        for (const std::vector<std::string>& command : commands)
        {
            RunResult r = run(command, "y\n");
            ASSERT_EQ(r.out, "\n" + dump);
            EXPECT_EQ(r.out.compare(0, 13, "\n 45 58 30 32"), 0);
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 106);
            EXPECT_TRUE(readFile(_file) == before);
        }
    }
    // Lens record 0 at logical 120: id 1, 50mm wide and tele, no corrections.
    EXPECT_NE(expectedDump(logicalBytes(_file)).find(" 01 00 32 00 32 00"), std::string::npos);
}

TEST_F(LensToolTest, Display_ImageRepairedOnOpen_OffersToSaveTheRepair)
{
    make({"--lens", "50"});
    const std::vector<uint8_t> logical = logicalBytes(_file);
    // A full copy of row 1 in the spare row 0: the lower of two rows that
    // start with the same logical page, and full, so taken for the old one.
    std::string bytes = readFile(_file);
    bytes.replace(0, 256, bytes.substr(256, 256));
    writeFile(_file, bytes);

    RunResult r = run({"-d"}, "y\n");
    EXPECT_EQ(r.out, "\n" + expectedDump(logical) + kQuestion + kSaved);
    const std::string saved = readFile(_file);
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_TRUE(saved.substr(0, 256) == std::string(256, '\xFF'));
    EXPECT_TRUE(saved.substr(256) == bytes.substr(256));
    EXPECT_TRUE(logicalBytes(_file) == logical);
    EXPECT_EQ(run({"-d"}, "").out, "\n" + expectedDump(logical));  // nothing left to repair
}

// --- Listing and leaving the loop ---

TEST_F(LensToolTest, List_ShowsPrimeAndZoomLensesWithDefaultAndNumbers)
{
    make({"--lens", "50", "--lens", "24-70:127,-127,0,default", "--lens", "35:5,6,-7,8", "--lens", "8-300"});
    RunResult r = tune("0\n");
    EXPECT_EQ(r.out, std::string("\n") + kThreeLensList + "\t4.[Lens   8-300mm], " + kAllDefault + lensPrompt(4));
}

struct LeaveCase
{
    const char* name;
    const char* input;
    const char* after;  // printed after the prompt
};

TEST_F(LensToolTest, LensPromptAnswers_LeaveTheLoopWithoutQuestion)
{
    const LeaveCase cases[] = {
        {"zero", "0\n", ""},
        {"negative", "-3\n", ""},
        {"above the lens count", "4\n", ""},
        {"a word", "abc\n", ""},
        {"an empty line", "\n", ""},
        {"end of input", "", "\n"},
    };
    makeThreeLenses();
    const std::string before = readFile(_file);
    for (const LeaveCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        RunResult r = tune(c.input);
        EXPECT_EQ(r.out, std::string("\n") + kThreeLensList + lensPrompt(3) + c.after);
        EXPECT_TRUE(readFile(_file) == before);
    }
}

TEST_F(LensToolTest, LensCountAbove78_ListsAndOffersOnly78)
{
    std::vector<std::string> args = {"--lens-count", "200"};
    for (int i = 1; i <= 78; i++)
    {
        args.push_back("--lens");
        args.push_back(std::to_string(i));
    }
    make(args);
    std::string list;
    for (int i = 1; i <= 78; i++)
        list += primeLine(i, i);

    RunResult r = tune("79\n");
    EXPECT_EQ(r.out, "\n" + list + lensPrompt(78));

    r = tune("78\n1\n2\n3\n4\n0\ny\n");
    EXPECT_EQ(r.out.substr(r.out.size() - strlen(kSaved)), kSaved);
    EXPECT_EQ(storedCorrections(_file, 77), (std::vector<uint8_t>{1, 4, 3, 2}));
}

// --- Tuning ---

TEST_F(LensToolTest, TuningSession_StoresEncodedValuesAndListsThem)
{
    makeThreeLenses();
    RunResult r = tune("1\n127\n-127\n0\n\n0\ny\n");
    const std::string relisted =
        "\t1.[Lens  50mm], AF Tune - All range: [127],  TELE/NEAR - 1/2: [-127] 1/2 <-> 3/4: [0],  "
        "3/4 <-> WIDE/INFINITY: [default]\n" +
        std::string(kThreeLensList).substr(std::string(kThreeLensList).find("\t2."));
    EXPECT_EQ(r.out, std::string("\n") + kThreeLensList + lensPrompt(3) + kPromptsDefault + kWrong + "\n" +
                         relisted + lensPrompt(3) + kQuestion + kSaved);

    EXPECT_EQ(readFile(_file).size(), 4096u);
    // full, wide, middle, tele: 127, default, 0, -127 (stored one lower).
    EXPECT_EQ(storedCorrections(_file, 0), (std::vector<uint8_t>{0x7F, 0xFF, 0x00, 0x80}));
    EXPECT_EQ(storedCorrections(_file, 2), (std::vector<uint8_t>{5, 8, 0xF8, 6}));
}

TEST_F(LensToolTest, AnswersOutOfRangeOrNotNumbers_SetDefault)
{
    makeThreeLenses();
    RunResult r = tune("3\n128\n-128\nabc\n   \n0\ny\n");
    const std::string prompts =
        "\tAF Tune - All range: [5] , input a value -127 <-> 127, or just enter for default: " + std::string(kWrong) +
        "\tRange: TELE/NEAR <-> 1/2 : [6] , input a value -127 <-> 127, or just enter for default: " + kWrong +
        "\tRange: 1/2 <-> 3/4: [-7] , input a value -127 <-> 127, or just enter for default: " + kWrong +
        "\tRange: 3/4 <-> WIDE/INFINITY: [8] , input a value -127 <-> 127, or just enter for default: " + kWrong;
    EXPECT_NE(r.out.find(lensPrompt(3) + prompts + "\n"), std::string::npos);
    EXPECT_NE(r.out.find(primeLine(3, 35)), std::string::npos);
    EXPECT_EQ(storedCorrections(_file, 2), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(LensToolTest, EndOfInputAtCorrection_LensUnchangedAndNothingSaved)
{
    makeThreeLenses();
    const std::string before = readFile(_file);

    RunResult r = tune("1\n5\n");
    const std::string twoPrompts =
        "\tAF Tune - All range: [default], input a value -127 <-> 127, or just enter for default: "
        "\tRange: TELE/NEAR <-> 1/2 : [default], input a value -127 <-> 127, or just enter for default: ";
    // Nothing was written, so there is nothing to offer to save.
    EXPECT_EQ(r.out, std::string("\n") + kThreeLensList + lensPrompt(3) + twoPrompts + "\n");

    // After another lens was tuned, the question comes and end of input answers No.
    r = tune("3\n1\n2\n3\n4\n1\n5\n");
    EXPECT_EQ(r.out.substr(r.out.size() - strlen(kQuestion) - 1), kQuestion + std::string("\n"));
    EXPECT_TRUE(readFile(_file) == before);
}

struct SaveAnswerCase
{
    const char* name;
    const char* answer;
    bool saved;
};

TEST_F(LensToolTest, SaveQuestion_OnlyYesSaves)
{
    const SaveAnswerCase cases[] = {
        {"Y", "Y\n", true},
        {"other letters before y", "abc y\n", true},
        {"other lines before Y", "x\n\nqY", true},
        {"lower-case n", "n\n", false},
        {"N before Y", "NY\n", false},
        {"end of input", "", false},
        {"letters then end of input", "xqz", false},
    };
    for (const SaveAnswerCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        makeThreeLenses();
        const std::string before = readFile(_file);
        RunResult r = tune(std::string("1\n1\n2\n3\n4\n0\n") + c.answer);
        const size_t question = r.out.rfind(kQuestion);
        ASSERT_NE(question, std::string::npos);
        std::string tail = r.out.substr(question + strlen(kQuestion));
        if (c.saved)
        {
            EXPECT_EQ(tail, kSaved);
            EXPECT_EQ(storedCorrections(_file, 0), (std::vector<uint8_t>{1, 4, 3, 2}));
        }
        else
        {
            EXPECT_TRUE(readFile(_file) == before);
        }
        EXPECT_FALSE(fs::exists(_file + ".corvo-tmp"));
    }
}

// --- Loading and saving ---

struct SignatureCase
{
    const char* name;
    std::vector<std::string> makeArgs;
    const char* message;
};

TEST_F(LensToolTest, OtherSignatures_ReportedWithoutQuestion)
{
    const SignatureCase cases[] = {
        {"EX01", {"--signature", "EX01", "--lens", "50"},
         "Old data format, please update your adapter with latest firmware.\n"},
        {"one letter off", {"--signature", "EX0Z", "--lens", "50"}, "Adapter setting was corrupted\n"},
        {"erased signature", {"--blank"}, "Adapter setting was corrupted\n"},
        {"EX02 without lenses", {}, "No lens available for AF tune, quit\n"},
    };
    for (const SignatureCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        make(c.makeArgs);
        const std::string before = readFile(_file);
        EXPECT_EQ(tune("1\ny\n").out, std::string("\n") + c.message);
        if (c.makeArgs.empty())
        {
            EXPECT_EQ(run({"-d"}, "y\n").out.substr(0, 13), "\n 45 58 30 32");
        }
        else
        {
            EXPECT_EQ(run({"-d"}, "y\n").out, std::string("\n") + c.message);
        }
        EXPECT_TRUE(readFile(_file) == before);
    }
}

TEST_F(LensToolTest, NotASettingsImage_FormattedSilentlyAndSavedOnYes)
{
    const std::string text = std::string(99, 'a') + "\n";
    for (const char* answer : {"n\n", "y\n"})
    {
        SCOPED_TRACE(answer);
        writeFile(_file, text);
        RunResult r = tune(answer);
        const bool yes = answer[0] == 'y';
        EXPECT_EQ(r.out, std::string("\n") + kQuestion + (yes ? kSaved : ""));
        // The start of a formatted area is the erased spare row.
        EXPECT_TRUE(readFile(_file) == (yes ? std::string(100, '\xFF') : text));
    }
}

TEST_F(LensToolTest, LongerFile_SavedWithItsLengthAndTailKept)
{
    makeThreeLenses();
    const std::string tail(904, '\x5A');
    writeFile(_file, readFile(_file) + tail);
    tune("2\n\n\n\n\n0\ny\n");
    const std::string saved = readFile(_file);
    ASSERT_EQ(saved.size(), 5000u);
    EXPECT_EQ(saved.substr(4096), tail);
    EXPECT_EQ(storedCorrections(_file, 1), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(LensToolTest, MissingFile_ReportedAndNothingCreated)
{
    RunResult r = run({"-l"}, "");
    EXPECT_EQ(r.out, "\nFailed in opening adapter setting file " + _file + ", abort\n");
    EXPECT_FALSE(fs::exists(_file));
}

TEST_F(LensToolTest, FileCannotBeReplaced_ReportedAndFileKept)
{
    makeThreeLenses();
    const std::string before = readFile(_file);
    // A folder standing at the temporary file's name makes the write fail,
    // even for root.
    const std::string blocker = _file + ".corvo-tmp";
    fs::create_directory(blocker);
    writeFile(blocker + "/keep", "x");

    RunResult r = tune("1\n1\n2\n3\n4\n0\ny\n");
    EXPECT_EQ(r.out.substr(r.out.rfind(kQuestion)),
              std::string(kQuestion) + "Failed to create file " + _file + " , abort\n");
    EXPECT_TRUE(readFile(_file) == before);
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(_dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"settings.dat", "settings.dat.corvo-tmp"}));
    EXPECT_EQ(readFile(blocker + "/keep"), "x");
}

}  // namespace
