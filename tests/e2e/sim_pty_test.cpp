// corvo-adapter-sim on a real pseudo-terminal, driven the way a serial
// program drives it: open the printed path, set the speed, send raw bytes.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "RunProgram.h"
#include "SimProcess.h"

namespace
{
const int kQuietMs = 150;
const int kReplyLimitMs = 2000;

class PtyClient
{
public:
    PtyClient(const std::string& path, speed_t speed)
    {
        _fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio;
        if (_fd < 0 || tcgetattr(_fd, &tio) != 0)
            return;
        cfmakeraw(&tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(_fd, TCSANOW, &tio);
    }
    ~PtyClient()
    {
        if (_fd >= 0)
            close(_fd);
    }
    bool ok() const { return _fd >= 0; }

    // The terminal is non-blocking, so a busy line discipline may answer
    // EAGAIN; wait for room rather than count that as a failure.
    void send(const std::string& bytes)
    {
        size_t done = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyLimitMs);
        while (done < bytes.size() && std::chrono::steady_clock::now() < deadline)
        {
            ssize_t n = write(_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
            {
                done += static_cast<size_t>(n);
                continue;
            }
            ASSERT_TRUE(n < 0 && (errno == EAGAIN || errno == EINTR)) << "write: " << strerror(errno);
            pollfd fd = {_fd, POLLOUT, 0};
            poll(&fd, 1, 10);
        }
        ASSERT_EQ(done, bytes.size());
    }

    // Reads until `want` bytes arrived or the line stays quiet for `quietMs`
    // (at most `limitMs` in all).
    std::string receive(size_t want = SIZE_MAX, int quietMs = kQuietMs, int limitMs = kReplyLimitMs)
    {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (got.size() < want)
        {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd fd = {_fd, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, std::min(left, quietMs)) <= 0 || !(fd.revents & POLLIN))
                break;
            char buf[4096];
            ssize_t n = read(_fd, buf, std::min(sizeof(buf), want - got.size()));
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
    std::string ask(const std::string& command, size_t want = SIZE_MAX)
    {
        send(command);
        return receive(want);
    }

    // The other end went away: POLLHUP, or a read that ends or fails.
    bool hungUp(int limitMs)
    {
        pollfd fd = {_fd, POLLIN, 0};
        if (poll(&fd, 1, limitMs) <= 0)
            return false;
        if (fd.revents & POLLHUP)
            return true;
        char c;
        ssize_t n = read(_fd, &c, 1);
        return n == 0 || (n < 0 && errno == EIO);
    }

private:
    int _fd = -1;
};

const std::string kVersionReply = "v2.1 QZV Kestrune boot loader\n\r";
}  // namespace

TEST(SimPty, PrintsTerminalPath_AndAnswersVersionAtUsbSpeed)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    EXPECT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.path();
    PtyClient client(sim.path(), B921600);
    ASSERT_TRUE(client.ok());
    EXPECT_EQ(client.ask("V#", kVersionReply.size()), kVersionReply);
    EXPECT_EQ(client.ask("w00000FF4,4#", 4), std::string("\x01\x12\x42\xFF", 4));
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPty, SerialSpeed_SilentUntilAutoBaudThenAnswers)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    PtyClient client(sim.path(), B115200);
    EXPECT_EQ(client.ask("V#"), "");
    EXPECT_EQ(client.ask(std::string("\x80\x80#", 3)), "\n\r");
    EXPECT_EQ(client.ask("V#", kVersionReply.size()), kVersionReply);
}

TEST(SimPty, LaterRuns_FindTheTerminalAliveAndSwitchLinkBySpeed)
{
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    {
        PtyClient first(sim.path(), B921600);
        EXPECT_EQ(first.ask("V#", kVersionReply.size()), kVersionReply);
    }
    {
        PtyClient second(sim.path(), B921600);
        EXPECT_FALSE(second.hungUp(50));
        EXPECT_EQ(second.ask("V#", kVersionReply.size()), kVersionReply);
    }
    PtyClient serial(sim.path(), B115200);
    EXPECT_EQ(serial.ask("V#"), "") << "a new speed is a new connection";
}

