// Windows COM port: CreateFileA on the "\\.\" device path, 8-bit framing set
// through the DCB, and reads bounded by COMMTIMEOUTS.
#include "WinSerialPort.h"

#include <windows.h>

#include <climits>

namespace
{
const char kDevicePathPrefix[] = "\\\\.\\";
// Until the caller sets its own, reads may wait "forever".
const int kOpenReadTimeoutMs = INT_MAX;
const DWORD kFlushPauseMs = 1;
const unsigned kByteMask = 0xFF;
static_assert(sizeof(DCB) == 28, "DCBlength must be the 28-byte record GetCommState expects");

HANDLE handle_of(void* h)
{
    return static_cast<HANDLE>(h);
}
}  // namespace

WinSerialPort::WinSerialPort(const std::string& name, bool isUsb)
    : SerialPort(name), _handle(INVALID_HANDLE_VALUE), _isUsb(isUsb)
{
}

WinSerialPort::~WinSerialPort()
{
    close();
}

bool WinSerialPort::open(int baud, int data, Parity parity, StopBit stop)
{
    if (_handle != INVALID_HANDLE_VALUE)
        return false;

    // The prefix reaches ports above COM9, which the bare name does not.
    std::string path = kDevicePathPrefix + _name;
    // Share mode 0: a port another program holds cannot be opened.
    _handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (_handle == INVALID_HANDLE_VALUE)
        return false;

    // Only the framing changes: flow control, DTR/RTS and the special
    // characters stay as the driver has them.
    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    bool ok = GetCommState(handle_of(_handle), &dcb) != 0;
    if (ok)
    {
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = static_cast<BYTE>(data);
        switch (parity)
        {
        case ParityNone: dcb.Parity = NOPARITY; break;
        case ParityOdd: dcb.Parity = ODDPARITY; break;
        case ParityEven: dcb.Parity = EVENPARITY; break;
        default: ok = false; break;
        }
        switch (stop)
        {
        case StopBitOne: dcb.StopBits = ONESTOPBIT; break;
        case StopBitOneFive: dcb.StopBits = ONE5STOPBITS; break;
        case StopBitTwo: dcb.StopBits = TWOSTOPBITS; break;
        default: ok = false; break;
        }
    }
    if (ok)
        ok = SetCommState(handle_of(_handle), &dcb) != 0;
    if (!ok)
    {
        CloseHandle(handle_of(_handle));
        _handle = INVALID_HANDLE_VALUE;
        return false;
    }

    timeout(kOpenReadTimeoutMs);
    return true;
}

void WinSerialPort::close()
{
    if (_handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle_of(_handle));
    _handle = INVALID_HANDLE_VALUE;
}

bool WinSerialPort::isUsb()
{
    return _isUsb;
}

bool WinSerialPort::timeout(int millisecs)
{
    if (_handle == INVALID_HANDLE_VALUE)
        return false;

    // Interval MAXDWORD with multiplier 0: a ReadFile returns as soon as the
    // asked count is met, else after the constant with what has arrived.
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(millisecs);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = MAXDWORD;
    return SetCommTimeouts(handle_of(_handle), &timeouts) != 0;
}

int WinSerialPort::read(uint8_t* data, int size)
{
    if (_handle == INVALID_HANDLE_VALUE)
        return -1;

    // A partial answer earns a new wait period; an empty one ends the read.
    int total = 0;
    while (size > 0)
    {
        DWORD got = 0;
        if (!ReadFile(handle_of(_handle), data, static_cast<DWORD>(size), &got, nullptr))
            return -1;
        if (got == 0)
            break;
        data += got;
        size -= static_cast<int>(got);
        total += static_cast<int>(got);
    }
    return total;
}

int WinSerialPort::get()
{
    if (_handle == INVALID_HANDLE_VALUE)
        return -1;

    uint8_t byte = 0;
    DWORD got = 0;
    if (!ReadFile(handle_of(_handle), &byte, 1, &got, nullptr) || got != 1)
        return -1;
    return byte;
}

int WinSerialPort::write(const uint8_t* data, int size)
{
    if (_handle == INVALID_HANDLE_VALUE || size < 0)
        return -1;

    DWORD written = 0;
    if (!WriteFile(handle_of(_handle), data, static_cast<DWORD>(size), &written, nullptr))
        return -1;
    return static_cast<int>(written);
}

int WinSerialPort::put(int c)
{
    if (_handle == INVALID_HANDLE_VALUE)
        return -1;

    uint8_t byte = static_cast<uint8_t>(static_cast<unsigned>(c) & kByteMask);
    DWORD written = 0;
    if (!WriteFile(handle_of(_handle), &byte, 1, &written, nullptr) || written != 1)
        return -1;
    return byte;
}

void WinSerialPort::flush()
{
    Sleep(kFlushPauseMs);
}
