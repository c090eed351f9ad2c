// The SAM-BA monitor client: connection and identification of the adapter's
// boot loader, the text command framing, memory access (raw on the USB link,
// XMODEM-CRC on a plain serial link) and the boot loader's extension commands.
#include "SambaVexor.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace
{

// Link speeds, bits per second.
const int kUsbBaud = 921600;
const int kDataBits = 8;

// Read time-outs of the exchanges.
const int kConnectTimeoutMs = 100;
const int kVersionTimeoutMs = 100;
const int kWriteBufferFirstStepTimeoutMs = 100;
const int kLongReplyTimeoutMs = 5000; // erase, buffered write, checksum, "x#"
const int kDefaultTimeoutMs = 1000;

// Pauses: let a freshly opened link settle; let the processor restart.
const int kInitSettlePauseMs = 500;
const int kResetPauseMs = 100;

const int kDrainSize = 1024;
const int kVersionMaxSize = 255;
const int kAutoBaudTailSize = 3;
const uint8_t kAutoBaudByte = 0x80;
const uint8_t kAutoBaudEnd = '#';

const int kCommandBufferSize = 64;
const int kShortReplySize = 3;
const int kChecksumReplySize = 9;

// Identity: the adapter's processor and the registers that reveal it.
const uint32_t kAdapterChipId = 0x1001030B;
const uint32_t kResetVectorAddr = 0x00000000;
const uint32_t kArmBranchTopByte = 0xEA;
const uint32_t kArm7ChipIdAddr = 0xFFFFF240;
const uint32_t kCpuidAddr = 0xE000ED00;
const uint16_t kCpuidPartNoMask = 0xFFF0;
const uint16_t kCortexM0PlusPartNo = 0xC600;
const uint32_t kM0PlusDeviceIdAddr = 0x41002018;
const uint32_t kM0PlusDieRevisionMask = 0x0000F000; // bits 12-15 vary with the die
const uint32_t kChipIdAddr = 0x400E0740;
const uint32_t kChipIdAltAddr = 0x400E0940;
const uint32_t kAircrAddr = 0xE000ED0C;
const uint32_t kAircrResetRequest = 0x05FA0004; // write key + SYSRESETREQ

const uint32_t kEepromStartAddr = 0x1F000;

// XMODEM-CRC.
const uint8_t kSoh = 0x01;
const uint8_t kEot = 0x04;
const uint8_t kAck = 0x06;
const uint8_t kNak = 0x15;
const uint8_t kCrcRequest = 'C';
const int kXmodemDataSize = 128;
const int kXmodemHeaderSize = 3;
const int kXmodemBlockSize = kXmodemHeaderSize + kXmodemDataSize + 2;
const int kXmodemTries = 5;

const int kUsbFirstByteSplitAbove = 32;

// CRC-16/XMODEM (polynomial 0x1021, MSB first, initial value 0): entry i is
// i shifted through eight steps of the polynomial from the high byte.
const uint16_t crc16Table[256] = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
    0x1231, 0x0210, 0x3273, 0x2252, 0x52B5, 0x4294, 0x72F7, 0x62D6,
    0x9339, 0x8318, 0xB37B, 0xA35A, 0xD3BD, 0xC39C, 0xF3FF, 0xE3DE,
    0x2462, 0x3443, 0x0420, 0x1401, 0x64E6, 0x74C7, 0x44A4, 0x5485,
    0xA56A, 0xB54B, 0x8528, 0x9509, 0xE5EE, 0xF5CF, 0xC5AC, 0xD58D,
    0x3653, 0x2672, 0x1611, 0x0630, 0x76D7, 0x66F6, 0x5695, 0x46B4,
    0xB75B, 0xA77A, 0x9719, 0x8738, 0xF7DF, 0xE7FE, 0xD79D, 0xC7BC,
    0x48C4, 0x58E5, 0x6886, 0x78A7, 0x0840, 0x1861, 0x2802, 0x3823,
    0xC9CC, 0xD9ED, 0xE98E, 0xF9AF, 0x8948, 0x9969, 0xA90A, 0xB92B,
    0x5AF5, 0x4AD4, 0x7AB7, 0x6A96, 0x1A71, 0x0A50, 0x3A33, 0x2A12,
    0xDBFD, 0xCBDC, 0xFBBF, 0xEB9E, 0x9B79, 0x8B58, 0xBB3B, 0xAB1A,
    0x6CA6, 0x7C87, 0x4CE4, 0x5CC5, 0x2C22, 0x3C03, 0x0C60, 0x1C41,
    0xEDAE, 0xFD8F, 0xCDEC, 0xDDCD, 0xAD2A, 0xBD0B, 0x8D68, 0x9D49,
    0x7E97, 0x6EB6, 0x5ED5, 0x4EF4, 0x3E13, 0x2E32, 0x1E51, 0x0E70,
    0xFF9F, 0xEFBE, 0xDFDD, 0xCFFC, 0xBF1B, 0xAF3A, 0x9F59, 0x8F78,
    0x9188, 0x81A9, 0xB1CA, 0xA1EB, 0xD10C, 0xC12D, 0xF14E, 0xE16F,
    0x1080, 0x00A1, 0x30C2, 0x20E3, 0x5004, 0x4025, 0x7046, 0x6067,
    0x83B9, 0x9398, 0xA3FB, 0xB3DA, 0xC33D, 0xD31C, 0xE37F, 0xF35E,
    0x02B1, 0x1290, 0x22F3, 0x32D2, 0x4235, 0x5214, 0x6277, 0x7256,
    0xB5EA, 0xA5CB, 0x95A8, 0x8589, 0xF56E, 0xE54F, 0xD52C, 0xC50D,
    0x34E2, 0x24C3, 0x14A0, 0x0481, 0x7466, 0x6447, 0x5424, 0x4405,
    0xA7DB, 0xB7FA, 0x8799, 0x97B8, 0xE75F, 0xF77E, 0xC71D, 0xD73C,
    0x26D3, 0x36F2, 0x0691, 0x16B0, 0x6657, 0x7676, 0x4615, 0x5634,
    0xD94C, 0xC96D, 0xF90E, 0xE92F, 0x99C8, 0x89E9, 0xB98A, 0xA9AB,
    0x5844, 0x4865, 0x7806, 0x6827, 0x18C0, 0x08E1, 0x3882, 0x28A3,
    0xCB7D, 0xDB5C, 0xEB3F, 0xFB1E, 0x8BF9, 0x9BD8, 0xABBB, 0xBB9A,
    0x4A75, 0x5A54, 0x6A37, 0x7A16, 0x0AF1, 0x1AD0, 0x2AB3, 0x3A92,
    0xFD2E, 0xED0F, 0xDD6C, 0xCD4D, 0xBDAA, 0xAD8B, 0x9DE8, 0x8DC9,
    0x7C26, 0x6C07, 0x5C64, 0x4C45, 0x3CA2, 0x2C83, 0x1CE0, 0x0CC1,
    0xEF1F, 0xFF3E, 0xCF5D, 0xDF7C, 0xAF9B, 0xBFBA, 0x8FD9, 0x9FF8,
    0x6E17, 0x7E36, 0x4E55, 0x5E74, 0x2E93, 0x3EB2, 0x0ED1, 0x1EF0,
};

