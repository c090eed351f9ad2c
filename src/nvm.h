// Host model of the adapter's settings flash: the settings image in g_eeprom
// with the chip's page (64 bytes) and row (256 bytes) geometry behind the flash
// driver's call interface, so the emulated EEPROM runs on the host unchanged.
//
// Addresses are byte positions in g_eeprom. Callers keep every access inside
// the 8192 bytes; the model checks only alignment and length. Writes replace
// bytes outright (no bit-clearing as on real flash), there is no page buffer,
// and no call ever answers STATUS_BUSY, though callers still must repeat a
// call that does.
#ifndef CORVO_NVM_H
#define CORVO_NVM_H

#include <cstdint>

#include "status_codes.h"

// Defined by the program driver. g_eeprom: the whole modelled flash, the
// emulated EEPROM using its first 4096 bytes. eeprom_dirty: set by every
// successful erase, write, update and page-write command, never cleared.
extern uint8_t g_eeprom[8192];
extern uint8_t eeprom_dirty;

const uint32_t kNvmPageSize = 64;          // unit of writing and reading
const uint32_t kNvmPagesPerRow = 4;
const uint32_t kNvmRowSize = kNvmPageSize * kNvmPagesPerRow;  // unit of erasing
const uint8_t kNvmErasedByte = 0xFF;

// The chip's EEPROM size fuse setting; 2 stands for a 64-page section.
const uint8_t eeprom_fuse_value = 2;
const uint16_t kNvmEepromPages = 64;

enum nvm_command : uint32_t
{
    NVM_COMMAND_ERASE_ROW = 2,
    NVM_COMMAND_WRITE_PAGE = 4,
    NVM_COMMAND_ERASE_AUX_ROW = 5,
    NVM_COMMAND_WRITE_AUX_ROW = 6,
    NVM_COMMAND_LOCK_REGION = 64,
    NVM_COMMAND_UNLOCK_REGION = 65,
    NVM_COMMAND_ENTER_LOW_POWER_MODE = 66,
    NVM_COMMAND_EXIT_LOW_POWER_MODE = 67,
    NVM_COMMAND_PAGE_BUFFER_CLEAR = 68,
    NVM_COMMAND_SET_SECURITY_BIT = 69,
};

enum nvm_sleep_power_mode : uint32_t
{
    NVM_SLEEP_POWER_MODE_WAKEONACCESS = 0,
    NVM_SLEEP_POWER_MODE_WAKEUPINSTANT = 1,
    NVM_SLEEP_POWER_MODE_ALWAYS_AWAKE = 3,
};

enum nvm_cache_readmode : uint32_t
{
    NVM_CACHE_READMODE_NO_MISS_PENALTY = 0,
    NVM_CACHE_READMODE_LOW_POWER = 1,
    NVM_CACHE_READMODE_DETERMINISTIC = 2,
};

// Accepted and ignored by the model.
struct nvm_config
{
    nvm_sleep_power_mode sleep_power_mode;
    bool manual_page_write;
    uint8_t wait_states;
    bool disable_cache;
    nvm_cache_readmode cache_readmode;
};

struct nvm_parameters
{
    uint8_t page_size;
    uint16_t nvm_number_of_pages;
    uint32_t eeprom_number_of_pages;
    uint32_t bootloader_number_of_pages;  // left as the caller set it
};

// Always STATUS_OK.
status_code nvm_set_config(const nvm_config* config);

// Reports 64-byte pages and a 64-page flash and EEPROM section.
void nvm_get_parameters(nvm_parameters* parameters);

// STATUS_ERR_BAD_ADDRESS when the address is not page aligned, then
// STATUS_ERR_INVALID_ARG when length exceeds a page; else copies.
status_code nvm_write_buffer(uint32_t destination_address, const uint8_t* buffer, uint16_t length);
status_code nvm_read_buffer(uint32_t source_address, uint8_t* buffer, uint16_t length);

// As nvm_write_buffer, writing at destination_address + offset; offset plus
// length must stay within the page.
status_code nvm_update_buffer(uint32_t destination_address, const uint8_t* buffer, uint16_t offset,
                              uint16_t length);

// STATUS_ERR_BAD_ADDRESS when the address is not row aligned; else the row
// reads 0xFF.
status_code nvm_erase_row(uint32_t row_address);

// Always STATUS_OK. Only NVM_COMMAND_WRITE_PAGE has an effect here: it marks
// the image changed (the data is already in place, there being no page buffer).
status_code nvm_execute_command(nvm_command command, uint32_t address, uint32_t parameter);

#endif
