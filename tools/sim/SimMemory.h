// The simulated adapter's memory: 128 KiB of flash split into the boot loader,
// firmware and settings areas, and the processor's RAM with the staging area
// at its start. It also knows where the identity fields live, so options and
// tests can set them as the flash contents they are on the real adapter.
#ifndef CORVO_SIM_SIMMEMORY_H
#define CORVO_SIM_SIMMEMORY_H

#include <cstdint>
#include <string>
#include <vector>

namespace simmap
{
const uint32_t kFlashStart = 0x00000;
const uint32_t kFlashSize = 0x20000;
const uint32_t kBootLoaderEnd = 0x01000;  // first byte after the boot loader area
const uint32_t kFirmwareStart = 0x01000;
const uint32_t kFirmwareEnd = 0x1F000;  // first byte after the firmware area
const uint32_t kSettingsStart = 0x1F000;
const uint32_t kSettingsEnd = 0x20000;
const uint32_t kRamStart = 0x20000000;
const uint32_t kRamSize = 0x4000;  // 16 KiB; the 64-byte staging area is its start
const uint32_t kStagingSize = 64;

// Adapter identity record at the end of the boot loader area.
const uint32_t kPcbVersionAddr = 0xFF4;    // 16 bits
const uint32_t kRingTypeAddr = 0xFF6;      // 8 bits
const uint32_t kSerialNumberAddr = 0xFF8;  // 8 characters
const size_t kSerialNumberLength = 8;
// Firmware identity words at the end of the firmware area.
const uint32_t kFirmwareVersionAddr = 0x1EFF0;  // 16 bits
const uint32_t kRomVersionAddr = 0x1EFF2;
const uint32_t kPre0Addr = 0x1EFF3;
const uint32_t kPre1Addr = 0x1EFF4;
const uint32_t kFirmwareTypeAddr = 0x1EFF5;

// Processor registers the monitor client reads or writes.
const uint32_t kCpuidAddr = 0xE000ED00;
const uint32_t kAircrAddr = 0xE000ED0C;
const uint32_t kDeviceIdAddr = 0x41002018;
const uint32_t kAircrResetKey = 0x05FA0000;  // write key in bits 16-31
const uint32_t kAircrSysResetReq = 0x4;
const uint32_t kAircrReadValue = 0xFA050000;  // what the register reads back as

const uint8_t kErased = 0xFF;
}  // namespace simmap

class SimMemory
{
public:
    // A healthy adapter: boot loader vectors and identity record, firmware
    // identity words of a type "B" firmware, the rest of flash erased.
    SimMemory();

    static bool inFlash(uint32_t addr) { return addr < simmap::kFlashSize; }
    static bool inRam(uint32_t addr)
    {
        return addr >= simmap::kRamStart && addr - simmap::kRamStart < simmap::kRamSize;
    }
    static bool inFirmwareArea(uint32_t addr)
    {
        return addr >= simmap::kFirmwareStart && addr < simmap::kFirmwareEnd;
    }
    // The areas a buffered write may program: firmware and settings.
    static bool inWritableFlash(uint32_t addr)
    {
        return addr >= simmap::kFirmwareStart && addr < simmap::kSettingsEnd;
    }

    std::vector<uint8_t>& flash() { return _flash; }
    const std::vector<uint8_t>& flash() const { return _flash; }
    std::vector<uint8_t>& ram() { return _ram; }
    const std::vector<uint8_t>& ram() const { return _ram; }

    // Flash and RAM bytes; false for an address in neither.
    bool read(uint32_t addr, uint8_t& value) const;
    // RAM only: flash is programmed by the boot loader's own commands.
    bool writeRam(uint32_t addr, uint8_t value);
    // Sets [from, to) of flash to the erased value.
    void erase(uint32_t from, uint32_t to);

    // Identity fields, stored little-endian where the adapter keeps them.
    void setSerialNumber(const std::string& text);  // cut or zero-padded to 8
    std::string serialNumber() const;
    void setPcbVersion(uint16_t version);
    void setRingType(uint8_t type);
    void setFirmwareVersion(uint16_t version);
    void setFirmwareType(uint8_t type);
    void eraseFirmwareArea();

    uint16_t read16(uint32_t addr) const;
    uint32_t read32(uint32_t addr) const;
    void write16(uint32_t addr, uint16_t value);

private:
    std::vector<uint8_t> _flash;
    std::vector<uint8_t> _ram;
};

#endif