Samba::PauseFunction& pauseFunction()
{
    static Samba::PauseFunction fn;
    return fn;
}

bool isPrintable(uint8_t c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

Samba::Samba()
    : _extChipEraseAvailable(false), _extWriteBufferAvailable(false),
      _extChecksumBufferAvailable(false), _debug(false), _isUsb(false)
{
}

Samba::~Samba() {}

void Samba::setPauseFunctionForTests(PauseFunction pause)
{
    pauseFunction() = std::move(pause);
}

void Samba::pause(int millisecs)
{
    if (pauseFunction())
        pauseFunction()(millisecs);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(millisecs));
}

SerialPort& Samba::port() const
{
    if (!_port)
        throw SambaError();
    return *_port;
}

const SerialPort& Samba::getSerialPort() const
{
    return port();
}

void Samba::setDebug(bool debug)
{
    _debug = debug;
}

bool Samba::connect(SerialPort::Ptr port, int bps)
{
    _port = std::move(port);
    if (!_port)
        return false;
    _isUsb = _port->isUsb();

    if (_isUsb)
    {
        if (_port->open(kUsbBaud, kDataBits, SerialPort::ParityNone, SerialPort::StopBitOne) &&
            init())
        {
            if (_debug)
                printf("Connected at %d baud\n", kUsbBaud);
            return true;
        }
        _port->close();
    }

    _isUsb = false;
    if (_port->open(bps, kDataBits, SerialPort::ParityNone, SerialPort::StopBitOne) && init())
    {
        if (_debug)
            printf("Connected at %d baud\n", bps);
        return true;
    }

    _port->close();
    _port.reset();
    return false;
}

