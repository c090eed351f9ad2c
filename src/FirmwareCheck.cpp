// Validator of firmware image files. It never holds the image whole: the
// payload is summed through one 64-byte block, the same way the update sends it.
#include "FirmwareCheck.h"

#include "AdapterMap.h"

uint32_t qzv_sigs = 0;
uint16_t g_sw_ver = 0;
uint8_t g_eeprom_handle = 0;
uint16_t g_hw_ver[kFwHwVersionCount] = {};
uint32_t g_plain_cksum = 0;
uint32_t g_enc_cksum = 0;
uint32_t g_loader_addr = 0;
uint32_t g_fw_total_size = 0;

namespace
{

const uint8_t kMagicStem[3] = {'Q', 'Z', 'V'};

bool readExact(FILE* f, uint8_t* buf, size_t n)
{
    return fread(buf, 1, n, f) == n;
}

bool readU16(FILE* f, uint16_t* value)
{
    uint8_t b[2];
    if (!readExact(f, b, sizeof(b)))
        return false;
    *value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool readU32(FILE* f, uint32_t* value)
{
    uint8_t b[4];
    if (!readExact(f, b, sizeof(b)))
        return false;
    *value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
             (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool knownMagic(const uint8_t* m)
{
    if (m[0] != kMagicStem[0] || m[1] != kMagicStem[1] || m[2] != kMagicStem[2])
        return false;
    for (uint8_t letter : kRingLetters)
        if (m[3] == letter)
            return true;
    return false;
}

}  // namespace

int FirmwareCheck(FILE* f)
{
    uint8_t magic[4];
    if (fseek(f, kFwMagicOffset, SEEK_SET) != 0 || !readExact(f, magic, sizeof(magic)))
        return kFwMagicShort;
    if (!knownMagic(magic))
        return kFwMagicUnknown;
    qzv_sigs = static_cast<uint32_t>(magic[0]) | (static_cast<uint32_t>(magic[1]) << 8) |
               (static_cast<uint32_t>(magic[2]) << 16) | (static_cast<uint32_t>(magic[3]) << 24);

    if (!readU16(f, &g_sw_ver))
        return kFwSwVersionShort;

    uint32_t loadAddr = 0;
    if (fseek(f, kFwLoadAddrOffset, SEEK_SET) != 0 || !readU32(f, &loadAddr) ||
        loadAddr != kFirmwareAreaAddr)
        return kFwLoadAddrBad;
    g_loader_addr = loadAddr;

    uint32_t totalSize = 0;
    if (!readU32(f, &totalSize))
        return kFwTotalSizeShort;
    if (totalSize % kBlockSize != 0)
        return kFwTotalSizeUnaligned;
    g_fw_total_size = totalSize;

    if (!readU32(f, &g_plain_cksum))
        return kFwPlainChecksumShort;

    // Unchecked on purpose: a file that ends here fails on the hardware versions.
    uint8_t eraseMode = 0;
    if (fseek(f, kFwEraseModeOffset, SEEK_SET) == 0 && readExact(f, &eraseMode, 1))
        g_eeprom_handle = eraseMode;

    for (int i = 0; i < kFwHwVersionCount; i++)
        if (!readU16(f, &g_hw_ver[i]))
            return kFwHwVersionShort;

    uint32_t sum = 0;
    uint8_t block[kBlockSize];
    for (uint32_t done = 0; done < totalSize; done += kBlockSize)
    {
        if (!readExact(f, block, sizeof(block)))
            return kFwPayloadShort;
        for (uint8_t byte : block)
            sum += byte;
    }

    uint32_t fileSum = 0;
    if (!readU32(f, &fileSum))
        return kFwPayloadSumShort;
    if (fileSum != sum)
        return kFwPayloadSumMismatch;

    g_enc_cksum = sum;
    return kFwValid;
}

int FirmwareWindowCheck(FILE* f)
{
    uint64_t window = g_fw_total_size;
    if (g_eeprom_handle == kFwEraseModeWriteThrough)
        window += kSettingsAreaSize;
    if (static_cast<uint64_t>(g_loader_addr) + window > kFlashEndAddr)
        return kFwWindowPastFlash;

    if (g_eeprom_handle == kFwEraseModeWriteThrough)
    {
        // The mode-2 transfer reads the file straight on past the payload.
        if (fseek(f, 0, SEEK_END) != 0)
            return kFwWindowFileShort;
        long fileSize = ftell(f);
        if (fileSize < 0 || static_cast<uint64_t>(fileSize) < kFwPayloadOffset + window)
            return kFwWindowFileShort;
    }
    return kFwValid;
}
