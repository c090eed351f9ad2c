// Settings operations. Every block bound for the settings area is staged in
// RAM with the monitor's memory write and copied into flash by the boot
// loader's buffered write, 64 bytes at a time.
#include "SettingsOps.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "AdapterMap.h"
#include "AtomicFile.h"
#include "CorvoVexor.h"
#include "EEPROM_Init.h"
#include "FirmwareCheck.h"
#include "SambaVexor.h"

namespace
{

// The ADJ byte: byte 1 of the word at kAdjWordAddr, as an offset in the image.
const uint32_t kAdjImageOffset = kAdjWordAddr + 1 - kSettingsAreaAddr;
// The reset count is stored with this bias; 0 keeps the default byte.
const int kAdjBias = 2;

struct FileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

enum FileState
{
    kFileUsable,
    kFileUnreadable,
    kFileShort,
};

// Reads the first kSettingsAreaSize bytes of `file` into `image`; `got` is
// how many there were.
FileState readSettingsFile(const char* file, uint8_t* image, size_t* got)
{
    *got = 0;
    FilePtr f(fopen(file, "rb"));
    if (!f)
        return kFileUnreadable;
    *got = fread(image, 1, kSettingsAreaSize, f.get());
    // A directory opens but does not read: that is not a file to load.
    if (ferror(f.get()))
        return kFileUnreadable;
    return *got < kSettingsAreaSize ? kFileShort : kFileUsable;
}

void reportUnusable(const char* file, FileState state, size_t got)
{
    if (state == kFileUnreadable)
        printf("Failed in opening adapter setting file %s, abort\n", file);
    else
        printf("Adapter setting file %s is too short (%ld bytes, %ld needed), abort\n", file,
               static_cast<long>(got), static_cast<long>(kSettingsAreaSize));
}

// Erases the settings area and writes `image` into it block by block, one dot
// per block. `erasing` and `writing` are the progress texts.
void writeSettingsArea(Samba& samba, const uint8_t* image, const char* erasing,
                       const char* writing)
{
    printf("%s", erasing);
    fflush(stdout);
    g_loader_addr = kSettingsAreaAddr;
    g_fw_total_size = kSettingsAreaSize;
    samba.chipErase(g_loader_addr, 1);
    printf(" Done\n");

    printf("%s", writing);
    fflush(stdout);
    for (uint32_t offset = 0; offset < g_fw_total_size; offset += kBlockSize)
    {
        samba.write(kStagingBufferAddr, image + offset, kBlockSize);
        samba.writeBuffer(kStagingBufferAddr, g_loader_addr + offset, kBlockSize);
        printf(".");
        fflush(stdout);
    }
    printf(" Done\n");
    printf("Checksum of adapter setting = 0x%08X\n",
           samba.checksumBuffer(kSettingsAreaAddr, kSettingsAreaSize));
}

}  // namespace

bool settings_load_file_ok(const char* file)
{
    uint8_t image[kSettingsAreaSize];
    size_t got = 0;
    FileState state = readSettingsFile(file, image, &got);
    if (state == kFileUsable)
        return true;
    printf("\n");
    reportUnusable(file, state, got);
    return false;
}

bool settings_load(Samba& samba, const char* file)
{
    printf("\n");
    timer_start();

    uint8_t image[kSettingsAreaSize];
    size_t got = 0;
    FileState state = readSettingsFile(file, image, &got);
    if (state != kFileUsable)
    {
        reportUnusable(file, state, got);
        return false;
    }

    writeSettingsArea(samba, image, "Clearing adapter setting, please wait ... ",
                      "Updating adapter setting, please wait ... ");
    printf("done in %5.3f seconds\n", timer_stop());
    return true;
}

bool settings_save(Samba& samba, const char* file)
{
    printf("\n");
    timer_start();

    uint8_t ee_buf[kSettingsAreaSize];
    samba.eepromDump(kSettingsAreaSize, ee_buf);
    if (!atomic_write_file(file, ee_buf, sizeof(ee_buf)))
    {
        printf("Failed to create file %s , abort\n", file);
        return false;
    }
    printf("done in %5.3f seconds\n", timer_stop());
    return true;
}

bool settings_clear(Samba& samba)
{
    printf("\n");
    printf("How many times have you reset this adapter's settings? ");
    fflush(stdout);
    int resets = 0;
    if (get_int(&resets) != kGetIntNumber)
    {
        printf("Wrong input, abort!");
        fflush(stdout);
        return false;
    }

    uint8_t image[kSettingsAreaSize];
    memcpy(image, g_myData, sizeof(image));
    if (resets != 0)
        image[kAdjImageOffset] = static_cast<uint8_t>(static_cast<unsigned>(resets) + kAdjBias);

    timer_start();
    writeSettingsArea(samba, image, "Clearing adapter setting, please wait ... ",
                      "Formatting adapter setting , please wait ... ");
    printf(" Done\n");
    return true;
}
