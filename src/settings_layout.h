// What the adapter keeps in its emulated EEPROM: a format signature, the
// lens-control record and one record per learned lens, with the encoding of
// the four autofocus corrections of a lens. Records are little-endian in the
// logical space; the codecs below turn them into the host structures.
#ifndef CORVO_SETTINGS_LAYOUT_H
#define CORVO_SETTINGS_LAYOUT_H

#include <cstdint>

// The settings area of the adapter and a settings file saved from it.
const uint32_t kSettingsAreaSize = 4096;
// The most an offline run reads of a settings file (the size of g_eeprom).
const uint32_t kSettingsReadLimit = 8192;

// Logical offsets.
const uint16_t kSettingsSignatureOffset = 0;
const uint16_t kSettingsSignatureSize = 4;
const uint16_t kLensCtrlOffset = 114;
const uint16_t kLensCtrlSize = 6;
const uint16_t kLensRecordsOffset = 120;
const uint16_t kLensRecordSize = 20;
const uint16_t kSettingsLogicalSize = 1680;
const int kMaxLensRecords = (kSettingsLogicalSize - kLensRecordsOffset) / kLensRecordSize;

constexpr char kSignatureCurrent[] = "EX02";  // the format the lens tools work on
constexpr char kSignatureOld[] = "EX01";      // older firmware's data format

#pragma pack(push, 1)

struct ORLA_LENS_CTRL
{
    uint16_t last_orla_lens_id;
    uint16_t last_orla_lens_usm;
    uint8_t lens_num_used;  // records 0 .. lens_num_used - 1 are in use
    uint8_t lens_next_index;
};

// The af_ fields are stored corrections (see af_correction_encode).
struct EEPROM_LENS_SPEC
{
    uint16_t lens_id;
    uint16_t focal_wide;  // millimetres
    uint16_t focal_tele;  // millimetres; equals focal_wide for a prime lens
    uint16_t known_lens_table_index;
    uint8_t rom_version;
    uint8_t lens_type;
    uint16_t max_usm;
    int8_t af_full_range;
    int8_t af_wide_end;    // from 3/4 to WIDE/INFINITY
    int8_t af_middle_end;  // from 1/2 to 3/4
    int8_t af_tele_end;    // from TELE/NEAR to 1/2
    uint8_t future_extension[4];
};

#pragma pack(pop)

static_assert(sizeof(ORLA_LENS_CTRL) == kLensCtrlSize, "lens-control record layout");
static_assert(sizeof(EEPROM_LENS_SPEC) == kLensRecordSize, "lens record layout");
static_assert(kMaxLensRecords == 78, "lens records that fit the logical space");

// Logical offset of lens record `index` (from 0).
inline uint16_t lens_record_offset(int index)
{
    return static_cast<uint16_t>(kLensRecordsOffset + kLensRecordSize * index);
}

void lens_ctrl_decode(const uint8_t* bytes, ORLA_LENS_CTRL* ctrl);
void lens_ctrl_encode(const ORLA_LENS_CTRL* ctrl, uint8_t* bytes);
void lens_spec_decode(const uint8_t* bytes, EEPROM_LENS_SPEC* spec);
void lens_spec_encode(const EEPROM_LENS_SPEC* spec, uint8_t* bytes);

// Autofocus corrections: the user's -127..127, or "default" (no correction).
// Negative values are stored one lower so that 0xFF stays free for default:
// -1 is 0xFE, -127 is 0x80.
const int kAfCorrectionMin = -127;
const int kAfCorrectionMax = 127;
const int8_t kAfCorrectionDefault = static_cast<int8_t>(0xFF);

inline bool af_correction_is_default(int8_t stored)
{
    return stored == kAfCorrectionDefault;
}

inline bool af_correction_in_range(int value)
{
    return value >= kAfCorrectionMin && value <= kAfCorrectionMax;
}

// `value` within kAfCorrectionMin..kAfCorrectionMax.
inline int8_t af_correction_encode(int value)
{
    return static_cast<int8_t>(value >= 0 ? value : value - 1);
}

// Not meaningful for the default byte.
inline int af_correction_decode(int8_t stored)
{
    return stored >= 0 ? stored : stored + 1;
}

#endif
