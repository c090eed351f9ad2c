// Emulated EEPROM over the host flash model (see eeprom.h for the contract).
#include "eeprom.h"

#include <cstring>

#include "eeprom_testing.h"
#include "nvm.h"

struct _eeprom_module
{
    bool initialized;
    const _eeprom_page* flash;  // start of the modelled flash
    uint16_t physical_pages;
    uint8_t logical_pages;
    uint8_t page_map[124];  // logical page -> physical page of its current copy
    uint8_t spare_row;
    _eeprom_page cache;  // the page most recently written
    bool cache_active;   // written, page-write command not yet issued
};

static _eeprom_module _eeprom_instance;

static uint16_t _eeprom_emulator_master_page(void)
{
    return static_cast<uint16_t>(_eeprom_instance.physical_pages - 1);
}

static uint8_t _eeprom_emulator_logical_of(uint16_t physical_page)
{
    return _eeprom_instance.flash[physical_page].header.logical_page;
}

static bool _eeprom_emulator_is_mapped(uint8_t logical_page)
{
    return logical_page < _eeprom_instance.logical_pages;
}

// --- Flash calls, each repeated while the driver is busy ---

static void _eeprom_emulator_nvm_erase_row(uint16_t row)
{
    while (nvm_erase_row(static_cast<uint32_t>(row) * kNvmRowSize) == STATUS_BUSY)
    {
    }
}

static void _eeprom_emulator_nvm_fill_cache(uint16_t physical_page, const void* page)
{
    while (nvm_write_buffer(static_cast<uint32_t>(physical_page) * kNvmPageSize,
                            static_cast<const uint8_t*>(page), kEepromPhysicalPageSize) == STATUS_BUSY)
    {
    }
}

static status_code _eeprom_emulator_nvm_commit_cache(uint16_t physical_page)
{
    status_code status;
    do
    {
        status = nvm_execute_command(NVM_COMMAND_WRITE_PAGE,
                                     static_cast<uint32_t>(physical_page) * kNvmPageSize, 0);
    } while (status == STATUS_BUSY);
    return status;
}

static void _eeprom_emulator_nvm_read_page(uint16_t physical_page, void* page)
{
    while (nvm_read_buffer(static_cast<uint32_t>(physical_page) * kNvmPageSize,
                           static_cast<uint8_t*>(page), kEepromPhysicalPageSize) == STATUS_BUSY)
    {
    }
}

// Issues the page-write command for the cached page. A page that names no
// logical page (copied from a damaged row) has no map entry to address; its
// bytes are already in place, so only the pending mark goes.
static void _eeprom_emulator_commit_cache(void)
{
    uint8_t logical_page = _eeprom_instance.cache.header.logical_page;
    if (_eeprom_emulator_is_mapped(logical_page))
        _eeprom_emulator_nvm_commit_cache(_eeprom_instance.page_map[logical_page]);
    _eeprom_instance.cache_active = false;
}

// --- Page map ---

// A row is full when its first later copy (page 2) repeats one of the row's
// two logical pages.
static bool _eeprom_emulator_is_full_row(uint16_t row)
{
    uint16_t first = static_cast<uint16_t>(row * kEepromPagesPerRow);
    uint8_t later = _eeprom_emulator_logical_of(first + 2);
    return later == _eeprom_emulator_logical_of(first) || later == _eeprom_emulator_logical_of(first + 1);
}

// Two rows start with the same logical page when a move was cut off before the
// old row was erased. The full row is the old one; otherwise the move had not
// finished, so the new (upper) copy goes.
static void _eeprom_emulator_erase_invalid_page(uint16_t lower_first, uint16_t upper_first)
{
    uint16_t lower_row = lower_first / kEepromPagesPerRow;
    if (_eeprom_emulator_is_full_row(lower_row))
        _eeprom_emulator_nvm_erase_row(lower_row);
    else
        _eeprom_emulator_nvm_erase_row(upper_first / kEepromPagesPerRow);
}

static void _eeprom_emulator_check_logical_page(void)
{
    const uint16_t pages = _eeprom_instance.physical_pages;
    for (uint16_t i = 0; i < pages; i += kEepromPagesPerRow)
    {
        // Compared with the number read here even after an erase of row i.
        uint8_t logical_page = _eeprom_emulator_logical_of(i);
        if (logical_page == kEepromUnusedPage)
            continue;
        for (uint16_t j = i + kEepromPagesPerRow; j < pages; j += kEepromPagesPerRow)
        {
            if (j == _eeprom_emulator_master_page())
                continue;
            if (_eeprom_emulator_logical_of(j) == logical_page)
                _eeprom_emulator_erase_invalid_page(i, j);
        }
    }
}

