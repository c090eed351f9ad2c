// Test-only checks of WinSerialPort under Wine, against a COM port whose far
// end sends back every byte (ptyloop). One line per case: "ok CASE" or
// "FAIL CASE: why". Exit status 1 when any case fails.
//   portcheck LOOPBACK_PORT MISSING_PORT
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "WinSerialPort.h"

namespace
{
const int kShortTimeoutMs = 200;
// A wait must last about its time-out: not return early, not hang.
const ULONGLONG kWaitFloorMs = 150;
const ULONGLONG kWaitCeilingMs = 3000;
const int kEchoTimeoutMs = 1000;

int failures = 0;

class Case
{
public:
    explicit Case(const char* name) : _name(name) {}
    ~Case()
    {
        if (_why.empty())
            printf("ok %s\n", _name);
        else
        {
            printf("FAIL %s:%s\n", _name, _why.c_str());
            failures++;
        }
        fflush(stdout);
    }
    void expect(bool ok, const char* what)
    {
        if (!ok)
            _why += std::string(" ") + what + ";";
    }

private:
    const char* _name;
    std::string _why;
};

bool waited_one_period(ULONGLONG startMs)
{
    ULONGLONG elapsed = GetTickCount64() - startMs;
    return elapsed >= kWaitFloorMs && elapsed < kWaitCeilingMs;
}

void expect_closed(Case& c, WinSerialPort& port)
{
    uint8_t byte = 0x55;
    c.expect(port.read(&byte, 1) == -1, "read on closed port is not -1");
    c.expect(port.write(&byte, 1) == -1, "write on closed port is not -1");
    c.expect(port.get() == -1, "get on closed port is not -1");
    c.expect(port.put(byte) == -1, "put on closed port is not -1");
    c.expect(!port.timeout(kShortTimeoutMs), "timeout on closed port succeeded");
}
}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: portcheck LOOPBACK_PORT MISSING_PORT\n");
        return 2;
    }
    const std::string loopName = argv[1];
    const std::string missingName = argv[2];

    {
        Case c("MissingPort_OpenFailsAndStaysClosed");
        WinSerialPort port(missingName, false);
        c.expect(!port.open(115200), "open succeeded");
        expect_closed(c, port);
    }

    WinSerialPort port(loopName, true);
    {
        Case c("NewPort_ClosedWithItsNameAndMark");
        c.expect(port.name() == loopName, "name differs");
        c.expect(port.isUsb(), "USB mark lost");
        expect_closed(c, port);
    }
    {
        Case c("BadFraming_OpenFailsThenValidOpenSucceeds");
        c.expect(!port.open(115200, 8, static_cast<SerialPort::Parity>(7)),
                 "open with parity 7 succeeded");
        c.expect(!port.open(115200, 8, SerialPort::ParityNone,
                            static_cast<SerialPort::StopBit>(9)),
                 "open with stop bits 9 succeeded");
        c.expect(!port.timeout(kShortTimeoutMs), "port open after a failed open");
        c.expect(port.open(115200), "valid open failed");
    }
    {
        Case c("SecondOpen_RefusedAndFirstStillWorks");
        c.expect(!port.open(921600), "second open succeeded");
        c.expect(port.timeout(kEchoTimeoutMs), "timeout failed");
        c.expect(port.put('A') == 'A' && port.get() == 'A', "no echo after second open");
    }
    {
        Case c("Put0x1FF_SendsByte0xFFAndGetReturns255");
        c.expect(port.timeout(kEchoTimeoutMs), "timeout failed");
        c.expect(port.put(0x1FF) == 255, "put did not return 255");
        c.expect(port.get() == 255, "get did not return 255");
    }
    {
        Case c("Read_ShortAnswerReturnsCountAfterOneEmptyWait");
        c.expect(port.timeout(kShortTimeoutMs), "timeout failed");
        const uint8_t sent[4] = {0x10, 0x00, 0x0D, 0x0A};
        c.expect(port.write(sent, 4) == 4, "write did not return 4");
        uint8_t got[10] = {0};
        ULONGLONG start = GetTickCount64();
        int n = port.read(got, 10);
        c.expect(n == 4, "read did not return 4");
        c.expect(waited_one_period(start), "read did not wait about one time-out");
        c.expect(n == 4 && memcmp(got, sent, 4) == 0, "bytes differ");
    }
    {
        Case c("Silence_ReadReturns0AndGetReturnsMinus1");
        c.expect(port.timeout(kShortTimeoutMs), "timeout failed");
        uint8_t got[10];
        ULONGLONG start = GetTickCount64();
        c.expect(port.read(got, 10) == 0, "read did not return 0");
        c.expect(waited_one_period(start), "read did not wait about one time-out");
        start = GetTickCount64();
        c.expect(port.get() == -1, "get did not return -1");
        c.expect(waited_one_period(start), "get did not wait about one time-out");
        start = GetTickCount64();
        c.expect(port.read(got, 0) == 0, "read of 0 bytes did not return 0");
        c.expect(GetTickCount64() - start < kWaitFloorMs, "read of 0 bytes waited");
    }
    {
        Case c("CloseAndReopenAt921600_AllByteValuesPassUnchanged");
        port.close();
        expect_closed(c, port);
        port.close();
        c.expect(port.open(921600), "reopen failed");
        c.expect(port.timeout(kEchoTimeoutMs), "timeout failed");
        std::vector<uint8_t> sent(256);
        for (size_t i = 0; i < sent.size(); i++)
            sent[i] = static_cast<uint8_t>(i);
        c.expect(port.write(sent.data(), 256) == 256, "write did not return 256");
        std::vector<uint8_t> got(256);
        c.expect(port.read(got.data(), 256) == 256, "read did not return 256");
        c.expect(got == sent, "bytes changed on the way");
        port.flush();
    }
    port.close();
    return failures == 0 ? 0 : 1;
}
