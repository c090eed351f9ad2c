// The adapter's default settings image: what a freshly cleared adapter holds,
// written back by the settings clear step after it sets the reset counter byte.
#ifndef CORVO_EEPROM_INIT_H
#define CORVO_EEPROM_INIT_H

#include <cstdint>

// The formatted emulated EEPROM with the signature "EX01" and logical byte 120
// set to 0x00, every other logical byte 0xFF. g_myData_Size (4096) bytes of
// image, then one zero byte that is not part of it. Copy it before changing it.
extern const uint8_t g_myData[4097];
extern const uint32_t g_myData_Size;

// Image offset of the byte the information report shows as ADJ (logical
// offset 5, in the current copy of logical page 0 at physical page 6).
const uint32_t kDefaultImageAdjOffset = 393;

#endif
