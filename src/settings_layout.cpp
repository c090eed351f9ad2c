// Little-endian codecs of the settings records, independent of host byte order.
#include "settings_layout.h"

#include <cstring>

static uint16_t get_le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

static void put_le16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void lens_ctrl_decode(const uint8_t* bytes, ORLA_LENS_CTRL* ctrl)
{
    ctrl->last_orla_lens_id = get_le16(bytes + 0);
    ctrl->last_orla_lens_usm = get_le16(bytes + 2);
    ctrl->lens_num_used = bytes[4];
    ctrl->lens_next_index = bytes[5];
}

void lens_ctrl_encode(const ORLA_LENS_CTRL* ctrl, uint8_t* bytes)
{
    put_le16(bytes + 0, ctrl->last_orla_lens_id);
    put_le16(bytes + 2, ctrl->last_orla_lens_usm);
    bytes[4] = ctrl->lens_num_used;
    bytes[5] = ctrl->lens_next_index;
}

void lens_spec_decode(const uint8_t* bytes, EEPROM_LENS_SPEC* spec)
{
    spec->lens_id = get_le16(bytes + 0);
    spec->focal_wide = get_le16(bytes + 2);
    spec->focal_tele = get_le16(bytes + 4);
    spec->known_lens_table_index = get_le16(bytes + 6);
    spec->rom_version = bytes[8];
    spec->lens_type = bytes[9];
    spec->max_usm = get_le16(bytes + 10);
    spec->af_full_range = static_cast<int8_t>(bytes[12]);
    spec->af_wide_end = static_cast<int8_t>(bytes[13]);
    spec->af_middle_end = static_cast<int8_t>(bytes[14]);
    spec->af_tele_end = static_cast<int8_t>(bytes[15]);
    memcpy(spec->future_extension, bytes + 16, sizeof(spec->future_extension));
}

void lens_spec_encode(const EEPROM_LENS_SPEC* spec, uint8_t* bytes)
{
    put_le16(bytes + 0, spec->lens_id);
    put_le16(bytes + 2, spec->focal_wide);
    put_le16(bytes + 4, spec->focal_tele);
    put_le16(bytes + 6, spec->known_lens_table_index);
    bytes[8] = spec->rom_version;
    bytes[9] = spec->lens_type;
    put_le16(bytes + 10, spec->max_usm);
    bytes[12] = static_cast<uint8_t>(spec->af_full_range);
    bytes[13] = static_cast<uint8_t>(spec->af_wide_end);
    bytes[14] = static_cast<uint8_t>(spec->af_middle_end);
    bytes[15] = static_cast<uint8_t>(spec->af_tele_end);
    memcpy(bytes + 16, spec->future_extension, sizeof(spec->future_extension));
}
