// In-process port to the simulated adapter, on a virtual clock.
#include "SimPort.h"

#include <algorithm>
#include <climits>

namespace
{
const int kMinDataBits = 5;
const int kMaxDataBits = 8;
}  // namespace

SimPort::SimPort(AdapterSim& sim, bool isUsb, const std::string& name)
    : SerialPort(name), _sim(sim), _isUsb(isUsb), _nowUs(sim.clockUs())
{
}

SimPort::~SimPort()
{
    close();
}

bool SimPort::open(int baud, int data, Parity parity, StopBit stop)
{
    if (_open || _sim.hungUp())
        return false;
    if (parity < ParityNone || parity > ParityEven || stop < StopBitOne || stop > StopBitTwo ||
        data < kMinDataBits || data > kMaxDataBits)
        return false;
    _nowUs = std::max(_nowUs, _sim.clockUs());
    _sim.connect(baud);
    _open = true;
    _baud = baud;
    // Like the real ports: a caller sets its own time-out before reading.
    _timeoutMs = INT_MAX;
    return true;
}

void SimPort::close()
{
    if (!_open)
        return;
    _open = false;
    _sim.disconnect();
}

int SimPort::read(uint8_t* data, int size)
{
    if (!_open)
        return -1;
    if (size <= 0)
        return 0;
    _nowUs = std::max(_nowUs, _sim.clockUs());
    const uint64_t waitUs = static_cast<uint64_t>(_timeoutMs) * 1000;
    uint64_t deadline = _nowUs + waitUs;
    int count = 0;
    while (count < size)
    {
        uint64_t next = _sim.nextOutputUs();
        if (next == AdapterSim::kNoOutput && _sim.hungUp())
            return count > 0 ? count : -1;
        if (next == AdapterSim::kNoOutput || next > deadline)
        {
            _nowUs = deadline;
            _sim.advanceClock(_nowUs);
            break;
        }
        _nowUs = std::max(_nowUs, next);
        count += static_cast<int>(_sim.takeOutput(data + count, size - count, _nowUs));
        // Each byte that arrives opens a new wait period, as on the real ports.
        deadline = _nowUs + waitUs;
    }
    return count;
}

int SimPort::write(const uint8_t* data, int size)
{
    if (!_open || _sim.hungUp())
        return -1;
    if (size <= 0)
        return 0;
    _nowUs = std::max(_nowUs, _sim.clockUs());
    _sim.receive(data, static_cast<size_t>(size), _nowUs);
    return size;
}

int SimPort::get()
{
    uint8_t byte;
    return read(&byte, 1) == 1 ? byte : -1;
}

int SimPort::put(int c)
{
    uint8_t byte = static_cast<uint8_t>(c);
    return write(&byte, 1) == 1 ? byte : -1;
}

bool SimPort::timeout(int millisecs)
{
    if (!_open)
        return false;
    _timeoutMs = std::max(millisecs, 0);
    return true;
}

void SimPort::flush()
{
    const uint64_t kFlushPauseUs = 1000;
    _nowUs += kFlushPauseUs;
    _sim.advanceClock(_nowUs);
    _flushes++;
}
