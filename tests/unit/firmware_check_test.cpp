// The firmware image validator over real files: every return code from a file
// that fails exactly that check, and the window check that guards flash.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "AdapterMap.h"
#include "FirmwareCheck.h"

namespace
{

typedef std::vector<uint8_t> Bytes;

void putU16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void putU32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// A sound image: header, `payloadSize` bytes of payload, the payload sum and
// `trailing` extra bytes. Reserved bytes hold noise to show they are skipped.
Bytes image(uint32_t payloadSize, const char* magic = "QZVB", uint8_t eraseMode = 0,
            size_t trailing = 0)
{
    Bytes b(48 + payloadSize + 4 + trailing, 0);
    for (int i = 0; i < 4; i++)
        b[i] = static_cast<uint8_t>(magic[i]);
    putU16(b, 4, 0x0102);
    b[6] = 0xA5;
    b[7] = 0x5A;
    putU32(b, 8, 0x1000);
    putU32(b, 12, payloadSize);
    putU32(b, 16, 0xCAFEF00D);
    for (int i = 20; i < 31; i++)
        b[i] = static_cast<uint8_t>(0xC0 + i);
    b[31] = eraseMode;
    for (int i = 0; i < 8; i++)
        putU16(b, 32 + 2 * i, static_cast<uint16_t>(0x1200 + i));
    uint32_t sum = 0;
    for (uint32_t i = 0; i < payloadSize; i++)
    {
        // High byte values catch a sum taken over signed chars.
        uint8_t v = static_cast<uint8_t>(0xF0 + i * 7);
        b[48 + i] = v;
        sum += v;
    }
    putU32(b, 48 + payloadSize, sum);
    for (size_t i = 0; i < trailing; i++)
        b[48 + payloadSize + 4 + i] = static_cast<uint8_t>(i * 13);
    return b;
}

uint32_t readU32(const Bytes& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

Bytes cut(Bytes b, size_t length)
{
    b.resize(length);
    return b;
}

Bytes with(Bytes b, size_t at, uint8_t value)
{
    b[at] = value;
    return b;
}

Bytes withU32(Bytes b, size_t at, uint32_t value)
{
    putU32(b, at, value);
    return b;
}

// An open temporary file holding `bytes`, positioned at its end so the
// validator has to seek by itself.
class TempImage
{
public:
    explicit TempImage(const Bytes& bytes) : _f(tmpfile())
    {
        if (_f != nullptr && !bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), _f);
        if (_f != nullptr)
            fflush(_f);
    }
    ~TempImage()
    {
        if (_f != nullptr)
            fclose(_f);
    }
    FILE* get() const { return _f; }

private:
    FILE* _f;
};

struct CheckCase
{
    const char* name;
    Bytes file;
    int expected;
};

}  // namespace

TEST(FirmwareCheck, EachFileGetsTheCodeOfItsFirstFailedCheck)
{
    const Bytes good = image(128);
    const std::vector<CheckCase> cases = {
        {"smallest valid image (52 bytes)", image(0), kFwValid},
        {"payload of two blocks", good, kFwValid},
        {"bytes after the payload sum", image(64, "QZVX", 0, 100), kFwValid},
        {"any erase mode", image(64, "QZVN", 0xEE), kFwValid},
        {"magic QZVO", image(0, "QZVO"), kFwValid},
        {"empty file", Bytes(), kFwMagicShort},
        {"three bytes", cut(good, 3), kFwMagicShort},
        {"lower-case ring letter", image(0, "QZVb"), kFwMagicUnknown},
        {"unknown ring letter", image(0, "QZVA"), kFwMagicUnknown},
        {"stem not QZV", image(0, "QZWB"), kFwMagicUnknown},
        {"lower-case stem", image(0, "qzvB"), kFwMagicUnknown},
        {"software version cut", cut(good, 5), kFwSwVersionShort},
        {"load address 8192", withU32(good, 8, 0x2000), kFwLoadAddrBad},
        {"load address cut", cut(good, 10), kFwLoadAddrBad},
        {"total size cut", cut(good, 14), kFwTotalSizeShort},
        {"total size 100", withU32(good, 12, 100), kFwTotalSizeUnaligned},
        {"total size 100, file ends there", cut(withU32(good, 12, 100), 16), kFwTotalSizeUnaligned},
        {"firmware checksum cut", cut(good, 18), kFwPlainChecksumShort},
        {"ends at 20", cut(good, 20), kFwHwVersionShort},
        {"ends at the erase mode", cut(good, 31), kFwHwVersionShort},
        {"ends after the erase mode", cut(good, 32), kFwHwVersionShort},
        {"last hardware version cut", cut(good, 47), kFwHwVersionShort},
        {"payload one byte short", cut(good, 48 + 128 - 1), kFwPayloadShort},
        {"header only, payload announced", cut(good, 48), kFwPayloadShort},
        {"ends just after the payload", cut(good, 48 + 128), kFwPayloadSumShort},
        {"payload sum cut", cut(good, 48 + 128 + 3), kFwPayloadSumShort},
        {"payload byte changed", with(good, 48 + 70, good[48 + 70] ^ 0x01), kFwPayloadSumMismatch},
        {"payload sum off by one", withU32(good, 48 + 128, readU32(good, 48 + 128) + 1), kFwPayloadSumMismatch},
    };
    for (const CheckCase& c : cases)
    {
        TempImage f(c.file);
        ASSERT_NE(f.get(), nullptr);
        EXPECT_EQ(FirmwareCheck(f.get()), c.expected) << c.name;
    }
}

