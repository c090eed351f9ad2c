// The byte-stream port every exchange with the adapter goes through. The
// monitor client is written against this interface only; each platform
// supplies its own port behind it, and tests supply scripted ones.
#ifndef CORVO_SERIALPORT_H
#define CORVO_SERIALPORT_H

#include <cstdint>
#include <memory>
#include <string>

class SerialPort
{
public:
    enum Parity
    {
        ParityNone = 0,
        ParityOdd = 1,
        ParityEven = 2,
    };

    enum StopBit
    {
        StopBitOne = 0,
        StopBitOneFive = 1,
        StopBitTwo = 2,
    };

    // Why the last `open` failed, kept by the port for the driver's hints
    // (the transport itself prints nothing).
    enum OpenFailure
    {
        OpenOk = 0,
        OpenNotFound,          // no such device: no hint
        OpenPermissionDenied,  // the user may not open it
        OpenBusy,              // held by another program
        OpenOtherError,
    };

    // Single owner: handing a Ptr over moves the port and leaves the old one empty.
    typedef std::unique_ptr<SerialPort> Ptr;

    explicit SerialPort(const std::string& name) : _name(name) {}
    virtual ~SerialPort() {}

    // True when the port is open and configured. Fails on an open port, on a
    // parity or stop-bit value outside the enumerations, and on a device that
    // is missing or held by another program; the port is then left closed.
    virtual bool open(int baud = 115200, int data = 8, Parity parity = ParityNone,
                      StopBit stop = StopBitOne) = 0;
    // Closing a closed port does nothing.
    virtual void close() = 0;
    // True when the port is the adapter's USB link.
    virtual bool isUsb() = 0;
    // Gathers up to `size` bytes. Returns when all arrived, or when one wait
    // period of `timeout` passes with no new byte: if the count returned is
    // less than `size`, the time-out was reached. -1 on a port error or a
    // closed port; 0 for a `size` of 0 or less.
    virtual int read(uint8_t* data, int size) = 0;
    // Bytes written, or -1. No retry of a partial write: the caller compares.
    virtual int write(const uint8_t* data, int size) = 0;
    // One byte as 0..255, or -1 when none arrives within the time-out.
    virtual int get() = 0;
    // Sends the low 8 bits of `c`; returns that byte as 0..255, or -1.
    virtual int put(int c) = 0;
    // Sets how long later `read` and `get` wait, in milliseconds. False on a
    // closed port.
    virtual bool timeout(int millisecs) = 0;
    // A 1 ms pause after commands that get no answer; sends and discards nothing.
    virtual void flush() = 0;
    virtual std::string name() const { return _name; }
    // OpenOk until an `open` fails; each `open` sets it anew.
    OpenFailure lastOpenFailure() const { return _openFailure; }

protected:
    std::string _name;
    OpenFailure _openFailure = OpenOk;
};

#endif