static void _eeprom_emulator_update_page_mapping(void)
{
    _eeprom_emulator_check_logical_page();

    // Later pages win, so the newest copy within a row is the one mapped.
    // Logical pages found nowhere keep their previous entry.
    for (uint16_t p = 0; p < _eeprom_instance.physical_pages; p++)
    {
        if (p == _eeprom_emulator_master_page())
            continue;
        uint8_t logical_page = _eeprom_emulator_logical_of(p);
        if (logical_page != kEepromUnusedPage && _eeprom_emulator_is_mapped(logical_page))
            _eeprom_instance.page_map[logical_page] = static_cast<uint8_t>(p);
    }

    _eeprom_instance.spare_row = kEepromNoSpareRow;
    for (uint16_t row = 0; row < _eeprom_instance.physical_pages / kEepromPagesPerRow; row++)
    {
        bool erased = true;
        for (uint16_t k = 0; k < kEepromPagesPerRow; k++)
        {
            uint16_t p = static_cast<uint16_t>(row * kEepromPagesPerRow + k);
            if (p != _eeprom_emulator_master_page() && _eeprom_emulator_logical_of(p) != kEepromUnusedPage)
                erased = false;
        }
        if (erased)
        {
            _eeprom_instance.spare_row = static_cast<uint8_t>(row);
            break;
        }
    }
}

// --- Master page ---

static void _eeprom_emulator_create_master_page(void)
{
    _eeprom_master_page master;
    memset(&master, kNvmErasedByte, sizeof(master));
    for (int w = 0; w < 3; w++)
        for (int b = 0; b < 4; b++)
            master.magic_key[4 * w + b] = static_cast<uint8_t>(kEepromMagicWords[w] >> (8 * b));
    master.major_version = kEepromMajorVersion;
    master.minor_version = kEepromMinorVersion;
    master.revision = kEepromRevision;
    master.emulator_id = kEepromEmulatorId;

    uint16_t page = _eeprom_emulator_master_page();
    _eeprom_emulator_nvm_erase_row(page / kEepromPagesPerRow);
    _eeprom_emulator_nvm_fill_cache(page, &master);
    _eeprom_emulator_nvm_commit_cache(page);
}

static status_code _eeprom_emulator_verify_master_page(void)
{
    _eeprom_master_page master;
    _eeprom_emulator_nvm_read_page(_eeprom_emulator_master_page(), &master);

    for (int w = 0; w < 3; w++)
    {
        uint32_t word = 0;
        for (int b = 0; b < 4; b++)
            word |= static_cast<uint32_t>(master.magic_key[4 * w + b]) << (8 * b);
        if (word != kEepromMagicWords[w])
            return STATUS_ERR_BAD_FORMAT;
    }
    // The revision may differ: it marks changes that keep the format.
    if (master.emulator_id != kEepromEmulatorId || master.major_version != kEepromMajorVersion ||
        master.minor_version != kEepromMinorVersion)
        return STATUS_ERR_IO;
    return STATUS_OK;
}

// --- Formatting ---

static void _eeprom_emulator_format_memory(void)
{
    _eeprom_instance.spare_row = 0;
    _eeprom_emulator_nvm_erase_row(0);

    // Each data row starts with two logical pages; its last two pages stay
    // erased for their later copies.
    uint8_t logical_page = 0;
    for (uint16_t p = kEepromPagesPerRow; p < _eeprom_instance.physical_pages; p++)
    {
        if (p == _eeprom_emulator_master_page())
            continue;
        uint16_t slot = p % kEepromPagesPerRow;
        if (slot == 0)
            _eeprom_emulator_nvm_erase_row(p / kEepromPagesPerRow);
        if (slot > 1)
            continue;

        _eeprom_page page;
        memset(&page, kNvmErasedByte, sizeof(page));
        page.header.logical_page = logical_page++;
        _eeprom_emulator_nvm_fill_cache(p, &page);
        _eeprom_emulator_nvm_commit_cache(p);
    }
}

void eeprom_emulator_erase_memory(void)
{
    _eeprom_emulator_format_memory();
    _eeprom_emulator_create_master_page();
    _eeprom_emulator_update_page_mapping();
}

// --- Public operations ---

