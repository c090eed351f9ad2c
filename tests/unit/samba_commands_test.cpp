// The monitor client's text commands against a scripted link: exact bytes on
// the wire, reply checks, time-outs, chip identification, reset, trace lines
// and the boot loader's extension commands.
#include <functional>

#include "SambaTestSupport.h"

using namespace samba_test;
using Event = ScriptedLink::Event;

namespace
{

class SambaCommands : public SambaFixture
{
};

// --- unanswered commands ----------------------------------------------------

struct UnansweredCase
{
    const char* name;
    std::function<void(Samba&)> run;
    const char* expected;
};

const UnansweredCase kUnanswered[] = {
    {"writeByte", [](Samba& s) { s.writeByte(0x20000010, 0x5A); }, "O20000010,5A#"},
    {"writeByteZero", [](Samba& s) { s.writeByte(0, 0); }, "O00000000,00#"},
    {"writeWord", [](Samba& s) { s.writeWord(0x1F000, 0xDEADBEEF); }, "W0001F000,DEADBEEF#"},
    {"go", [](Samba& s) { s.go(0x1000); }, "G00001000#"},
};

TEST_F(SambaCommands, UnansweredCommands_ExactTextInOneWriteThenFlushOnUsbOnly)
{
    for (bool usb : {true, false})
    {
        for (const UnansweredCase& c : kUnanswered)
        {
            SCOPED_TRACE(std::string(c.name) + (usb ? " usb" : " serial"));
            samba.disconnect();
            connectClient(usb);
            c.run(samba);
            std::vector<Event> ev = link->events();
            ASSERT_FALSE(ev.empty());
            EXPECT_EQ(ev[0].kind, Event::Write);
            EXPECT_EQ(commandsSent(), c.expected);
            EXPECT_EQ(link->sends().size(), 1u);
            if (usb)
            {
                ASSERT_EQ(ev.size(), 2u);
                EXPECT_EQ(ev[1].kind, Event::Flush);
            }
            else
            {
                EXPECT_EQ(link->flushCount(), 0);
            }
        }
    }
}

TEST_F(SambaCommands, WriteByte_SendsThirteenCharactersEndingInHash)
{
    connectClient(true);
    samba.writeByte(0xFFFFFFFF, 0xFF);
    std::string sent = commandsSent();
    EXPECT_EQ(sent.size(), 13u);
    EXPECT_EQ(sent.back(), '#');
    EXPECT_EQ(sent, "OFFFFFFFF,FF#");
}

// --- answered reads ------------------------------------------------------------

TEST_F(SambaCommands, ReadWord_AssemblesLittleEndianAndNeverFlushes)
{
    connectClient(true);
    link->queueReply(Bytes{0x78, 0x56, 0x34, 0x12});
    EXPECT_EQ(samba.readWord(0x20000004), 0x12345678u);
    EXPECT_EQ(commandsSent(), "w20000004,4#");
    EXPECT_EQ(link->flushCount(), 0);
}

TEST_F(SambaCommands, ReadByte_SendsCountDigitFourAndReadsOneByte)
{
    connectClient(true);
    link->queueReply(Bytes{0xAB, 0xCD});
    EXPECT_EQ(samba.readByte(0x10), 0xAB);
    EXPECT_EQ(commandsSent(), "o00000010,4#");
    EXPECT_EQ(link->flushCount(), 0);
    std::vector<Event> reads = link->eventsOf(Event::Read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].value, 1);
}

struct ShortReplyCase
{
    const char* name;
    Bytes reply;
    std::function<void(Samba&)> run;
};

TEST_F(SambaCommands, ReadsWithMissingReplyBytes_RaiseSambaError)
{
    const ShortReplyCase cases[] = {
        {"word silent", Bytes{}, [](Samba& s) { s.readWord(0); }},
        {"word three bytes", Bytes{1, 2, 3}, [](Samba& s) { s.readWord(0); }},
        {"byte silent", Bytes{}, [](Samba& s) { s.readByte(0); }},
    };
    connectClient(false);
    link->onWrite = nullptr;
    for (const ShortReplyCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->queueReply(c.reply);
        EXPECT_THROW(c.run(samba), SambaError);
    }
}

