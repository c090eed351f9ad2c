// The XMODEM-CRC data phase against an independent implementation: lrzsz's
// rx and sx as the peer. The client is connected through a scripted monitor
// first; then the link is switched to the peer, and the monitor's "S"/"R"
// command text is kept off it because rx and sx speak only the data phase.
// Skipped when lrzsz is missing.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "RunProgram.h"
#include "SambaTestSupport.h"

using namespace samba_test;

namespace
{

// Answers through a scripted link until switched to a peer's descriptor.
class PeerPort : public SerialPort
{
public:
    PeerPort(std::shared_ptr<ScriptedLink> link)
        : SerialPort("PEER"), _scripted(new ScriptedPort(link, false))
    {
    }
    ~PeerPort() override
    {
        if (_fd >= 0)
            ::close(_fd);
    }

    void switchTo(int fd) { _fd = fd; }

    bool open(int baud, int data, Parity parity, StopBit stop) override
    {
        return _scripted->open(baud, data, parity, stop);
    }
    void close() override { _scripted->close(); }
    bool isUsb() override { return false; }
    bool timeout(int millisecs) override
    {
        _timeoutMs = millisecs;
        return _scripted->timeout(millisecs);
    }
    void flush() override {}

    int write(const uint8_t* data, int size) override
    {
        if (_fd < 0)
            return _scripted->write(data, size);
        if (size == 19 && (data[0] == 'S' || data[0] == 'R') && data[18] == '#')
            return size; // monitor command text: not part of the data phase
        int done = 0;
        while (done < size)
        {
            ssize_t n = ::write(_fd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return done > 0 ? done : -1;
            done += static_cast<int>(n);
        }
        return done;
    }
    int put(int c) override
    {
        if (_fd < 0)
            return _scripted->put(c);
        uint8_t b = static_cast<uint8_t>(c);
        return write(&b, 1) == 1 ? b : -1;
    }
    int read(uint8_t* data, int size) override
    {
        if (_fd < 0)
            return _scripted->read(data, size);
        int got = 0;
        while (got < size)
        {
            pollfd p{_fd, POLLIN, 0};
            if (poll(&p, 1, _timeoutMs) <= 0)
                break;
            ssize_t n = ::read(_fd, data + got, size - got);
            if (n <= 0)
                break;
            got += static_cast<int>(n);
        }
        return got;
    }
    int get() override
    {
        if (_fd < 0)
            return _scripted->get();
        uint8_t b;
        return read(&b, 1) == 1 ? b : -1;
    }

private:
    std::unique_ptr<ScriptedPort> _scripted;
    int _fd = -1;
    int _timeoutMs = 1000;
};

bool haveProgram(const char* name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Starts `argv` in `dir` with its standard input and output on one end of a
// socket pair; returns the other end, or -1. A pseudo-terminal would be
// closer to a serial port, but the peer's exit may flush its last answer
// out of a terminal before it is read.
int spawnPeer(const std::vector<std::string>& argv, const std::string& dir, pid_t* pid)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return -1;
    *pid = fork();
    if (*pid < 0)
        return -1;
    if (*pid == 0)
    {
        int devnull = ::open("/dev/null", O_WRONLY);
        dup2(sv[1], 0);
        dup2(sv[1], 1);
        dup2(devnull, 2);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    ::close(sv[1]);
    return sv[0];
}

// Waits up to 10 s for the peer to finish; kills it after that.
int reap(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 1000; i++)
    {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class SambaLrzsz : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        if (!haveProgram("rx") || !haveProgram("sx"))
            GTEST_SKIP() << "lrzsz not installed";
        link = std::make_shared<ScriptedLink>();
        monitor = std::make_shared<FakeMonitor>();
        attach(link, monitor);
        peer = new PeerPort(link);
        ASSERT_TRUE(samba.connect(SerialPort::Ptr(peer), 115200));
    }

    PeerPort* peer = nullptr; // owned by the client
    TempDir dir;
};

TEST_F(SambaLrzsz, WriteToRx_ReceivesDataWithZeroPadding)
{
    Bytes data(300);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    pid_t pid;
    int fd = spawnPeer({"rx", "-X", "-c", "-b", "-q", "got.bin"}, dir.path(), &pid);
    ASSERT_GE(fd, 0);
    peer->switchTo(fd);
    EXPECT_NO_THROW(samba.write(0x20000000, data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(reap(pid), 0);
    std::string got = readFile(dir.file("got.bin"));
    Bytes expected = data;
    expected.resize(384, 0x00);
    EXPECT_EQ(Bytes(got.begin(), got.end()), expected);
}

TEST_F(SambaLrzsz, ReadFromSx_StoresTheFileBytes)
{
    std::string file(200, '\0');
    for (size_t i = 0; i < file.size(); i++)
        file[i] = static_cast<char>(i * 13 + 5);
    writeFile(dir.file("send.bin"), file);
    pid_t pid;
    int fd = spawnPeer({"sx", "-X", "-b", "-q", "send.bin"}, dir.path(), &pid);
    ASSERT_GE(fd, 0);
    peer->switchTo(fd);
    Bytes buf(200, 0);
    EXPECT_NO_THROW(samba.read(0x20000000, buf.data(), 200));
    EXPECT_EQ(reap(pid), 0);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), file);
}

} // namespace
