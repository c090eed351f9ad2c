// Emulated EEPROM over the settings flash: a 1680-byte logical space cut into
// 60-byte logical pages, each stored with a 4-byte header in a 64-byte flash
// page. A change writes a fresh copy into a free page of the same row; a full
// row is moved to the spare (erased) row. The master page at the end of the
// area names the format. This is the adapter firmware's own layout, so an
// image saved from the adapter is read here as it is.
//
// Plain module: one static record, no allocation, results as status_code.
// Every flash call is repeated while it answers STATUS_BUSY.
#ifndef CORVO_EEPROM_H
#define CORVO_EEPROM_H

#include <cstdint>

#include "settings_layout.h"
#include "status_codes.h"

// Flash format of the emulator.
const uint16_t kEepromPhysicalPageSize = 64;
const uint16_t kEepromHeaderSize = 4;
const uint16_t kEepromPageSize = kEepromPhysicalPageSize - kEepromHeaderSize;  // logical page
const uint16_t kEepromPagesPerRow = 4;
const uint8_t kEepromUnusedPage = 0xFF;  // header.logical_page of an erased page
const uint8_t kEepromNoSpareRow = 63;    // spare_row when no row is wholly erased
const uint16_t kEepromMinPhysicalPages = 12;  // three rows

// "EEtAMORP.umE": the little-endian bytes of 0x41744545, 0x50524F4D, 0x456D752E.
constexpr uint32_t kEepromMagicWords[3] = {0x41744545, 0x50524F4D, 0x456D752E};
const uint8_t kEepromMajorVersion = 1;
const uint8_t kEepromMinorVersion = 0;
const uint8_t kEepromRevision = 0;
const uint8_t kEepromEmulatorId = 1;

struct _eeprom_page
{
    struct
    {
        uint8_t logical_page;  // kEepromUnusedPage when erased
        uint8_t reserved[3];   // not interpreted
    } header;
    uint8_t data[kEepromPageSize];
};

struct _eeprom_master_page
{
    uint8_t magic_key[12];  // kEepromMagicWords, little-endian
    uint8_t major_version;
    uint8_t minor_version;
    uint8_t revision;  // not examined
    uint8_t emulator_id;
    uint8_t reserved[48];
};

static_assert(sizeof(_eeprom_page) == kEepromPhysicalPageSize, "page layout");
static_assert(sizeof(_eeprom_master_page) == kEepromPhysicalPageSize, "master page layout");

struct eeprom_emulator_parameters
{
    uint8_t page_size;
    uint16_t eeprom_number_of_pages;
};

// Opens the image in g_eeprom: builds the page map (repairing rows that carry
// the same logical page, which writes the flash) and checks the master page.
// STATUS_ERR_NO_MEMORY: section below three rows. STATUS_ERR_BAD_FORMAT: no
// wholly erased row, or wrong magic. STATUS_ERR_IO: another emulator id or
// version. A failed init still leaves the geometry for erase_memory.
status_code eeprom_emulator_init(void);

// STATUS_ERR_NOT_INITIALIZED before a successful init.
status_code eeprom_emulator_get_parameters(eeprom_emulator_parameters* parameters);

// Formats the whole area: every logical page 0xFF, row 0 spare, a fresh
// master page. Needs an earlier init call, successful or not; does not make
// the module initialised.
void eeprom_emulator_erase_memory(void);

// One logical page of kEepromPageSize bytes. STATUS_ERR_NOT_INITIALIZED before
// a successful init; STATUS_ERR_BAD_ADDRESS past the last logical page. A
// written page stays in the cache until the next commit; reads see it.
status_code eeprom_emulator_write_page(uint8_t logical_page, const uint8_t* data);
status_code eeprom_emulator_read_page(uint8_t logical_page, uint8_t* data);

// Bytes at a logical offset, across page boundaries. Every page touched is
// rewritten. On a failure part-way (a range past the logical space gives
// STATUS_ERR_BAD_ADDRESS) the pages or bytes already done stay done.
status_code eeprom_emulator_write_buffer(uint16_t offset, const uint8_t* data, uint16_t length);
status_code eeprom_emulator_read_buffer(uint16_t offset, uint8_t* data, uint16_t length);

// Issues the page-write command for the cached page, if one is pending.
// Always STATUS_OK.
status_code eeprom_emulator_commit_page_buffer(void);

#endif