void Samba::disconnect()
{
    if (_port)
        _port->close();
    _port.reset();
}

bool Samba::init()
{
    uint8_t scratch[kDrainSize];

    _port->timeout(kConnectTimeoutMs);
    pause(kInitSettlePauseMs);
    _port->read(scratch, sizeof(scratch));

    if (!_isUsb)
    {
        if (_debug)
            printf("Send auto-baud\n");
        _port->put(kAutoBaudByte);
        _port->get();
        _port->put(kAutoBaudByte);
        _port->get();
        _port->put(kAutoBaudEnd);
        _port->read(scratch, kAutoBaudTailSize);
    }

    uint32_t cid;
    try
    {
        cid = chipId();
    }
    catch (const SambaError&)
    {
        return false;
    }

    // A silent version query is not caught: the caller learns that the link
    // answered the identity reads and then fell silent.
    std::string ver = version();
    if (ver.find("QZV") == std::string::npos)
        return false;
    _extChipEraseAvailable = true;
    _extWriteBufferAvailable = true;
    _extChecksumBufferAvailable = true;
    _port->timeout(kDefaultTimeoutMs);

    if (_debug)
        printf("chipId=%#08x\n", cid);
    if (cid != kAdapterChipId)
    {
        if (_debug)
            printf("Unsupported processor\n");
        return false;
    }
    return true;
}

void Samba::sendCommand(const char* text, int length)
{
    if (port().write(reinterpret_cast<const uint8_t*>(text), length) != length)
        throw SambaError();
}

void Samba::afterUnansweredCommand()
{
    if (_isUsb)
        _port->flush();
}

int Samba::readReply(uint8_t* reply, int size, int timeoutMs)
{
    _port->timeout(timeoutMs);
    int n = _port->read(reply, size);
    _port->timeout(kDefaultTimeoutMs);
    return n;
}

void Samba::writeByte(uint32_t addr, uint8_t value)
{
    char cmd[kCommandBufferSize];
    if (_debug)
        printf("%s(addr=%#x,value=%#x)\n", "writeByte", addr, value);
    int len = snprintf(cmd, sizeof(cmd), "O%08X,%02X#", addr, value);
    sendCommand(cmd, len);
    afterUnansweredCommand();
}

uint8_t Samba::readByte(uint32_t addr)
{
    char cmd[kCommandBufferSize];
    int len = snprintf(cmd, sizeof(cmd), "o%08X,4#", addr);
    sendCommand(cmd, len);
    uint8_t value;
    if (_port->read(&value, 1) != 1)
        throw SambaError();
    if (_debug)
        printf("%s(addr=%#x)=%#x\n", "readByte", addr, value);
    return value;
}