// Every command is one port write of its whole text; a port that writes
// fewer bytes fails the operation before anything else happens.
TEST_F(SambaCommands, ShortCommandWrite_RaisesForEveryCommand)
{
    std::vector<std::pair<const char*, std::function<void(Samba&)>>> ops = {
        {"writeByte", [](Samba& s) { s.writeByte(0, 1); }},
        {"readByte", [](Samba& s) { s.readByte(0); }},
        {"writeWord", [](Samba& s) { s.writeWord(0, 1); }},
        {"readWord", [](Samba& s) { s.readWord(0); }},
        {"go", [](Samba& s) { s.go(0); }},
        {"version", [](Samba& s) { s.version(); }},
        {"write",
         [](Samba& s)
         {
             uint8_t b[4] = {};
             s.write(0x20000000, b, 4);
         }},
        {"read",
         [](Samba& s)
         {
             uint8_t b[4];
             s.read(0x20000000, b, 4);
         }},
        {"chipErase", [](Samba& s) { s.chipErase(0x1000, 0); }},
        {"writeBuffer", [](Samba& s) { s.writeBuffer(0x20000000, 0x1000, 64); }},
        {"checksumBuffer", [](Samba& s) { s.checksumBuffer(0x1000, 64); }},
        {"initD", [](Samba& s) { s.initD(); }},
    };
    for (bool usb : {true, false})
    {
        samba.disconnect();
        connectClient(usb);
        link->writeLimit = 1;
        for (auto& op : ops)
        {
            SCOPED_TRACE(std::string(op.first) + (usb ? " usb" : " serial"));
            link->clearLog();
            // A reply is ready, so only the short write can be the cause.
            link->push("YXZx\x06");
            EXPECT_THROW(op.second(samba), SambaError);
            EXPECT_EQ(link->sends().size(), 1u);
            EXPECT_EQ(link->flushCount(), 0);
        }
    }
}

// --- version ---------------------------------------------------------------

struct VersionCase
{
    const char* name;
    std::string reply;
    std::string text;
};

TEST_F(SambaCommands, Version_KeepsPrintablePrefixOfReply)
{
    const VersionCase cases[] = {
        {"line end cut", "v1.1 QZV\r\n", "v1.1 QZV"},
        {"all printable", "QZV ~ end", "QZV ~ end"},
        {"non-printable first", std::string("\x01QZV", 4), ""},
        {"stops at DEL",
         "ab\x7f"
         "cd",
         "ab"},
        {"at most 255 bytes", std::string(300, 'Q'), std::string(255, 'Q')},
    };
    connectClient(true);
    link->onWrite = nullptr;
    for (const VersionCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->queueReply(c.reply);
        EXPECT_EQ(samba.version(), c.text);
        link->dropPending();
    }
}

TEST_F(SambaCommands, Version_ReadsUnderHundredMillisecondsThenRestoresOneSecond)
{
    connectClient(false);
    EXPECT_EQ(samba.version(), "v2.7 QZV Nov  3 2021");
    EXPECT_EQ(commandsSent(), "V#");
    std::vector<Event> reads = link->eventsOf(Event::Read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].timeoutMs, 100);
    EXPECT_EQ(reads[0].value, 255);
    EXPECT_EQ(link->timeoutMs(), 1000);
}

TEST_F(SambaCommands, Version_SilenceOrLateReply_Raises)
{
    connectClient(false);
    monitor->versionSilent = true;
    EXPECT_THROW(samba.version(), SambaError);
    EXPECT_EQ(link->timeoutMs(), 1000);

    monitor->versionSilent = false;
    monitor->replyDelayMs = 150;
    EXPECT_THROW(samba.version(), SambaError);
    EXPECT_EQ(link->timeoutMs(), 1000);
}

// --- chip identity ----------------------------------------------------------

struct ChipIdCase
{
    const char* name;
    std::map<uint32_t, uint32_t> words;
    uint32_t id;
    std::string reads;
};

TEST_F(SambaCommands, ChipId_FollowsTheCorePath)
{
    const ChipIdCase cases[] = {
        {"Cortex-M0+ clears die revision bits",
         {{0, 0x20002000}, {0xE000ED00, 0x410CC601}, {0x41002018, 0x1001F30B}},
         0x1001030B,
         "w00000000,4#wE000ED00,4#w41002018,4#"},
        {"Cortex-M0+ keeps every other bit",
         {{0, 0x20002000}, {0xE000ED00, 0x410CC60F}, {0x41002018, 0xFFFF0FFF}},
         0xFFFF0FFF,
         "w00000000,4#wE000ED00,4#w41002018,4#"},
        {"ARM branch at the reset vector",
         {{0, 0xEA00001E}, {0xFFFFF240, 0x275B0940}},
         0x275B0940,
         "w00000000,4#wFFFFF240,4#"},
        {"other Cortex-M, chip id register set",
         {{0, 0x20002000}, {0xE000ED00, 0x412FC230}, {0x400E0740, 0x28A00960}},
         0x28A00960,
         "w00000000,4#wE000ED00,4#w400E0740,4#"},
        {"other Cortex-M, chip id register zero",
         {{0, 0x20002000}, {0xE000ED00, 0x410FC241}, {0x400E0740, 0}, {0x400E0940, 0x285E0A60}},
         0x285E0A60,
         "w00000000,4#wE000ED00,4#w400E0740,4#w400E0940,4#"},
    };
    connectClient(true);
    for (const ChipIdCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        monitor->words = c.words;
        link->clearLog();
        EXPECT_EQ(samba.chipId(), c.id);
        EXPECT_EQ(commandsSent(), c.reads);
    }
}