TEST(FirmwareCheck, ValidImage_PublishesHeaderAndStopsPastSum)
{
    Bytes b = image(192, "QZVO", 2, 7);
    TempImage f(b);
    ASSERT_EQ(FirmwareCheck(f.get()), kFwValid);
    EXPECT_EQ(ftell(f.get()), 48 + 192 + 4);
    EXPECT_EQ(qzv_sigs, 0x4F565A51u);  // "QZVO" read little-endian
    EXPECT_EQ(g_sw_ver, 0x0102);
    EXPECT_EQ(g_loader_addr, 0x1000u);
    EXPECT_EQ(g_fw_total_size, 192u);
    EXPECT_EQ(g_plain_cksum, 0xCAFEF00Du);
    EXPECT_EQ(g_eeprom_handle, 2);
    for (int i = 0; i < kFwHwVersionCount; i++)
        EXPECT_EQ(g_hw_ver[i], 0x1200 + i);
    uint32_t sum = 0;
    for (int i = 0; i < 192; i++)
        sum += b[48 + i];
    EXPECT_EQ(g_enc_cksum, sum);
}

TEST(FirmwareCheck, RandomBytes_NeverCrashAndGiveAKnownCode)
{
    std::mt19937 rng(1234);
    const Bytes good = image(64);
    for (int round = 0; round < 300; round++)
    {
        Bytes b = good;
        b.resize(rng() % 140);
        // Keep the magic usually sound so later checks get exercised.
        for (size_t i = (round % 3 == 0) ? 0 : 4; i < b.size(); i++)
            if (rng() % 8 == 0)
                b[i] = static_cast<uint8_t>(rng());
        TempImage f(b);
        int rc = FirmwareCheck(f.get());
        EXPECT_TRUE(rc <= 0 && rc >= kFwPayloadSumMismatch) << rc;
    }
}

TEST(FirmwareWindowCheck, WindowMustEndWithinFlashAndModeTwoFileMustFillIt)
{
    const uint32_t full = kFirmwareAreaSize;                        // ends at the settings area
    const uint32_t toFlashEnd = kFlashEndAddr - kFirmwareAreaAddr;   // ends at 0x20000
    struct Case
    {
        const char* name;
        uint32_t size;
        uint8_t mode;
        size_t trailing;  // file bytes after the payload sum
        int expected;
    } cases[] = {
        {"full size, mode 0", full, 0, 0, kFwValid},
        {"full size, mode 1", full, 1, 0, kFwValid},
        {"up to the end of flash, mode 0", toFlashEnd, 0, 0, kFwValid},
        {"one block past the end, mode 0", toFlashEnd + 64, 1, 0, kFwWindowPastFlash},
        {"full size, mode 2, whole window in the file", full, 2, 4092, kFwValid},
        {"full size plus a block, mode 2", full + 64, 2, 4092, kFwWindowPastFlash},
        {"mode 2, file one byte short", full, 2, 4091, kFwWindowFileShort},
        {"mode 2, file ends at the sum", 0, 2, 0, kFwWindowFileShort},
        {"empty image, mode 2, window in the file", 0, 2, 4092, kFwValid},
    };
    for (const Case& c : cases)
    {
        TempImage f(image(c.size, "QZVB", c.mode, c.trailing));
        ASSERT_EQ(FirmwareCheck(f.get()), kFwValid) << c.name;
        EXPECT_EQ(FirmwareWindowCheck(f.get()), c.expected) << c.name;
    }
}