status_code eeprom_emulator_init(void)
{
    nvm_config config;
    memset(&config, 0, sizeof(config));
    config.manual_page_write = true;
    while (nvm_set_config(&config) == STATUS_BUSY)
    {
    }

    nvm_parameters parameters;
    memset(&parameters, 0, sizeof(parameters));
    nvm_get_parameters(&parameters);
    if (parameters.eeprom_number_of_pages < kEepromMinPhysicalPages)
        return STATUS_ERR_NO_MEMORY;

    _eeprom_instance.physical_pages = static_cast<uint16_t>(parameters.eeprom_number_of_pages);
    _eeprom_instance.flash = reinterpret_cast<const _eeprom_page*>(g_eeprom);
    _eeprom_instance.cache_active = false;
    // Two logical pages per data row, one spare row and the master page's row.
    _eeprom_instance.logical_pages =
        static_cast<uint8_t>((_eeprom_instance.physical_pages - 2 * kEepromPagesPerRow) / 2);

    _eeprom_emulator_update_page_mapping();
    if (_eeprom_instance.spare_row == kEepromNoSpareRow)
        return STATUS_ERR_BAD_FORMAT;

    status_code status = _eeprom_emulator_verify_master_page();
    if (status != STATUS_OK)
        return status;

    _eeprom_instance.initialized = true;
    return STATUS_OK;
}

status_code eeprom_emulator_get_parameters(eeprom_emulator_parameters* parameters)
{
    if (!_eeprom_instance.initialized)
        return STATUS_ERR_NOT_INITIALIZED;
    parameters->page_size = kEepromPageSize;
    parameters->eeprom_number_of_pages = _eeprom_instance.logical_pages;
    return STATUS_OK;
}

static status_code _eeprom_emulator_check_page_access(uint8_t logical_page)
{
    if (!_eeprom_instance.initialized)
        return STATUS_ERR_NOT_INITIALIZED;
    if (!_eeprom_emulator_is_mapped(logical_page))
        return STATUS_ERR_BAD_ADDRESS;
    return STATUS_OK;
}

// First erased page from `physical_page` to the end of its row, or -1.
static int _eeprom_emulator_is_page_free_on_row(uint16_t physical_page)
{
    uint16_t row_end = static_cast<uint16_t>((physical_page / kEepromPagesPerRow + 1) * kEepromPagesPerRow);
    for (uint16_t p = physical_page; p < row_end; p++)
        if (_eeprom_emulator_logical_of(p) == kEepromUnusedPage)
            return p;
    return -1;
}

// Copies the current versions of the row's two logical pages into the spare
// row, the page being written taking its new data, then erases the old row,
// which becomes the spare.
static status_code _eeprom_emulator_move_data_to_spare(uint16_t row, uint8_t logical_page, const uint8_t* data)
{
    // Only a failed init leaves no spare row, and writes need a good one.
    if (_eeprom_instance.spare_row >= _eeprom_instance.physical_pages / kEepromPagesPerRow)
        return STATUS_ERR_BAD_FORMAT;

    const uint16_t first = static_cast<uint16_t>(row * kEepromPagesPerRow);
    uint8_t pair_logical[2];
    uint16_t pair_source[2];
    for (uint16_t k = 0; k < 2; k++)
    {
        pair_logical[k] = _eeprom_emulator_logical_of(first + k);
        pair_source[k] = first + k;
        for (uint16_t later = first + 2; later < first + kEepromPagesPerRow; later++)
            if (_eeprom_emulator_logical_of(later) == pair_logical[k])
                pair_source[k] = later;
    }

    if (_eeprom_instance.cache_active)
        _eeprom_emulator_commit_cache();

    for (uint16_t k = 0; k < 2; k++)
    {
        if (k > 0)
            _eeprom_emulator_commit_cache();

        uint16_t target = static_cast<uint16_t>(_eeprom_instance.spare_row * kEepromPagesPerRow + k);
        if (pair_logical[k] == logical_page)
        {
            _eeprom_instance.cache.header.logical_page = logical_page;
            memcpy(_eeprom_instance.cache.data, data, kEepromPageSize);
        }
        else
        {
            _eeprom_emulator_nvm_read_page(pair_source[k], &_eeprom_instance.cache);
        }
        _eeprom_emulator_nvm_fill_cache(target, &_eeprom_instance.cache);
        _eeprom_instance.cache_active = true;
        if (_eeprom_emulator_is_mapped(pair_logical[k]))
            _eeprom_instance.page_map[pair_logical[k]] = static_cast<uint8_t>(target);
    }

    _eeprom_emulator_nvm_erase_row(row);
    _eeprom_instance.spare_row = static_cast<uint8_t>(row);
    return STATUS_OK;
}

