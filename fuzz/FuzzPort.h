// A serial port whose far end is the fuzzer: every answer the monitor client
// gets (how many bytes a read gathers, the bytes themselves, whether an open
// or a write goes through) is taken from the input. Time is virtual: a read
// or get that comes back short has waited its whole time-out, nothing
// sleeps, and the harness checks the total against what the protocol allows.
//
// Each read or get takes a count byte from the input, then that many data
// bytes: 0 to 0xFC deliver that many (at most as many as asked), 0xFD all
// that were asked, 0xFE a port error (-1). Past the end of the input the link
// is silent. Each open and write takes one byte: below 0xF0 it succeeds;
// otherwise an open fails and a write reports a count taken from the next
// byte.
#ifndef CORVO_FUZZ_FUZZPORT_H
#define CORVO_FUZZ_FUZZPORT_H

#include <cstdint>

#include "FuzzSupport.h"
#include "SerialPort.h"

// What the harness keeps of the link while the client owns the port.
struct FuzzLink
{
    explicit FuzzLink(FuzzInput& input) : in(input) {}
    FuzzInput& in;
    long clockMs = 0;   // virtual time, ms
    int timeoutMs = 0;  // the read time-out in force
    int baud = 0;       // of the last successful open
};

class FuzzPort : public SerialPort
{
public:
    // `link` outlives the port, which the client owns and destroys.
    FuzzPort(FuzzLink& link, bool usb);

    bool open(int baud, int data, Parity parity, StopBit stop) override;
    void close() override;
    bool isUsb() override { return _usb; }
    int read(uint8_t* data, int size) override;
    int write(const uint8_t* data, int size) override;
    int get() override;
    int put(int c) override;
    bool timeout(int millisecs) override;
    void flush() override;

private:
    FuzzLink& _link;
    bool _usb;
    bool _open = false;
};

#endif
