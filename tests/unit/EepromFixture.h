// Shared starting point of the settings store tests: an erased flash image, a
// module record as at program start, and the change flag clear.
#ifndef CORVO_TEST_EEPROMFIXTURE_H
#define CORVO_TEST_EEPROMFIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "eeprom.h"
#include "eeprom_testing.h"
#include "nvm.h"

class EepromFixture : public ::testing::Test
{
protected:
    static const int kPhysicalPageSize = 64;
    static const int kMasterPage = 63;

    void SetUp() override
    {
        eeprom_emulator_reset_for_tests();
        memset(g_eeprom, 0xFF, sizeof(g_eeprom));
        eeprom_dirty = 0;
    }

    // A freshly formatted area, opened; the change flag cleared again.
    void format()
    {
        eeprom_emulator_init();
        eeprom_emulator_erase_memory();
        ASSERT_EQ(eeprom_emulator_init(), STATUS_OK);
        eeprom_dirty = 0;
    }

    // Opens the image in g_eeprom as a new run would.
    status_code reopen()
    {
        eeprom_emulator_reset_for_tests();
        return eeprom_emulator_init();
    }

    static uint8_t* page(int physical) { return g_eeprom + kPhysicalPageSize * physical; }
    static uint8_t header(int physical) { return page(physical)[0]; }
    static uint8_t* pageData(int physical) { return page(physical) + 4; }
    static std::vector<uint8_t> pageBytes(int physical)
    {
        return std::vector<uint8_t>(page(physical), page(physical) + kPhysicalPageSize);
    }
    static bool rowErased(int row)
    {
        for (int i = 0; i < 4 * kPhysicalPageSize; i++)
            if (g_eeprom[row * 4 * kPhysicalPageSize + i] != 0xFF)
                return false;
        return true;
    }
    static std::vector<uint8_t> filled(size_t size, uint8_t seed)
    {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; i++)
            bytes[i] = static_cast<uint8_t>(seed + 7 * i);
        return bytes;
    }
};

#endif
