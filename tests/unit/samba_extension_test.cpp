// The boot loader's extension commands: exact command texts, reply checks,
// the long and short reply time-outs, checksum parsing, the settings dump and
// the behaviour of a client whose boot loader lacks the extensions.
#include <functional>

#include "SambaTestSupport.h"

using namespace samba_test;
using Event = ScriptedLink::Event;

namespace
{

class SambaExtension : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        connectClient(true);
        link->onWrite = nullptr;
    }

    // Time-out in force for each reply read, in order.
    std::vector<int> replyTimeouts() const
    {
        std::vector<int> out;
        for (const Event& e : link->eventsOf(Event::Read))
            out.push_back(e.timeoutMs);
        return out;
    }
};

struct EraseCase
{
    uint32_t addr;
    uint8_t clearEEPROMtoo;
    const char* text;
};

TEST_F(SambaExtension, ChipErase_DigitIsNegationOfClearFlag)
{
    const EraseCase cases[] = {
        {0x1F000, 1, "X0001F000,0#"},
        {0x1F000, 0, "X0001F000,1#"},
        {0x1000, 2, "X00001000,0#"},
    };
    for (const EraseCase& c : cases)
    {
        SCOPED_TRACE(c.text);
        link->clearLog();
        link->queueReply("X\n\r");
        EXPECT_TRUE(samba.chipErase(c.addr, c.clearEEPROMtoo));
        EXPECT_EQ(commandsSent(), c.text);
        EXPECT_EQ(link->flushCount(), 0);
        EXPECT_EQ(replyTimeouts(), std::vector<int>{5000});
        EXPECT_EQ(link->timeoutMs(), 1000);
    }
}

TEST_F(SambaExtension, LongReplies_AcceptedAfterFourSeconds)
{
    link->queueReply("X", 4000);
    EXPECT_TRUE(samba.chipErase(0x1000, 0));
    link->queueReply("x", 4000);
    EXPECT_TRUE(samba.initD());
    link->queueReply("Y");
    link->queueReply("Y", 4000);
    EXPECT_TRUE(samba.writeBuffer(0x20000000, 0x1000, 0x40));
    link->queueReply("Z00000001", 4000);
    EXPECT_EQ(samba.checksumBuffer(0x1000, 0x40), 1u);
    EXPECT_EQ(replyTimeouts(), (std::vector<int>{5000, 5000, 100, 5000, 5000}));
    EXPECT_EQ(link->timeoutMs(), 1000);
}

TEST_F(SambaExtension, WriteBuffer_SendsBothStepsInOrder)
{
    link->queueReply("Y");
    link->queueReply("Y");
    EXPECT_TRUE(samba.writeBuffer(0x20000000, 0x1F040, 0x40));
    std::vector<Bytes> sends = link->sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(std::string(sends[0].begin(), sends[0].end()), "Y20000000,0#");
    EXPECT_EQ(std::string(sends[1].begin(), sends[1].end()), "Y0001F040,00000040#");
    EXPECT_EQ(link->flushCount(), 0);
}

TEST_F(SambaExtension, WriteBuffer_FirstStepLateBeyondHundredMilliseconds_Raises)
{
    link->queueReply("Y", 150);
    EXPECT_THROW(samba.writeBuffer(0x20000000, 0x1000, 0x40), SambaError);
    EXPECT_EQ(link->sends().size(), 1u);
}

TEST_F(SambaExtension, WriteBuffer_BadFirstReply_SecondCommandNotSent)
{
    for (const char* reply : {"N", ""})
    {
        SCOPED_TRACE(reply);
        link->clearLog();
        link->queueReply(reply);
        EXPECT_THROW(samba.writeBuffer(0x20000000, 0x1000, 0x40), SambaError);
        EXPECT_EQ(commandsSent(), "Y20000000,0#");
        EXPECT_EQ(link->timeoutMs(), 1000);
    }
}

struct BadReplyCase
{
    const char* name;
    std::vector<std::string> replies;
    std::function<void(Samba&)> run;
};

// Silence is a failure for every extension command, erase and "x#" included.
TEST_F(SambaExtension, SilenceOrWrongLetter_Raises)
{
    const BadReplyCase cases[] = {
        {"erase silent", {""}, [](Samba& s) { s.chipErase(0x1000, 0); }},
        {"erase wrong", {"Y"}, [](Samba& s) { s.chipErase(0x1000, 0); }},
        {"initD silent", {""}, [](Samba& s) { s.initD(); }},
        {"initD wrong", {"X"}, [](Samba& s) { s.initD(); }},
        {"writeBuffer second silent",
         {"Y", ""},
         [](Samba& s) { s.writeBuffer(0x20000000, 0x1000, 64); }},
        {"writeBuffer second wrong",
         {"Y", "y"},
         [](Samba& s) { s.writeBuffer(0x20000000, 0x1000, 64); }},
        {"checksum silent", {""}, [](Samba& s) { s.checksumBuffer(0x1000, 64); }},
        {"checksum wrong", {"X00000000"}, [](Samba& s) { s.checksumBuffer(0x1000, 64); }},
    };
    for (const BadReplyCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->dropPending();
        for (const std::string& r : c.replies)
            link->queueReply(r);
        EXPECT_THROW(c.run(samba), SambaError);
        EXPECT_EQ(link->timeoutMs(), 1000);
    }
}

