// Fuzzes the monitor client: connect, then a sequence of its operations,
// against a link whose every answer comes from the input (FuzzPort.h).
//
// Input: a flags byte (bit 0: the port reports USB; bit 1: trace mode), the
// answers of the connection, then operations, each an opcode byte and its
// arguments followed by the answers it gets.
//
// Beyond the sanitizers, these properties must hold:
// - every failure is a SambaError (or false where the client reports so);
// - every operation leaves the 1000 ms default time-out in force, raised or
//   not, and uses no time-out but 100, 1000 and 5000 ms;
// - no call waits longer, in virtual time, than its exchanges' time-outs and
//   the mandated pauses add up to (the budgets below);
// - reads and dumps fill what they promise without touching past it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FuzzPort.h"
#include "FuzzSupport.h"
#include "SambaVexor.h"

namespace
{

const uint8_t kFlagUsb = 0x01;
const uint8_t kFlagDebug = 0x02;

// The protocol's waits, in ms.
const long kSettlePauseMs = 500;
const long kResetPauseMs = 100;
const long kFlushMs = 1;
const long kConnectTimeoutMs = 100;
const long kDefaultTimeoutMs = 1000;
const long kLongTimeoutMs = 5000;
const long kXmodemTries = 5;
const int kUsbBaud = 921600;
const int kXmodemData = 128;
// Reads of one identification: the reset vector, then at most three
// identity registers.
const long kChipIdReads = 4;
// One connection attempt: the settle pause, the drain, three auto-baud
// answers, the identity reads and the version, all under the 100 ms time-out.
const long kAttemptBudgetMs = kSettlePauseMs + (1 + 3 + kChipIdReads + 1) * kConnectTimeoutMs;

const int kMaxTransfer = 600;   // bytes of one fuzzed read or write
const int kMaxDumpWords = 1024; // the settings area

enum Operation
{
    kOpWriteByte,
    kOpReadByte,
    kOpWriteWord,
    kOpReadWord,
    kOpWrite,
    kOpRead,
    kOpGo,
    kOpVersion,
    kOpChipId,
    kOpReset,
    kOpChipErase,
    kOpWriteBuffer,
    kOpChecksum,
    kOpEepromDump,
    kOpInitD,
    kOpCount
};

long xmodem_blocks(int size)
{
    return (size + kXmodemData - 1) / kXmodemData;
}

// Runs one operation. Before it calls the client it sets `budget`, the most
// virtual time the call may take, so a call that raises is held to it too.
void run_operation(Samba& samba, FuzzInput& in, bool usbLink, long& budget)
{
    const uint8_t opcode = in.u8() % kOpCount;
    switch (opcode)
    {
    case kOpWriteByte:
    {
        uint32_t addr = in.u16();
        uint8_t value = in.u8();
        budget = kFlushMs;
        samba.writeByte(addr, value);
        break;
    }
    case kOpReadByte:
        budget = kDefaultTimeoutMs;
        samba.readByte(in.u16());
        break;
    case kOpWriteWord:
    {
        uint32_t addr = in.u16();
        uint32_t value = in.u16();
        budget = kFlushMs;
        samba.writeWord(addr, value);
        break;
    }
    case kOpReadWord:
        budget = kDefaultTimeoutMs;
        samba.readWord(in.u16());
        break;
    case kOpWrite:
    {
        int size = in.u16() % (kMaxTransfer + 1);
        std::vector<uint8_t> data(static_cast<size_t>(size) + 1);
        in.bytes(data.data(), static_cast<size_t>(size));
        // Serial link: the "C", each block, the end, five tries each.
        budget = usbLink ? kFlushMs
                         : (kXmodemTries * (1 + xmodem_blocks(size) + 1)) * kDefaultTimeoutMs;
        samba.write(0x20000000, data.data(), size);
        break;
    }
    case kOpRead:
    {
        int size = in.u16() % (kMaxTransfer + 1);
        // One guard byte past the end: a read must not spill into it.
        std::vector<uint8_t> data(static_cast<size_t>(size) + 1, 0xA5);
        // USB link: the first byte apart, then the rest.
        budget = usbLink ? 2 * kDefaultTimeoutMs
                         : (kXmodemTries * (xmodem_blocks(size) + 1)) * kDefaultTimeoutMs;
        samba.read(0x1F000, data.data(), size);
        FUZZ_CHECK(data[static_cast<size_t>(size)] == 0xA5);
        break;
    }
    case kOpGo:
        budget = kFlushMs;
        samba.go(in.u16());
        break;
    case kOpVersion:
        budget = kConnectTimeoutMs;
        samba.version();
        break;
    case kOpChipId:
        budget = kChipIdReads * kDefaultTimeoutMs;
        samba.chipId();
        break;
    case kOpReset:
        budget = kChipIdReads * kDefaultTimeoutMs + kFlushMs + kResetPauseMs;
        samba.reset();
        break;
    case kOpChipErase:
    {
        uint8_t withSettings = in.u8() & 1;
        budget = kLongTimeoutMs;
        FUZZ_CHECK(samba.chipErase(0x1000, withSettings));
        break;
    }
    case kOpWriteBuffer:
    {
        uint32_t dst = 0x1000 + 64u * in.u8();
        budget = kConnectTimeoutMs + kLongTimeoutMs;
        FUZZ_CHECK(samba.writeBuffer(0x20000000, dst, 64));
        break;
    }
    case kOpChecksum:
        budget = kLongTimeoutMs;
        samba.checksumBuffer(0x1000, in.u16());
        break;
    case kOpEepromDump:
    {
        uint32_t words = in.u16() % (kMaxDumpWords + 1);
        std::vector<uint8_t> data(4 * words + 1, 0xA5);
        budget = static_cast<long>(words) * kDefaultTimeoutMs;
        FUZZ_CHECK(samba.eepromDump(4 * words, data.data()));
        FUZZ_CHECK(data[4 * words] == 0xA5);
        break;
    }
    case kOpInitD:
        budget = kLongTimeoutMs;
        FUZZ_CHECK(samba.initD());
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Trace lines and the reset's report go nowhere.
    FUZZ_CHECK(freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    FuzzLink link(in);
    Samba::setPauseFunctionForTests([&link](int ms) {
        FUZZ_CHECK(ms == kSettlePauseMs || ms == kResetPauseMs);
        link.clockMs += ms;
    });

    const uint8_t flags = in.u8();
    const bool usbPort = (flags & kFlagUsb) != 0;
    Samba samba;
    samba.setDebug((flags & kFlagDebug) != 0);

    bool connected = false;
    try
    {
        connected = samba.connect(SerialPort::Ptr(new FuzzPort(link, usbPort)), 115200);
    }
    catch (const SambaError&)
    {
    }
    // A USB port gets two attempts, any other port one.
    FUZZ_CHECK(link.clockMs <= (usbPort ? 2 : 1) * kAttemptBudgetMs);
    if (!connected)
        return 0;
    FUZZ_CHECK(link.timeoutMs == kDefaultTimeoutMs);
    FUZZ_CHECK(samba.isChipEraseAvailable() && samba.isWriteBufferAvailable() &&
               samba.isChecksumBufferAvailable());

    while (!in.empty())
    {
        const long before = link.clockMs;
        long budget = 0;
        try
        {
            run_operation(samba, in, link.baud == kUsbBaud, budget);
        }
        catch (const SambaError&)
        {
        }
        FUZZ_CHECK(link.timeoutMs == kDefaultTimeoutMs);
        FUZZ_CHECK(link.clockMs - before <= budget);
    }
    return 0;
}
