// A serial port of a Linux machine (a ttyACM/ttyUSB link, an on-board UART or
// a pseudo-terminal) driven through termios, with the same results as the
// Windows COM port: raw 8-bit framing, an exclusive open, and reads that
// gather bytes until one wait period passes with nothing new.
#ifndef CORVO_POSIXSERIALPORT_H
#define CORVO_POSIXSERIALPORT_H

#include <string>

#include "SerialPort.h"

class PosixSerialPort : public SerialPort
{
public:
    // A `name` without '/' is a device under `devDir` (ttyACM0 -> /dev/ttyACM0);
    // one with '/' is used as a path. No device is touched here.
    PosixSerialPort(const std::string& name, bool isUsb, const std::string& devDir = "/dev");
    ~PosixSerialPort() override;

    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Refuses StopBitOneFive: termios has no 1.5 stop bits, and a silently
    // different framing would be worse than a clear failure.
    bool open(int baud = 115200, int data = 8, Parity parity = ParityNone,
              StopBit stop = StopBitOne) override;
    void close() override;
    bool isUsb() override { return _isUsb; }
    // A peer that hangs up fails the read with -1 at once, dropping any bytes
    // gathered by that call, as a failing ReadFile does on Windows.
    int read(uint8_t* data, int size) override;
    int write(const uint8_t* data, int size) override;
    int get() override;
    int put(int c) override;
    // A negative period counts as 0 (poll once, never wait forever).
    bool timeout(int millisecs) override;
    void flush() override;

    // The path `open` uses.
    const std::string& path() const { return _path; }

private:
    void release();

    std::string _path;
    int _fd;
    bool _isUsb;
    bool _exclusiveSet; // TIOCEXCL is ours to clear on close
    int _timeoutMs;
};

#endif
