// The default settings image, computed at compile time from its description:
// the emulator's freshly formatted layout plus the two page updates that wrote
// the signature and logical byte 120 (see default_settings_byte).
#include "EEPROM_Init.h"

#include "eeprom.h"

namespace
{

constexpr uint32_t kImagePages = kSettingsAreaSize / kEepromPhysicalPageSize;
constexpr uint32_t kMasterPage = kImagePages - 1;
constexpr uint32_t kMasterRow = kMasterPage / kEepromPagesPerRow;
constexpr uint8_t kErased = 0xFF;
// The emulator writes a logical page through its cache, whose reserved header
// bytes are zero until a page has been read into it.
constexpr uint8_t kUpdatedReserved = 0x00;
constexpr uint8_t kLensArea0 = 0x00;  // logical byte 120

constexpr uint8_t master_page_byte(uint32_t at)
{
    constexpr uint32_t kMagicSize = sizeof(kEepromMagicWords);
    if (at < kMagicSize)
        return static_cast<uint8_t>(kEepromMagicWords[at / 4] >> (8 * (at % 4)));
    switch (at - kMagicSize)
    {
    case 0: return kEepromMajorVersion;
    case 1: return kEepromMinorVersion;
    case 2: return kEepromRevision;
    case 3: return kEepromEmulatorId;
    default: return kErased;
    }
}

// Logical bytes after the two updates: "EX01", 0x00 at 120, the rest erased.
constexpr uint8_t logical_byte(uint32_t offset)
{
    if (offset < kSettingsSignatureSize)
        return static_cast<uint8_t>(kSignatureOld[offset]);
    if (offset == kLensRecordsOffset)
        return kLensArea0;
    return kErased;
}

constexpr uint8_t default_settings_byte(uint32_t offset)
{
    const uint32_t page = offset / kEepromPhysicalPageSize;
    const uint32_t at = offset % kEepromPhysicalPageSize;
    const uint32_t row = page / kEepromPagesPerRow;
    const uint32_t slot = page % kEepromPagesPerRow;

    if (page == kMasterPage)
        return master_page_byte(at);
    // Row 0 is the spare; the master page's row carries no data.
    if (row == 0 || row == kMasterRow)
        return kErased;

    // Data row r holds logical pages 2r - 2 and 2r - 1 as formatted.
    const uint32_t first_logical = 2 * (row - 1);
    if (slot < 2)
        return at == 0 ? static_cast<uint8_t>(first_logical + slot) : kErased;

    // The updates of logical pages 0 and 2 went to the next free page of
    // their rows, slot 2 of rows 1 and 2.
    const uint32_t updated_logical = first_logical;
    const bool updated = slot == 2 && (updated_logical == kSettingsSignatureOffset / kEepromPageSize ||
                                       updated_logical == kLensRecordsOffset / kEepromPageSize);
    if (!updated)
        return kErased;
    if (at == 0)
        return static_cast<uint8_t>(updated_logical);
    if (at < kEepromHeaderSize)
        return kUpdatedReserved;
    return logical_byte(updated_logical * kEepromPageSize + at - kEepromHeaderSize);
}

static_assert(default_settings_byte(kDefaultImageAdjOffset - 5) == 'E', "signature in physical page 6");
static_assert(default_settings_byte(kMasterPage * kEepromPhysicalPageSize) == 0x45, "master page magic");

}  // namespace

// Spelled out as 4096 constant expressions so the image is a plain constant
// array, initialised before any code runs.
#define CORVO_IMAGE_BYTES_4(o)                                                                      \
    default_settings_byte(o), default_settings_byte((o) + 1), default_settings_byte((o) + 2),       \
        default_settings_byte((o) + 3)
#define CORVO_IMAGE_BYTES_16(o)                                                                     \
    CORVO_IMAGE_BYTES_4(o), CORVO_IMAGE_BYTES_4((o) + 4), CORVO_IMAGE_BYTES_4((o) + 8),             \
        CORVO_IMAGE_BYTES_4((o) + 12)
#define CORVO_IMAGE_BYTES_64(o)                                                                     \
    CORVO_IMAGE_BYTES_16(o), CORVO_IMAGE_BYTES_16((o) + 16), CORVO_IMAGE_BYTES_16((o) + 32),        \
        CORVO_IMAGE_BYTES_16((o) + 48)
#define CORVO_IMAGE_BYTES_256(o)                                                                    \
    CORVO_IMAGE_BYTES_64(o), CORVO_IMAGE_BYTES_64((o) + 64), CORVO_IMAGE_BYTES_64((o) + 128),       \
        CORVO_IMAGE_BYTES_64((o) + 192)
#define CORVO_IMAGE_BYTES_1024(o)                                                                   \
    CORVO_IMAGE_BYTES_256(o), CORVO_IMAGE_BYTES_256((o) + 256), CORVO_IMAGE_BYTES_256((o) + 512),   \
        CORVO_IMAGE_BYTES_256((o) + 768)
#define CORVO_IMAGE_BYTES_4096(o)                                                                   \
    CORVO_IMAGE_BYTES_1024(o), CORVO_IMAGE_BYTES_1024((o) + 1024),                                  \
        CORVO_IMAGE_BYTES_1024((o) + 2048), CORVO_IMAGE_BYTES_1024((o) + 3072)

static_assert(kSettingsAreaSize == 4096, "the expansion below spells out 4096 bytes");

// The zero byte after the image is not part of it.
constexpr uint8_t g_myData[4097] = {CORVO_IMAGE_BYTES_4096(0u), 0x00};
const uint32_t g_myData_Size = kSettingsAreaSize;

#undef CORVO_IMAGE_BYTES_4
#undef CORVO_IMAGE_BYTES_16
#undef CORVO_IMAGE_BYTES_64
#undef CORVO_IMAGE_BYTES_256
#undef CORVO_IMAGE_BYTES_1024
#undef CORVO_IMAGE_BYTES_4096
