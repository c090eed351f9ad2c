// Connecting the monitor client: speeds and link modes, the drain and
// auto-baud steps, the identity and version checks, what happens to the port
// on each outcome, and the trace lines of the procedure.
#include <algorithm>

#include "SambaTestSupport.h"

using namespace samba_test;
using Event = ScriptedLink::Event;

namespace
{

class SambaConnect : public SambaFixture
{
protected:
    // A fresh port and monitor; the port is left in `port` for connect().
    void makePort(bool usb)
    {
        auto made = ScriptedPort::make(usb);
        port = std::move(made.first);
        link = made.second;
        monitor = std::make_shared<FakeMonitor>();
        attach(link, monitor);
    }

    bool connect() { return samba.connect(std::move(port), 115200); }

    // True when the bytes 0x80, 0x80, '#' were sent one by one.
    bool autoBaudSent() const
    {
        std::vector<Event> puts = link->eventsOf(Event::Put);
        return puts.size() == 3 && puts[0].value == 0x80 && puts[1].value == 0x80 &&
               puts[2].value == '#';
    }

    SerialPort::Ptr port;
};

TEST_F(SambaConnect, UsbPort_ConnectsAt921600AsUsbLink)
{
    makePort(true);
    samba.setDebug(true);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(connect());
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(link->openBauds(), std::vector<int>{921600});
    Event open = link->eventsOf(Event::Open)[0];
    EXPECT_EQ(open.bytes, (Bytes{8, SerialPort::ParityNone, SerialPort::StopBitOne}));
    EXPECT_TRUE(link->eventsOf(Event::Put).empty()) << "no auto-baud on the USB link";
    EXPECT_EQ(pauses, std::vector<int>{500});
    EXPECT_EQ(link->timeoutMs(), 1000);
    EXPECT_TRUE(samba.isChipEraseAvailable());
    EXPECT_TRUE(samba.isWriteBufferAvailable());
    EXPECT_TRUE(samba.isChecksumBufferAvailable());
    EXPECT_NE(out.find("chipId=0x1001030b\n"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 25), "Connected at 921600 baud\n");

    // The USB link flushes after an unanswered command.
    link->clearLog();
    samba.writeWord(0x20000000, 1);
    EXPECT_EQ(link->flushCount(), 1);
}

TEST_F(SambaConnect, Init_DrainsEarlierOutputUnderShortTimeoutBeforeIdentity)
{
    makePort(true);
    link->push(std::string(700, '>'));
    ASSERT_TRUE(connect());
    std::vector<Event> ev = link->events();
    // open, time-out 100, then the drain read of 1024 bytes.
    ASSERT_GE(ev.size(), 3u);
    EXPECT_EQ(ev[1].kind, Event::Timeout);
    EXPECT_EQ(ev[1].value, 100);
    EXPECT_EQ(ev[2].kind, Event::Read);
    EXPECT_EQ(ev[2].value, 1024);
    EXPECT_EQ(ev[2].bytes.size(), 700u);
    EXPECT_EQ(ev[3].kind, Event::Write);
}

TEST_F(SambaConnect, UsbPortSilentAt921600_FallsBackToSerialLinkAt115200)
{
    makePort(true);
    monitor->silentAtBaud = 921600;
    samba.setDebug(true);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(connect());
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(link->openBauds(), (std::vector<int>{921600, 115200}));
    std::vector<Event> ev = link->events();
    auto secondOpen = std::find_if(ev.begin() + 1, ev.end(),
                                   [](const Event& e) { return e.kind == Event::Open; });
    ASSERT_NE(secondOpen, ev.end());
    EXPECT_EQ((secondOpen - 1)->kind, Event::Close);
    EXPECT_TRUE(autoBaudSent());
    EXPECT_EQ(pauses, (std::vector<int>{500, 500}));
    EXPECT_NE(out.find("Send auto-baud\n"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 25), "Connected at 115200 baud\n");

    // Now a serial link: no flush, and a memory write waits for the
    // receiver's "C" instead of sending raw data.
    link->clearLog();
    link->onWrite = nullptr;
    samba.writeWord(0x20000000, 1);
    EXPECT_EQ(link->flushCount(), 0);
    uint8_t data[4] = {1, 2, 3, 4};
    link->queueReply("C");
    link->queueReply(Bytes{0x06});
    link->queueReply(Bytes{0x06});
    samba.write(0x20000000, data, 4);
    std::vector<Bytes> sends = link->sends();
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(sends[2].size(), 133u);
    EXPECT_EQ(sends[3], Bytes{0x04});
}

TEST_F(SambaConnect, AutoBaud_RepliesAreReadAndDiscarded)
{
    makePort(false);
    link->onWrite = [this](ScriptedLink& l, const Bytes& sent)
    {
        if (sent == Bytes{0x80})
            l.push(">");
        else if (sent == Bytes{'#'})
            l.push("\n\r>");
        else
            monitor->feed(l, sent);
    };
    ASSERT_TRUE(connect());
    EXPECT_TRUE(autoBaudSent());
    EXPECT_EQ(link->pending(), 0u);
    std::vector<Event> gets = link->eventsOf(Event::Get);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].value, '>');
}

TEST_F(SambaConnect, NonUsbPort_OpenedOnceAt115200)
{
    makePort(false);
    ASSERT_TRUE(connect());
    EXPECT_EQ(link->openBauds(), std::vector<int>{115200});
    EXPECT_TRUE(autoBaudSent());
    link->clearLog();
    samba.go(0x1000);
    EXPECT_EQ(link->flushCount(), 0);
}

struct RefusalCase
{
    const char* name;
    bool usb;
    std::function<void(ScriptedLink&, FakeMonitor&)> setup;
    std::vector<int> bauds; // speeds tried
};

