// The data phases of the simulated boot loader's memory write "S" and memory
// read "R": raw bytes on the USB link, XMODEM-CRC on a serial link.
#include "AdapterSim.h"
#include "SimText.h"

using simtext::format;

void AdapterSim::beginWrite(uint32_t addr, uint32_t size)
{
    if (size > kMaxTransfer)
    {
        fault(format("- fault: write of %X bytes refused", size));
        return;
    }
    _dataAddr = addr;
    _dataSize = size;
    _dataDone = 0;
    _dataDropped = false;
    if (_usb)
    {
        if (size == 0)
            endWrite();
        else
            _phase = RawWritePhase;
        return;
    }
    _receiver.reset(new XmodemReceiver(size));
    _phase = XmodemWritePhase;
    note("- xmodem receive: C");
    const uint8_t request = xmodem::kCrcRequest;
    reply(&request, 1);
}

void AdapterSim::storeWriteData(const uint8_t* data, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        if (!_memory.writeRam(_dataAddr + _dataDone + i, data[i]))
            _dataDropped = true;
    _dataDone += count;
}

void AdapterSim::endWrite()
{
    note(format("- S data %u bytes", _dataDone));
    if (_dataDone < _dataSize)
        fault(format("- fault: S data short: %u of %u bytes", _dataDone, _dataSize));
    if (_dataDropped)
        fault(format("- fault: S data at %08X outside RAM dropped", _dataAddr));
    _phase = CommandPhase;
    _receiver.reset();
}

void AdapterSim::beginRead(uint32_t addr, uint32_t size)
{
    if (size > kMaxTransfer)
    {
        fault(format("- fault: read of %X bytes refused", size));
        return;
    }
    std::vector<uint8_t> data;
    readMemory(addr, size, data);
    if (_usb)
    {
        reply(data.data(), data.size());
        note(format("- R data %u bytes", size));
        return;
    }
    _dataSize = size;
    _sender.reset(new XmodemSender(std::move(data)));
    _phase = XmodemReadPhase;
    std::vector<uint8_t> out;
    if (_sender->start(out) == XmodemSender::SentEot)
    {
        reply(out.data(), out.size());
        note("- xmodem eot sent");
    }
}

void AdapterSim::xmodemWriteByte(uint8_t byte)
{
    const uint8_t ack = xmodem::kAck, nak = xmodem::kNak;
    switch (_receiver->feed(byte))
    {
    case XmodemReceiver::Pending:
        return;
    case XmodemReceiver::BlockComplete:
    {
        uint32_t block = _receiver->expectedBlock();
        switch (_receiver->verdict())
        {
        case XmodemReceiver::NextBlock:
        {
            const SimFaults& faults = _config.faults;
            if (faults.nakBlock == block && (faults.nakAlways || !_nakFired))
            {
                _nakFired = true;
                note(format("- xmodem block %u nak (injected)", block));
                reply(&nak, 1);
                return;
            }
            const uint8_t* data;
            uint32_t count;
            _receiver->accept(data, count);
            storeWriteData(data, count);
            note(format("- xmodem block %u ack", block));
            reply(&ack, 1);
            return;
        }
        case XmodemReceiver::RepeatedBlock:
            note(format("- xmodem block %u repeated, ack", block - 1));
            reply(&ack, 1);
            return;
        case XmodemReceiver::BadBlock:
            note(format("- xmodem block %u bad, nak", block));
            reply(&nak, 1);
            return;
        }
        return;
    }
    case XmodemReceiver::EndOfTransfer:
        note("- xmodem eot ack");
        reply(&ack, 1);
        endWrite();
        return;
    case XmodemReceiver::Cancelled:
        abandonDataPhase("cancelled by the host");
        return;
    case XmodemReceiver::Stray:
        abandonDataPhase(format("stray byte 0x%02X", byte));
        commandByte(byte);
        return;
    }
}

void AdapterSim::xmodemReadByte(uint8_t byte)
{
    std::vector<uint8_t> out;
    XmodemSender::Step step = _sender->feed(byte, out);
    reply(out.data(), out.size());
    uint32_t block = _sender->block();
    switch (step)
    {
    case XmodemSender::Ignored:
        break;
    case XmodemSender::SentBlock:
        note(format("- xmodem block %u sent", block));
        break;
    case XmodemSender::ResentBlock:
        note(format("- xmodem block %u sent again", block));
        break;
    case XmodemSender::SentEot:
        note("- xmodem eot sent");
        break;
    case XmodemSender::ResentEot:
        note("- xmodem eot sent again");
        break;
    case XmodemSender::Done:
        note(format("- R data %u bytes", _dataSize));
        _phase = CommandPhase;
        _sender.reset();
        break;
    case XmodemSender::Stray:
        abandonDataPhase(format("stray byte 0x%02X", byte));
        commandByte(byte);
        break;
    case XmodemSender::GaveUp:
        abandonDataPhase(format("block %u refused too often", block));
        break;
    }
}

// Counted as a fault: a host that leaves a transfer half done has lost track.
void AdapterSim::abandonDataPhase(const std::string& why)
{
    fault("- fault: data transfer abandoned: " + why);
    _phase = CommandPhase;
    _receiver.reset();
    _sender.reset();
}
