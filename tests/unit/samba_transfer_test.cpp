// Block transfers of the monitor client: raw data on the USB link,
// XMODEM-CRC both ways on a serial link against a scripted peer, and the
// CRC-16 that guards the XMODEM blocks.
#include <cstring>

#include "SambaTestSupport.h"

using namespace samba_test;
using Event = ScriptedLink::Event;

namespace
{

const uint8_t SOH = 0x01, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18;
const uint32_t kStaging = 0x20000000;

// Bit by bit, independent of the client's table.
uint16_t referenceCrc(const uint8_t* data, size_t len)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < len; i++)
    {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

Bytes pattern(size_t n, uint8_t seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// A 133-byte XMODEM block carrying `data` (zero-padded) as the peer sends it.
Bytes makeBlock(uint8_t num, const Bytes& data, bool badCrc = false, int complement = -1)
{
    Bytes blk(133, 0);
    blk[0] = SOH;
    blk[1] = num;
    blk[2] = complement < 0 ? static_cast<uint8_t>(255 - num) : static_cast<uint8_t>(complement);
    std::memcpy(&blk[3], data.data(), std::min<size_t>(data.size(), 128));
    uint16_t crc = referenceCrc(&blk[3], 128);
    if (badCrc)
        crc ^= 0x0100;
    blk[131] = static_cast<uint8_t>(crc >> 8);
    blk[132] = static_cast<uint8_t>(crc);
    return blk;
}

// ---------------------------------------------------------------------------
// CRC-16

class SambaCrc : public ::testing::Test
{
protected:
    Samba samba;
};

TEST_F(SambaCrc, Calc_CheckValueAndEmptyInput)
{
    const char* check = "123456789";
    EXPECT_EQ(SambaTestAccess::crc16Calc(samba, reinterpret_cast<const uint8_t*>(check), 9),
              0x31C3);
    EXPECT_EQ(SambaTestAccess::crc16Calc(samba, reinterpret_cast<const uint8_t*>(check), 0), 0);
    EXPECT_EQ(SambaTestAccess::crc16Calc(samba, reinterpret_cast<const uint8_t*>(check), -1), 0);
}

TEST_F(SambaCrc, Table_NamedEntriesAndEveryEntryMatchPolynomial)
{
    const std::pair<uint8_t, uint16_t> named[] = {
        {0, 0x0000}, {1, 0x1021}, {2, 0x2042}, {0x31, 0x2672}, {128, 0x9188}};
    for (const auto& e : named)
        EXPECT_EQ(samba.crc16AddByte(e.first, 0), e.second) << "entry " << int(e.first);
    for (int i = 0; i < 256; i++)
    {
        uint8_t b = static_cast<uint8_t>(i);
        ASSERT_EQ(samba.crc16AddByte(b, 0), referenceCrc(&b, 1)) << "entry " << i;
    }
}

TEST_F(SambaCrc, AddByte_ContinuesFromGivenCrc)
{
    Bytes data = pattern(300, 9);
    uint16_t crc = 0;
    for (uint8_t b : data)
        crc = samba.crc16AddByte(b, crc);
    EXPECT_EQ(crc, referenceCrc(data.data(), data.size()));
}

TEST_F(SambaCrc, AddAndCheck_CoverDataBytesOnlyHighByteFirst)
{
    Bytes blk(133, 0);
    blk[0] = SOH;
    Bytes data = pattern(128);
    std::memcpy(&blk[3], data.data(), 128);
    SambaTestAccess::crc16Add(samba, blk.data());
    uint16_t crc = referenceCrc(data.data(), 128);
    EXPECT_EQ(blk[131], crc >> 8);
    EXPECT_EQ(blk[132], crc & 0xFF);
    EXPECT_TRUE(SambaTestAccess::crc16Check(samba, blk.data()));

    Bytes header = blk;
    header[1] = 0x55;
    header[2] = 0x12;
    EXPECT_TRUE(SambaTestAccess::crc16Check(samba, header.data()));
    for (size_t at : {size_t(3), size_t(130), size_t(131), size_t(132)})
    {
        Bytes bad = blk;
        bad[at] ^= 0x01;
        EXPECT_FALSE(SambaTestAccess::crc16Check(samba, bad.data())) << "byte " << at;
    }
}

// ---------------------------------------------------------------------------
// Serial link: XMODEM send

class XmodemSend : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        connectClient(false);
        link->onWrite = nullptr;
    }

    // The blocks sent (writes of 133 bytes), in order.
    std::vector<Bytes> blocksSent() const
    {
        std::vector<Bytes> out;
        for (const Bytes& b : link->sends())
            if (b.size() == 133)
                out.push_back(b);
        return out;
    }

    // A peer that asks for CRC mode and accepts every block and the end.
    void acceptAll()
    {
        link->onWrite = [](ScriptedLink& l, const Bytes& sent)
        {
            if (sent[0] == 'S')
                l.push("C");
            else if (sent.size() == 133 || sent == Bytes{EOT})
                l.push(Bytes{ACK});
        };
    }
};

