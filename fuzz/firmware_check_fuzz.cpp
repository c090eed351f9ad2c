// Fuzzes the firmware image validator on arbitrary files: the input is the
// whole file, opened from memory. The result must be the one the file's
// bytes call for (an independent reading of the format below), a valid image
// must leave the file just past its payload sum with the header published,
// and the window check that follows must agree with the image's window.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "AdapterMap.h"
#include "FirmwareCheck.h"
#include "FuzzSupport.h"

namespace
{

uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The result the file calls for, check by check in the validator's order.
int expected_result(const uint8_t* f, size_t size)
{
    if (size < 4)
        return kFwMagicShort;
    if (memcmp(f, "QZV", 3) != 0 || strchr("BONX", f[3]) == nullptr || f[3] == 0)
        return kFwMagicUnknown;
    if (size < 6)
        return kFwSwVersionShort;
    if (size < 12 || le32(f + 8) != kFirmwareAreaAddr)
        return kFwLoadAddrBad;
    if (size < 16)
        return kFwTotalSizeShort;
    const uint64_t total = le32(f + 12);
    if (total % kBlockSize != 0)
        return kFwTotalSizeUnaligned;
    if (size < 20)
        return kFwPlainChecksumShort;
    if (size < static_cast<size_t>(kFwPayloadOffset))
        return kFwHwVersionShort;
    if (size < kFwPayloadOffset + total)
        return kFwPayloadShort;
    if (size < kFwPayloadOffset + total + kFwPayloadSumSize)
        return kFwPayloadSumShort;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < total; i++)
        sum += f[kFwPayloadOffset + i];
    if (sum != le32(f + kFwPayloadOffset + total))
        return kFwPayloadSumMismatch;
    return kFwValid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // fmemopen wants a writable buffer, and one byte at least.
    std::vector<uint8_t> buffer(data, data + size);
    buffer.push_back(0);
    FILE* f = size > 0 ? fmemopen(buffer.data(), size, "rb") : fopen("/dev/null", "rb");
    FUZZ_CHECK(f != nullptr);

    const int result = FirmwareCheck(f);
    FUZZ_CHECK(result == expected_result(data, size));

    if (result == kFwValid)
    {
        const uint32_t total = le32(data + 12);
        FUZZ_CHECK(ftell(f) == static_cast<long>(kFwPayloadOffset + total + kFwPayloadSumSize));
        FUZZ_CHECK(qzv_sigs == le32(data));
        FUZZ_CHECK(g_loader_addr == kFirmwareAreaAddr && g_fw_total_size == total);
        FUZZ_CHECK(g_plain_cksum == le32(data + 16) && g_eeprom_handle == data[kFwEraseModeOffset]);
        for (int i = 0; i < kFwHwVersionCount; i++)
            FUZZ_CHECK(g_hw_ver[i] == (data[kFwHwVersionsOffset + 2 * i] |
                                       data[kFwHwVersionsOffset + 2 * i + 1] << 8));
        FUZZ_CHECK(g_enc_cksum == le32(data + kFwPayloadOffset + total));

        // The window the update will write, and what it reads of the file.
        const bool writeThrough = g_eeprom_handle == kFwEraseModeWriteThrough;
        const uint64_t window = total + (writeThrough ? kSettingsAreaSize : 0);
        int expected = kFwValid;
        if (kFirmwareAreaAddr + window > kFlashEndAddr)
            expected = kFwWindowPastFlash;
        else if (writeThrough && size < kFwPayloadOffset + window)
            expected = kFwWindowFileShort;
        FUZZ_CHECK(FirmwareWindowCheck(f) == expected);
    }
    fclose(f);
    return 0;
}
