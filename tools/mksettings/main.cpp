// corvo-mksettings: writes an adapter settings file built the way the adapter
// builds it, through the emulated EEPROM: a formatted area, then the format
// signature, the lens-control record and the lens records. Used by the tests
// and to try the offline lens tool without an adapter.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "eeprom.h"
#include "nvm.h"

namespace
{

const char kProgram[] = "corvo-mksettings";
const int kExitOk = 0;
const int kExitWriteFailed = 1;
const int kExitUsage = 2;
const int kCorrectionsPerLens = 4;

const char kUsage[] =
    "Usage: corvo-mksettings [OPTION...] OUTPUT\n"
    "Writes an adapter settings file, built through the emulated EEPROM as the\n"
    "adapter builds it.\n"
    "\n"
    "Options:\n"
    "  --lens SPEC        add a lens record (repeatable, at most 78). SPEC is the\n"
    "                     focal length FOCAL or the range WIDE-TELE in millimetres,\n"
    "                     optionally followed by ':' and up to four autofocus\n"
    "                     corrections separated by ',', in the order the lens tool\n"
    "                     asks for them: all range, TELE/NEAR <-> 1/2,\n"
    "                     1/2 <-> 3/4, 3/4 <-> WIDE/INFINITY. Each is a number\n"
    "                     from -127 to 127 or 'default'; missing ones are default.\n"
    "                     Examples: --lens 50   --lens 24-70:127,-127,0,default\n"
    "  --signature TEXT   the four-character format signature (default EX02;\n"
    "                     EX01 is the old format, anything else reads as corrupted)\n"
    "  --lens-count N     lens count stored in the lens-control record, 0 to 255\n"
    "                     (default: the number of --lens options)\n"
    "  --rewrite N        write everything N more times, so that pages move through\n"
    "                     the spare row as on a well-used adapter (default 0)\n"
    "  --blank            only format the area: no signature, no records\n"
    "  --size N           bytes written, 0 to 8192 (default 4096, a file saved from\n"
    "                     the adapter); bytes past 4096 are erased flash (0xFF)\n"
    "  -h, --help         show this text\n"
    "\n"
    "Exit status: 0 written, 1 OUTPUT could not be written, 2 bad command line.\n";

struct Lens
{
    uint16_t wide;
    uint16_t tele;
    int8_t corrections[kCorrectionsPerLens];  // stored bytes, in the tool's order
};

struct Options
{
    std::vector<Lens> lenses;
    std::string signature = kSignatureCurrent;
    long lensCount = -1;  // -1: the number of lenses
    long rewrites = 0;
    bool blank = false;
    long size = kSettingsAreaSize;
    std::string output;
};

bool parse_number(const char* text, long low, long high, long* value)
{
    char* end = nullptr;
    long number = strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high)
        return false;
    *value = number;
    return true;
}

bool parse_correction(const std::string& text, int8_t* stored)
{
    if (text == "default")
    {
        *stored = kAfCorrectionDefault;
        return true;
    }
    long value;
    if (!parse_number(text.c_str(), kAfCorrectionMin, kAfCorrectionMax, &value))
        return false;
    *stored = af_correction_encode(static_cast<int>(value));
    return true;
}

bool parse_lens(const std::string& spec, Lens* lens)
{
    const long kMaxFocal = 0xFFFF;
    size_t colon = spec.find(':');
    std::string focal = spec.substr(0, colon);
    size_t dash = focal.find('-');
    long wide, tele;
    if (!parse_number(focal.substr(0, dash).c_str(), 1, kMaxFocal, &wide))
        return false;
    tele = wide;
    if (dash != std::string::npos && !parse_number(focal.substr(dash + 1).c_str(), 1, kMaxFocal, &tele))
        return false;
    lens->wide = static_cast<uint16_t>(wide);
    lens->tele = static_cast<uint16_t>(tele);

    for (int8_t& c : lens->corrections)
        c = kAfCorrectionDefault;
    if (colon == std::string::npos)
        return true;
    std::string rest = spec.substr(colon + 1);
    for (int i = 0; i < kCorrectionsPerLens; i++)
    {
        size_t comma = rest.find(',');
        if (!parse_correction(rest.substr(0, comma), &lens->corrections[i]))
            return false;
        if (comma == std::string::npos)
            return true;
        rest = rest.substr(comma + 1);
    }
    return false;  // more than four corrections
}

// Reports a command-line error; returns false for the caller to pass on.
bool usage_error(const char* message, const char* argument)
{
    fprintf(stderr, "%s: %s%s%s\n", kProgram, message, argument ? ": " : "", argument ? argument : "");
    fprintf(stderr, "Try '%s --help' for more information\n", kProgram);
    return false;
}

enum class Parsed
{
    Run,
    HelpShown,
    Error,  // already reported
};

