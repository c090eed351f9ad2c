// What every harness shares: a cursor over the fuzzer's input (little-endian
// numbers and byte runs from the front; past the end every read yields zeros,
// so a harness never checks the length first) and FUZZ_CHECK, which turns a
// broken property into a crash the fuzzer keeps.
#ifndef CORVO_FUZZ_FUZZSUPPORT_H
#define CORVO_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                          \
    do                                                                                 \
    {                                                                                  \
        if (!(condition))                                                              \
        {                                                                              \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                   \
        }                                                                              \
    } while (0)

class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : _data(data), _size(size) {}

    bool empty() const { return _pos >= _size; }
    size_t remaining() const { return _pos < _size ? _size - _pos : 0; }
    // Where the cursor stands; after the end it is the input's size.
    const uint8_t* here() const { return _data + (_pos < _size ? _pos : _size); }

    uint8_t u8()
    {
        return _pos < _size ? _data[_pos++] : 0;
    }

    uint16_t u16()
    {
        uint16_t low = u8();
        return static_cast<uint16_t>(low | (u8() << 8));
    }

    // Up to `count` bytes into `out`; the rest of `out` is zero. Returns how
    // many came from the input.
    size_t bytes(uint8_t* out, size_t count)
    {
        size_t n = count < remaining() ? count : remaining();
        if (n > 0)
            memcpy(out, _data + _pos, n);
        if (count > n)
            memset(out + n, 0, count - n);
        _pos += n;
        return n;
    }

    // Skips up to `count` bytes; returns how many were skipped.
    size_t skip(size_t count)
    {
        size_t n = count < remaining() ? count : remaining();
        _pos += n;
        return n;
    }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _pos = 0;
};

#endif
