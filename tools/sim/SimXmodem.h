// Both ends of XMODEM-CRC as the simulated boot loader plays them on a serial
// link: it receives the data of a memory write and sends the data of a memory
// read, in 128-byte blocks checked by CRC-16/XMODEM. Byte-driven, no clock:
// the caller feeds what the host sent and transmits what comes back.
#ifndef CORVO_SIM_SIMXMODEM_H
#define CORVO_SIM_SIMXMODEM_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace xmodem
{
const uint8_t kSoh = 0x01;
const uint8_t kEot = 0x04;
const uint8_t kAck = 0x06;
const uint8_t kNak = 0x15;
const uint8_t kCan = 0x18;
const uint8_t kCrcRequest = 'C';
const size_t kBlockData = 128;
const size_t kBlockSize = 133;  // SOH, number, complement, data, CRC high, CRC low
const uint8_t kPad = 0x1A;      // fills the last block a sender sends

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
uint16_t crc16(const uint8_t* data, size_t len);
}  // namespace xmodem

class XmodemReceiver
{
public:
    enum Step
    {
        Pending,        // inside a block, or nothing happened
        BlockComplete,  // a whole block is in: look at verdict(), then accept() it or not
        EndOfTransfer,  // EOT at a block boundary
        Cancelled,      // CAN at a block boundary
        Stray,          // any other byte at a block boundary: not XMODEM
    };
    enum Verdict
    {
        NextBlock,      // the expected block, intact
        RepeatedBlock,  // the previous block again: our ACK was lost
        BadBlock,       // wrong number or CRC
    };

    explicit XmodemReceiver(uint32_t size) : _size(size) {}

    Step feed(uint8_t byte);
    Verdict verdict() const;
    // Counts blocks from 1 over the whole transfer; the wire number is its low byte.
    uint32_t expectedBlock() const { return _expected; }
    // Takes the completed block: the part of its data within the announced
    // size is returned through `data` and `count`, at offset `received()`
    // before the call.
    void accept(const uint8_t*& data, uint32_t& count);
    uint32_t received() const { return _received; }

private:
    uint32_t _size;
    uint32_t _received = 0;
    uint32_t _expected = 1;
    uint8_t _block[xmodem::kBlockSize] = {};
    size_t _fill = 0;
};

class XmodemSender
{
public:
    enum Step
    {
        Ignored,      // nothing to do for this byte
        SentBlock,    // the next block went out
        ResentBlock,  // the receiver refused the block; it went out again
        SentEot,
        ResentEot,
        Done,    // EOT acknowledged
        Stray,   // a byte that is no XMODEM answer: the transfer is off
        GaveUp,  // too many refusals
    };

    explicit XmodemSender(std::vector<uint8_t> data) : _data(std::move(data)) {}

    // What goes out before any answer: EOT at once for an empty transfer,
    // since a receiver asks for no block then.
    Step start(std::vector<uint8_t>& out);
    Step feed(uint8_t byte, std::vector<uint8_t>& out);
    // Block in flight, counted from 1.
    uint32_t block() const { return _block; }

private:
    enum State
    {
        AwaitStart,
        AwaitBlockAck,
        AwaitEotAck,
    };
    static constexpr unsigned kMaxSends = 10;

    void appendBlock(std::vector<uint8_t>& out) const;
    Step nextBlockOrEot(std::vector<uint8_t>& out);
    Step resend(std::vector<uint8_t>& out);

    std::vector<uint8_t> _data;
    State _state = AwaitStart;
    uint32_t _block = 0;
    unsigned _sends = 0;
};

#endif
