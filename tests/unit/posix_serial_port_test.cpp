// The Linux serial port against a real pseudo-terminal: the test holds the
// master side and plays the adapter, the port under test opens the slave.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "PosixSerialPort.h"
#include "RunProgram.h"

namespace
{
typedef std::chrono::steady_clock Clock;

const int kShortTimeoutMs = 80;
const int kLongTimeoutMs = 3000;
// Room for a loaded machine or the sanitizers; far below kLongTimeoutMs.
const int kSlackMs = 400;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Opens `path` as an unprivileged user and returns 0 or the errno. As root,
// a child drops to nobody, since root walks past the exclusive flag.
int openAsOtherUser(const std::string& path)
{
    if (geteuid() != 0)
    {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    }
    pid_t pid = fork();
    if (pid == 0)
    {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PtyPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(_master, 0);
        ASSERT_EQ(grantpt(_master), 0);
        ASSERT_EQ(unlockpt(_master), 0);
        char name[128];
        ASSERT_EQ(ptsname_r(_master, name, sizeof name), 0);
        _slave = name;
        // Wide access, so an unprivileged child can try the slave too.
        ASSERT_EQ(chmod(_slave.c_str(), 0666), 0);
    }

    void TearDown() override { closeMaster(); }

    void closeMaster()
    {
        if (_master >= 0)
            ::close(_master);
        _master = -1;
    }

    void send(const std::string& bytes)
    {
        ASSERT_EQ(::write(_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the port sent, gathered until `count` bytes or a quiet 200 ms.
    std::string received(size_t count)
    {
        std::string out;
        while (out.size() < count)
        {
            pollfd p = {_master, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                break;
            char buf[4096];
            ssize_t n = ::read(_master, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    termios slaveSettings()
    {
        termios tio = {};
        EXPECT_EQ(tcgetattr(_master, &tio), 0);
        return tio;
    }

    speed_t slaveSpeed()
    {
        termios tio = slaveSettings();
        return cfgetospeed(&tio);
    }

    int _master = -1;
    std::string _slave;
};

// The pseudo-terminal driver forces CS8 and drops PARENB whatever is asked,
// so only the speed, PARODD, CSTOPB and the raw-mode flags show through it.
TEST_F(PtyPortTest, Open_AppliesSpeedAndFramingSeenFromOtherEnd)
{
    struct Case
    {
        int baud;
        speed_t code;
        SerialPort::Parity parity;
        SerialPort::StopBit stop;
        bool odd;
        bool twoStops;
    };
    const Case cases[] = {
        {921600, B921600, SerialPort::ParityNone, SerialPort::StopBitOne, false, false},
        {115200, B115200, SerialPort::ParityNone, SerialPort::StopBitOne, false, false},
        {9600, B9600, SerialPort::ParityEven, SerialPort::StopBitTwo, false, true},
        {57600, B57600, SerialPort::ParityOdd, SerialPort::StopBitOne, true, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.baud);
        PosixSerialPort port(_slave, true);
        ASSERT_TRUE(port.open(c.baud, 8, c.parity, c.stop));
        termios tio = slaveSettings();
        EXPECT_EQ(cfgetospeed(&tio), c.code);
        EXPECT_EQ(cfgetispeed(&tio), c.code);
        EXPECT_EQ((tio.c_cflag & PARODD) != 0, c.odd);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        port.close();
    }
}

TEST_F(PtyPortTest, RawMode_PassesEveryByteUnchangedBothWays)
{
    // A fresh pseudo-terminal is cooked: it would echo, map CR, eat ^C and ^Q.
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open(921600));
    ASSERT_TRUE(port.timeout(kShortTimeoutMs));
    const std::string tricky("\r\n\x03\x11\x13\x7f\xff\x00#", 9);
    send(tricky);
    uint8_t buf[32];
    ASSERT_EQ(port.read(buf, sizeof buf), static_cast<int>(tricky.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), tricky.size()), tricky);
    EXPECT_EQ(received(64), "") << "nothing echoed";

    ASSERT_EQ(port.write(reinterpret_cast<const uint8_t*>(tricky.data()), 9), 9);
    EXPECT_EQ(received(tricky.size()), tricky);
}

TEST_F(PtyPortTest, Read_ShortCountOnlyAfterOneQuietWait)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kShortTimeoutMs));
    uint8_t buf[10];

    auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 10), 0);
    long long waited = msSince(start);
    EXPECT_GE(waited, kShortTimeoutMs);
    EXPECT_LT(waited, kShortTimeoutMs + kSlackMs);

    send("abcd");
    start = Clock::now();
    EXPECT_EQ(port.read(buf, 10), 4);
    waited = msSince(start);
    EXPECT_GE(waited, kShortTimeoutMs);
    EXPECT_LT(waited, kShortTimeoutMs + kSlackMs);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
}

TEST_F(PtyPortTest, Read_ReturnsAtOnceWhenAllArrived)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kLongTimeoutMs));
    send("0123456789extra");
    uint8_t buf[10];
    auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 10), 10);
    EXPECT_LT(msSince(start), kSlackMs);
    EXPECT_EQ(port.read(buf, 5), 5) << "bytes past the request stay for the next read";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "extra");
    EXPECT_EQ(port.read(buf, 0), 0);
}

