// corvo-mkfw: writes firmware image files for the simulated adapter. A sound
// image carries plain firmware enciphered the way the simulated boot loader
// deciphers it, a header checksum equal to what that boot loader answers for
// the written window, and the payload sum. Each kind of broken image the
// updater must refuse can be written too.
#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AdapterCrypto.h"
#include "AtomicFile.h"

namespace
{

typedef std::vector<uint8_t> Bytes;

// The adapter's flash as the boot loader sees it.
const uint32_t kFirmwareAreaAddr = 0x1000;
const uint32_t kFirmwareAreaEnd = 0x1F000;   // first address of the settings area
const uint32_t kSettingsAreaSize = 0x1000;
const uint32_t kFlashEnd = 0x20000;
const uint32_t kFullFirmwareSize = kFirmwareAreaEnd - kFirmwareAreaAddr;  // 122880
const uint32_t kBlockSize = 64;

// Image file layout.
const size_t kHeaderSize = 48;
const size_t kSwVersionOffset = 4;
const size_t kLoadAddrOffset = 8;
const size_t kTotalSizeOffset = 12;
const size_t kPlainChecksumOffset = 16;
const size_t kEraseModeOffset = 31;
const size_t kHwVersionsOffset = 32;
const int kHwVersionCount = 8;
const size_t kPayloadSumSize = 4;
const uint8_t kEraseModeWriteThrough = 2;

// Firmware identity words, as offsets into the plain firmware.
const uint32_t kIdentityOffset = 0x1EFF0 - kFirmwareAreaAddr;
const uint32_t kIdentitySize = 6;

// Where each truncation fault cuts the file.
const size_t kCutInMagic = 3;
const size_t kCutInSwVersion = 5;
const size_t kCutInTotalSize = 14;
const size_t kCutInPlainChecksum = 18;
const size_t kCutInHwVersions = 40;
const uint32_t kBadLoadAddr = 0x2000;
const uint32_t kUnalignedSizeExtra = 36;  // makes 64 into the classic 100

struct Settings
{
    std::string output;
    char magic[4] = {'Q', 'Z', 'V', 'B'};
    uint16_t hw[kHwVersionCount] = {0x12FF, 0, 0, 0, 0, 0, 0, 0};
    uint8_t eraseMode = 0;
    uint16_t swVersion = 1;
    uint32_t loadAddr = kFirmwareAreaAddr;
    uint32_t size = kFullFirmwareSize;
    std::string payloadFile;
    uint32_t fillSeed = 1;
    bool identity = false;
    uint8_t identityBytes[kIdentitySize] = {};
    std::string tailFile;
    bool badChecksum = false;
    std::string fault;
};

const char kUsage[] =
    "Usage: corvo-mkfw [OPTION...] OUTPUT\n"
    "Writes a firmware image file for the simulated adapter.\n"
    "\n"
    "Image contents:\n"
    "  --magic=L              ring type letter after \"QZV\": B, O, N or X (default B)\n"
    "  --raw-magic=TEXT       the four magic bytes exactly as given (e.g. qzvb)\n"
    "  --hw=V[,V...]          up to eight hardware versions, hex (0x..) or decimal;\n"
    "                         missing entries are 0 (default 0x12FF)\n"
    "  --erase-mode=N         settings erase mode byte: 0 keep, 1 erase,\n"
    "                         2 erase and write on into the settings area (default 0)\n"
    "  --sw-version=N         software version (default 1)\n"
    "  --load-addr=N          load address (default 0x1000)\n"
    "  --size=N               generate N bytes of plain firmware (default 122880)\n"
    "  --fill=N               seed of the generated firmware bytes (default 1)\n"
    "  --payload=FILE         plain firmware bytes from FILE instead, padded with\n"
    "                         0xFF to a whole number of 64-byte blocks\n"
    "  --identity=FW,ROM,PRE0,PRE1,T\n"
    "                         firmware identity words at 0x1EFF0: 16-bit firmware\n"
    "                         version, ROM version, Pre0, Pre1 and the type letter T\n"
    "                         (the firmware must reach 0x1EFF6)\n"
    "  --tail=FILE            erase mode 2: the 4092 bytes written after the payload\n"
    "                         sum, which land in flash after the firmware\n"
    "                         (default 0xFF bytes)\n"
    "  --bad-checksum         a header firmware checksum the adapter will not match\n"
    "\n"
    "Broken images (--fault=KIND), named by what the updater sees:\n"
    "  magic-short    file ends inside the magic            (validator code -2)\n"
    "  magic          magic QZVb                            (-3)\n"
    "  sw-short       file ends inside the software version (-4)\n"
    "  load-addr      load address 0x2000                   (-5)\n"
    "  size-short     file ends inside the total size       (-6)\n"
    "  size-align     total size not a multiple of 64       (-7)\n"
    "  cksum-short    file ends inside the firmware checksum (-8)\n"
    "  hw-short       file ends inside the hardware versions (-1)\n"
    "  payload-short  payload one byte short                (-9)\n"
    "  sum-short      file ends just after the payload      (-10)\n"
    "  sum            payload sum off by one                (-11)\n"
    "  window         total size one block past what fits before the end of\n"
    "                 flash at 0x20000 (for the chosen erase mode)\n"
    "  mode2-short    erase mode 2 and the file ends one byte before the\n"
    "                 enlarged window is full\n"
    "\n"
    "  -h, --help             this text\n"
    "\n"
    "Prints one line: the magic, total size, erase mode, header firmware\n"
    "checksum and payload sum of the file written.\n";

bool parseNumber(const char* text, uint32_t max, uint32_t* value)
{
    errno = 0;
    char* end = nullptr;
    unsigned long v = strtoul(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || v > max)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

std::vector<std::string> splitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

bool readWholeFile(const std::string& path, Bytes* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        bytes->insert(bytes->end(), buf, buf + n);
    bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

void putU16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void putU32(Bytes& b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; i++)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int fail(const char* message, const std::string& detail = std::string())
{
    fprintf(stderr, "corvo-mkfw: %s%s\n", message, detail.c_str());
    return 2;
}

// Parses the command line into `s`; returns -1 to go on, else an exit status.
int parseArgs(int argc, char* argv[], Settings& s)
{
    enum
    {
        kOptMagic = 256,
        kOptRawMagic,
        kOptHw,
        kOptEraseMode,
        kOptSwVersion,
        kOptLoadAddr,
        kOptSize,
        kOptFill,
        kOptPayload,
        kOptIdentity,
        kOptTail,
        kOptBadChecksum,
        kOptFault,
    };
    static const struct option longOpts[] = {
        {"magic", required_argument, nullptr, kOptMagic},
        {"raw-magic", required_argument, nullptr, kOptRawMagic},
        {"hw", required_argument, nullptr, kOptHw},
        {"erase-mode", required_argument, nullptr, kOptEraseMode},
        {"sw-version", required_argument, nullptr, kOptSwVersion},
        {"load-addr", required_argument, nullptr, kOptLoadAddr},
        {"size", required_argument, nullptr, kOptSize},
        {"fill", required_argument, nullptr, kOptFill},
        {"payload", required_argument, nullptr, kOptPayload},
        {"identity", required_argument, nullptr, kOptIdentity},
        {"tail", required_argument, nullptr, kOptTail},
        {"bad-checksum", no_argument, nullptr, kOptBadChecksum},
        {"fault", required_argument, nullptr, kOptFault},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int rc;
    uint32_t v = 0;
    while ((rc = getopt_long(argc, argv, "h", longOpts, nullptr)) != -1)
    {
        switch (rc)
        {
        case 'h':
            fputs(kUsage, stdout);
            return 0;
        case kOptMagic:
            if (strlen(optarg) != 1 || strchr("BONX", optarg[0]) == nullptr)
                return fail("--magic takes one of B, O, N, X: ", optarg);
            s.magic[3] = optarg[0];
            break;
        case kOptRawMagic:
            if (strlen(optarg) != 4)
                return fail("--raw-magic takes exactly four characters: ", optarg);
            memcpy(s.magic, optarg, 4);
            break;
        case kOptHw:
        {
            std::vector<std::string> parts = splitCommas(optarg);
            if (parts.size() > static_cast<size_t>(kHwVersionCount))
                return fail("--hw takes at most eight versions: ", optarg);
            for (int i = 0; i < kHwVersionCount; i++)
                s.hw[i] = 0;
            for (size_t i = 0; i < parts.size(); i++)
            {
                if (!parseNumber(parts[i].c_str(), 0xFFFF, &v))
                    return fail("bad hardware version: ", parts[i]);
                s.hw[i] = static_cast<uint16_t>(v);
            }
            break;
        }
        case kOptEraseMode:
            if (!parseNumber(optarg, 0xFF, &v))
                return fail("bad erase mode: ", optarg);
            s.eraseMode = static_cast<uint8_t>(v);
            break;
        case kOptSwVersion:
            if (!parseNumber(optarg, 0xFFFF, &v))
                return fail("bad software version: ", optarg);
            s.swVersion = static_cast<uint16_t>(v);
            break;
        case kOptLoadAddr:
            if (!parseNumber(optarg, 0xFFFFFFFFu, &s.loadAddr))
                return fail("bad load address: ", optarg);
            break;
        case kOptSize:
            if (!parseNumber(optarg, kFlashEnd, &s.size))
                return fail("bad size: ", optarg);
            break;
        case kOptFill:
            if (!parseNumber(optarg, 0xFFFFFFFFu, &s.fillSeed))
                return fail("bad fill seed: ", optarg);
            break;
        case kOptPayload:
            s.payloadFile = optarg;
            break;
        case kOptIdentity:
        {
            std::vector<std::string> parts = splitCommas(optarg);
            if (parts.size() != 5 || parts[4].size() != 1)
                return fail("--identity takes FW,ROM,PRE0,PRE1,T: ", optarg);
            const uint32_t limits[4] = {0xFFFF, 0xFF, 0xFF, 0xFF};
            uint32_t values[4];
            for (int i = 0; i < 4; i++)
                if (!parseNumber(parts[i].c_str(), limits[i], &values[i]))
                    return fail("bad identity value: ", parts[i]);
            s.identity = true;
            s.identityBytes[0] = static_cast<uint8_t>(values[0]);
            s.identityBytes[1] = static_cast<uint8_t>(values[0] >> 8);
            s.identityBytes[2] = static_cast<uint8_t>(values[1]);
            s.identityBytes[3] = static_cast<uint8_t>(values[2]);
            s.identityBytes[4] = static_cast<uint8_t>(values[3]);
            s.identityBytes[5] = static_cast<uint8_t>(parts[4][0]);
            break;
        }
        case kOptTail:
            s.tailFile = optarg;
            break;
        case kOptBadChecksum:
            s.badChecksum = true;
            break;
        case kOptFault:
            s.fault = optarg;
            break;
        default:
            fputs("Try 'corvo-mkfw --help'\n", stderr);
            return 2;
        }
    }
    if (optind != argc - 1)
        return fail("give exactly one OUTPUT file; see --help");
    s.output = argv[optind];
    return -1;
}

// The plain firmware: what the adapter's flash holds after the transfer.
int makeFirmware(const Settings& s, Bytes* firmware)
{
    if (!s.payloadFile.empty())
    {
        if (!readWholeFile(s.payloadFile, firmware))
            return fail("cannot read payload file ", s.payloadFile);
        while (firmware->size() % kBlockSize != 0)
            firmware->push_back(0xFF);
    }
    else
    {
        if (s.size % kBlockSize != 0)
            return fail("--size must be a multiple of 64");
        firmware->resize(s.size);
        uint32_t state = s.fillSeed;
        for (uint8_t& b : *firmware)
        {
            state = state * 1103515245u + 12345u;
            b = static_cast<uint8_t>(state >> 16);
        }
    }
    if (s.identity)
    {
        if (firmware->size() < kIdentityOffset + kIdentitySize)
            return fail("--identity needs firmware reaching 0x1EFF6 (size 122870 or more)");
        memcpy(firmware->data() + kIdentityOffset, s.identityBytes, kIdentitySize);
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    Settings s;
    int rc = parseArgs(argc, argv, s);
    if (rc >= 0)
        return rc;

    const std::string& fault = s.fault;
    static const char* const kFaults[] = {
        "", "magic-short", "magic", "sw-short", "load-addr", "size-short", "size-align",
        "cksum-short", "hw-short", "payload-short", "sum-short", "sum", "window", "mode2-short"};
    bool known = false;
    for (const char* k : kFaults)
        known = known || fault == k;
    if (!known)
        return fail("unknown fault kind: ", fault);

    if (fault == "mode2-short")
        s.eraseMode = kEraseModeWriteThrough;
    const uint32_t extra = s.eraseMode == kEraseModeWriteThrough ? kSettingsAreaSize : 0;
    if (fault == "window")
    {
        s.payloadFile.clear();
        s.size = kFlashEnd - kFirmwareAreaAddr - extra + kBlockSize;
    }

    Bytes firmware;
    rc = makeFirmware(s, &firmware);
    if (rc >= 0)
        return rc;
    const uint32_t total = static_cast<uint32_t>(firmware.size());

    Bytes tail(kSettingsAreaSize - kPayloadSumSize, 0xFF);
    if (!s.tailFile.empty())
    {
        Bytes given;
        if (!readWholeFile(s.tailFile, &given))
            return fail("cannot read tail file ", s.tailFile);
        for (size_t i = 0; i < tail.size() && i < given.size(); i++)
            tail[i] = given[i];
    }

    Bytes file(kHeaderSize + total + kPayloadSumSize + (extra ? tail.size() : 0), 0);
    memcpy(file.data(), s.magic, 4);
    putU16(file, kSwVersionOffset, s.swVersion);
    putU32(file, kLoadAddrOffset, s.loadAddr);
    putU32(file, kTotalSizeOffset, total);
    file[kEraseModeOffset] = s.eraseMode;
    for (int i = 0; i < kHwVersionCount; i++)
        putU16(file, kHwVersionsOffset + 2 * i, s.hw[i]);

    // Walk the transfer window as the boot loader writes it: bytes landing in
    // the firmware area pass the cipher (restarted by "x#"), others are stored
    // as sent. The header checksum is that of the flash bytes.
    adapter::PayloadCipher cipher;
    uint32_t flashCrc = adapter::kChecksumInit;
    uint32_t payloadSum = 0;
    for (uint32_t i = 0; i < total; i++)
    {
        uint32_t addr = kFirmwareAreaAddr + i;
        uint8_t sent = addr < kFirmwareAreaEnd ? cipher.apply(firmware[i]) : firmware[i];
        file[kHeaderSize + i] = sent;
        payloadSum += sent;
        flashCrc = adapter::checksumUpdate(flashCrc, &firmware[i], 1);
    }
    putU32(file, kHeaderSize + total, payloadSum);
    if (extra)
    {
        memcpy(file.data() + kHeaderSize + total + kPayloadSumSize, tail.data(), tail.size());
        for (uint32_t i = 0; i < extra; i++)
        {
            uint32_t addr = kFirmwareAreaAddr + total + i;
            uint8_t sent = file[kHeaderSize + total + i];
            uint8_t stored = addr < kFirmwareAreaEnd ? cipher.apply(sent) : sent;
            flashCrc = adapter::checksumUpdate(flashCrc, &stored, 1);
        }
    }
    uint32_t plainChecksum = adapter::checksumFinal(flashCrc);
    if (s.badChecksum)
        plainChecksum ^= 1;
    putU32(file, kPlainChecksumOffset, plainChecksum);

    if (fault == "magic-short")
        file.resize(kCutInMagic);
    else if (fault == "magic")
        file[3] = 'b';
    else if (fault == "sw-short")
        file.resize(kCutInSwVersion);
    else if (fault == "load-addr")
        putU32(file, kLoadAddrOffset, kBadLoadAddr);
    else if (fault == "size-short")
        file.resize(kCutInTotalSize);
    else if (fault == "size-align")
        putU32(file, kTotalSizeOffset, total + kUnalignedSizeExtra);
    else if (fault == "cksum-short")
        file.resize(kCutInPlainChecksum);
    else if (fault == "hw-short")
        file.resize(kCutInHwVersions);
    else if (fault == "payload-short")
    {
        if (total == 0)
            return fail("payload-short needs a payload (--size of 64 or more)");
        file.resize(kHeaderSize + total - 1);
    }
    else if (fault == "sum-short")
        file.resize(kHeaderSize + total);
    else if (fault == "sum")
        putU32(file, kHeaderSize + total, payloadSum + 1);
    else if (fault == "mode2-short")
        file.resize(file.size() - 1);

    if (!atomic_write_file(s.output.c_str(), file.data(), file.size()))
        return fail("cannot write ", s.output);
    std::string shownMagic = file.size() >= 4 ? std::string(file.begin(), file.begin() + 4) : "----";
    printf("%s: magic %s, total size %u, erase mode %u, firmware checksum 0x%08X, "
           "payload sum 0x%08X, %zu bytes\n",
           s.output.c_str(), shownMagic.c_str(), total, s.eraseMode,
           plainChecksum, payloadSum, file.size());
    return 0;
}