void expectBlock(const Bytes& blk, uint8_t num, const Bytes& data)
{
    ASSERT_EQ(blk.size(), 133u);
    EXPECT_EQ(blk[0], SOH);
    EXPECT_EQ(blk[1], num);
    EXPECT_EQ(blk[2], 255 - num);
    Bytes payload(blk.begin() + 3, blk.begin() + 131);
    Bytes expected = data;
    expected.resize(128, 0x00);
    EXPECT_EQ(payload, expected);
    uint16_t crc = referenceCrc(&blk[3], 128);
    EXPECT_EQ(blk[131], crc >> 8);
    EXPECT_EQ(blk[132], crc & 0xFF);
}

struct SendSizeCase
{
    int size;
    const char* command;
    size_t blocks;
};

TEST_F(XmodemSend, DataSplitIntoZeroPaddedBlocks)
{
    const SendSizeCase cases[] = {
        {64, "S20000000,00000040#", 1},
        {128, "S20000000,00000080#", 1},
        {129, "S20000000,00000081#", 2},
        {200, "S20000000,000000C8#", 2},
    };
    for (const SendSizeCase& c : cases)
    {
        SCOPED_TRACE(c.size);
        link->clearLog();
        acceptAll();
        Bytes data = pattern(c.size);
        samba.write(kStaging, data.data(), c.size);
        std::vector<Bytes> sends = link->sends();
        EXPECT_EQ(std::string(sends[0].begin(), sends[0].end()), c.command);
        std::vector<Bytes> blocks = blocksSent();
        ASSERT_EQ(blocks.size(), c.blocks);
        for (size_t i = 0; i < blocks.size(); i++)
        {
            size_t from = i * 128, to = std::min<size_t>(from + 128, data.size());
            expectBlock(blocks[i], static_cast<uint8_t>(i + 1),
                        Bytes(data.begin() + from, data.begin() + to));
        }
        EXPECT_EQ(sends.back(), Bytes{EOT});
        EXPECT_EQ(sends.size(), c.blocks + 2);
        EXPECT_EQ(link->flushCount(), 0);
        EXPECT_TRUE(link->timeouts().empty()) << "the transfer keeps the port time-out";
    }
}

TEST_F(XmodemSend, ZeroBytes_WaitsForCThenSendsOnlyEot)
{
    acceptAll();
    samba.write(kStaging, nullptr, 0);
    std::vector<Bytes> sends = link->sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(std::string(sends[0].begin(), sends[0].end()), "S20000000,00000000#");
    EXPECT_EQ(sends[1], Bytes{EOT});
    EXPECT_EQ(link->eventsOf(Event::Get).front().value, 'C');
}

TEST_F(XmodemSend, BlockNumberWrapsAtBlock256)
{
    acceptAll();
    Bytes data = pattern(257 * 128);
    samba.write(kStaging, data.data(), static_cast<int>(data.size()));
    std::vector<Bytes> blocks = blocksSent();
    ASSERT_EQ(blocks.size(), 257u);
    EXPECT_EQ(blocks[254][1], 0xFF);
    EXPECT_EQ(blocks[255][1], 0x00);
    EXPECT_EQ(blocks[255][2], 0xFF);
    EXPECT_EQ(blocks[256][1], 0x01);
    EXPECT_EQ(blocks[256][2], 0xFE);
    EXPECT_EQ(Bytes(blocks[255].begin() + 3, blocks[255].begin() + 131),
              Bytes(data.begin() + 255 * 128, data.begin() + 256 * 128));
}

struct AnswerCase
{
    const char* name;
    std::vector<Bytes> answers; // to the sends of the first block, in order
    size_t sendsOfBlock;
    bool ok;
};

