// The simulated boot loader: link handling, command parsing and the commands.
#include "AdapterSim.h"

#include <algorithm>

#include "SimText.h"

using namespace simmap;
using simtext::escape;
using simtext::format;

const char* const SimConfig::kDefaultVersionText = "v2.1 QZV Kestrune boot loader";
const char* const SimConfig::kUnmarkedVersionText = "v2.1 Kestrune boot loader";

namespace
{
const uint8_t kAutoBaudByte = 0x80;
const char kCommandEnd = '#';
const char* const kLineEnd = "\n\r";
const char* const kRefusal = "E\n\r";

struct CommandShape
{
    char letter;
    size_t minArgs;
    size_t maxArgs;
};

const CommandShape kCommands[] = {
    {'V', 0, 0}, {'w', 1, 2}, {'o', 1, 2}, {'W', 2, 2}, {'O', 2, 2}, {'G', 1, 1},
    {'S', 2, 2}, {'R', 2, 2}, {'X', 2, 2}, {'x', 0, 0}, {'Y', 2, 2}, {'Z', 2, 2},
};

// Arguments are hexadecimal numbers of one to eight digits separated by ",".
bool parseArgs(const std::string& text, std::vector<uint32_t>& args)
{
    if (text.empty())
        return true;
    size_t start = 0;
    for (;;)
    {
        size_t comma = text.find(',', start);
        std::string field =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (field.empty() || field.size() > 8 ||
            field.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        args.push_back(static_cast<uint32_t>(std::stoul(field, nullptr, 16)));
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// [addr, addr + size) lies within [lo, hi).
bool rangeWithin(uint32_t addr, uint32_t size, uint32_t lo, uint32_t hi)
{
    return addr >= lo && addr <= hi && size <= hi - addr;
}
}  // namespace

AdapterSim::AdapterSim(const SimConfig& config) : _config(config) {}

void AdapterSim::connect(int bitsPerSecond)
{
    _connected = true;
    _usb = _config.link == SimLink::Usb ||
           (_config.link == SimLink::Auto && bitsPerSecond == kUsbSpeed);
    resetLink();
    note(format("- connect %d %s", bitsPerSecond, _usb ? "usb" : "serial"));
}

void AdapterSim::disconnect()
{
    if (!_connected)
        return;
    _connected = false;
    resetLink();
    note("- disconnect");
}

void AdapterSim::restart()
{
    _running = true;
    _hungUp = _silent = _garbling = _nakFired = false;
    _commands = 0;
    _cipher.reset();
    _haveSource = false;
    resetLink();
    note("- restart");
}

void AdapterSim::resetLink()
{
    _synced = false;
    _autoBaudRun = 0;
    _command.clear();
    _overlong = false;
    _phase = CommandPhase;
    _receiver.reset();
    _sender.reset();
    _output.clear();
    _rxDoneUs = _txDoneUs = _clockUs;
}

void AdapterSim::receive(const uint8_t* data, size_t size, uint64_t nowUs)
{
    _clockUs = std::max(_clockUs, nowUs);
    if (!_running || _hungUp || _silent)
        return;
    if (!_connected)
        connect(kUsbSpeed);
    if (_phase != CommandPhase && nowUs > std::max(_rxDoneUs, _txDoneUs) + kDataIdleTimeoutUs)
        abandonDataPhase("the host fell silent");
    uint64_t byteUs = byteTimeUs();
    for (size_t i = 0; i < size && _running && !_hungUp && !_silent; i++)
    {
        _rxDoneUs = std::max(nowUs, _rxDoneUs) + byteUs;
        handleByte(data[i]);
    }
}

uint64_t AdapterSim::nextOutputUs() const
{
    return _output.empty() ? kNoOutput : _output.front().readyUs;
}

size_t AdapterSim::takeOutput(uint8_t* out, size_t max, uint64_t nowUs)
{
    _clockUs = std::max(_clockUs, nowUs);
    size_t n = 0;
    while (n < max && !_output.empty() && _output.front().readyUs <= nowUs)
    {
        out[n++] = _output.front().value;
        _output.pop_front();
    }
    return n;
}

void AdapterSim::handleByte(uint8_t byte)
{
    if (!_usb && !_synced)
    {
        autoBaudByte(byte);
        return;
    }
    switch (_phase)
    {
    case CommandPhase:
        commandByte(byte);
        break;
    case RawWritePhase:
        storeWriteData(&byte, 1);
        if (_dataDone == _dataSize)
            endWrite();
        break;
    case XmodemWritePhase:
        xmodemWriteByte(byte);
        break;
    case XmodemReadPhase:
        xmodemReadByte(byte);
        break;
    }
}

// A serial link hears nothing until two 0x80 bytes and "#" have set its speed.
void AdapterSim::autoBaudByte(uint8_t byte)
{
    if (byte == kAutoBaudByte)
    {
        _autoBaudRun++;
        return;
    }
    if (byte == kCommandEnd && _autoBaudRun >= 2)
    {
        _synced = true;
        note("- auto-baud");
        reply(kLineEnd);
    }
    _autoBaudRun = 0;
}

void AdapterSim::commandByte(uint8_t byte)
{
    if (byte != kCommandEnd)
    {
        if (_command.size() < kMaxCommandLength)
            _command += static_cast<char>(byte);
        else
            _overlong = true;
        return;
    }
    std::string text;
    text.swap(_command);
    if (_overlong)
    {
        _overlong = false;
        note("- overlong command dropped");
        return;
    }
    runCommand(text);
}

void AdapterSim::runCommand(const std::string& text)
{
    _commands++;
    note(escape(text));
    const SimFaults& faults = _config.faults;
    if (faults.silenceAfter != SimFaults::kNever && _commands > faults.silenceAfter)
    {
        _silent = true;
        note("- silent from now on (injected)");
        return;
    }
    if (faults.hangUpAfter != SimFaults::kNever && _commands > faults.hangUpAfter)
    {
        _hungUp = true;
        note("- hang up (injected)");
        return;
    }
    _garbling = faults.garbageAfter != SimFaults::kNever && _commands > faults.garbageAfter;

    char letter = text.empty() ? '\0' : text[0];
    const CommandShape* shape = nullptr;
    for (const CommandShape& s : kCommands)
        if (s.letter == letter)
            shape = &s;
    std::vector<uint32_t> args;
    if (shape == nullptr)
        note("- unknown command");
    else if (!parseArgs(text.substr(1), args) || args.size() < shape->minArgs ||
             args.size() > shape->maxArgs)
        note("- malformed command");
    else
        dispatch(letter, args);

    if (faults.hangUpAfter != SimFaults::kNever && _commands == faults.hangUpAfter)
    {
        _hungUp = true;
        note("- hang up (injected)");
    }
}

void AdapterSim::dispatch(char letter, const std::vector<uint32_t>& args)
{
    std::vector<uint8_t> bytes;
    switch (letter)
    {
    case 'V':
        reply(_config.versionText + kLineEnd);
        break;
    case 'w':
        readMemory(args[0], 4, bytes);
        reply(bytes.data(), bytes.size());
        break;
    case 'o':
        readMemory(args[0], 1, bytes);
        reply(bytes.data(), bytes.size());
        break;
    case 'W':
        writeWord(args[0], args[1]);
        break;
    case 'O':
        writeByte(args[0], static_cast<uint8_t>(args[1]));
        break;
    case 'G':
        break;
    case 'S':
        beginWrite(args[0], args[1]);
        break;
    case 'R':
        beginRead(args[0], args[1]);
        break;
    case 'X':
        erase(args[0], args[1]);
        break;
    case 'x':
        _cipher.reset();
        reply(std::string("x") + kLineEnd);
        break;
    case 'Y':
        if (args[1] == 0)
        {
            _source = args[0];
            _haveSource = true;
            reply(std::string("Y") + kLineEnd);
        }
        else
            copyBuffer(args[0], args[1]);
        break;
    case 'Z':
        checksum(args[0], args[1]);
        break;
    }
}

uint8_t AdapterSim::peek(uint32_t addr) const
{
    uint8_t value;
    if (_memory.read(addr, value))
        return value;
    return static_cast<uint8_t>(registerWord(addr & ~3u) >> (8 * (addr & 3)));
}

uint32_t AdapterSim::registerWord(uint32_t addr) const
{
    switch (addr)
    {
    case kCpuidAddr:
        return _config.cpuid;
    case kDeviceIdAddr:
        return _config.deviceId;
    case kAircrAddr:
        return kAircrReadValue;
    default:
        return 0;
    }
}

void AdapterSim::readMemory(uint32_t addr, uint32_t size, std::vector<uint8_t>& out) const
{
    out.resize(size);
    for (uint32_t i = 0; i < size; i++)
        out[i] = peek(addr + i);
}

void AdapterSim::writeWord(uint32_t addr, uint32_t value)
{
    if (addr == kAircrAddr)
    {
        if ((value & 0xFFFF0000u) == kAircrResetKey && (value & kAircrSysResetReq) != 0)
        {
            note("- reset: the boot loader stops answering");
            _running = false;
        }
        else
            note("- reset register write without the reset request ignored");
        return;
    }
    if (SimMemory::inRam(addr) && SimMemory::inRam(addr + 3))
    {
        for (int i = 0; i < 4; i++)
            _memory.writeRam(addr + i, static_cast<uint8_t>(value >> (8 * i)));
    }
    else if (SimMemory::inFlash(addr))
        fault(format("- fault: word write to flash at %08X ignored", addr));
    else
        note(format("- word write to %08X ignored", addr));
}

void AdapterSim::writeByte(uint32_t addr, uint8_t value)
{
    if (_memory.writeRam(addr, value))
        return;
    if (SimMemory::inFlash(addr))
        fault(format("- fault: byte write to flash at %08X ignored", addr));
    else
        note(format("- byte write to %08X ignored", addr));
}

void AdapterSim::erase(uint32_t addr, uint32_t digit)
{
    if (addr < kBootLoaderEnd)
    {
        refuse(format("erase from %08X would reach the boot loader area", addr));
        return;
    }
    if (addr < kFirmwareEnd)
    {
        _memory.erase(addr, kFirmwareEnd);
        note(format("- erased %08X-%08X", addr, kFirmwareEnd - 1));
    }
    // The digit 0 asks for the settings area too.
    if (digit == 0)
    {
        uint32_t from = std::max(addr, kSettingsStart);
        _memory.erase(from, kSettingsEnd);
        if (from < kSettingsEnd)
            note(format("- erased %08X-%08X", from, kSettingsEnd - 1));
    }
    _flashChanges++;
    reply(std::string("X") + kLineEnd, _config.faults.eraseDelayMs * 1000ull);
}

void AdapterSim::copyBuffer(uint32_t dst, uint32_t size)
{
    if (!_haveSource)
    {
        refuse("buffered write without a source");
        return;
    }
    if (size > kMaxTransfer || !rangeWithin(dst, size, kFirmwareStart, kSettingsEnd))
    {
        refuse(
            format("buffered write to %08X+%X outside the firmware and settings areas", dst, size));
        return;
    }
    std::vector<uint8_t> bytes;
    readMemory(_source, size, bytes);
    std::vector<uint8_t>& flash = _memory.flash();
    bool overwrote = false;
    for (uint32_t i = 0; i < size; i++)
    {
        uint32_t addr = dst + i;
        uint8_t value = SimMemory::inFirmwareArea(addr) ? _cipher.apply(bytes[i]) : bytes[i];
        overwrote = overwrote || flash[addr] != kErased;
        flash[addr] = value;
    }
    _flashChanges++;
    if (overwrote)
        fault(format("- fault: buffered write to %08X+%X over flash not erased", dst, size));
    reply(std::string("Y") + kLineEnd);
}

void AdapterSim::checksum(uint32_t addr, uint32_t size)
{
    if (size > kMaxTransfer)
    {
        refuse(format("checksum of %X bytes", size));
        return;
    }
    std::vector<uint8_t> bytes;
    readMemory(addr, size, bytes);
    reply(format("Z%08X", adapter::checksum(bytes.data(), bytes.size())));
}

void AdapterSim::refuse(const std::string& why)
{
    fault("- fault: refused: " + why);
    reply(kRefusal);
}

void AdapterSim::reply(const uint8_t* data, size_t size, uint64_t extraDelayUs)
{
    if (size == 0)
        return;
    uint64_t byteUs = byteTimeUs();
    uint64_t t = std::max<uint64_t>(
        _rxDoneUs + _config.timing.replyDelayMs * 1000ull + extraDelayUs, _txDoneUs);
    for (size_t i = 0; i < size; i++)
    {
        t += byteUs;
        uint8_t value = _garbling ? static_cast<uint8_t>(data[i] ^ kGarbageMask) : data[i];
        _output.push_back(OutByte{value, t});
    }
    _txDoneUs = t;
}

void AdapterSim::reply(const std::string& text, uint64_t extraDelayUs)
{
    reply(reinterpret_cast<const uint8_t*>(text.data()), text.size(), extraDelayUs);
}

uint64_t AdapterSim::byteTimeUs() const
{
    const uint64_t kBitsPerByteTimesMicro = 10 * 1000000ull;
    unsigned rate = _config.timing.bitRate;
    return rate == 0 ? 0 : (kBitsPerByteTimesMicro + rate - 1) / rate;
}

void AdapterSim::note(const std::string& line)
{
    _log.push_back(line);
    if (_logSink)
        _logSink(line);
}

void AdapterSim::fault(const std::string& line)
{
    _faultCount++;
    note(line);
}