TEST_F(PtyPortTest, Read_EachNewByteRestartsTheWait)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kShortTimeoutMs));
    const int gapMs = kShortTimeoutMs / 2;
    const int count = 5; // spread over more than one wait period
    std::thread peer([&] {
        for (int i = 0; i < count; ++i)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            char c = static_cast<char>('a' + i);
            if (::write(_master, &c, 1) != 1)
                return;
        }
    });
    uint8_t buf[10];
    auto start = Clock::now();
    int got = port.read(buf, 10);
    long long waited = msSince(start);
    peer.join();
    EXPECT_EQ(got, count);
    EXPECT_GE(waited, count * gapMs + kShortTimeoutMs);
}

TEST_F(PtyPortTest, Get_TimesOutWithMinusOneAndReturnsHighBytesAsPositive)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kShortTimeoutMs));
    auto start = Clock::now();
    EXPECT_EQ(port.get(), -1);
    long long waited = msSince(start);
    EXPECT_GE(waited, kShortTimeoutMs);
    EXPECT_LT(waited, kShortTimeoutMs + kSlackMs);

    send(std::string("\xff\x00\x80", 3));
    EXPECT_EQ(port.get(), 255);
    EXPECT_EQ(port.get(), 0);
    EXPECT_EQ(port.get(), 128);
}

TEST_F(PtyPortTest, Put_SendsLowEightBitsAndReturnsThem)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.put(0x1FF), 255);
    EXPECT_EQ(port.put('#'), '#');
    EXPECT_EQ(received(2), "\xff#");
}

TEST_F(PtyPortTest, Write_LargerThanTerminalBufferSendsEverything)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open(921600));
    std::vector<uint8_t> block(256 * 1024);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    std::string got;
    std::thread peer([&] { got = received(block.size()); });
    int sent = port.write(block.data(), static_cast<int>(block.size()));
    peer.join();
    EXPECT_EQ(sent, static_cast<int>(block.size()));
    ASSERT_EQ(got.size(), block.size());
    EXPECT_EQ(0, memcmp(got.data(), block.data(), block.size()));
}

TEST_F(PtyPortTest, Write_ToPeerThatNeverReadsGivesUpWithShortCount)
{
    const int stallBoundMs = 2000; // the port's limit for a write making no progress
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open(921600));
    std::vector<uint8_t> block(4 * 1024 * 1024, 0x55);
    auto start = Clock::now();
    int sent = port.write(block.data(), static_cast<int>(block.size()));
    long long waited = msSince(start);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(block.size()));
    EXPECT_GE(waited, stallBoundMs);
    // On a busy machine the pseudo-terminal frees a last bit of room without
    // waking the writer; poll sees it only at its time-out, which counts as
    // progress and restarts the bound once.
    EXPECT_LT(waited, 2 * stallBoundMs + kSlackMs);
}

TEST_F(PtyPortTest, HungUpPeer_FailsTransfersAtOnce)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kLongTimeoutMs));
    closeMaster();
    uint8_t buf[10];
    auto start = Clock::now();
    EXPECT_EQ(port.read(buf, 10), -1);
    EXPECT_EQ(port.get(), -1);
    EXPECT_EQ(port.put('x'), -1);
    EXPECT_LT(msSince(start), kSlackMs);
}

TEST_F(PtyPortTest, HungUpPeer_FailsReadUnderWayWithoutWaitingOut)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.timeout(kLongTimeoutMs));
    std::thread peer([&] {
        send("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        closeMaster();
    });
    uint8_t buf[10];
    auto start = Clock::now();
    int got = port.read(buf, 10);
    long long waited = msSince(start);
    peer.join();
    EXPECT_EQ(got, -1);
    EXPECT_LT(waited, kSlackMs);
}

TEST_F(PtyPortTest, Open_SecondHolderRefusedUntilFirstCloses)
{
    PosixSerialPort first(_slave, true);
    PosixSerialPort second(_slave, true);
    ASSERT_TRUE(first.open(921600));
    EXPECT_FALSE(second.open(115200));
    EXPECT_EQ(second.put('x'), -1) << "a refused open leaves the port closed";
    EXPECT_EQ(openAsOtherUser(_slave), EBUSY) << "the refusal must not clear the holder's flag";
    EXPECT_EQ(first.put('a'), 'a');
    EXPECT_EQ(received(1), "a");
    EXPECT_EQ(slaveSpeed(), B921600);

    first.close();
    EXPECT_TRUE(second.open(115200));
}