struct ChecksumCase
{
    const char* reply;
    bool ok;
    uint32_t value;
};

TEST_F(SambaExtension, ChecksumReply_ParsedFromReceivedBytesOnly)
{
    const ChecksumCase cases[] = {
        {"Z0012ABCD", true, 0x12ABCD},
        {"ZFFFFFFFF", true, 0xFFFFFFFF},
        {"Zdeadbeef", true, 0xDEADBEEF},
        // A short reply must not run on into the command text "Z00001000,...".
        {"Z12", true, 0x12},
        {"Z", false, 0},
        {"Zxyz", false, 0},
        {"Z,12", false, 0},
    };
    for (const ChecksumCase& c : cases)
    {
        SCOPED_TRACE(c.reply);
        link->clearLog();
        link->queueReply(c.reply);
        if (c.ok)
            EXPECT_EQ(samba.checksumBuffer(0x1000, 0x1E000), c.value);
        else
            EXPECT_THROW(samba.checksumBuffer(0x1000, 0x1E000), SambaError);
        EXPECT_EQ(commandsSent(), "Z00001000,0001E000#");
        std::vector<Event> reads = link->eventsOf(Event::Read);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].value, 9);
        EXPECT_EQ(reads[0].timeoutMs, 5000);
    }
}

TEST_F(SambaExtension, InitD_SendsTwoBytes)
{
    link->queueReply("x");
    EXPECT_TRUE(samba.initD());
    EXPECT_EQ(commandsSent(), "x#");
}

// --- settings dump ---------------------------------------------------------------

class SambaDump : public SambaFixture
{
};

TEST_F(SambaDump, EepromDump_ReadsWordsFromSettingsAreaInMemoryOrder)
{
    connectClient(false);
    monitor->words[0x1F000] = 0x44332211;
    monitor->words[0x1F004] = 0x88776655;
    uint8_t buf[8] = {};
    EXPECT_TRUE(samba.eepromDump(8, buf));
    EXPECT_EQ(commandsSent(), "w0001F000,4#w0001F004,4#");
    EXPECT_EQ(Bytes(buf, buf + 8), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

TEST_F(SambaDump, EepromDump_ZeroSizeReadsNothing)
{
    connectClient(false);
    uint8_t buf[1] = {0xEE};
    EXPECT_TRUE(samba.eepromDump(0, buf));
    EXPECT_TRUE(link->sends().empty());
    EXPECT_EQ(buf[0], 0xEE);
}

TEST_F(SambaDump, EepromDump_SilentWordRaisesAndKeepsEarlierWords)
{
    connectClient(false);
    monitor->words[0x1F000] = 0x44332211;
    uint8_t buf[8] = {};
    EXPECT_THROW(samba.eepromDump(8, buf), SambaError);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
}

// --- boot loader without the extensions ----------------------------------------

// A version query that falls silent leaves the client holding its port with
// the extension flags still false: the only way to reach that state.
class SambaWithoutExtensions : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        auto made = ScriptedPort::make(false);
        link = made.second;
        monitor = std::make_shared<FakeMonitor>();
        monitor->versionSilent = true;
        attach(link, monitor);
        EXPECT_THROW(samba.connect(std::move(made.first), 115200), SambaError);
        link->clearLog();
    }
};

TEST_F(SambaWithoutExtensions, EraseAndWriteBufferReturnFalseSilently_ChecksumRaises)
{
    EXPECT_FALSE(samba.isChipEraseAvailable());
    EXPECT_FALSE(samba.isWriteBufferAvailable());
    EXPECT_FALSE(samba.isChecksumBufferAvailable());
    EXPECT_FALSE(samba.chipErase(0x1000, 0));
    EXPECT_FALSE(samba.writeBuffer(0x20000000, 0x1000, 64));
    EXPECT_TRUE(link->sends().empty());
    link->queueReply("Z00000001");
    EXPECT_THROW(samba.checksumBuffer(0x1000, 64), SambaError);
    EXPECT_TRUE(link->sends().empty());
}

} // namespace