// NAK, cancel, any other byte or silence: the same block again, at most 5 sends.
TEST_F(XmodemSend, RefusedBlock_SentAgainUpToFiveTimes)
{
    const AnswerCase cases[] = {
        {"NAK", {{NAK}, {ACK}}, 2, true},
        {"cancel", {{CAN}, {ACK}}, 2, true},
        {"other byte then silence", {{'C'}, {}, {ACK}}, 3, true},
        {"fifth send accepted", {{NAK}, {NAK}, {NAK}, {NAK}, {ACK}}, 5, true},
        {"five refusals", {{NAK}, {CAN}, {NAK}, {}, {NAK}}, 5, false},
    };
    for (const AnswerCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->clearLog();
        link->queueReply("C");
        for (const Bytes& a : c.answers)
            link->queueReply(a);
        link->queueReply(Bytes{ACK}); // the end
        Bytes data = pattern(100);
        if (c.ok)
        {
            samba.write(kStaging, data.data(), 100);
            EXPECT_EQ(link->sends().back(), Bytes{EOT});
        }
        else
        {
            EXPECT_THROW(samba.write(kStaging, data.data(), 100), SambaError);
            EXPECT_NE(link->sends().back(), Bytes{EOT});
        }
        std::vector<Bytes> blocks = blocksSent();
        ASSERT_EQ(blocks.size(), c.sendsOfBlock);
        for (const Bytes& b : blocks)
            EXPECT_EQ(b, blocks[0]);
        link->dropPending();
    }
}

struct StartCase
{
    const char* name;
    std::vector<Bytes> before; // answers to the gets before the transfer starts
    bool ok;
};

TEST_F(XmodemSend, WaitsForCrcRequestWithinFiveReads)
{
    const StartCase cases[] = {
        {"C first", {Bytes{'C'}}, true},
        {"fifth read is C",
         {bytesOf("\x15\x15\x15\x15"
                  "C")},
         true},
        {"NAK instead of C",
         {bytesOf("\x15\x15\x15\x15\x15"
                  "C")},
         false},
        {"silence", {}, false},
    };
    for (const StartCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->clearLog();
        link->dropPending();
        for (const Bytes& b : c.before)
            link->push(b);
        link->queueSilence(); // the "S" command
        link->queueReply(Bytes{ACK});
        link->queueReply(Bytes{ACK});
        Bytes data = pattern(10);
        if (c.ok)
            EXPECT_NO_THROW(samba.write(kStaging, data.data(), 10));
        else
            EXPECT_THROW(samba.write(kStaging, data.data(), 10), SambaError);
        EXPECT_EQ(blocksSent().size(), c.ok ? 1u : 0u);
        EXPECT_LE(link->eventsOf(Event::Get).size(), c.ok ? 7u : 5u);
    }
}

TEST_F(XmodemSend, EndOfTransfer_EotRepeatedUpToFiveTimes)
{
    for (int naks : {4, 5})
    {
        SCOPED_TRACE(naks);
        link->clearLog();
        link->queueReply("C");
        link->queueReply(Bytes{ACK});
        for (int i = 0; i < naks; i++)
            link->queueReply(Bytes{NAK});
        link->queueReply(Bytes{ACK});
        Bytes data = pattern(16);
        if (naks < 5)
            EXPECT_NO_THROW(samba.write(kStaging, data.data(), 16));
        else
            EXPECT_THROW(samba.write(kStaging, data.data(), 16), SambaError);
        std::vector<Bytes> sends = link->sends();
        EXPECT_EQ(std::count(sends.begin(), sends.end(), Bytes{EOT}), 5);
        link->dropPending();
    }
}

TEST_F(XmodemSend, ShortBlockWrite_RaisesAtOnce)
{
    acceptAll();
    link->writeCount = [](const Bytes& b) { return b.size() == 133 ? 100 : int(b.size()); };
    Bytes data = pattern(300);
    EXPECT_THROW(samba.write(kStaging, data.data(), 300), SambaError);
    EXPECT_EQ(blocksSent().size(), 1u);
}

// ---------------------------------------------------------------------------
// Serial link: XMODEM receive

class XmodemReceive : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        connectClient(false);
        link->onWrite = nullptr;
    }

    // What the host sent after the "R" command, as control bytes.
    Bytes controlSent() const
    {
        Bytes out;
        for (const Event& e : link->eventsOf(Event::Put))
            out.push_back(e.bytes[0]);
        return out;
    }
};

TEST_F(XmodemReceive, TwoBlocks_DataStoredAndRestIgnored)
{
    Bytes mem = pattern(256, 3);
    link->queueSilence(); // "R"
    link->queueReply(makeBlock(1, Bytes(mem.begin(), mem.begin() + 128)));
    link->queueReply(makeBlock(2, Bytes(mem.begin() + 128, mem.end())));
    link->queueReply(Bytes{EOT});
    Bytes buf(210, 0xEE);
    samba.read(kStaging, buf.data(), 200);
    EXPECT_EQ(link->sends()[0], bytesOf("R20000000,000000C8#"));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 200), Bytes(mem.begin(), mem.begin() + 200));
    EXPECT_EQ(Bytes(buf.begin() + 200, buf.end()), Bytes(10, 0xEE));
    EXPECT_EQ(controlSent(), (Bytes{'C', ACK, ACK, ACK}));
    EXPECT_TRUE(link->timeouts().empty());
}

