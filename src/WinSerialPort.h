// A Windows COM port behind the SerialPort interface: synchronous reads and
// writes through the communications API, with the read time-out set by the
// caller. The header stays free of <windows.h> so that code including it
// (through the port factory) does not depend on the platform.
#ifndef CORVO_WINSERIALPORT_H
#define CORVO_WINSERIALPORT_H

#include <string>

#include "SerialPort.h"

class WinSerialPort : public SerialPort
{
public:
    WinSerialPort(const std::string& name, bool isUsb);
    ~WinSerialPort() override;

    bool open(int baud = 115200, int data = 8, Parity parity = ParityNone,
              StopBit stop = StopBitOne) override;
    void close() override;
    bool isUsb() override;
    int read(uint8_t* data, int size) override;
    int write(const uint8_t* data, int size) override;
    int get() override;
    int put(int c) override;
    bool timeout(int millisecs) override;
    void flush() override;

private:
    // A Windows HANDLE; INVALID_HANDLE_VALUE while the port is closed.
    void* _handle;
    bool _isUsb;
};

#endif