void Samba::writeWord(uint32_t addr, uint32_t value)
{
    char cmd[kCommandBufferSize];
    if (_debug)
        printf("%s(addr=%#x,value=%#x)\n", "writeWord", addr, value);
    int len = snprintf(cmd, sizeof(cmd), "W%08X,%08X#", addr, value);
    sendCommand(cmd, len);
    afterUnansweredCommand();
}

uint32_t Samba::readWord(uint32_t addr)
{
    char cmd[kCommandBufferSize];
    int len = snprintf(cmd, sizeof(cmd), "w%08X,4#", addr);
    sendCommand(cmd, len);
    uint8_t b[4];
    if (_port->read(b, sizeof(b)) != static_cast<int>(sizeof(b)))
        throw SambaError();
    uint32_t value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                     static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    if (_debug)
        printf("%s(addr=%#x)=%#x\n", "readWord", addr, value);
    return value;
}

void Samba::go(uint32_t addr)
{
    char cmd[kCommandBufferSize];
    if (_debug)
        printf("%s(addr=%#x)\n", "go", addr);
    int len = snprintf(cmd, sizeof(cmd), "G%08X#", addr);
    sendCommand(cmd, len);
    afterUnansweredCommand();
}

std::string Samba::version()
{
    sendCommand("V#", 2);
    uint8_t reply[kVersionMaxSize];
    int n = readReply(reply, sizeof(reply), kVersionTimeoutMs);
    if (n <= 0)
        throw SambaError();
    int end = 0;
    while (end < n && isPrintable(reply[end]))
        end++;
    std::string text(reinterpret_cast<const char*>(reply), end);
    if (_debug)
        printf("%s()=%s\n", "version", text.c_str());
    return text;
}

uint32_t Samba::chipId()
{
    uint32_t vector = readWord(kResetVectorAddr);
    if ((vector >> 24) == kArmBranchTopByte)
        return readWord(kArm7ChipIdAddr);

    uint32_t cpuid_reg = readWord(kCpuidAddr);
    uint16_t part_no = static_cast<uint16_t>(cpuid_reg & kCpuidPartNoMask);
    if (part_no == kCortexM0PlusPartNo)
        return readWord(kM0PlusDeviceIdAddr) & ~kM0PlusDieRevisionMask;

    uint32_t cid = readWord(kChipIdAddr);
    if (cid != 0)
        return cid;
    return readWord(kChipIdAltAddr);
}

void Samba::reset()
{
    printf("CPU reset.\n");
    if (chipId() != kAdapterChipId)
    {
        printf("Reset not supported for this CPU.\n");
        return;
    }
    writeWord(kAircrAddr, kAircrResetRequest);
    pause(kResetPauseMs);
}

void Samba::write(uint32_t addr, const uint8_t* buffer, int size)
{
    char cmd[kCommandBufferSize];
    if (_debug)
        printf("%s(addr=%#x,size=%#x)\n", "write", addr, static_cast<unsigned>(size));
    int len = snprintf(cmd, sizeof(cmd), "S%08X,%08X#", addr, static_cast<unsigned>(size));
    sendCommand(cmd, len);
    if (_isUsb)
    {
        _port->flush();
        writeBinary(buffer, size);
    }
    else
    {
        writeXmodem(buffer, size);
    }
}

void Samba::read(uint32_t addr, uint8_t* buffer, int size)
{
    char cmd[kCommandBufferSize];
    if (_debug)
        printf("%s(addr=%#x,size=%#x)\n", "read", addr, static_cast<unsigned>(size));
    // The USB monitor mishandles a raw read of a power-of-two size above 32;
    // fetching the first byte apart keeps the bulk read off those sizes.
    if (_isUsb && size > kUsbFirstByteSplitAbove && isPowerOfTwo(size))
    {
        buffer[0] = readByte(addr);
        addr++;
        buffer++;
        size--;
    }
    int len = snprintf(cmd, sizeof(cmd), "R%08X,%08X#", addr, static_cast<unsigned>(size));
    sendCommand(cmd, len);
    if (_isUsb)
        readBinary(buffer, size);
    else
        readXmodem(buffer, size);
}

