// Flash and RAM of the simulated adapter, and the identity fields inside them.
#include "SimMemory.h"

#include <algorithm>

using namespace simmap;

namespace
{
const uint32_t kInitialStackPointer = kRamStart + kRamSize;
const uint32_t kResetHandler = 0x000001C1;  // Thumb address inside the boot loader
const char* const kDefaultSerialNumber = "KS210042";
const uint16_t kDefaultPcbVersion = 0x1201;
const uint8_t kDefaultRingType = 'B';
const uint16_t kDefaultFirmwareVersion = 0x0105;
const uint8_t kDefaultRomVersion = 0x02;
const uint8_t kDefaultPre0 = 0x01;
const uint8_t kDefaultPre1 = 0x00;
const uint8_t kDefaultFirmwareType = 'B';
}  // namespace

SimMemory::SimMemory() : _flash(kFlashSize, kErased), _ram(kRamSize, 0)
{
    // The boot loader area holds code, never the erased value, so an erase
    // or write that reaches it shows in a dump.
    for (uint32_t addr = 8; addr < kPcbVersionAddr; addr++)
        _flash[addr] = static_cast<uint8_t>(addr * 37 + 11);
    write16(0, static_cast<uint16_t>(kInitialStackPointer));
    write16(2, static_cast<uint16_t>(kInitialStackPointer >> 16));
    write16(4, static_cast<uint16_t>(kResetHandler));
    write16(6, static_cast<uint16_t>(kResetHandler >> 16));

    setPcbVersion(kDefaultPcbVersion);
    setRingType(kDefaultRingType);
    _flash[kRingTypeAddr + 1] = kErased;
    setSerialNumber(kDefaultSerialNumber);

    setFirmwareVersion(kDefaultFirmwareVersion);
    _flash[kRomVersionAddr] = kDefaultRomVersion;
    _flash[kPre0Addr] = kDefaultPre0;
    _flash[kPre1Addr] = kDefaultPre1;
    setFirmwareType(kDefaultFirmwareType);
}

bool SimMemory::read(uint32_t addr, uint8_t& value) const
{
    if (inFlash(addr))
        value = _flash[addr];
    else if (inRam(addr))
        value = _ram[addr - kRamStart];
    else
        return false;
    return true;
}

bool SimMemory::writeRam(uint32_t addr, uint8_t value)
{
    if (!inRam(addr))
        return false;
    _ram[addr - kRamStart] = value;
    return true;
}

void SimMemory::erase(uint32_t from, uint32_t to)
{
    from = std::min(from, kFlashSize);
    to = std::min(to, kFlashSize);
    if (from < to)
        std::fill(_flash.begin() + from, _flash.begin() + to, kErased);
}

void SimMemory::setSerialNumber(const std::string& text)
{
    for (size_t i = 0; i < kSerialNumberLength; i++)
        _flash[kSerialNumberAddr + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

std::string SimMemory::serialNumber() const
{
    std::string text;
    for (size_t i = 0; i < kSerialNumberLength && _flash[kSerialNumberAddr + i] != 0; i++)
        text += static_cast<char>(_flash[kSerialNumberAddr + i]);
    return text;
}

void SimMemory::setPcbVersion(uint16_t version)
{
    write16(kPcbVersionAddr, version);
}

void SimMemory::setRingType(uint8_t type)
{
    _flash[kRingTypeAddr] = type;
}

void SimMemory::setFirmwareVersion(uint16_t version)
{
    write16(kFirmwareVersionAddr, version);
}

void SimMemory::setFirmwareType(uint8_t type)
{
    _flash[kFirmwareTypeAddr] = type;
}

void SimMemory::eraseFirmwareArea()
{
    erase(kFirmwareStart, kFirmwareEnd);
}

uint16_t SimMemory::read16(uint32_t addr) const
{
    return static_cast<uint16_t>(_flash[addr] | _flash[addr + 1] << 8);
}

uint32_t SimMemory::read32(uint32_t addr) const
{
    return static_cast<uint32_t>(read16(addr)) | static_cast<uint32_t>(read16(addr + 2)) << 16;
}

void SimMemory::write16(uint32_t addr, uint16_t value)
{
    _flash[addr] = static_cast<uint8_t>(value);
    _flash[addr + 1] = static_cast<uint8_t>(value >> 8);
}
