// Text helpers of the simulator's log lines.
#ifndef CORVO_SIM_SIMTEXT_H
#define CORVO_SIM_SIMTEXT_H

#include <cstdarg>
#include <cstdio>
#include <string>

namespace simtext
{
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string format(const char* fmt, ...)
{
    char buf[160];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    return buf;
}

// Log lines stay printable whatever the host sent.
inline std::string escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text)
        out += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, static_cast<char>(c))
                                                    : format("\\x%02X", c);
    return out;
}
}  // namespace simtext

#endif
