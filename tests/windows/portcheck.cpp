// Test-only checks of WinSerialPort under Wine, over two COM ports joined by a
// null-modem cable (ptypair): what one sends, the other receives, so each
// check controls both the bytes and their timing. One line per case:
// "ok CASE" or "FAIL CASE: why". Exit status 1 when any case fails.
//   portcheck PORT_A PORT_B MISSING_PORT
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "WinSerialPort.h"

namespace
{
const int kShortTimeoutMs = 200;
// A wait must last about its time-out: not return early, not hang.
const ULONGLONG kWaitFloorMs = 150;
const ULONGLONG kWaitCeilingMs = 3000;
const int kReplyTimeoutMs = 1000;
// A second burst later than one wait period but within the next.
const int kGatherTimeoutMs = 300;
const DWORD kFirstBurstMs = 100;
const DWORD kSecondBurstMs = 500;

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

ULONGLONG since(ULONGLONG startMs)
{
    return GetTickCount64() - startMs;
}

bool about_one_period(ULONGLONG elapsedMs)
{
    return elapsedMs >= kWaitFloorMs && elapsedMs < kWaitCeilingMs;
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
    if (argc != 4)
    {
        fprintf(stderr, "usage: portcheck PORT_A PORT_B MISSING_PORT\n");
        return 2;
    }
    const std::string nameA = argv[1];
    const std::string nameB = argv[2];
    const std::string missingName = argv[3];

    {
        Case c("MissingPort_OpenFailsAndStaysClosed");
        WinSerialPort port(missingName, false);
        c.expect(!port.open(115200), "open succeeded");
        expect_closed(c, port);
    }

    WinSerialPort a(nameA, true);
    WinSerialPort b(nameB, false);
    {
        Case c("NewPort_ClosedWithItsNameAndMark");
        c.expect(a.name() == nameA && b.name() == nameB, "name differs");
        c.expect(a.isUsb() && !b.isUsb(), "USB mark differs from the one given");
        expect_closed(c, a);
    }
    {
        Case c("BadFraming_OpenFailsThenValidOpenSucceeds");
        c.expect(!a.open(115200, 8, static_cast<SerialPort::Parity>(7)),
                 "open with parity 7 succeeded");
        c.expect(!a.open(115200, 8, SerialPort::ParityNone, static_cast<SerialPort::StopBit>(9)),
                 "open with stop bits 9 succeeded");
        c.expect(!a.timeout(kShortTimeoutMs), "port open after a failed open");
        c.expect(a.open(115200), "valid open failed");
        c.expect(b.open(115200), "open of the other end failed");
    }
    {
        Case c("SecondOpen_RefusedAndFirstStillWorks");
        c.expect(!a.open(921600), "second open succeeded");
        c.expect(b.timeout(kReplyTimeoutMs), "timeout failed");
        c.expect(a.put('A') == 'A' && b.get() == 'A', "nothing arrived after the second open");
    }
    {
        Case c("Put0x1FF_SendsByte0xFFAndGetReturns255");
        c.expect(a.put(0x1FF) == 255, "put did not return 255");
        c.expect(b.get() == 255, "get did not return 255");
    }
    {
        Case c("ShortAnswer_ReadReturnsCountAfterOneEmptyWait");
        c.expect(b.timeout(kShortTimeoutMs), "timeout failed");
        const uint8_t sent[4] = {0x10, 0x00, 0x0D, 0x0A};
        c.expect(a.write(sent, 4) == 4, "write did not return 4");
        uint8_t got[10] = {0};
        ULONGLONG start = GetTickCount64();
        int n = b.read(got, 10);
        c.expect(n == 4, "read did not return 4");
        c.expect(about_one_period(since(start)), "read did not wait about one time-out");
        c.expect(n == 4 && memcmp(got, sent, 4) == 0, "bytes differ");
    }
    {
        Case c("LateSecondBurst_ReadGathersWithANewWaitPeriod");
        c.expect(b.timeout(kGatherTimeoutMs), "timeout failed");
        const uint8_t sent[6] = {1, 2, 3, 4, 5, 6};
        std::thread sender([&a, &sent]() {
            Sleep(kFirstBurstMs);
            a.write(sent, 3);
            Sleep(kSecondBurstMs - kFirstBurstMs);
            a.write(sent + 3, 3);
        });
        uint8_t got[6] = {0};
        ULONGLONG start = GetTickCount64();
        int n = b.read(got, 6);
        ULONGLONG elapsed = since(start);
        sender.join();
        c.expect(n == 6, "read did not gather both bursts");
        c.expect(n == 6 && memcmp(got, sent, 6) == 0, "bytes differ");
        // Returned once the count was met, not after a further wait period.
        c.expect(elapsed < kSecondBurstMs + kGatherTimeoutMs, "read waited past the last byte");
    }
    {
        Case c("Silence_ReadReturns0AndGetReturnsMinus1");
        c.expect(b.timeout(kShortTimeoutMs), "timeout failed");
        uint8_t got[10];
        ULONGLONG start = GetTickCount64();
        c.expect(b.read(got, 10) == 0, "read did not return 0");
        c.expect(about_one_period(since(start)), "read did not wait about one time-out");
        start = GetTickCount64();
        c.expect(b.get() == -1, "get did not return -1");
        c.expect(about_one_period(since(start)), "get did not wait about one time-out");
        start = GetTickCount64();
        c.expect(b.read(got, 0) == 0, "read of 0 bytes did not return 0");
        c.expect(since(start) < kWaitFloorMs, "read of 0 bytes waited");
    }
    {
        Case c("CloseAndReopenAt921600_AllByteValuesPassUnchanged");
        a.close();
        expect_closed(c, a);
        a.close();
        c.expect(a.open(921600), "reopen failed");
        c.expect(b.timeout(kReplyTimeoutMs), "timeout failed");
        std::vector<uint8_t> sent(256);
        for (size_t i = 0; i < sent.size(); i++)
            sent[i] = static_cast<uint8_t>(i);
        c.expect(a.write(sent.data(), 256) == 256, "write did not return 256");
        std::vector<uint8_t> got(256);
        c.expect(b.read(got.data(), 256) == 256, "read did not return 256");
        c.expect(got == sent, "bytes changed on the way");
        a.flush();
    }
    return failures == 0 ? 0 : 1;
}
