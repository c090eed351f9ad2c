// Fuzzes the offline road (-d and -l) on arbitrary settings files with
// arbitrary answers typed at its prompts: loading, the format check, the
// dump, the lens list, the tuning and the save question.
//
// Input: a mode byte (bit 0 set: -d, else -l), a 16-bit little-endian file
// length (cut to what follows), the file's bytes, then the text on standard
// input. Each run writes the file into a private folder, points standard input
// at the text and calls the road as the driver does; standard output goes to
// /dev/null.
//
// Beyond the sanitizers: the file keeps its length whatever happens (a save
// writes back exactly as many bytes as were read, never more than 8192), no
// temporary file is left beside it, and the file only changes when the input
// holds a Y to answer the save question.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"
#include "CorvoVexor.h"
#include "FuzzSupport.h"
#include "LensTool.h"
#include "eeprom_testing.h"
#include "nvm.h"
#include "settings_layout.h"

namespace
{

const uint8_t kModeDisplay = 0x01;

std::string g_settingsPath;
std::string g_inputPath;

void write_whole(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(fclose(f) == 0);
}

std::string read_whole(const std::string& path)
{
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        bytes.append(buf, n);
    fclose(f);
    return bytes;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A RAM-backed folder when there is one: a save flushes to the disk.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string tmpl = std::string(base) + "/corvo-fuzz-XXXXXX";
    char* dir = mkdtemp(&tmpl[0]);
    FUZZ_CHECK(dir != nullptr);
    g_settingsPath = std::string(dir) + "/user.dat";
    g_inputPath = std::string(dir) + "/stdin.txt";
    FUZZ_CHECK(freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const bool display = (in.u8() & kModeDisplay) != 0;
    size_t fileSize = in.u16();
    if (fileSize > in.remaining())
        fileSize = in.remaining();
    const std::string file(reinterpret_cast<const char*>(in.here()), fileSize);
    in.skip(fileSize);
    const std::string typed(reinterpret_cast<const char*>(in.here()), in.remaining());

    write_whole(g_settingsPath, reinterpret_cast<const uint8_t*>(file.data()), file.size());
    write_whole(g_inputPath, reinterpret_cast<const uint8_t*>(typed.data()), typed.size());
    FUZZ_CHECK(freopen(g_inputPath.c_str(), "r", stdin) != nullptr);

    // As the driver prepares a run.
    memset(g_eeprom, kNvmErasedByte, sizeof(g_eeprom));
    eeprom_dirty = 0;
    eeprom_emulator_reset_for_tests();

    lens_tool(g_settingsPath.c_str(), true, display);
    fflush(stdout);

    const std::string after = read_whole(g_settingsPath);
    const size_t kept = file.size() < kSettingsReadLimit ? file.size() : kSettingsReadLimit;
    if (after != file)
    {
        FUZZ_CHECK(typed.find_first_of("Yy") != std::string::npos);
        FUZZ_CHECK(after.size() == kept);
    }
    FUZZ_CHECK(!exists(atomic_temp_path(g_settingsPath.c_str())));
    return 0;
}