TEST(SimPty, StateFile_SavedAfterBufferedWriteAndLoadedByNextRun)
{
    TempDir dir;
    std::string state = dir.file("adapter.state");
    {
        SimProcess sim({"--state", state, "--serial-number", "PTY00001"});
        ASSERT_TRUE(sim.started());
        std::string initial = readFile(state);
        ASSERT_EQ(initial.size(), 0x20000u + 16) << "saved at start";
        EXPECT_EQ(initial.substr(0xFF8, 8), "PTY00001");

        PtyClient client(sim.path(), B921600);
        client.send("S20000000,00000004#ABCD");
        EXPECT_EQ(client.ask("Y20000000,0#", 3), "Y\n\r");
        EXPECT_EQ(client.ask("Y0001F000,00000004#", 3), "Y\n\r");
        EXPECT_EQ(readFile(state).substr(0x1F000, 4), "ABCD") << "saved while running";
        EXPECT_EQ(sim.stop(), 0);
    }
    SimProcess again({"--state", state});
    ASSERT_TRUE(again.started());
    PtyClient client(again.path(), B921600);
    EXPECT_EQ(client.ask("R0001F000,00000004#", 4), "ABCD");
    EXPECT_EQ(client.ask("w00000FF8,4#", 4), "PTY0");
}

TEST(SimPty, LinkAndLog_CreatedWhileRunningAndLinkRemovedOnExit)
{
    TempDir dir;
    std::string link = dir.file("com5");
    std::string log = dir.file("sim.log");
    SimProcess sim({"--link", link, "--log", log});
    ASSERT_TRUE(sim.started());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
    EXPECT_EQ(std::string(target), sim.path());

    PtyClient client(link, B921600);
    EXPECT_EQ(client.ask("X0001F000,0#", 3), "X\n\r");
    EXPECT_EQ(readFile(log), "- connect 921600 usb\nX0001F000,0\n- erased 0001F000-0001FFFF\n");
    EXPECT_EQ(sim.stop(), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(SimPty, HangUpAfterOneCommand_ReplyThenTerminalGoneAndExitZero)
{
    SimProcess sim({"--hang-up-after", "1"});
    ASSERT_TRUE(sim.started());
    PtyClient client(sim.path(), B921600);
    EXPECT_EQ(client.ask("V#", kVersionReply.size()), kVersionReply);
    EXPECT_TRUE(client.hungUp(kReplyLimitMs));
    EXPECT_EQ(sim.wait(5), 0);
}

TEST(SimPty, BaudPace_SpreadsReplyOverItsWireTime)
{
    SimProcess sim({"--baud-pace", "115200"});
    ASSERT_TRUE(sim.started());
    PtyClient client(sim.path(), B921600);
    auto start = std::chrono::steady_clock::now();
    // 1152 bytes at 10 bits each are 100 ms at 115200 bit/s.
    EXPECT_EQ(client.ask("R00000000,00000480#", 1152).size(), 1152u);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 95.0);
}

TEST(SimPtyOptions, SaveOnly_WritesStateWithIdentityOptions)
{
    TempDir dir;
    std::string state = dir.file("s.bin");
    RunResult r = runProgram("corvo-adapter-sim",
                             {"--state", state, "--save-only", "--serial-number", "ABCDEFGH",
                              "--pcb-version", "0x0A0B", "--ring-type", "0xFF", "--erase-firmware",
                              "--fw-type", "O", "--device-id", "0x10010305"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string file = readFile(state);
    ASSERT_EQ(file.size(), 0x20000u + 16);
    EXPECT_EQ(file.substr(0xFF4, 3), "\x0B\x0A\xFF");
    EXPECT_EQ(file.substr(0xFF8, 8), "ABCDEFGH");
    EXPECT_EQ(file[0x1000], '\xFF');
    EXPECT_EQ(file[0x1EFF5], 'O');
    EXPECT_EQ(file.substr(0x20008, 4), std::string("\x05\x03\x01\x10", 4));
}

TEST(SimPtyOptions, HelpAndBadCommandLines)
{
    RunResult help = runProgram("corvo-adapter-sim", {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--state", "--log", "--link", "--usb", "--serial", "--silence-after", "--hang-up-after",
          "--garbage-after", "--nak-block", "--no-marker", "--device-id", "--erase-delay-ms",
          "--reply-delay-ms", "--baud-pace"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--pcb-version", "0x10000"},
        {"--nak-block", "0"},
        {"--save-only"},
        {"--serial-number", "TOOLONG99"},
        {"extra"},
        {"--reply-delay-ms", "-1"},
    };
    for (const std::vector<std::string>& args : bad)
    {
        RunResult r = runProgram("corvo-adapter-sim", args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("Try 'corvo-adapter-sim --help'"), std::string::npos) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
}
