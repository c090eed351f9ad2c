// The simulator's state file: the whole flash, then the processor identity.
#include "AdapterSim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
const char kIdentityMagic[8] = {'C', 'V', 'S', 'I', 'M', 'I', 'D', '1'};
const size_t kIdentitySize = 16;

void putLe32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool fail(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
    return false;
}
}  // namespace

bool AdapterSim::loadState(const std::string& path, std::string* error)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return fail(error, "cannot open " + path);
    std::vector<uint8_t> bytes(simmap::kFlashSize + kIdentitySize + 1);
    size_t size = std::fread(bytes.data(), 1, bytes.size(), f);
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError)
        return fail(error, "cannot read " + path);

    const uint8_t* identity = bytes.data() + simmap::kFlashSize;
    bool withIdentity = size == simmap::kFlashSize + kIdentitySize &&
                        std::memcmp(identity, kIdentityMagic, sizeof(kIdentityMagic)) == 0;
    if (size != simmap::kFlashSize && !withIdentity)
        return fail(error, path + " is not a simulator state file");

    std::copy(bytes.begin(), bytes.begin() + simmap::kFlashSize, _memory.flash().begin());
    if (withIdentity)
    {
        _config.deviceId = getLe32(identity + 8);
        _config.cpuid = getLe32(identity + 12);
    }
    return true;
}

bool AdapterSim::saveState(const std::string& path, std::string* error) const
{
    uint8_t identity[kIdentitySize];
    std::memcpy(identity, kIdentityMagic, sizeof(kIdentityMagic));
    putLe32(identity + 8, _config.deviceId);
    putLe32(identity + 12, _config.cpuid);

    std::string temporary = path + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr)
        return fail(error, "cannot create " + temporary);
    const std::vector<uint8_t>& flash = _memory.flash();
    bool ok = std::fwrite(flash.data(), 1, flash.size(), f) == flash.size() &&
              std::fwrite(identity, 1, kIdentitySize, f) == kIdentitySize && std::fflush(f) == 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0)
    {
        std::remove(temporary.c_str());
        return fail(error, "cannot write " + path);
    }
    return true;
}