// Every refusal returns false without an error, closes the port and gives it up.
TEST_F(SambaConnect, Refusals_ReturnFalseAndReleasePort)
{
    const RefusalCase cases[] = {
        {"open refused",
         false,
         [](ScriptedLink& l, FakeMonitor&) { l.acceptOpen = [](int) { return false; }; },
         {115200}},
        {"open refused usb",
         true,
         [](ScriptedLink& l, FakeMonitor&) { l.acceptOpen = [](int) { return false; }; },
         {921600, 115200}},
        {"no QZV",
         false,
         [](ScriptedLink&, FakeMonitor& m) { m.versionText = "v1.1 Nov 3\n"; },
         {115200}},
        {"no QZV usb",
         true,
         [](ScriptedLink&, FakeMonitor& m) { m.versionText = "v1.1 Nov 3\n"; },
         {921600, 115200}},
        {"unprintable version",
         false,
         [](ScriptedLink&, FakeMonitor& m) { m.versionText = std::string("\x02QZV", 4); },
         {115200}},
        {"first identity read silent",
         false,
         [](ScriptedLink&, FakeMonitor& m) { m.words.clear(); },
         {115200}},
        {"identity later than 100 ms",
         false,
         [](ScriptedLink&, FakeMonitor& m) { m.replyDelayMs = 150; },
         {115200}},
        {"other processor",
         true,
         [](ScriptedLink&, FakeMonitor& m) { m.words[kDeviceIdAddr] = 0x10010305; },
         {921600, 115200}},
    };
    for (const RefusalCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        makePort(c.usb);
        c.setup(*link, *monitor);
        EXPECT_FALSE(connect());
        EXPECT_EQ(link->openBauds(), c.bauds);
        EXPECT_FALSE(link->isOpen());
        EXPECT_TRUE(link->destroyed());
        EXPECT_THROW(samba.getSerialPort(), SambaError);
    }
}

TEST_F(SambaConnect, SilentFirstIdentityRead_NoVersionQuery)
{
    makePort(false);
    monitor->words.clear();
    EXPECT_FALSE(connect());
    EXPECT_EQ(link->sentText().find("V#"), std::string::npos);
}

TEST_F(SambaConnect, VersionWithoutMarker_LeavesExtensionsOff)
{
    makePort(false);
    monitor->versionText = "v1.1\n";
    EXPECT_FALSE(connect());
    EXPECT_FALSE(samba.isChipEraseAvailable());
    EXPECT_FALSE(samba.isWriteBufferAvailable());
    EXPECT_FALSE(samba.isChecksumBufferAvailable());
}

TEST_F(SambaConnect, OtherProcessor_TraceShowsIdentityThenRefusal)
{
    makePort(false);
    monitor->words[kDeviceIdAddr] = 0x10010305;
    samba.setDebug(true);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(connect());
    std::string out = testing::internal::GetCapturedStdout();
    size_t id = out.find("chipId=0x10010305\n");
    ASSERT_NE(id, std::string::npos);
    EXPECT_EQ(out.find("Unsupported processor\n"), id + 18);
    EXPECT_EQ(out.find("Connected"), std::string::npos);
}

TEST_F(SambaConnect, QuietMode_PrintsNothing)
{
    makePort(true);
    monitor->silentAtBaud = 921600;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(connect());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SambaConnect, SilentVersion_RaisesAndKeepsPortOpen)
{
    for (bool usb : {true, false})
    {
        SCOPED_TRACE(usb ? "usb" : "serial");
        makePort(usb);
        monitor->versionSilent = true;
        EXPECT_THROW(connect(), SambaError);
        // On a USB port the 115200 attempt is not made.
        EXPECT_EQ(link->openBauds(), std::vector<int>{usb ? 921600 : 115200});
        EXPECT_TRUE(link->isOpen());
        EXPECT_FALSE(link->destroyed());
        EXPECT_EQ(samba.getSerialPort().name(), "SCRIPTED");
        EXPECT_FALSE(samba.isChecksumBufferAvailable());
    }
}

TEST_F(SambaConnect, ReconnectAfterFailure_UsesNewPortAndDropsOld)
{
    makePort(false);
    monitor->versionText = "nope\n";
    EXPECT_FALSE(connect());
    std::shared_ptr<ScriptedLink> first = link;

    makePort(false);
    EXPECT_TRUE(connect());
    EXPECT_TRUE(first->destroyed());

    // Connecting again while holding a port destroys the held one.
    std::shared_ptr<ScriptedLink> second = link;
    makePort(false);
    EXPECT_TRUE(connect());
    EXPECT_TRUE(second->destroyed());
    EXPECT_FALSE(link->destroyed());
}

TEST_F(SambaConnect, DisconnectAndDestruction_ClosePort)
{
    makePort(false);
    ASSERT_TRUE(connect());
    samba.disconnect();
    EXPECT_FALSE(link->isOpen());
    EXPECT_TRUE(link->destroyed());
    EXPECT_THROW(samba.getSerialPort(), SambaError);

    std::shared_ptr<ScriptedLink> held;
    {
        Samba other;
        auto made = ScriptedPort::make(false);
        held = made.second;
        attach(held, monitor);
        ASSERT_TRUE(other.connect(std::move(made.first), 115200));
        EXPECT_TRUE(held->isOpen());
    }
    EXPECT_TRUE(held->destroyed());
    EXPECT_FALSE(held->isOpen());
}

TEST_F(SambaConnect, OperationsWithoutPort_Raise)
{
    EXPECT_THROW(samba.readWord(0), SambaError);
    EXPECT_THROW(samba.writeByte(0, 0), SambaError);
    EXPECT_THROW(samba.version(), SambaError);
}

} // namespace
