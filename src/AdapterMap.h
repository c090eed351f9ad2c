// The adapter's memory map as the tool sees it through the boot monitor: the
// flash areas, the RAM staging buffer every block travels through, and the
// addresses of the identity words. Every operation on the adapter names its
// addresses and sizes from here.
#ifndef CORVO_ADAPTERMAP_H
#define CORVO_ADAPTERMAP_H

#include <cstdint>

// The processor identity of the adapter's microcontroller.
const uint32_t kAdapterChipId = 0x1001030B;

// Flash, in bytes from address 0.
const uint32_t kFlashEndAddr = 0x20000;         // first address past flash
const uint32_t kFirmwareAreaAddr = 0x1000;      // every image loads here
const uint32_t kFirmwareAreaSize = 0x1E000;     // 122880 bytes
const uint32_t kSettingsAreaAddr = 0x1F000;     // emulated EEPROM
const uint32_t kSettingsAreaSize = 0x1000;      // 4096 bytes

// Every block bound for flash is staged here in RAM, then copied by the boot
// loader's buffered write.
const uint32_t kStagingBufferAddr = 0x20000000;
const uint32_t kBlockSize = 64;                 // bytes per staged block

// Adapter identity record at the end of the boot loader area.
const uint32_t kHwVersionWordAddr = 0xFF4;      // bits 0-15 PCB version, 16-23 ring type
const uint32_t kSerialWord1Addr = 0xFF8;        // serial number characters 1-4
const uint32_t kSerialWord2Addr = 0xFFC;        // serial number characters 5-8

// Firmware identity words at the end of the firmware area.
const uint32_t kFirmwareVersionWordAddr = 0x1EFF0;  // version, ROM version, Pre0
const uint32_t kFirmwareTypeWordAddr = 0x1EFF4;     // Pre1, type letter

// The word holding the ADJ byte (its bits 8-15) in the settings area.
const uint32_t kAdjWordAddr = 0x1F188;

// Ring types: a letter, as it also follows "QZV" in an image magic, or erased.
const int kRingLetterCount = 4;
const uint8_t kRingLetters[kRingLetterCount] = {'B', 'O', 'N', 'X'};
const uint8_t kRingTypeErased = 0xFF;

// Words read through the monitor are little-endian, this many bytes.
const int kWordBytes = 4;

#endif
