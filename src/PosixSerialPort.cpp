// termios serial port. The descriptor stays non-blocking and every wait
// blocks in poll(), so a silent or vanished adapter can never hang a run.
#include "PosixSerialPort.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
typedef std::chrono::steady_clock Clock;

// Like the Windows port right after open: callers set their own period.
const int kInitialTimeoutMs = INT_MAX;
// A write that makes no progress for this long gives up with what it sent.
const int kWriteStallTimeoutMs = 2000;
const int kFlushPauseMs = 1;

struct SpeedEntry
{
    int bps;
    speed_t code;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool speedCode(int bps, speed_t& code)
{
    for (const SpeedEntry& e : kSpeeds)
    {
        if (e.bps == bps)
        {
            code = e.code;
            return true;
        }
    }
    return false;
}

bool sizeFlag(int data, tcflag_t& flag)
{
    switch (data)
    {
    case 5: flag = CS5; return true;
    case 6: flag = CS6; return true;
    case 7: flag = CS7; return true;
    case 8: flag = CS8; return true;
    default: return false;
    }
}

// Blocks until `events` are ready on `fd` or `deadline` passes. Returns the
// ready events, 0 at the deadline, -1 on a poll failure.
int waitUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;)
    {
        // Rounded up so a wait never ends a fraction of a millisecond early.
        long long ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (ms < 0)
            ms = 0;
        pollfd p = {fd, events, 0};
        int rc = ::poll(&p, 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
        if (rc > 0)
            return p.revents;
        if (rc < 0 && errno != EINTR)
            return -1;
        if (rc == 0 && Clock::now() >= deadline)
            return 0;
    }
}

bool configure(int fd, speed_t speed, tcflag_t size, SerialPort::Parity parity,
               SerialPort::StopBit stop)
{
    termios tio;
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    // Raw bytes both ways: no line editing, no translation, no flow control.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
    tio.c_cflag |= size | CLOCAL | CREAD;
    if (parity == SerialPort::ParityOdd)
        tio.c_cflag |= PARENB | PARODD;
    else if (parity == SerialPort::ParityEven)
        tio.c_cflag |= PARENB;
    if (stop == SerialPort::StopBitTwo)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return false;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;
    // tcsetattr succeeds when any part applied; a driver that refused the
    // speed shows it on read-back.
    termios check;
    return ::tcgetattr(fd, &check) == 0 && ::cfgetospeed(&check) == speed;
}

Clock::time_point after(int ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}
} // namespace

PosixSerialPort::PosixSerialPort(const std::string& name, bool isUsb, const std::string& devDir)
    : SerialPort(name), _fd(-1), _isUsb(isUsb), _exclusiveSet(false),
      _timeoutMs(kInitialTimeoutMs)
{
    _path = name.find('/') == std::string::npos ? devDir + "/" + name : name;
}

PosixSerialPort::~PosixSerialPort()
{
    close();
}

bool PosixSerialPort::open(int baud, int data, Parity parity, StopBit stop)
{
    if (_fd >= 0)
        return false;
    // Check every value before touching the device, so a refusal leaves no trace.
    speed_t speed;
    tcflag_t size;
    if (!speedCode(baud, speed) || !sizeFlag(data, size))
        return false;
    if (parity != ParityNone && parity != ParityOdd && parity != ParityEven)
        return false;
    if (stop != StopBitOne && stop != StopBitTwo)
        return false;

    _fd = ::open(_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (_fd < 0)
        return false;
    // Root ignores TIOCEXCL, so the advisory lock is what keeps a second
    // program (or a second port object) off a port held by root.
    if (::flock(_fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(_fd, TIOCEXCL) != 0)
    {
        release();
        return false;
    }
    _exclusiveSet = true;
    if (!configure(_fd, speed, size, parity, stop))
    {
        release();
        return false;
    }
    _timeoutMs = kInitialTimeoutMs;
    return true;
}

void PosixSerialPort::release()
{
    if (_fd < 0)
        return;
    // A pseudo-terminal keeps the exclusive flag past the last close while
    // its master lives; clear it so the next open (ours or another's) works.
    // Only when we set it: a refused open must not clear the holder's flag.
    if (_exclusiveSet)
        ::ioctl(_fd, TIOCNXCL);
    _exclusiveSet = false;
    ::close(_fd);
    _fd = -1;
}

void PosixSerialPort::close()
{
    release();
}

bool PosixSerialPort::timeout(int millisecs)
{
    if (_fd < 0)
        return false;
    _timeoutMs = millisecs < 0 ? 0 : millisecs;
    return true;
}

int PosixSerialPort::read(uint8_t* data, int size)
{
    if (_fd < 0)
        return -1;
    int total = 0;
    Clock::time_point deadline = after(_timeoutMs);
    while (total < size)
    {
        int ready = waitUntil(_fd, POLLIN, deadline);
        if (ready == 0)
            break;
        if (ready < 0 || (ready & POLLNVAL))
            return -1;
        // Hang-up and error come with POLLIN on a pseudo-terminal; the read
        // below tells buffered bytes from the end of the line.
        ssize_t n = ::read(_fd, data + total, static_cast<size_t>(size - total));
        if (n > 0)
        {
            total += static_cast<int>(n);
            deadline = after(_timeoutMs);
            continue;
        }
        if (n == 0)
            return -1; // the peer hung up
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        {
            if (ready & (POLLHUP | POLLERR))
                return -1;
            // A wake-up with nothing to read still counts against the period.
            if (Clock::now() >= deadline)
                break;
            continue;
        }
        return -1;
    }
    return total;
}

int PosixSerialPort::get()
{
    uint8_t byte;
    if (read(&byte, 1) != 1)
        return -1;
    return byte;
}

int PosixSerialPort::write(const uint8_t* data, int size)
{
    if (_fd < 0)
        return -1;
    int done = 0;
    Clock::time_point deadline = after(kWriteStallTimeoutMs);
    while (done < size)
    {
        ssize_t n = ::write(_fd, data + done, static_cast<size_t>(size - done));
        if (n > 0)
        {
            done += static_cast<int>(n);
            deadline = after(kWriteStallTimeoutMs);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return -1;
        // Stalled: the caller sees the short count.
        if (Clock::now() >= deadline)
            break;
        int ready = waitUntil(_fd, POLLOUT, deadline);
        if (ready == 0)
            break;
        if (ready < 0 || (ready & (POLLHUP | POLLERR | POLLNVAL)))
            return -1;
    }
    return done;
}

int PosixSerialPort::put(int c)
{
    uint8_t byte = static_cast<uint8_t>(c & 0xFF);
    if (write(&byte, 1) != 1)
        return -1;
    return byte;
}

void PosixSerialPort::flush()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kFlushPauseMs));
}
