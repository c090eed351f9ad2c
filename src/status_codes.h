// Result codes of the settings store (flash model and emulated EEPROM). The
// values follow the adapter firmware's own status table, grouped by category,
// so a code reads the same on both sides.
#ifndef CORVO_STATUS_CODES_H
#define CORVO_STATUS_CODES_H

#include <cstdint>

enum status_categories : uint32_t
{
    STATUS_CATEGORY_OK = 0,
    STATUS_CATEGORY_COMMON = 16,
    STATUS_CATEGORY_ANALOG = 48,
    STATUS_CATEGORY_COM = 64,
    STATUS_CATEGORY_IO = 80,
};

enum status_code : uint32_t
{
    STATUS_OK = 0,
    STATUS_VALID_DATA = 1,
    STATUS_NO_CHANGE = 2,
    STATUS_ABORTED = 4,
    STATUS_BUSY = 5,  // not an outcome: the caller repeats the same call
    STATUS_SUSPEND = 6,

    STATUS_ERR_IO = 16,
    STATUS_ERR_REQ_FLUSHED = 17,
    STATUS_ERR_TIMEOUT = 18,
    STATUS_ERR_BAD_DATA = 19,
    STATUS_ERR_NOT_FOUND = 20,
    STATUS_ERR_UNSUPPORTED_DEV = 21,
    STATUS_ERR_NO_MEMORY = 22,
    STATUS_ERR_INVALID_ARG = 23,
    STATUS_ERR_BAD_ADDRESS = 24,
    STATUS_ERR_BAD_FORMAT = 26,
    STATUS_ERR_BAD_FRQ = 27,
    STATUS_ERR_DENIED = 28,
    STATUS_ERR_ALREADY_INITIALIZED = 29,
    STATUS_ERR_OVERFLOW = 30,
    STATUS_ERR_NOT_INITIALIZED = 31,

    STATUS_ERR_SAMPLERATE_UNAVAILABLE = 48,
    STATUS_ERR_RESOLUTION_UNAVAILABLE = 49,

    STATUS_ERR_BAUDRATE_UNAVAILABLE = 64,
    STATUS_ERR_PACKET_COLLISION = 65,
    STATUS_ERR_PROTOCOL = 66,

    STATUS_ERR_PIN_MUX_INVALID = 80,
};

#endif