struct ReceiveCase
{
    const char* name;
    std::vector<Bytes> peer; // answers to the host's "C"/ACK/NAK, in order
    Bytes control;           // what the host must send
    bool ok;
};

TEST_F(XmodemReceive, RefusedBlocks_FirstAskedAgainWithCLaterWithNak)
{
    Bytes d1 = pattern(128, 1), d2 = pattern(128, 2);
    Bytes b1 = makeBlock(1, d1), b2 = makeBlock(2, d2);
    Bytes eot{EOT};
    const ReceiveCase cases[] = {
        {"first bad CRC", {makeBlock(1, d1, true), b1, b2, eot}, {'C', 'C', ACK, ACK, ACK}, true},
        {"later bad CRC", {b1, makeBlock(2, d2, true), b2, eot}, {'C', ACK, NAK, ACK, ACK}, true},
        {"wrong complement accepted",
         {makeBlock(1, d1, false, 0x00), makeBlock(2, d2, false, 0x33), eot},
         {'C', ACK, ACK, ACK},
         true},
        {"repeated block number refused", {b1, b1, b2, eot}, {'C', ACK, NAK, ACK, ACK}, true},
        {"truncated block refused",
         {b1, Bytes(b2.begin(), b2.begin() + 100), b2, eot},
         {'C', ACK, NAK, ACK, ACK},
         true},
        {"not SOH refused",
         {[&]
          {
              Bytes b = b1;
              b[0] = 0x02;
              return b;
          }(),
          b1, b2, eot},
         {'C', 'C', ACK, ACK, ACK},
         true},
        {"first block five refusals", {{}, {}, {}, {}, {}}, {'C', 'C', 'C', 'C', 'C'}, false},
        {"later block five refusals",
         {b1, {}, {}, {}, {}, {}},
         {'C', ACK, NAK, NAK, NAK, NAK, NAK},
         false},
    };
    for (const ReceiveCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        link->clearLog();
        link->queueSilence(); // "R"
        for (const Bytes& p : c.peer)
            link->queueReply(p);
        Bytes buf(256, 0);
        if (c.ok)
        {
            EXPECT_NO_THROW(samba.read(kStaging, buf.data(), 256));
            Bytes expected = d1;
            expected.insert(expected.end(), d2.begin(), d2.end());
            EXPECT_EQ(buf, expected);
        }
        else
        {
            EXPECT_THROW(samba.read(kStaging, buf.data(), 256), SambaError);
        }
        EXPECT_EQ(controlSent(), c.control);
        link->dropPending();
    }
}

TEST_F(XmodemReceive, EndOfTransfer_NakUntilEotWithinFiveReads)
{
    for (int junk : {4, 5})
    {
        SCOPED_TRACE(junk);
        link->clearLog();
        link->queueSilence(); // "R"
        link->queueReply(makeBlock(1, pattern(16)));
        // After the block's ACK: junk bytes, then EOT.
        Bytes tail(junk, 'j');
        tail.push_back(EOT);
        link->queueReply(tail);
        uint8_t buf[16];
        Bytes control{'C', ACK};
        control.insert(control.end(), junk, NAK);
        if (junk < 5)
        {
            EXPECT_NO_THROW(samba.read(kStaging, buf, 16));
            control.push_back(ACK);
        }
        else
        {
            EXPECT_THROW(samba.read(kStaging, buf, 16), SambaError);
        }
        EXPECT_EQ(controlSent(), control);
        link->dropPending();
    }
}

TEST_F(XmodemReceive, ZeroBytes_OnlyAwaitsEot)
{
    link->queueReply(Bytes{EOT});
    samba.read(kStaging, nullptr, 0);
    EXPECT_EQ(controlSent(), Bytes{ACK});
}

TEST_F(XmodemReceive, PowerOfTwoSizeReadWhole)
{
    link->queueSilence();
    link->queueReply(makeBlock(1, pattern(64)));
    link->queueReply(Bytes{EOT});
    uint8_t buf[64];
    samba.read(kStaging, buf, 64);
    EXPECT_EQ(link->sends()[0], bytesOf("R20000000,00000040#"));
    EXPECT_EQ(Bytes(buf, buf + 64), pattern(64));
}

// ---------------------------------------------------------------------------
// USB link: raw data

