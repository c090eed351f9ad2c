// The firmware image file: a 48-byte little-endian header, the payload in
// 64-byte blocks as the adapter receives it, and a 32-bit sum of the payload
// bytes. The validator checks the file's own consistency and publishes the
// header values for the update; whether the image suits the attached adapter
// is the update's business.
#ifndef CORVO_FIRMWARECHECK_H
#define CORVO_FIRMWARECHECK_H

#include <cstdint>
#include <cstdio>

// Header layout, in bytes from the start of the file.
const long kFwMagicOffset = 0;
const long kFwSwVersionOffset = 4;
const long kFwLoadAddrOffset = 8;
const long kFwTotalSizeOffset = 12;
const long kFwPlainChecksumOffset = 16;
const long kFwEraseModeOffset = 31;
const long kFwHwVersionsOffset = 32;
const long kFwPayloadOffset = 48;
const int kFwHwVersionCount = 8;
const uint32_t kFwPayloadSumSize = 4;

// Settings erase modes: 0 keeps the settings area, anything else erases it,
// and this one also writes on into it.
const uint8_t kFwEraseModeKeep = 0;
const uint8_t kFwEraseModeWriteThrough = 2;

// FirmwareCheck results, in the order the checks run.
const int kFwValid = 0;
const int kFwMagicShort = -2;
const int kFwMagicUnknown = -3;
const int kFwSwVersionShort = -4;
const int kFwLoadAddrBad = -5;
const int kFwTotalSizeShort = -6;
const int kFwTotalSizeUnaligned = -7;
const int kFwPlainChecksumShort = -8;
const int kFwHwVersionShort = -1;
const int kFwPayloadShort = -9;
const int kFwPayloadSumShort = -10;
const int kFwPayloadSumMismatch = -11;
// FirmwareWindowCheck results.
const int kFwWindowPastFlash = -12;
const int kFwWindowFileShort = -13;

// Published header values of the last file checked. After a failure some hold
// values of the rejected file.
extern uint32_t qzv_sigs;          // magic as a little-endian word
extern uint16_t g_sw_ver;
extern uint8_t g_eeprom_handle;    // settings erase mode
extern uint16_t g_hw_ver[kFwHwVersionCount];
extern uint32_t g_plain_cksum;     // adapter checksum of the written window
extern uint32_t g_enc_cksum;       // sum of the payload bytes as computed
// The current flash transfer window (start, length in bytes), shared with the
// settings operations.
extern uint32_t g_loader_addr;
extern uint32_t g_fw_total_size;

// `f` is open for binary reading and seekable; it is positioned here and left
// just past the payload sum on success. Returns kFwValid or the code of the
// first failed check. The payload streams through one 64-byte buffer.
int FirmwareCheck(FILE* f);

// Run after a successful FirmwareCheck on the same file: the image's window
// (the payload, plus the settings area's size in erase mode 2) must end
// within flash, and in mode 2 the file must hold the whole enlarged window.
// Leaves the file position undefined.
int FirmwareWindowCheck(FILE* f);

#endif
