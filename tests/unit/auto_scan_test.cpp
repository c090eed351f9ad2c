// autoScan over a fake port list: simulated adapters behind some names, a
// silent line or a port that will not open behind others.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AdapterSim.h"
#include "CorvoVexor.h"
#include "DeviceRoad.h"
#include "PortFactory.h"
#include "SambaVexor.h"
#include "SimPort.h"

namespace
{

// A port another program holds: it never opens.
class BusyPort : public SerialPort
{
public:
    explicit BusyPort(const std::string& name) : SerialPort(name) {}
    bool open(int, int, Parity, StopBit) override { return false; }
    void close() override {}
    bool isUsb() override { return false; }
    int read(uint8_t*, int) override { return -1; }
    int write(const uint8_t*, int) override { return -1; }
    int get() override { return -1; }
    int put(int) override { return -1; }
    bool timeout(int) override { return false; }
    void flush() override {}
};

class FakeFactory : public PortFactoryBase
{
public:
    std::vector<std::string> names;
    std::map<std::string, AdapterSim*> behind;  // no entry: the port will not open
    std::vector<std::string> created;

    std::string begin() override
    {
        _next = 0;
        return next();
    }
    std::string end() override { return std::string(); }
    std::string next() override { return _next < names.size() ? names[_next++] : end(); }
    SerialPort::Ptr create(const std::string& name) override
    {
        created.push_back(name);
        auto it = behind.find(name);
        if (it == behind.end())
            return SerialPort::Ptr(new BusyPort(name));
        return SerialPort::Ptr(new SimPort(*it->second, true, name));
    }
    SerialPort::Ptr create(const std::string& name, bool) override { return create(name); }

private:
    size_t _next = 0;
};

SimConfig silentLine()
{
    SimConfig c;
    c.faults.silenceAfter = 0;
    return c;
}

class AutoScan : public ::testing::Test
{
protected:
    // The connection's pause is real time; the simulator's clock is virtual.
    void SetUp() override { Samba::setPauseFunctionForTests([](int) {}); }
    void TearDown() override
    {
        Samba::setPauseFunctionForTests(Samba::PauseFunction());
        config.debug = false;
    }

    AdapterSim adapter1;
    AdapterSim adapter2;
    AdapterSim nothing{silentLine()};
};

}  // namespace

TEST_F(AutoScan, FirstPortThatConnects_WinsAndLaterPortsAreNeverOpened)
{
    FakeFactory factory;
    factory.names = {"ttyS0", "ttyS1", "ttyACM0", "ttyACM1"};
    factory.behind = {{"ttyS0", &nothing}, {"ttyACM0", &adapter1}, {"ttyACM1", &adapter2}};

    Samba samba;
    std::string port = "stale";
    ASSERT_TRUE(autoScan(samba, factory, port));
    EXPECT_EQ(port, "ttyACM0");
    EXPECT_EQ(factory.created, (std::vector<std::string>{"ttyS0", "ttyS1", "ttyACM0"}));
    EXPECT_EQ(adapter2.commandCount(), 0u);
    // The client is left connected to the winner.
    unsigned before = adapter1.commandCount();
    EXPECT_EQ(samba.readWord(0xFF8), adapter1.memory().read32(0xFF8));
    EXPECT_GT(adapter1.commandCount(), before);
}

TEST_F(AutoScan, NoPortAnswers_FalseWithEmptyNameAfterTryingAll)
{
    FakeFactory factory;
    factory.names = {"ttyS0", "ttyUSB0"};
    factory.behind = {{"ttyS0", &nothing}};

    Samba samba;
    std::string port = "stale";
    EXPECT_FALSE(autoScan(samba, factory, port));
    EXPECT_EQ(port, "");
    EXPECT_EQ(factory.created, (std::vector<std::string>{"ttyS0", "ttyUSB0"}));
}

TEST_F(AutoScan, EmptyList_FalseWithoutCreatingAPort)
{
    FakeFactory factory;
    Samba samba;
    std::string port;
    EXPECT_FALSE(autoScan(samba, factory, port));
    EXPECT_EQ(port, "");
    EXPECT_TRUE(factory.created.empty());
}

TEST_F(AutoScan, DebugMode_NamesEachPortBeforeTryingIt)
{
    FakeFactory factory;
    factory.names = {"ttyS1", "ttyACM0", "ttyACM1"};
    factory.behind = {{"ttyACM0", &adapter1}, {"ttyACM1", &adapter2}};
    config.debug = true;

    Samba samba;
    std::string port;
    testing::internal::CaptureStdout();
    bool found = autoScan(samba, factory, port);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(found);
    EXPECT_EQ(out, "Trying to connect on ttyS1\nTrying to connect on ttyACM0\n");
}