// Applies one option that takes a value; false (reported) when it is bad.
bool apply_option(const std::string& name, const char* value, Options* options)
{
    if (name == "--lens")
    {
        Lens lens;
        if (!parse_lens(value, &lens))
            return usage_error("bad lens", value);
        if (static_cast<int>(options->lenses.size()) == kMaxLensRecords)
            return usage_error("too many lenses", value);
        options->lenses.push_back(lens);
    }
    else if (name == "--signature")
    {
        options->signature = value;
        if (options->signature.size() != kSettingsSignatureSize)
            return usage_error("a signature has four characters", value);
    }
    else if (name == "--lens-count")
    {
        if (!parse_number(value, 0, UINT8_MAX, &options->lensCount))
            return usage_error("bad lens count", value);
    }
    else if (name == "--rewrite")
    {
        const long kMaxRewrites = 1000;
        if (!parse_number(value, 0, kMaxRewrites, &options->rewrites))
            return usage_error("bad rewrite count", value);
    }
    else
    {
        if (!parse_number(value, 0, kSettingsReadLimit, &options->size))
            return usage_error("bad size", value);
    }
    return true;
}

Parsed parse_command_line(int argc, char* argv[], Options* options)
{
    const char* const kValueOptions[] = {"--lens", "--signature", "--lens-count", "--rewrite", "--size"};
    for (int i = 1; i < argc; i++)
    {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help")
        {
            printf("%s", kUsage);
            return Parsed::HelpShown;
        }
        if (arg == "--blank")
        {
            options->blank = true;
            continue;
        }

        bool takesValue = false;
        for (const char* name : kValueOptions)
            takesValue = takesValue || arg == name;
        bool ok = true;
        if (takesValue && i + 1 == argc)
            ok = usage_error("missing value of", argv[i]);
        else if (takesValue)
            ok = apply_option(arg, argv[++i], options);
        else if (arg.size() > 1 && arg[0] == '-')
            ok = usage_error("unknown option", argv[i]);
        else if (!options->output.empty())
            ok = usage_error("more than one OUTPUT", argv[i]);
        else
            options->output = arg;
        if (!ok)
            return Parsed::Error;
    }
    if (options->output.empty())
    {
        usage_error("missing OUTPUT", nullptr);
        return Parsed::Error;
    }
    return Parsed::Run;
}

void write_settings(const Options& options)
{
    eeprom_emulator_write_buffer(kSettingsSignatureOffset,
                                 reinterpret_cast<const uint8_t*>(options.signature.data()),
                                 kSettingsSignatureSize);

    const int count = static_cast<int>(options.lenses.size());
    ORLA_LENS_CTRL ctrl;
    ctrl.last_orla_lens_id = static_cast<uint16_t>(count);
    ctrl.last_orla_lens_usm = 0;
    ctrl.lens_num_used = static_cast<uint8_t>(options.lensCount >= 0 ? options.lensCount : count);
    ctrl.lens_next_index = static_cast<uint8_t>(count % kMaxLensRecords);
    uint8_t ctrlBytes[kLensCtrlSize];
    lens_ctrl_encode(&ctrl, ctrlBytes);
    eeprom_emulator_write_buffer(kLensCtrlOffset, ctrlBytes, kLensCtrlSize);

    for (int i = 0; i < count; i++)
    {
        const Lens& lens = options.lenses[i];
        EEPROM_LENS_SPEC spec;
        memset(&spec, 0, sizeof(spec));
        spec.lens_id = static_cast<uint16_t>(i + 1);
        spec.focal_wide = lens.wide;
        spec.focal_tele = lens.tele;
        spec.af_full_range = lens.corrections[0];
        spec.af_tele_end = lens.corrections[1];
        spec.af_middle_end = lens.corrections[2];
        spec.af_wide_end = lens.corrections[3];
        memset(spec.future_extension, 0xFF, sizeof(spec.future_extension));
        uint8_t bytes[kLensRecordSize];
        lens_spec_encode(&spec, bytes);
        eeprom_emulator_write_buffer(lens_record_offset(i), bytes, kLensRecordSize);
    }
    eeprom_emulator_commit_page_buffer();
}

}  // namespace

int main(int argc, char* argv[])
{
    Options options;
    switch (parse_command_line(argc, argv, &options))
    {
    case Parsed::HelpShown: return kExitOk;
    case Parsed::Error: return kExitUsage;
    case Parsed::Run: break;
    }

    memset(g_eeprom, 0xFF, sizeof(g_eeprom));
    eeprom_emulator_init();  // fails on erased flash, but sets the geometry
    eeprom_emulator_erase_memory();
    if (eeprom_emulator_init() != STATUS_OK)
    {
        fprintf(stderr, "%s: the emulated EEPROM did not open after formatting\n", kProgram);
        return kExitWriteFailed;
    }
    if (!options.blank)
        for (long pass = 0; pass <= options.rewrites; pass++)
            write_settings(options);

    if (!atomic_write_file(options.output.c_str(), g_eeprom, static_cast<size_t>(options.size)))
    {
        fprintf(stderr, "%s: cannot write %s\n", kProgram, options.output.c_str());
        return kExitWriteFailed;
    }
    return kExitOk;
}
