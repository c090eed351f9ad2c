// The fuzzer's end of the link (see FuzzPort.h for the input format).
#include "FuzzPort.h"

namespace
{

const uint8_t kDeliverAll = 0xFD;
const uint8_t kPortError = 0xFE;
const uint8_t kRefuseFrom = 0xF0;
const int kFlushPauseMs = 1;

// The only read time-outs the client may use: connecting and the version
// (100 ms), the default (1000 ms), erase, buffered write, checksum, "x#" (5 s).
bool known_timeout(int ms)
{
    return ms == 100 || ms == 1000 || ms == 5000;
}

}  // namespace

FuzzPort::FuzzPort(FuzzLink& link, bool usb) : SerialPort("FUZZ"), _link(link), _usb(usb) {}

bool FuzzPort::open(int baud, int data, Parity parity, StopBit stop)
{
    FUZZ_CHECK(!_open);
    FUZZ_CHECK(data == 8 && parity == ParityNone && stop == StopBitOne);
    _open = _link.in.u8() < kRefuseFrom;
    if (_open)
        _link.baud = baud;
    return _open;
}

void FuzzPort::close()
{
    _open = false;
}

int FuzzPort::read(uint8_t* data, int size)
{
    FUZZ_CHECK(size >= 0);
    if (!_open)
        return -1;
    FUZZ_CHECK(known_timeout(_link.timeoutMs));
    if (size == 0)
        return 0;
    uint8_t count = _link.in.u8();
    if (count == kPortError)
        return -1;
    int n = count == kDeliverAll || count > size ? size : count;
    // Only n bytes are written: a client that looks past what arrived reads
    // bytes the sanitizers and its own checks must cope with.
    _link.in.bytes(data, static_cast<size_t>(n));
    if (n < size)
        _link.clockMs += _link.timeoutMs;
    return n;
}

int FuzzPort::write(const uint8_t* data, int size)
{
    FUZZ_CHECK(size >= 0 && (size == 0 || data != nullptr));
    if (!_open)
        return -1;
    // Every byte handed over must be initialised; touching them shows it.
    volatile uint8_t sink = 0;
    for (int i = 0; i < size; i++)
        sink = static_cast<uint8_t>(sink ^ data[i]);
    if (_link.in.u8() < kRefuseFrom)
        return size;
    int reported = _link.in.u8() % (size + 2) - 1;  // -1 .. size
    return reported;
}

int FuzzPort::get()
{
    uint8_t c;
    return read(&c, 1) == 1 ? c : -1;
}

int FuzzPort::put(int c)
{
    if (!_open)
        return -1;
    return c & 0xFF;
}

bool FuzzPort::timeout(int millisecs)
{
    FUZZ_CHECK(known_timeout(millisecs));
    _link.timeoutMs = millisecs;
    return _open;
}

void FuzzPort::flush()
{
    _link.clockMs += kFlushPauseMs;
}
