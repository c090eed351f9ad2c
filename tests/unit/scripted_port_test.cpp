// The scripted test link itself: its virtual clock must give reads the same
// short-count and time-out results a real port gives, or protocol tests built
// on it would pass against wrong code.
#include "ScriptedPort.h"

#include <gtest/gtest.h>

namespace
{

using Event = ScriptedLink::Event;

class ScriptedPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto made = ScriptedPort::make(true);
        port = std::move(made.first);
        link = made.second;
        ASSERT_TRUE(port->open(115200, 8, SerialPort::ParityNone, SerialPort::StopBitOne));
        port->timeout(100);
    }

    SerialPort::Ptr port;
    std::shared_ptr<ScriptedLink> link;
};

TEST_F(ScriptedPortTest, Read_BytesDueWithinTimeoutArriveLaterOnesDoNot)
{
    link->push("ab", 50);
    link->push("cd", 190); // 140 ms after "ab": more than one wait period
    uint8_t buf[8];
    EXPECT_EQ(port->read(buf, 8), 2);
    EXPECT_EQ(link->nowMs(), 150); // the bytes at 50, then one full wait
    EXPECT_EQ(port->read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, buf + 2), "cd");
    EXPECT_EQ(port->read(buf, 0), 0);
}

TEST_F(ScriptedPortTest, Get_TimesOutWithMinusOneAndKeepsLateByte)
{
    link->push(Bytes{0xFF}, 250);
    EXPECT_EQ(port->get(), -1);
    EXPECT_EQ(port->get(), -1);
    EXPECT_EQ(port->get(), 255);
    EXPECT_EQ(link->nowMs(), 250);
}

TEST_F(ScriptedPortTest, QueuedReplies_ReleasedOnePerSendInOrder)
{
    link->queueReply("one");
    link->queueSilence();
    link->queueReply("three");
    uint8_t buf[8];
    port->write(reinterpret_cast<const uint8_t*>("x"), 1);
    EXPECT_EQ(port->read(buf, 8), 3);
    EXPECT_EQ(port->put(0x1FF), 255);
    EXPECT_EQ(port->read(buf, 8), 0);
    port->write(reinterpret_cast<const uint8_t*>("y"), 1);
    EXPECT_EQ(port->read(buf, 8), 5);
    EXPECT_EQ(link->sent(), (Bytes{'x', 0xFF, 'y'}));
}

TEST_F(ScriptedPortTest, ClosedPort_FailsLikeARealOne)
{
    EXPECT_FALSE(port->open(9600, 8, SerialPort::ParityNone, SerialPort::StopBitOne));
    port->close();
    uint8_t b = 0;
    EXPECT_EQ(port->read(&b, 1), -1);
    EXPECT_EQ(port->write(&b, 1), -1);
    EXPECT_EQ(port->get(), -1);
    EXPECT_EQ(port->put(1), -1);
    EXPECT_FALSE(port->timeout(10));
    EXPECT_EQ(link->openBauds(), (std::vector<int>{115200, 9600}));
    port.reset();
    EXPECT_TRUE(link->destroyed());
}

} // namespace