status_code eeprom_emulator_write_page(uint8_t logical_page, const uint8_t* data)
{
    status_code status = _eeprom_emulator_check_page_access(logical_page);
    if (status != STATUS_OK)
        return status;

    if (_eeprom_instance.cache_active && _eeprom_instance.cache.header.logical_page != logical_page)
        _eeprom_emulator_commit_cache();

    uint16_t current = _eeprom_instance.page_map[logical_page];
    int free_page = _eeprom_emulator_is_page_free_on_row(current);
    if (free_page < 0)
        return _eeprom_emulator_move_data_to_spare(current / kEepromPagesPerRow, logical_page, data);

    // The older copy stays where it is; the higher page supersedes it.
    _eeprom_instance.cache.header.logical_page = logical_page;
    memcpy(_eeprom_instance.cache.data, data, kEepromPageSize);
    _eeprom_emulator_nvm_fill_cache(static_cast<uint16_t>(free_page), &_eeprom_instance.cache);
    _eeprom_instance.cache_active = true;
    _eeprom_instance.page_map[logical_page] = static_cast<uint8_t>(free_page);
    return STATUS_OK;
}

status_code eeprom_emulator_read_page(uint8_t logical_page, uint8_t* data)
{
    status_code status = _eeprom_emulator_check_page_access(logical_page);
    if (status != STATUS_OK)
        return status;

    if (_eeprom_instance.cache_active && _eeprom_instance.cache.header.logical_page == logical_page)
    {
        memcpy(data, _eeprom_instance.cache.data, kEepromPageSize);
        return STATUS_OK;
    }
    _eeprom_page page;
    _eeprom_emulator_nvm_read_page(_eeprom_instance.page_map[logical_page], &page);
    memcpy(data, page.data, kEepromPageSize);
    return STATUS_OK;
}

static uint8_t _eeprom_emulator_page_of(uint32_t offset)
{
    // Offsets past 255 pages saturate, which the page test refuses.
    uint32_t page = offset / kEepromPageSize;
    return static_cast<uint8_t>(page > kEepromUnusedPage ? kEepromUnusedPage : page);
}

status_code eeprom_emulator_read_buffer(uint16_t offset, uint8_t* data, uint16_t length)
{
    uint8_t page[kEepromPageSize];
    status_code status = eeprom_emulator_read_page(_eeprom_emulator_page_of(offset), page);
    if (status != STATUS_OK)
        return status;

    const uint32_t end = static_cast<uint32_t>(offset) + length;
    for (uint32_t at = offset; at < end; at++)
    {
        if (at % kEepromPageSize == 0 && at != offset)
        {
            status = eeprom_emulator_read_page(_eeprom_emulator_page_of(at), page);
            if (status != STATUS_OK)
                return status;
        }
        data[at - offset] = page[at % kEepromPageSize];
    }
    return STATUS_OK;
}

status_code eeprom_emulator_write_buffer(uint16_t offset, const uint8_t* data, uint16_t length)
{
    uint8_t page[kEepromPageSize];
    memset(page, kNvmErasedByte, sizeof(page));
    status_code status;
    // A page the data covers whole need not be read first.
    if (length < kEepromPageSize || offset % kEepromPageSize != 0)
    {
        status = eeprom_emulator_read_page(_eeprom_emulator_page_of(offset), page);
        if (status != STATUS_OK)
            return status;
    }

    const uint32_t end = static_cast<uint32_t>(offset) + length;
    for (uint32_t at = offset; at < end; at++)
    {
        if (at % kEepromPageSize == 0 && at != offset)
        {
            status = eeprom_emulator_write_page(_eeprom_emulator_page_of(at - 1), page);
            if (status != STATUS_OK)
                return status;
            status = eeprom_emulator_read_page(_eeprom_emulator_page_of(at), page);
            if (status != STATUS_OK)
                return status;
        }
        page[at % kEepromPageSize] = data[at - offset];
    }
    return eeprom_emulator_write_page(_eeprom_emulator_page_of(end == offset ? offset : end - 1), page);
}

status_code eeprom_emulator_commit_page_buffer(void)
{
    if (_eeprom_instance.cache_active)
        _eeprom_emulator_commit_cache();
    return STATUS_OK;
}

void eeprom_emulator_reset_for_tests(void)
{
    memset(&_eeprom_instance, 0, sizeof(_eeprom_instance));
}
