// The pseudo-terminal loop: one poll() over the terminal and a signal pipe,
// woken by host bytes, by the next reply byte falling due, or by a signal.
//
// The simulator keeps a slave descriptor of its own open all the time, so the
// master never reports a hang-up between two runs of a tool, and the host's
// link settings live on between them. Each time the speed the host set
// changes, a new connection starts; the speed picks the link mode.
#include "PtyServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{
const size_t kChunk = 4096;
const int kDrainLimitMs = 1000;   // how long a hang-up waits for the host to read the last reply
const int kArrivalLimitMs = 100;  // for written bytes to show in the slave's queue
const int kDrainStepMs = 5;
const int kHangUpPauseMs = 50;  // between attempts to revive a hung-up terminal
const int kMaxHangUps = 100;

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    int saved = errno;
    const char byte = 1;
    ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

int bitsPerSecond(speed_t speed)
{
    static const struct
    {
        speed_t code;
        int bps;
    } kSpeeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& s : kSpeeds)
        if (s.code == speed)
            return s.bps;
    return 0;
}

class PtyServer
{
public:
    PtyServer(AdapterSim& sim, const PtyServerSettings& settings)
        : _sim(sim), _settings(settings), _start(std::chrono::steady_clock::now())
    {
    }
    ~PtyServer() { finish(); }
    int run();

private:
    uint64_t nowUs() const
    {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - _start)
                                         .count());
    }
    bool openTerminal();
    bool openSlave();
    bool makeLink();
    bool pumpOutput();
    bool readInput();
    bool reviveTerminal();
    void waitForHostToRead();
    void pause(int ms);
    void saveIfChanged();
    bool save();
    void finish();

    AdapterSim& _sim;
    PtyServerSettings _settings;
    std::chrono::steady_clock::time_point _start;
    int _master = -1;
    int _slave = -1;
    std::string _slavePath;
    int _speed = -1;
    std::vector<uint8_t> _tx;  // taken from the simulator, not yet accepted by the terminal
    uint64_t _savedChanges = 0;
    int _hangUps = 0;
    bool _linked = false;
};