TEST_F(SambaCommands, ChipId_SilentRegister_Raises)
{
    connectClient(true);
    monitor->words.erase(kDeviceIdAddr);
    EXPECT_THROW(samba.chipId(), SambaError);
}

// --- reset ---------------------------------------------------------------------

TEST_F(SambaCommands, Reset_OnAdapterWritesResetRequestAndPauses)
{
    connectClient(true);
    testing::internal::CaptureStdout();
    samba.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CPU reset.\n");
    std::string sent = commandsSent();
    ASSERT_GE(sent.size(), 19u);
    EXPECT_EQ(sent.substr(sent.size() - 19), "WE000ED0C,05FA0004#");
    EXPECT_EQ(pauses, std::vector<int>{100});
}

TEST_F(SambaCommands, Reset_OnOtherProcessorPrintsBothLinesAndWritesNothing)
{
    connectClient(true);
    monitor->words[kDeviceIdAddr] = 0x10010305;
    testing::internal::CaptureStdout();
    samba.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CPU reset.\nReset not supported for this CPU.\n");
    EXPECT_EQ(commandsSent().find('W'), std::string::npos);
    EXPECT_TRUE(pauses.empty());
}

// --- trace lines ---------------------------------------------------------------

struct TraceCase
{
    const char* name;
    Bytes reply; // queued for the first command the case sends
    std::function<void(Samba&)> run;
    std::string line;
};

TEST_F(SambaCommands, TraceLines_PrintedOnStdoutInTraceModeOnly)
{
    const TraceCase cases[] = {
        {"writeByte",
         {},
         [](Samba& s) { s.writeByte(0x20, 0x5); },
         "writeByte(addr=0x20,value=0x5)\n"},
        {"writeByte zeros", {}, [](Samba& s) { s.writeByte(0, 0); }, "writeByte(addr=0,value=0)\n"},
        {"readByte", {0xAB}, [](Samba& s) { s.readByte(0x10); }, "readByte(addr=0x10)=0xab\n"},
        {"writeWord",
         {},
         [](Samba& s) { s.writeWord(0x1F000, 0xDEADBEEF); },
         "writeWord(addr=0x1f000,value=0xdeadbeef)\n"},
        {"readWord",
         {0x78, 0x56, 0x34, 0x12},
         [](Samba& s) { s.readWord(0x4); },
         "readWord(addr=0x4)=0x12345678\n"},
        {"go", {}, [](Samba& s) { s.go(0x1000); }, "go(addr=0x1000)\n"},
        {"write",
         {},
         [](Samba& s)
         {
             uint8_t b[64] = {};
             s.write(0x20000000, b, 64);
         },
         "write(addr=0x20000000,size=0x40)\n"},
        {"read", Bytes(48, 0),
         [](Samba& s)
         {
             uint8_t b[48];
             s.read(0x20000000, b, 48);
         },
         "read(addr=0x20000000,size=0x30)\n"},
        {"chipErase", {'X'}, [](Samba& s) { s.chipErase(0x1000, 1); }, "chipErase(addr=0x1000)\n"},
        {"writeBuffer",
         {'Y'},
         [](Samba& s) { s.writeBuffer(0x20000000, 0x1F040, 0x40); },
         "writeBuffer(scr_addr=0x20000000, dst_addr=0x1f040, size=0x40)\n"},
        {"checksumBuffer", bytesOf("Z0012ABCD"), [](Samba& s) { s.checksumBuffer(0x1000, 0x100); },
         "checksumBuffer(start_addr=0x1000, size=0x100) = 12abcd\n"},
        {"initD", {'x'}, [](Samba& s) { s.initD(); }, "initD()\n"},
    };
    connectClient(true);
    // The second step of the buffered write needs its own "Y".
    link->onWrite = [](ScriptedLink& l, const Bytes& sent)
    {
        if (sent.size() == 19 && sent[0] == 'Y')
            l.push("Y");
    };
    for (bool debug : {true, false})
    {
        samba.setDebug(debug);
        for (const TraceCase& c : cases)
        {
            SCOPED_TRACE(std::string(c.name) + (debug ? " trace" : " quiet"));
            link->queueReply(c.reply);
            testing::internal::CaptureStdout();
            EXPECT_NO_THROW(c.run(samba));
            EXPECT_EQ(testing::internal::GetCapturedStdout(), debug ? c.line : "");
            link->clearLog();
        }
    }
}

TEST_F(SambaCommands, TraceOfVersion_ShowsTheText)
{
    connectClient(false);
    samba.setDebug(true);
    testing::internal::CaptureStdout();
    samba.version();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "version()=v2.7 QZV Nov  3 2021\n");
}

} // namespace
