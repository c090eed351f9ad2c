// The offline road: a settings file is loaded into the flash model and opened
// with the emulated EEPROM; -d dumps the logical space, -l lists the learned
// lenses and tunes their autofocus corrections. A changed image is written
// back on request. No adapter is involved.
//
// End of standard input never loops and never saves: at a lens or correction
// prompt it ends the tuning with that lens unchanged, at the save question it
// answers No.
#include "LensTool.h"

#include <cstdio>

#include "AtomicFile.h"
#include "CorvoVexor.h"
#include "eeprom.h"

namespace
{

const int kDumpBytesPerLine = 16;

// One autofocus correction of a lens record, with its texts in the list and at
// its prompt. The list's TELE/NEAR number lacks the comma the others have.
struct Correction
{
    int8_t EEPROM_LENS_SPEC::*field;
    const char* listDefault;
    const char* listValue;
    const char* promptDefault;
    const char* promptValue;
};

// In the order the list shows them and the prompts ask for them.
const Correction kCorrections[] = {
    {&EEPROM_LENS_SPEC::af_full_range, "AF Tune - All range: [default], ", "AF Tune - All range: [%d], ",
     "\tAF Tune - All range: [default], input a value -127 <-> 127, or just enter for default: ",
     "\tAF Tune - All range: [%d] , input a value -127 <-> 127, or just enter for default: "},
    {&EEPROM_LENS_SPEC::af_tele_end, " TELE/NEAR - 1/2: [default], ", " TELE/NEAR - 1/2: [%d]",
     "\tRange: TELE/NEAR <-> 1/2 : [default], input a value -127 <-> 127, or just enter for default: ",
     "\tRange: TELE/NEAR <-> 1/2 : [%d] , input a value -127 <-> 127, or just enter for default: "},
    {&EEPROM_LENS_SPEC::af_middle_end, " 1/2 <-> 3/4: [default], ", " 1/2 <-> 3/4: [%d], ",
     "\tRange: 1/2 <-> 3/4: [default], input a value -127 <-> 127, or just enter for default: ",
     "\tRange: 1/2 <-> 3/4: [%d] , input a value -127 <-> 127, or just enter for default: "},
    {&EEPROM_LENS_SPEC::af_wide_end, " 3/4 <-> WIDE/INFINITY: [default]\n", " 3/4 <-> WIDE/INFINITY: [%d]\n",
     "\tRange: 3/4 <-> WIDE/INFINITY: [default], input a value -127 <-> 127, or just enter for default: ",
     "\tRange: 3/4 <-> WIDE/INFINITY: [%d] , input a value -127 <-> 127, or just enter for default: "},
};
const int kCorrectionCount = sizeof(kCorrections) / sizeof(kCorrections[0]);

// Prints the default or the value form of a text for a stored correction.
void print_correction(int8_t stored, const char* defaultText, const char* valueText)
{
    if (af_correction_is_default(stored))
        printf("%s", defaultText);
    else
        printf(valueText, af_correction_decode(stored));
}

// Reads FILE into the flash image; false when it cannot be opened or read.
bool load_file(const char* file, uint16_t* size)
{
    FILE* in = fopen(file, "rb");
    if (in == nullptr)
        return false;
    size_t count = fread(g_eeprom, 1, kSettingsReadLimit, in);
    bool failed = ferror(in) != 0;
    fclose(in);
    *size = static_cast<uint16_t>(count);
    return !failed;
}

// Opens the image and checks its format. True when it is the current format
// and `ctrl` holds its lens-control record; false when the run goes straight to
// the save question. An image that is no emulated EEPROM at all is formatted
// in memory, silently: the user may keep the fresh image.
bool open_settings(ORLA_LENS_CTRL* ctrl)
{
    if (eeprom_emulator_init() != STATUS_OK)
    {
        eeprom_emulator_erase_memory();
        eeprom_emulator_init();
        return false;
    }

    char signature[kSettingsSignatureSize];
    eeprom_emulator_read_buffer(kSettingsSignatureOffset, reinterpret_cast<uint8_t*>(signature),
                                kSettingsSignatureSize);
    bool current = true;
    bool old = true;
    for (int i = 0; i < kSettingsSignatureSize; i++)
    {
        current = current && signature[i] == kSignatureCurrent[i];
        old = old && signature[i] == kSignatureOld[i];
    }
    if (old)
    {
        printf("Old data format, please update your adapter with latest firmware.\n");
        return false;
    }
    if (!current)
    {
        printf("Adapter setting was corrupted\n");
        return false;
    }

    uint8_t bytes[kLensCtrlSize];
    eeprom_emulator_read_buffer(kLensCtrlOffset, bytes, kLensCtrlSize);
    lens_ctrl_decode(bytes, ctrl);
    return true;
}

void display_settings()
{
    for (int offset = 0; offset < kSettingsLogicalSize; offset += kDumpBytesPerLine)
    {
        uint8_t line[kDumpBytesPerLine];
        eeprom_emulator_read_buffer(static_cast<uint16_t>(offset), line, kDumpBytesPerLine);
        for (int i = 0; i < kDumpBytesPerLine; i++)
            printf(" %02X", line[i]);
        printf("\n");
    }
}

void read_lens(int index, EEPROM_LENS_SPEC* spec)
{
    uint8_t bytes[kLensRecordSize];
    eeprom_emulator_read_buffer(lens_record_offset(index), bytes, kLensRecordSize);
    lens_spec_decode(bytes, spec);
}

void write_lens(int index, const EEPROM_LENS_SPEC& spec)
{
    uint8_t bytes[kLensRecordSize];
    lens_spec_encode(&spec, bytes);
    eeprom_emulator_write_buffer(lens_record_offset(index), bytes, kLensRecordSize);
    eeprom_emulator_commit_page_buffer();
}

void list_lenses(int count)
{
    for (int i = 0; i < count; i++)
    {
        EEPROM_LENS_SPEC spec;
        read_lens(i, &spec);
        if (spec.focal_wide == spec.focal_tele)
            printf("\t%d.[Lens %3dmm], ", i + 1, spec.focal_wide);
        else
            printf("\t%d.[Lens %3d-%3dmm], ", i + 1, spec.focal_wide, spec.focal_tele);
        for (const Correction& c : kCorrections)
            print_correction(spec.*c.field, c.listDefault, c.listValue);
    }
}

// Asks for the lens's four corrections and stores them. Any answer other than
// a number within range makes that correction default. False when standard
// input ended; the lens is then left as it was.
bool tune_lens(int index)
{
    EEPROM_LENS_SPEC spec;
    read_lens(index, &spec);

    int8_t answers[kCorrectionCount];
    for (int i = 0; i < kCorrectionCount; i++)
    {
        const Correction& c = kCorrections[i];
        print_correction(spec.*c.field, c.promptDefault, c.promptValue);
        fflush(stdout);

        int value = 0;
        int got = get_int(&value);
        if (got == kGetIntEnd)
        {
            printf("\n");
            return false;
        }
        if (got == kGetIntNumber && af_correction_in_range(value))
        {
            answers[i] = af_correction_encode(value);
        }
        else
        {
            printf("\tWrong value, set to default value\n");
            answers[i] = kAfCorrectionDefault;
        }
    }

    // Written even when nothing changed: tuning a lens always counts as a change.
    for (int i = 0; i < kCorrectionCount; i++)
        spec.*kCorrections[i].field = answers[i];
    write_lens(index, spec);
    return true;
}

void tune_lenses(const ORLA_LENS_CTRL& ctrl)
{
    if (ctrl.lens_num_used == 0)
    {
        printf("No lens available for AF tune, quit\n");
        return;
    }
    // A count beyond the records that fit the logical space is damage; only
    // the records that exist are offered.
    const int count = ctrl.lens_num_used < kMaxLensRecords ? ctrl.lens_num_used : kMaxLensRecords;

    for (;;)
    {
        list_lenses(count);
        printf("Enter 0 to quit, 1-%d to tune a lens: ", count);
        fflush(stdout);

        int choice = 0;
        int got = get_int(&choice);
        if (got == kGetIntEnd)
            printf("\n");
        if (got != kGetIntNumber || choice <= 0 || choice > count)
            return;
        if (!tune_lens(choice - 1))
            return;
        printf("\n");
    }
}

// Y or y saves, N or n does not; anything else is passed over. End of input
// is a No.
bool ask_to_save()
{
    printf("Adapter setting has been modified, do you want to save it ? (Y/N)");
    fflush(stdout);
    for (;;)
    {
        int c = getchar();
        if (c == EOF)
        {
            printf("\n");
            return false;
        }
        if (c == 'Y' || c == 'y')
            return true;
        if (c == 'N' || c == 'n')
            return false;
    }
}

// Writes back exactly as many bytes as were read, so a 4096-byte file stays
// 4096 bytes. FILE is replaced only by a complete, flushed copy.
void offer_save(const char* file, uint16_t size)
{
    if (eeprom_dirty == 0)
        return;
    if (!ask_to_save())
        return;

    eeprom_emulator_commit_page_buffer();
    if (!atomic_write_file(file, g_eeprom, size))
    {
        printf("Failed to create file %s , abort\n", file);
        return;
    }
    printf("Adapter setting was saved\n");
}

}  // namespace

void lens_tool(const char* file, bool tuning, bool display)
{
    printf("\n");

    uint16_t size = 0;
    if (!load_file(file, &size))
    {
        printf("Failed in opening adapter setting file %s, abort\n", file);
        return;
    }

    ORLA_LENS_CTRL ctrl;
    if (open_settings(&ctrl))
    {
        if (display)
            display_settings();
        else if (tuning)
            tune_lenses(ctrl);
    }
    offer_save(file, size);
}