bool PtyServer::openTerminal()
{
    _master = posix_openpt(O_RDWR | O_NOCTTY);
    if (_master < 0 || grantpt(_master) != 0 || unlockpt(_master) != 0)
        return false;
    char name[256];
    if (ptsname_r(_master, name, sizeof(name)) != 0)
        return false;
    _slavePath = name;
    int flags = fcntl(_master, F_GETFL);
    if (flags < 0 || fcntl(_master, F_SETFL, flags | O_NONBLOCK) != 0 || !openSlave())
        return false;
    // Raw from the start: an echoing line discipline would hand our replies
    // back to us before any host has set the terminal up.
    termios tio;
    if (tcgetattr(_slave, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    return tcsetattr(_slave, TCSANOW, &tio) == 0;
}

bool PtyServer::openSlave()
{
    if (_slave >= 0)
        close(_slave);
    _slave = open(_slavePath.c_str(), O_RDWR | O_NOCTTY);
    return _slave >= 0;
}

// Replaced in one step, so a reader never finds the link missing or stale.
bool PtyServer::makeLink()
{
    std::string temporary = _settings.linkPath + ".tmp";
    unlink(temporary.c_str());
    if (symlink(_slavePath.c_str(), temporary.c_str()) != 0)
        return false;
    if (rename(temporary.c_str(), _settings.linkPath.c_str()) != 0)
    {
        unlink(temporary.c_str());
        return false;
    }
    _linked = true;
    return true;
}

int PtyServer::run()
{
    // The default 50 us timer slack is a visible share of a modelled 1 ms
    // reply delay; the benchmarks measure the host against this clock.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (!openTerminal())
    {
        std::fprintf(stderr, "corvo-adapter-sim: cannot set up a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    if (!_settings.linkPath.empty() && !makeLink())
    {
        std::fprintf(stderr, "corvo-adapter-sim: cannot create link %s: %s\n",
                     _settings.linkPath.c_str(), std::strerror(errno));
        return 1;
    }
    if (!save())
        return 1;
    std::printf("%s\n", _slavePath.c_str());
    std::fflush(stdout);

    for (;;)
    {
        if (!pumpOutput())
            return 1;
        if (_sim.hungUp() && _tx.empty() && _sim.pendingOutput() == 0)
        {
            waitForHostToRead();
            finish();
            return 0;
        }
        // The timing model works in microseconds; poll()'s whole milliseconds
        // would stretch every modelled reply delay.
        timespec wait = {0, 0};
        timespec* timeout = nullptr;
        uint64_t next = _sim.nextOutputUs();
        uint64_t now = nowUs();
        if (_tx.empty() && next != AdapterSim::kNoOutput)
        {
            uint64_t us = next <= now ? 0 : next - now;
            wait.tv_sec = static_cast<time_t>(us / 1000000);
            wait.tv_nsec = static_cast<long>(us % 1000000) * 1000;
            timeout = &wait;
        }
        pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0},
                         {_master, static_cast<short>(POLLIN | (_tx.empty() ? 0 : POLLOUT)), 0}};
        if (ppoll(fds, 2, timeout, nullptr) < 0)
        {
            if (errno == EINTR)
                continue;
            std::perror("corvo-adapter-sim: poll");
            return 1;
        }
        if (fds[0].revents != 0)
        {
            finish();
            return 0;
        }
        bool alive = true;
        if (fds[1].revents & POLLIN)
            alive = readInput();
        else if (fds[1].revents & (POLLHUP | POLLERR))
            alive = false;
        if (!alive && !reviveTerminal())
            return 1;
    }
}

bool PtyServer::pumpOutput()
{
    if (_tx.empty())
    {
        uint8_t buf[kChunk];
        size_t n = _sim.takeOutput(buf, sizeof(buf), nowUs());
        _tx.assign(buf, buf + n);
    }
    if (_tx.empty())
        return true;
    ssize_t n = ::write(_master, _tx.data(), _tx.size());
    if (n > 0)
        _tx.erase(_tx.begin(), _tx.begin() + n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
    {
        std::perror("corvo-adapter-sim: write");
        return false;
    }
    return true;
}

// False when the terminal has hung up.
bool PtyServer::readInput()
{
    // The host sets its speed before it sends, so the speed read now is the
    // one these bytes were sent at.
    termios tio;
    if (tcgetattr(_master, &tio) == 0)
    {
        speed_t code = cfgetospeed(&tio);
        int speed = bitsPerSecond(code != B0 ? code : cfgetispeed(&tio));
        if (speed != _speed)
        {
            _speed = speed;
            _sim.connect(speed);
        }
    }
    uint8_t buf[kChunk];
    ssize_t n = ::read(_master, buf, sizeof(buf));
    if (n > 0)
    {
        _hangUps = 0;
        _sim.receive(buf, static_cast<size_t>(n), nowUs());
        saveIfChanged();
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

// Only a vanished slave hangs the master up; ours is opened again, and a
// terminal that keeps hanging up ends the run instead of spinning.
bool PtyServer::reviveTerminal()
{
    if (++_hangUps > kMaxHangUps || !openSlave())
    {
        std::fprintf(stderr, "corvo-adapter-sim: the terminal hung up\n");
        finish();
        return false;
    }
    pause(kHangUpPauseMs);
    return true;
}

// Closing the master throws away what the host has not read yet, so an
// injected hang-up first gives the host a moment to take the last reply.
// Bytes written to the master reach the slave's queue a little later, so an
// empty queue only counts once the bytes were seen there or had time to be.
void PtyServer::waitForHostToRead()
{
    bool seen = false;
    for (int waited = 0; waited < kDrainLimitMs; waited += kDrainStepMs)
    {
        int queued = 0;
        if (ioctl(_slave, FIONREAD, &queued) != 0)
            return;
        if (queued > 0)
            seen = true;
        else if (seen || waited >= kArrivalLimitMs)
            return;
        pause(kDrainStepMs);
    }
}

// Sleeps in poll() on the signal pipe, so a signal still ends the wait.
void PtyServer::pause(int ms)
{
    pollfd fd = {g_signalPipe[0], POLLIN, 0};
    poll(&fd, 1, ms);
}

void PtyServer::saveIfChanged()
{
    if (_sim.flashChanges() != _savedChanges)
        save();
}

bool PtyServer::save()
{
    _savedChanges = _sim.flashChanges();
    if (_settings.statePath.empty())
        return true;
    std::string error;
    if (_sim.saveState(_settings.statePath, &error))
        return true;
    std::fprintf(stderr, "corvo-adapter-sim: %s\n", error.c_str());
    return false;
}

void PtyServer::finish()
{
    if (_master < 0 && _slave < 0)
        return;
    save();
    if (_linked)
        unlink(_settings.linkPath.c_str());
    _linked = false;
    if (_master >= 0)
        close(_master);
    if (_slave >= 0)
        close(_slave);
    _master = _slave = -1;
}
}  // namespace

int servePty(AdapterSim& sim, const PtyServerSettings& settings)
{
    if (pipe(g_signalPipe) != 0)
        return 1;
    for (int fd : g_signalPipe)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    PtyServer server(sim, settings);
    return server.run();
}
