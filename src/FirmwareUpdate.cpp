// Firmware update. Everything that can refuse the image runs before the
// first command that changes the adapter, so a refused update leaves it as
// it was: only word reads have been sent.
#include "FirmwareUpdate.h"

#include <cstdio>
#include <memory>

#include "AdapterMap.h"
#include "CorvoVexor.h"
#include "FirmwareCheck.h"
#include "SambaVexor.h"

namespace
{

// Models whose firmware may be replaced, by the type letter of the firmware.
const uint8_t kTypeBrisk = 'B';
const uint8_t kTypeOrla = 'O';

struct FileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

uint8_t typeLetter(uint32_t typeWord)
{
    return static_cast<uint8_t>(typeWord >> 8);
}

uint16_t pcbVersion(uint32_t hwver)
{
    return static_cast<uint16_t>(hwver);
}

uint8_t ringType(uint32_t hwver)
{
    return static_cast<uint8_t>(hwver >> 16);
}

// An erased ring type takes any image; a lettered one only "QZV" + its letter.
bool ringTypeAccepts(uint8_t ring)
{
    if (ring == kRingTypeErased)
        return true;
    uint8_t magicLetter = static_cast<uint8_t>(qzv_sigs >> 24);
    for (uint8_t letter : kRingLetters)
        if (ring == letter)
            return magicLetter == ring;
    return false;
}

// An entry with low byte 0xFF stands for every PCB version of its high byte.
bool pcbAccepted(uint16_t pcb)
{
    const uint16_t kAnyLowByte = 0x00FF;
    for (int i = 0; i < kFwHwVersionCount; i++)
    {
        uint16_t e = g_hw_ver[i];
        if (e == pcb)
            return true;
        if ((e & kAnyLowByte) == kAnyLowByte && (e >> 8) == (pcb >> 8))
            return true;
    }
    return false;
}

}  // namespace

bool firmware_update(Samba& samba, const char* file, bool force)
{
    uint32_t typeWord = samba.readWord(kFirmwareTypeWordAddr);
    uint8_t type = typeLetter(typeWord);
    if (!force && type != kTypeBrisk && type != kTypeOrla)
    {
        printf("Not Kestrune Orla/Halvard or Brisk/Halvard adapter, unable to update, abort\n");
        return false;
    }

    printf("\n");
    timer_start();

    FilePtr fw(fopen(file, "rb"));
    if (!fw)
    {
        printf("Failed in opening firmware file %s, abort\n", file);
        return false;
    }

    g_loader_addr = kFirmwareAreaAddr;
    if (FirmwareCheck(fw.get()) != kFwValid || FirmwareWindowCheck(fw.get()) != kFwValid)
    {
        printf("Invalid firmware %s, abort\n", file);
        fw.reset();
        printf("done in %5.3f seconds\n", timer_stop());
        return false;
    }

    uint32_t hwver = samba.readWord(kHwVersionWordAddr);
    if (!ringTypeAccepts(ringType(hwver)))
    {
        printf("Firmware type does not match adapter, unable to update, abort\n");
        return false;
    }
    if (!pcbAccepted(pcbVersion(hwver)))
    {
        printf("Adapter PCB version doesn't match, unable to update, abort\n");
        return false;
    }

    samba.chipErase(g_loader_addr, g_eeprom_handle != kFwEraseModeKeep ? 1 : 0);
    // Mode 2 writes on through the settings area with the bytes that follow
    // the payload in the file; the window check made sure they are there.
    if (g_eeprom_handle == kFwEraseModeWriteThrough)
        g_fw_total_size += kSettingsAreaSize;
    samba.initD();

    printf("Updating firmware, please wait ");
    fflush(stdout);
    if (fseek(fw.get(), kFwPayloadOffset, SEEK_SET) != 0)
    {
        printf("\nFailed in reading firmware file %s, abort\n", file);
        return false;
    }
    uint8_t block_buf[kBlockSize];
    for (uint32_t offset = 0; offset < g_fw_total_size; offset += kBlockSize)
    {
        // Only a file changed since it was checked can end early here.
        if (fread(block_buf, 1, sizeof(block_buf), fw.get()) != sizeof(block_buf))
        {
            printf("\nFailed in reading firmware file %s, abort\n", file);
            return false;
        }
        samba.write(kStagingBufferAddr, block_buf, kBlockSize);
        samba.writeBuffer(kStagingBufferAddr, g_loader_addr + offset, kBlockSize);
        printf(".");
        fflush(stdout);
    }
    printf("\nDone\n");

    uint32_t crc_prog = samba.checksumBuffer(kFirmwareAreaAddr, kFirmwareAreaSize);
    uint32_t crc_eeprom = samba.checksumBuffer(kSettingsAreaAddr, kSettingsAreaSize);
    printf("\tChecksum of Firmware code = 0x%08X\n\tChecksum of User Configuration Data = 0x%08X\n",
           crc_prog, crc_eeprom);

    bool verified = samba.checksumBuffer(g_loader_addr, g_fw_total_size) == g_plain_cksum;
    printf(verified ? "\tFirmware update OK\n" : "\tFirmware update failed\n");

    // Reset whatever the verdict; the result carries the failure to the driver.
    printf("Resetting adapter ... ");
    fflush(stdout);
    samba.reset();
    printf("Done\n");

    fw.reset();
    printf("done in %5.3f seconds\n", timer_stop());
    return verified;
}
