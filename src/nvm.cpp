// Host flash model behind the flash driver's interface (see nvm.h).
#include "nvm.h"

#include <cstring>

static bool nvm_is_page_aligned(uint32_t address)
{
    return address % kNvmPageSize == 0;
}

status_code nvm_set_config(const nvm_config*)
{
    return STATUS_OK;
}

void nvm_get_parameters(nvm_parameters* parameters)
{
    parameters->page_size = static_cast<uint8_t>(kNvmPageSize);
    parameters->nvm_number_of_pages = kNvmEepromPages;
    parameters->eeprom_number_of_pages = kNvmEepromPages;
}

status_code nvm_write_buffer(uint32_t destination_address, const uint8_t* buffer, uint16_t length)
{
    if (!nvm_is_page_aligned(destination_address))
        return STATUS_ERR_BAD_ADDRESS;
    if (length > kNvmPageSize)
        return STATUS_ERR_INVALID_ARG;
    eeprom_dirty = 1;
    if (length > 0)
        memcpy(g_eeprom + destination_address, buffer, length);
    return STATUS_OK;
}

status_code nvm_read_buffer(uint32_t source_address, uint8_t* buffer, uint16_t length)
{
    if (!nvm_is_page_aligned(source_address))
        return STATUS_ERR_BAD_ADDRESS;
    if (length > kNvmPageSize)
        return STATUS_ERR_INVALID_ARG;
    if (length > 0)
        memcpy(buffer, g_eeprom + source_address, length);
    return STATUS_OK;
}

status_code nvm_update_buffer(uint32_t destination_address, const uint8_t* buffer, uint16_t offset,
                              uint16_t length)
{
    if (!nvm_is_page_aligned(destination_address))
        return STATUS_ERR_BAD_ADDRESS;
    if (static_cast<uint32_t>(offset) + length > kNvmPageSize)
        return STATUS_ERR_INVALID_ARG;
    eeprom_dirty = 1;
    if (length > 0)
        memcpy(g_eeprom + destination_address + offset, buffer, length);
    return STATUS_OK;
}

status_code nvm_erase_row(uint32_t row_address)
{
    if (row_address % kNvmRowSize != 0)
        return STATUS_ERR_BAD_ADDRESS;
    eeprom_dirty = 1;
    memset(g_eeprom + row_address, kNvmErasedByte, kNvmRowSize);
    return STATUS_OK;
}

status_code nvm_execute_command(nvm_command command, uint32_t, uint32_t)
{
    if (command == NVM_COMMAND_WRITE_PAGE)
        eeprom_dirty = 1;
    return STATUS_OK;
}
