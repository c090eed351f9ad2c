// Fuzzes the emulated EEPROM on arbitrary settings images, the way the
// offline road opens them: init, and on failure format and init again; then
// buffer reads, writes, commits and reloads chosen by the input.
//
// Input: a 16-bit little-endian image length (taken modulo 8193, cut to what
// follows), the image bytes, then operations, each an opcode byte and its
// arguments (see run_operation).
//
// Beyond the sanitizers, these properties must hold:
// - a format followed by init always succeeds;
// - once open, a buffer call succeeds exactly when its range lies inside the
//   logical space;
// - on an image the harness formatted itself (so every logical page has one
//   sound home), reads return what was written, and a commit, a reset of the
//   module and a fresh init find the same logical contents again.
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "eeprom.h"
#include "eeprom_testing.h"
#include "nvm.h"

namespace
{

enum Operation
{
    kOpReadBuffer,
    kOpWriteBuffer,
    kOpCommit,
    kOpWritePage,
    kOpReload,
    kOpCount
};

// Opcodes with this bit clear keep offsets and lengths near the logical space,
// where the interesting boundaries are; with it set they are taken whole.
const uint8_t kOpRawRange = 0x80;
const uint16_t kNearOffsetSpan = kSettingsLogicalSize + 2 * kEepromPageSize;
const uint16_t kNearLengthSpan = 3 * kEepromPageSize;

struct Harness
{
    bool open = false;    // init succeeded
    bool tracked = false; // `shadow` holds the logical contents
    uint8_t shadow[kSettingsLogicalSize];
};

bool range_inside(uint32_t offset, uint32_t length)
{
    return offset < kSettingsLogicalSize && offset + length <= kSettingsLogicalSize;
}

// Page by page: the buffer calls are fuzzed on their own, and a byte loop
// here would cost most of each run.
void read_all(uint8_t* out)
{
    for (uint16_t page = 0; page < kSettingsLogicalSize / kEepromPageSize; page++)
        FUZZ_CHECK(eeprom_emulator_read_page(static_cast<uint8_t>(page), out + page * kEepromPageSize) ==
                   STATUS_OK);
}

void take_range(FuzzInput& in, uint8_t opcode, uint16_t* offset, uint16_t* length)
{
    *offset = in.u16();
    *length = in.u16();
    if ((opcode & kOpRawRange) == 0)
    {
        *offset = static_cast<uint16_t>(*offset % kNearOffsetSpan);
        *length = static_cast<uint16_t>(*length % kNearLengthSpan);
    }
}

// How many bytes of a range that starts inside the logical space lie inside it.
uint32_t bytes_inside(uint16_t offset, uint16_t length)
{
    uint32_t inside = kSettingsLogicalSize - offset;
    return inside < length ? inside : length;
}

// A buffer call on a closed store is refused; on an open one it succeeds
// exactly when the range fits. False when there is nothing more to check.
bool buffer_status_ok(const Harness& h, status_code status, uint16_t offset, uint16_t length)
{
    if (!h.open)
    {
        FUZZ_CHECK(status == STATUS_ERR_NOT_INITIALIZED);
        return false;
    }
    FUZZ_CHECK((status == STATUS_OK) == range_inside(offset, length));
    FUZZ_CHECK(status == STATUS_OK || status == STATUS_ERR_BAD_ADDRESS);
    return true;
}

void read_buffer(Harness& h, FuzzInput& in, uint8_t opcode)
{
    uint16_t offset, length;
    take_range(in, opcode, &offset, &length);
    std::vector<uint8_t> out(length + 1u, 0);
    status_code status = eeprom_emulator_read_buffer(offset, out.data(), length);
    if (!buffer_status_ok(h, status, offset, length))
        return;
    // Bytes inside the space are copied even when the range runs past it.
    if (h.tracked && offset < kSettingsLogicalSize)
        FUZZ_CHECK(memcmp(out.data(), h.shadow + offset, bytes_inside(offset, length)) == 0);
}

void write_buffer(Harness& h, FuzzInput& in, uint8_t opcode)
{
    uint16_t offset, length;
    take_range(in, opcode, &offset, &length);
    std::vector<uint8_t> data(length + 1u, 0);
    in.bytes(data.data(), length);
    status_code status = eeprom_emulator_write_buffer(offset, data.data(), length);
    if (!buffer_status_ok(h, status, offset, length))
        return;
    // A range that runs past the space still writes the pages inside it.
    if (h.tracked && offset < kSettingsLogicalSize)
        memcpy(h.shadow + offset, data.data(), bytes_inside(offset, length));
}

void write_page(Harness& h, FuzzInput& in)
{
    uint8_t page = in.u8();
    uint8_t data[kEepromPageSize];
    in.bytes(data, sizeof(data));
    status_code status = eeprom_emulator_write_page(page, data);
    if (!h.open)
    {
        FUZZ_CHECK(status == STATUS_ERR_NOT_INITIALIZED);
        return;
    }
    const bool inside = page < kSettingsLogicalSize / kEepromPageSize;
    FUZZ_CHECK((status == STATUS_OK) == inside);
    if (h.tracked && inside)
        memcpy(h.shadow + page * kEepromPageSize, data, sizeof(data));
}

// What saving the file and opening it again does: the image must open as it
// is, holding the same logical bytes.
void reload(Harness& h)
{
    if (!h.open)
        return;
    eeprom_emulator_commit_page_buffer();
    eeprom_emulator_reset_for_tests();
    status_code status = eeprom_emulator_init();
    if (h.tracked)
    {
        FUZZ_CHECK(status == STATUS_OK);
        uint8_t now[kSettingsLogicalSize];
        read_all(now);
        FUZZ_CHECK(memcmp(now, h.shadow, sizeof(now)) == 0);
    }
    h.open = status == STATUS_OK;
}

void run_operation(Harness& h, FuzzInput& in)
{
    uint8_t opcode = in.u8();
    switch ((opcode & ~kOpRawRange) % kOpCount)
    {
    case kOpReadBuffer:
        read_buffer(h, in, opcode);
        break;
    case kOpWriteBuffer:
        write_buffer(h, in, opcode);
        break;
    case kOpCommit:
        FUZZ_CHECK(eeprom_emulator_commit_page_buffer() == STATUS_OK);
        break;
    case kOpWritePage:
        write_page(h, in);
        break;
    case kOpReload:
        reload(h);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);

    // As the program starts a run: an erased buffer, a clean module.
    memset(g_eeprom, kNvmErasedByte, sizeof(g_eeprom));
    eeprom_dirty = 0;
    eeprom_emulator_reset_for_tests();

    size_t imageSize = in.u16() % (sizeof(g_eeprom) + 1);
    // A file shorter than the buffer leaves the rest erased.
    in.bytes(g_eeprom, imageSize < in.remaining() ? imageSize : in.remaining());

    Harness h;
    status_code status = eeprom_emulator_init();
    if (status != STATUS_OK)
    {
        FUZZ_CHECK(status == STATUS_ERR_BAD_FORMAT || status == STATUS_ERR_IO);
        eeprom_emulator_erase_memory();
        FUZZ_CHECK(eeprom_emulator_init() == STATUS_OK);
        // A freshly formatted space reads as erased.
        read_all(h.shadow);
        for (uint8_t b : h.shadow)
            FUZZ_CHECK(b == kNvmErasedByte);
        h.tracked = true;
    }
    h.open = true;

    while (!in.empty())
        run_operation(h, in);
    reload(h);
    return 0;
}