void Samba::writeBinary(const uint8_t* buffer, int size)
{
    while (size > 0)
    {
        int n = _port->write(buffer, size);
        if (n <= 0)
            throw SambaError();
        buffer += n;
        size -= n;
    }
}

void Samba::readBinary(uint8_t* buffer, int size)
{
    if (_port->read(buffer, size) != size)
        throw SambaError();
}

void Samba::writeXmodem(const uint8_t* buffer, int size)
{
    int tries;
    for (tries = 0; tries < kXmodemTries; tries++)
    {
        if (_port->get() == kCrcRequest)
            break;
    }
    if (tries == kXmodemTries)
        throw SambaError();

    uint8_t blk[kXmodemBlockSize];
    uint8_t blockNum = 1;
    while (size > 0)
    {
        int chunk = size < kXmodemDataSize ? size : kXmodemDataSize;
        blk[0] = kSoh;
        blk[1] = blockNum;
        blk[2] = static_cast<uint8_t>(0xFF - blockNum);
        memcpy(blk + kXmodemHeaderSize, buffer, chunk);
        memset(blk + kXmodemHeaderSize + chunk, 0, kXmodemDataSize - chunk);
        crc16Add(blk);

        for (tries = 0; tries < kXmodemTries; tries++)
        {
            if (_port->write(blk, kXmodemBlockSize) != kXmodemBlockSize)
                throw SambaError();
            if (_port->get() == kAck)
                break;
        }
        if (tries == kXmodemTries)
            throw SambaError();

        buffer += chunk;
        size -= chunk;
        blockNum++;
    }

    for (tries = 0; tries < kXmodemTries; tries++)
    {
        _port->put(kEot);
        if (_port->get() == kAck)
            return;
    }
    throw SambaError();
}

void Samba::readXmodem(uint8_t* buffer, int size)
{
    uint8_t blk[kXmodemBlockSize];
    uint8_t blockNum = 1;
    bool first = true;
    while (size > 0)
    {
        int tries;
        for (tries = 0; tries < kXmodemTries; tries++)
        {
            if (first)
                _port->put(kCrcRequest);
            // The complement byte is not examined: number and CRC decide.
            if (_port->read(blk, kXmodemBlockSize) == kXmodemBlockSize && blk[0] == kSoh &&
                blk[1] == blockNum && crc16Check(blk))
                break;
            if (!first)
                _port->put(kNak);
        }
        if (tries == kXmodemTries)
            throw SambaError();

        _port->put(kAck);
        int chunk = size < kXmodemDataSize ? size : kXmodemDataSize;
        memcpy(buffer, blk + kXmodemHeaderSize, chunk);
        buffer += chunk;
        size -= chunk;
        blockNum++;
        first = false;
    }

    for (int tries = 0; tries < kXmodemTries; tries++)
    {
        if (_port->get() == kEot)
        {
            _port->put(kAck);
            return;
        }
        _port->put(kNak);
    }
    throw SambaError();
}

uint16_t Samba::crc16AddByte(uint8_t data, uint16_t crc16)
{
    return static_cast<uint16_t>((crc16 << 8) ^ crc16Table[((crc16 >> 8) ^ data) & 0xFF]);
}

uint16_t Samba::crc16Calc(const uint8_t* data, int len)
{
    uint16_t crc = 0;
    for (int i = 0; i < len; i++)
        crc = crc16AddByte(data[i], crc);
    return crc;
}

bool Samba::crc16Check(const uint8_t* blk)
{
    uint16_t crc = crc16Calc(blk + kXmodemHeaderSize, kXmodemDataSize);
    const uint8_t* tail = blk + kXmodemHeaderSize + kXmodemDataSize;
    return crc == ((tail[0] << 8) | tail[1]);
}