class UsbTransfer : public SambaFixture
{
protected:
    void SetUp() override
    {
        SambaFixture::SetUp();
        connectClient(true);
        memory = pattern(512, 5);
        // Serves "o" and "R" from `memory`, based at the staging address.
        link->onWrite = [this](ScriptedLink& l, const Bytes& sent)
        {
            std::string cmd(sent.begin(), sent.end());
            unsigned addr = 0, size = 0;
            if (sscanf(cmd.c_str(), "R%8X,%8X#", &addr, &size) == 2)
                l.push(Bytes(memory.begin() + (addr - kStaging),
                             memory.begin() + (addr - kStaging) + size));
            else if (sscanf(cmd.c_str(), "o%8X,4#", &addr) == 1 && cmd[0] == 'o')
                l.push(Bytes{memory[addr - kStaging]});
        };
    }

    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (const Bytes& b : link->sends())
            out.emplace_back(b.begin(), b.end());
        return out;
    }

    Bytes memory;
};

struct UsbReadCase
{
    int size;
    std::vector<std::string> commands;
    int rawRead; // size of the bulk read
};

TEST_F(UsbTransfer, Read_FirstByteApartForPowerOfTwoAbove32)
{
    const UsbReadCase cases[] = {
        {64, {"o20000000,4#", "R20000001,0000003F#"}, 63},
        {128, {"o20000000,4#", "R20000001,0000007F#"}, 127},
        {32, {"R20000000,00000020#"}, 32},
        {48, {"R20000000,00000030#"}, 48},
        {33, {"R20000000,00000021#"}, 33},
        {16, {"R20000000,00000010#"}, 16},
    };
    for (const UsbReadCase& c : cases)
    {
        SCOPED_TRACE(c.size);
        link->clearLog();
        Bytes buf(c.size, 0);
        samba.read(kStaging, buf.data(), c.size);
        EXPECT_EQ(commands(), c.commands);
        EXPECT_EQ(buf, Bytes(memory.begin(), memory.begin() + c.size));
        EXPECT_EQ(link->eventsOf(Event::Read).back().value, c.rawRead);
        EXPECT_EQ(link->flushCount(), 0);
    }
}

TEST_F(UsbTransfer, Read_ShortRawData_Raises)
{
    link->onWrite = [](ScriptedLink& l, const Bytes&) { l.push(Bytes(20, 0)); };
    uint8_t buf[48];
    EXPECT_THROW(samba.read(kStaging, buf, 48), SambaError);
}

TEST_F(UsbTransfer, Read_FailedFirstByte_Raises)
{
    link->onWrite = nullptr;
    uint8_t buf[64];
    EXPECT_THROW(samba.read(kStaging, buf, 64), SambaError);
    EXPECT_EQ(commands(), std::vector<std::string>{"o20000000,4#"});
}

TEST_F(UsbTransfer, Write_CommandFlushThenRawData)
{
    link->onWrite = nullptr;
    Bytes data = pattern(64);
    samba.write(kStaging, data.data(), 64);
    std::vector<Event> ev = link->events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].bytes, bytesOf("S20000000,00000040#"));
    EXPECT_EQ(ev[1].kind, Event::Flush);
    EXPECT_EQ(ev[2].kind, Event::Write);
    EXPECT_EQ(ev[2].bytes, data);
}

TEST_F(UsbTransfer, Write_PartialPortWritesContinueWhereTheyStopped)
{
    link->onWrite = nullptr;
    link->writeCount = [](const Bytes& b)
    { return b[0] == 'S' ? int(b.size()) : std::min<int>(b.size(), 24); };
    Bytes data = pattern(64);
    samba.write(kStaging, data.data(), 64);
    std::vector<Bytes> sends = link->sends();
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(sends[1], data);
    EXPECT_EQ(sends[2], Bytes(data.begin() + 24, data.end()));
    EXPECT_EQ(sends[3], Bytes(data.begin() + 48, data.end()));
}

TEST_F(UsbTransfer, Write_PortWritingNothing_Raises)
{
    link->onWrite = nullptr;
    link->writeCount = [](const Bytes& b) { return b[0] == 'S' ? int(b.size()) : 0; };
    Bytes data = pattern(64);
    EXPECT_THROW(samba.write(kStaging, data.data(), 64), SambaError);
}

TEST_F(UsbTransfer, Write_ZeroBytesSendsCommandAndFlushOnly)
{
    link->onWrite = nullptr;
    samba.write(kStaging, nullptr, 0);
    std::vector<Event> ev = link->events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].bytes, bytesOf("S20000000,00000000#"));
    EXPECT_EQ(ev[1].kind, Event::Flush);
}

} // namespace
