// XMODEM-CRC receiver and sender of the simulated boot loader.
#include "SimXmodem.h"

#include <algorithm>

using namespace xmodem;

uint16_t xmodem::crc16(const uint8_t* data, size_t len)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < len; i++)
    {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; bit++)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

XmodemReceiver::Step XmodemReceiver::feed(uint8_t byte)
{
    if (_fill == 0)
    {
        switch (byte)
        {
        case kSoh:
            break;
        case kEot:
            return EndOfTransfer;
        case kCan:
            return Cancelled;
        default:
            return Stray;
        }
    }
    _block[_fill++] = byte;
    if (_fill < kBlockSize)
        return Pending;
    _fill = 0;
    return BlockComplete;
}

XmodemReceiver::Verdict XmodemReceiver::verdict() const
{
    uint16_t crc = crc16(_block + 3, kBlockData);
    bool intact = crc == (_block[131] << 8 | _block[132]) && _block[2] == 255 - _block[1];
    if (!intact)
        return BadBlock;
    if (_block[1] == (_expected & 0xFF))
        return NextBlock;
    if (_expected > 1 && _block[1] == ((_expected - 1) & 0xFF))
        return RepeatedBlock;
    return BadBlock;
}

void XmodemReceiver::accept(const uint8_t*& data, uint32_t& count)
{
    data = _block + 3;
    count = std::min<uint32_t>(kBlockData, _size - _received);
    _received += count;
    _expected++;
}

XmodemSender::Step XmodemSender::start(std::vector<uint8_t>& out)
{
    if (!_data.empty())
        return Ignored;
    _state = AwaitEotAck;
    _sends = 1;
    out.push_back(kEot);
    return SentEot;
}

XmodemSender::Step XmodemSender::feed(uint8_t byte, std::vector<uint8_t>& out)
{
    switch (_state)
    {
    case AwaitStart:
        if (byte != kCrcRequest)
            return Stray;
        return nextBlockOrEot(out);
    case AwaitBlockAck:
        if (byte == kAck)
            return nextBlockOrEot(out);
        // A receiver that refused the first block asks with "C" again.
        if (byte == kNak || byte == kCrcRequest)
            return resend(out);
        return Stray;
    case AwaitEotAck:
        if (byte == kAck)
            return Done;
        if (byte == kNak || byte == kCrcRequest)
            return resend(out);
        return Stray;
    }
    return Stray;
}

XmodemSender::Step XmodemSender::nextBlockOrEot(std::vector<uint8_t>& out)
{
    _sends = 1;
    if (static_cast<size_t>(_block) * kBlockData < _data.size())
    {
        _block++;
        _state = AwaitBlockAck;
        appendBlock(out);
        return SentBlock;
    }
    _state = AwaitEotAck;
    out.push_back(kEot);
    return SentEot;
}

XmodemSender::Step XmodemSender::resend(std::vector<uint8_t>& out)
{
    if (_sends >= kMaxSends)
        return GaveUp;
    _sends++;
    if (_state == AwaitEotAck)
    {
        out.push_back(kEot);
        return ResentEot;
    }
    appendBlock(out);
    return ResentBlock;
}

void XmodemSender::appendBlock(std::vector<uint8_t>& out) const
{
    size_t offset = static_cast<size_t>(_block - 1) * kBlockData;
    size_t count = std::min(kBlockData, _data.size() - offset);
    uint8_t block[kBlockSize];
    block[0] = kSoh;
    block[1] = static_cast<uint8_t>(_block);
    block[2] = static_cast<uint8_t>(255 - block[1]);
    std::copy(_data.begin() + offset, _data.begin() + offset + count, block + 3);
    std::fill(block + 3 + count, block + 3 + kBlockData, kPad);
    uint16_t crc = crc16(block + 3, kBlockData);
    block[131] = static_cast<uint8_t>(crc >> 8);
    block[132] = static_cast<uint8_t>(crc);
    out.insert(out.end(), block, block + kBlockSize);
}
