// Helpers for the monitor client's tests: a minimal scripted monitor that
// answers identity and version queries, a fixture that keeps the client's
// pauses out of real time, and access to the client's CRC internals.
#ifndef CORVO_TEST_SAMBATESTSUPPORT_H
#define CORVO_TEST_SAMBATESTSUPPORT_H

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SambaVexor.h"
#include "ScriptedPort.h"

class SambaTestAccess
{
public:
    static uint16_t crc16Calc(Samba& s, const uint8_t* data, int len)
    {
        return s.crc16Calc(data, len);
    }
    static bool crc16Check(Samba& s, const uint8_t* blk) { return s.crc16Check(blk); }
    static void crc16Add(Samba& s, uint8_t* blk) { s.crc16Add(blk); }
};

namespace samba_test
{

const uint32_t kAdapterId = 0x1001030B;
const uint32_t kCpuidAddr = 0xE000ED00;
const uint32_t kDeviceIdAddr = 0x41002018;

// Answers word reads ("w%08X,4#"), byte reads ("o%08X,4#") and "V#" the way
// the adapter's boot monitor does; other commands get no answer. An address
// missing from `words` gets no answer either.
struct FakeMonitor
{
    std::map<uint32_t, uint32_t> words;
    std::string versionText = "v2.7 QZV Nov  3 2021\n\r";
    bool versionSilent = false;
    int replyDelayMs = 0;
    int silentAtBaud = -1; // a speed at which nothing is answered
    std::string pending;

    // An adapter: Cortex-M0+ core, device id with die revision bits set.
    FakeMonitor()
    {
        words[0x00000000] = 0x20002000; // initial stack pointer, not a branch
        words[kCpuidAddr] = 0x410CC601;
        words[kDeviceIdAddr] = 0x1001A30B;
    }

    void feed(ScriptedLink& link, const Bytes& sent)
    {
        for (uint8_t b : sent)
        {
            if (b == 0x80)
            {
                pending.clear();
                continue;
            }
            pending.push_back(static_cast<char>(b));
            if (b == '#')
            {
                answer(link, pending);
                pending.clear();
            }
        }
    }

    void answer(ScriptedLink& link, const std::string& cmd)
    {
        if (link.baud() == silentAtBaud)
            return;
        unsigned addr = 0;
        char tail = 0;
        if (cmd == "V#")
        {
            if (!versionSilent)
                link.push(versionText, replyDelayMs);
        }
        else if (cmd.size() == 12 && sscanf(cmd.c_str(), "w%8X,4%c", &addr, &tail) == 2 &&
                 tail == '#' && cmd[0] == 'w')
        {
            auto it = words.find(addr);
            if (it != words.end())
                link.push(Bytes{uint8_t(it->second), uint8_t(it->second >> 8),
                                uint8_t(it->second >> 16), uint8_t(it->second >> 24)},
                          replyDelayMs);
        }
        else if (cmd.size() == 12 && sscanf(cmd.c_str(), "o%8X,4%c", &addr, &tail) == 2 &&
                 tail == '#' && cmd[0] == 'o')
        {
            auto it = words.find(addr & ~3u);
            if (it != words.end())
                link.push(Bytes{uint8_t(it->second >> (8 * (addr & 3)))}, replyDelayMs);
        }
    }
};

// Installs `monitor` as the link's responder.
inline void attach(const std::shared_ptr<ScriptedLink>& link,
                   const std::shared_ptr<FakeMonitor>& monitor)
{
    link->onWrite = [monitor](ScriptedLink& l, const Bytes& sent) { monitor->feed(l, sent); };
}

// Routes the client's pauses into `pauses` instead of sleeping.
class SambaFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Samba::setPauseFunctionForTests([this](int ms) { pauses.push_back(ms); });
    }
    void TearDown() override { Samba::setPauseFunctionForTests(Samba::PauseFunction()); }

    // Connects `samba` over a fresh scripted port to a FakeMonitor (USB link
    // or plain serial link), then clears the log.
    void connectClient(bool usb)
    {
        auto made = ScriptedPort::make(usb);
        link = made.second;
        monitor = std::make_shared<FakeMonitor>();
        attach(link, monitor);
        ASSERT_TRUE(samba.connect(std::move(made.first), 115200));
        link->clearLog();
        pauses.clear();
    }

    std::string commandsSent() const { return link->sentText(); }

    Samba samba;
    std::shared_ptr<ScriptedLink> link;
    std::shared_ptr<FakeMonitor> monitor;
    std::vector<int> pauses;
};

} // namespace samba_test

#endif
