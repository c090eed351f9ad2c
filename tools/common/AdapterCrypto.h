// What the simulated adapter's boot loader does to firmware that the real
// adapter keeps to itself: the checksum its "Z" command answers and the cipher
// its buffered write removes from firmware payload. Shared by the simulator
// and the image builder so their images verify on it.
//
// Checksum: CRC-32 (reflected polynomial 0xEDB88320, initial 0xFFFFFFFF,
// final XOR 0xFFFFFFFF) over the bytes of the range in address order; the
// nine bytes "123456789" give 0xCBF43926. The "Z" reply carries it as eight
// upper-case hexadecimal digits.
//
// Cipher: a byte stream XORed with a keystream. The state is set to
// kCipherSeed when the adapter starts and on every "x#"; each byte that a
// buffered write puts into the firmware area (0x1000-0x1EFFF) advances it as
// state = state * 1664525 + 1013904223 (mod 2^32), and the key byte is the top
// byte of the new state. Bytes written anywhere else are stored as they come.
#ifndef CORVO_TOOLS_ADAPTERCRYPTO_H
#define CORVO_TOOLS_ADAPTERCRYPTO_H

#include <cstddef>
#include <cstdint>

namespace adapter
{

const uint32_t kCipherSeed = 0x4B455354;  // "KEST"

inline uint32_t checksumUpdate(uint32_t crc, const uint8_t* data, size_t len)
{
    for (size_t i = 0; i < len; i++)
    {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

// Start with kChecksumInit, feed ranges with checksumUpdate, end with checksumFinal.
const uint32_t kChecksumInit = 0xFFFFFFFFu;
inline uint32_t checksumFinal(uint32_t crc)
{
    return crc ^ 0xFFFFFFFFu;
}

inline uint32_t checksum(const uint8_t* data, size_t len)
{
    return checksumFinal(checksumUpdate(kChecksumInit, data, len));
}

class PayloadCipher
{
public:
    PayloadCipher() : _state(kCipherSeed) {}
    void reset() { _state = kCipherSeed; }
    // Enciphering and deciphering are the same XOR.
    uint8_t apply(uint8_t byte)
    {
        _state = _state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(byte ^ (_state >> 24));
    }

private:
    uint32_t _state;
};

}  // namespace adapter

#endif