void Samba::crc16Add(uint8_t* blk)
{
    uint16_t crc = crc16Calc(blk + kXmodemHeaderSize, kXmodemDataSize);
    uint8_t* tail = blk + kXmodemHeaderSize + kXmodemDataSize;
    tail[0] = static_cast<uint8_t>(crc >> 8);
    tail[1] = static_cast<uint8_t>(crc & 0xFF);
}

bool Samba::chipErase(uint32_t start_addr, uint8_t clearEEPROMtoo)
{
    if (!_extChipEraseAvailable)
        return false;
    if (_debug)
        printf("%s(addr=%#x)\n", "chipErase", start_addr);
    char cmd[kCommandBufferSize];
    int len = snprintf(cmd, sizeof(cmd), "X%08X,%d#", start_addr, clearEEPROMtoo ? 0 : 1);
    sendCommand(cmd, len);
    // A fresh buffer: silence must not pass for the echo of our own command.
    uint8_t reply[kShortReplySize] = {};
    if (readReply(reply, sizeof(reply), kLongReplyTimeoutMs) <= 0 || reply[0] != 'X')
        throw SambaError();
    return true;
}

bool Samba::writeBuffer(uint32_t src_addr, uint32_t dst_addr, uint32_t size)
{
    if (!_extWriteBufferAvailable)
        return false;
    if (_debug)
        printf("%s(scr_addr=%#x, dst_addr=%#x, size=%#x)\n", "writeBuffer", src_addr, dst_addr,
               size);
    char cmd[kCommandBufferSize];
    int len = snprintf(cmd, sizeof(cmd), "Y%08X,0#", src_addr);
    sendCommand(cmd, len);
    uint8_t reply[kShortReplySize] = {};
    if (readReply(reply, sizeof(reply), kWriteBufferFirstStepTimeoutMs) <= 0 || reply[0] != 'Y')
        throw SambaError();

    len = snprintf(cmd, sizeof(cmd), "Y%08X,%08X#", dst_addr, size);
    sendCommand(cmd, len);
    memset(reply, 0, sizeof(reply));
    if (readReply(reply, sizeof(reply), kLongReplyTimeoutMs) <= 0 || reply[0] != 'Y')
        throw SambaError();
    return true;
}

uint32_t Samba::checksumBuffer(uint32_t start_addr, uint32_t size)
{
    if (!_extChecksumBufferAvailable)
        throw SambaError();
    if (_debug)
        printf("%s(start_addr=%#x, size=%#x) = ", "checksumBuffer", start_addr, size);
    char cmd[kCommandBufferSize];
    int len = snprintf(cmd, sizeof(cmd), "Z%08X,%08X#", start_addr, size);
    sendCommand(cmd, len);
    // Zeroed and one byte longer than the reply, so a short reply ends where
    // it ends and is never read on into stale text.
    char reply[kChecksumReplySize + 1] = {};
    int n = readReply(reinterpret_cast<uint8_t*>(reply), kChecksumReplySize, kLongReplyTimeoutMs);
    if (n <= 0 || reply[0] != 'Z')
        throw SambaError();
    unsigned int value;
    if (sscanf(reply + 1, "%x", &value) != 1)
        throw SambaError();
    if (_debug)
        printf("%x\n", value);
    return value;
}

bool Samba::eepromDump(uint32_t ee_size, uint8_t* ee_buf)
{
    for (uint32_t offset = 0; offset < ee_size; offset += 4)
    {
        uint32_t word = readWord(kEepromStartAddr + offset);
        for (uint32_t i = 0; i < 4 && offset + i < ee_size; i++)
            ee_buf[offset + i] = static_cast<uint8_t>(word >> (8 * i));
    }
    return true;
}

bool Samba::initD()
{
    if (_debug)
        printf("%s()\n", "initD");
    sendCommand("x#", 2);
    uint8_t reply[kShortReplySize] = {};
    if (readReply(reply, sizeof(reply), kLongReplyTimeoutMs) <= 0 || reply[0] != 'x')
        throw SambaError();
    return true;
}
