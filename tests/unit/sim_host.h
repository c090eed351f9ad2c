// Test-side host for the simulated adapter: speaks raw protocol bytes through
// a SimPort and carries its own small XMODEM-CRC, so the simulator's tests do
// not lean on the monitor client or on the simulator's own XMODEM code.
#ifndef CORVO_TEST_SIM_HOST_H
#define CORVO_TEST_SIM_HOST_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "AdapterSim.h"
#include "SimPort.h"

namespace simtest
{
const int kUsbBaud = 921600;
const int kSerialBaud = 115200;
const int kReplyWaitMs = 100;
const uint8_t kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15;

inline std::string hexCommand(const char* fmt, uint32_t a, uint32_t b = 0)
{
    char text[64];
    std::snprintf(text, sizeof(text), fmt, a, b);
    return text;
}

inline std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// CRC-16/XMODEM, bit by bit.
inline uint16_t crc16(const uint8_t* data, size_t len)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < len; i++)
        for (int bit = 7; bit >= 0; bit--)
        {
            bool feedback = ((crc >> 15) & 1) != ((data[i] >> bit) & 1);
            crc = static_cast<uint16_t>(crc << 1);
            if (feedback)
                crc ^= 0x1021;
        }
    return crc;
}

inline std::vector<uint8_t> xmodemBlock(uint32_t number, const uint8_t* data, size_t count)
{
    std::vector<uint8_t> block(133, 0);
    block[0] = kSoh;
    block[1] = static_cast<uint8_t>(number);
    block[2] = static_cast<uint8_t>(255 - block[1]);
    std::copy(data, data + count, block.begin() + 3);
    uint16_t crc = crc16(block.data() + 3, 128);
    block[131] = static_cast<uint8_t>(crc >> 8);
    block[132] = static_cast<uint8_t>(crc);
    return block;
}

// One simulator and a port to it; the port is open on the link asked for.
struct Host
{
    AdapterSim sim;
    SimPort port;

    explicit Host(int baud = kUsbBaud, const SimConfig& config = SimConfig())
        : sim(config), port(sim, baud == kUsbBaud)
    {
        port.open(baud);
        port.timeout(kReplyWaitMs);
    }

    void send(const std::vector<uint8_t>& bytes)
    {
        port.write(bytes.data(), static_cast<int>(bytes.size()));
    }
    void send(const std::string& text) { send(bytesOf(text)); }

    // Everything that arrives until the line stays silent for the wait.
    std::string reply(int max = 4096)
    {
        std::vector<uint8_t> buf(max);
        int n = port.read(buf.data(), max);
        return n > 0 ? std::string(buf.begin(), buf.begin() + n) : std::string();
    }
    std::string ask(const std::string& text)
    {
        send(text);
        return reply();
    }

    void autoBaud()
    {
        send(std::vector<uint8_t>{0x80, 0x80, '#'});
        reply();
    }

    // Memory write over the USB link: raw data after the command.
    void stageRaw(uint32_t addr, const std::vector<uint8_t>& data)
    {
        send(hexCommand("S%08X,%08X#", addr, static_cast<uint32_t>(data.size())));
        send(data);
    }

    // Memory write over a serial link. False when the sender gives up, as a
    // monitor client does after five refusals of one block.
    bool xmodemWrite(uint32_t addr, const std::vector<uint8_t>& data, int* sends = nullptr)
    {
        send(hexCommand("S%08X,%08X#", addr, static_cast<uint32_t>(data.size())));
        if (port.get() != 'C')
            return false;
        int count = 0;
        for (size_t offset = 0, number = 1; offset < data.size(); offset += 128, number++)
        {
            size_t n = std::min<size_t>(128, data.size() - offset);
            std::vector<uint8_t> block = xmodemBlock(number, data.data() + offset, n);
            int tries = 0;
            for (;; tries++)
            {
                if (tries == 5)
                    return false;
                send(block);
                count++;
                if (port.get() == kAck)
                    break;
            }
        }
        if (sends != nullptr)
            *sends = count;
        send(std::vector<uint8_t>{kEot});
        return port.get() == kAck;
    }

    // Memory read over a serial link; `blocks` receives each raw block.
    bool xmodemRead(uint32_t addr, uint32_t size, std::vector<uint8_t>& data,
                    std::vector<std::vector<uint8_t>>* blocks = nullptr)
    {
        send(hexCommand("R%08X,%08X#", addr, size));
        data.clear();
        for (uint32_t number = 1; data.size() < size; number++)
        {
            if (number == 1)
                send(std::vector<uint8_t>{'C'});
            std::vector<uint8_t> block(133);
            if (port.read(block.data(), 133) != 133 || block[0] != kSoh ||
                block[1] != static_cast<uint8_t>(number) || block[2] != 255 - block[1] ||
                crc16(block.data() + 3, 128) != (block[131] << 8 | block[132]))
                return false;
            if (blocks != nullptr)
                blocks->push_back(block);
            size_t n = std::min<size_t>(128, size - data.size());
            data.insert(data.end(), block.begin() + 3, block.begin() + 3 + n);
            send(std::vector<uint8_t>{kAck});
        }
        if (port.get() != kEot)
            return false;
        send(std::vector<uint8_t>{kAck});
        return true;
    }
};

}  // namespace simtest

#endif
