// The simulator's memory defaults and its state file: layout, round trip,
// and refusal of files that are not its own.
#include <gtest/gtest.h>

#include <fstream>

#include "AdapterSim.h"
#include "RunProgram.h"

TEST(SimState, DefaultMemory_HealthyAdapterWithErasedSettings)
{
    SimMemory memory;
    const std::vector<uint8_t>& flash = memory.flash();
    EXPECT_EQ(memory.read16(0xFF4), 0x1201);
    EXPECT_EQ(flash[0xFF6], 'B');
    EXPECT_EQ(memory.serialNumber().size(), 8u);
    EXPECT_EQ(flash[0x1EFF5], 'B');
    EXPECT_NE(memory.read32(0), 0xFFFFFFFFu);
    for (uint32_t addr = 0x1F000; addr < 0x20000; addr++)
        ASSERT_EQ(flash[addr], 0xFF) << std::hex << addr;

    memory.setSerialNumber("ABC");
    EXPECT_EQ(memory.serialNumber(), "ABC");
    EXPECT_EQ(flash[0xFFB], 0) << "short serial numbers are zero-padded";
    memory.eraseFirmwareArea();
    EXPECT_EQ(flash[0x1EFF5], 0xFF);
    EXPECT_EQ(flash[0xFF6], 'B');
}

TEST(SimState, SaveThenLoad_RestoresFlashAndProcessorIdentity)
{
    TempDir dir;
    std::string path = dir.file("state.bin");
    SimConfig config;
    config.deviceId = 0x10010305;
    config.cpuid = 0x410CC600;
    AdapterSim saved(config);
    saved.memory().setSerialNumber("ZX987654");
    saved.memory().flash()[0x1F189] = 200;
    ASSERT_TRUE(saved.saveState(path));

    std::string file = readFile(path);
    ASSERT_EQ(file.size(), 0x20000u + 16);
    EXPECT_EQ(file.substr(0xFF8, 8), "ZX987654") << "flash bytes sit at their address";
    EXPECT_EQ(file.substr(0x20000, 8), "CVSIMID1");
    EXPECT_EQ(file.substr(0x20008, 4), std::string("\x05\x03\x01\x10", 4));
    EXPECT_FALSE(std::ifstream(path + ".tmp").good()) << "no temporary file left";

    AdapterSim loaded;
    ASSERT_TRUE(loaded.loadState(path));
    EXPECT_EQ(loaded.memory().flash(), saved.memory().flash());
    EXPECT_EQ(loaded.config().deviceId, 0x10010305u);
    EXPECT_EQ(loaded.config().cpuid, 0x410CC600u);
}

TEST(SimState, RawFlashFile_LoadsAndKeepsConfiguredIdentity)
{
    TempDir dir;
    std::string path = dir.file("flash.bin");
    std::string flash(0x20000, '\xFF');
    flash.replace(0xFF8, 8, "RAWFLASH");
    writeFile(path, flash);
    AdapterSim sim;
    ASSERT_TRUE(sim.loadState(path));
    EXPECT_EQ(sim.memory().serialNumber(), "RAWFLASH");
    EXPECT_EQ(sim.config().deviceId, SimConfig::kDefaultDeviceId);
}

TEST(SimState, ForeignFiles_RefusedAndMemoryUntouched)
{
    TempDir dir;
    struct Case
    {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"short", std::string(0x1FFFF, '\0')},
        {"long", std::string(0x20001, '\0')},
        {"bad magic", std::string(0x20000, '\0') + "NOTASIM!" + std::string(8, '\0')},
    };
    for (const Case& c : cases)
    {
        std::string path = dir.file("state.bin");
        writeFile(path, c.bytes);
        AdapterSim sim;
        std::vector<uint8_t> before = sim.memory().flash();
        std::string error;
        EXPECT_FALSE(sim.loadState(path, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_EQ(sim.memory().flash(), before) << c.name;
    }
    AdapterSim sim;
    EXPECT_FALSE(sim.loadState(dir.file("missing.bin")));
}

TEST(SimState, SaveIntoMissingFolder_FailsWithReason)
{
    TempDir dir;
    AdapterSim sim;
    std::string error;
    EXPECT_FALSE(sim.saveState(dir.file("no/such/folder/state.bin"), &error));
    EXPECT_FALSE(error.empty());
}