TEST_F(PtyPortTest, Close_ClearsExclusiveFlagSoTheNextOpenWorks)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open(921600));
    EXPECT_EQ(openAsOtherUser(_slave), EBUSY);
    port.close();
    EXPECT_EQ(openAsOtherUser(_slave), 0);
    ASSERT_TRUE(port.open(115200));
    EXPECT_EQ(slaveSpeed(), B115200);
}

TEST_F(PtyPortTest, Open_OnOpenPortFailsAndKeepsFirstSettings)
{
    PosixSerialPort port(_slave, true);
    ASSERT_TRUE(port.open(921600));
    EXPECT_FALSE(port.open(115200));
    EXPECT_EQ(slaveSpeed(), B921600);
    EXPECT_EQ(port.put('z'), 'z');
}

TEST_F(PtyPortTest, Open_RefusesUnsupportedSettingsThenAcceptsValidOnes)
{
    struct Case
    {
        const char* what;
        int baud;
        int data;
        SerialPort::Parity parity;
        SerialPort::StopBit stop;
    };
    const Case cases[] = {
        {"parity outside the enumeration", 115200, 8, static_cast<SerialPort::Parity>(3),
         SerialPort::StopBitOne},
        {"stop bits outside the enumeration", 115200, 8, SerialPort::ParityNone,
         static_cast<SerialPort::StopBit>(3)},
        {"one and a half stop bits", 115200, 8, SerialPort::ParityNone, SerialPort::StopBitOneFive},
        {"non-standard speed", 12345, 8, SerialPort::ParityNone, SerialPort::StopBitOne},
        {"nine data bits", 115200, 9, SerialPort::ParityNone, SerialPort::StopBitOne},
    };
    PosixSerialPort port(_slave, true);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(port.open(c.baud, c.data, c.parity, c.stop));
        EXPECT_EQ(port.put('x'), -1);
        EXPECT_FALSE(port.timeout(10));
    }
    EXPECT_TRUE(port.open(115200));
    EXPECT_EQ(port.put('v'), 'v');
    EXPECT_EQ(received(1), "v");
}

TEST_F(PtyPortTest, ClosedPort_EveryTransferFails)
{
    PosixSerialPort neverOpened(_slave, true);
    PosixSerialPort closedAgain(_slave, true);
    ASSERT_TRUE(closedAgain.open());
    closedAgain.close();
    closedAgain.close(); // closing twice is harmless
    for (PosixSerialPort* port : {&neverOpened, &closedAgain})
    {
        uint8_t buf[4] = {1, 2, 3, 4};
        EXPECT_EQ(port->read(buf, 4), -1);
        EXPECT_EQ(port->read(buf, 0), -1);
        EXPECT_EQ(port->write(buf, 4), -1);
        EXPECT_EQ(port->get(), -1);
        EXPECT_EQ(port->put('x'), -1);
        EXPECT_FALSE(port->timeout(100));
        port->flush();
    }
    EXPECT_EQ(received(1), "") << "nothing reached the peer";
}

TEST_F(PtyPortTest, Name_WithoutSlashIsDeviceInDeviceFolder)
{
    TempDir dev;
    ASSERT_EQ(symlink(_slave.c_str(), dev.file("ttyACM7").c_str()), 0);
    PosixSerialPort port("ttyACM7", true, dev.path());
    EXPECT_EQ(port.name(), "ttyACM7");
    EXPECT_EQ(port.path(), dev.file("ttyACM7"));
    EXPECT_TRUE(port.isUsb());
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.put('k'), 'k');
    EXPECT_EQ(received(1), "k");

    EXPECT_EQ(PosixSerialPort("ttyACM0", false).path(), "/dev/ttyACM0");
    EXPECT_EQ(PosixSerialPort(_slave, false).path(), _slave);
}

TEST(PosixSerialPortTest, Open_FailsOnMissingDeviceOrNonTerminal)
{
    TempDir dir;
    writeFile(dir.file("plain"), "not a terminal");
    const std::string paths[] = {dir.file("absent"), dir.file("plain"), dir.path()};
    for (const std::string& path : paths)
    {
        SCOPED_TRACE(path);
        PosixSerialPort port(path, false);
        EXPECT_FALSE(port.open());
        EXPECT_FALSE(port.timeout(10));
    }
    PosixSerialPort byName("absent", false, dir.path());
    EXPECT_FALSE(byName.open());
}

} // namespace
