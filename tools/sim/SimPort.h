// A SerialPort that talks to an AdapterSim in the same process, so the
// monitor client and the operations can be tested against the simulated
// adapter without a terminal. Time is virtual: a read that waits for a reply
// moves the port's clock to the moment the reply is complete, and a read that
// times out moves it by the whole time-out, so no test sleeps.
#ifndef CORVO_SIM_SIMPORT_H
#define CORVO_SIM_SIMPORT_H

#include <cstdint>
#include <string>

#include "AdapterSim.h"
#include "SerialPort.h"

class SimPort : public SerialPort
{
public:
    // The simulator must outlive the port. `isUsb` is the mark the port
    // reports; the simulator picks its link mode from the speed of open().
    explicit SimPort(AdapterSim& sim, bool isUsb = true, const std::string& name = "SIM");
    ~SimPort() override;

    // Connects the simulator at `baud` (921600 is its USB link). Fails on an
    // open port, a parity, stop-bit or data-bit value out of range, and once
    // the simulator has hung up.
    bool open(int baud = 115200, int data = 8, Parity parity = ParityNone,
              StopBit stop = StopBitOne) override;
    void close() override;
    bool isUsb() override { return _isUsb; }
    // As the SerialPort contract says. After a hang-up the replies already
    // sent can still be read; then -1.
    int read(uint8_t* data, int size) override;
    int write(const uint8_t* data, int size) override;
    int get() override;
    int put(int c) override;
    bool timeout(int millisecs) override;
    // Moves the clock by 1 ms, as the real port's pause takes.
    void flush() override;

    bool isOpen() const { return _open; }
    // Virtual time in microseconds; starts at the simulator's clock.
    uint64_t clockUs() const { return _nowUs; }
    // Host time passing between calls, e.g. a pause of the code under test.
    void advance(uint64_t us)
    {
        _nowUs += us;
        _sim.advanceClock(_nowUs);
    }
    int flushCount() const { return _flushes; }
    // Speed of the last successful open; 0 before.
    int baud() const { return _baud; }

private:
    AdapterSim& _sim;
    bool _isUsb;
    bool _open = false;
    int _timeoutMs = 0;
    uint64_t _nowUs;
    int _flushes = 0;
    int _baud = 0;
};

#endif
