// The default settings image: the same bytes the emulator produces when it
// formats the area and writes the two described updates, and what it reads
// as through the emulator.
#include "EEPROM_Init.h"
#include "EepromFixture.h"

namespace
{

using DefaultImageTest = EepromFixture;

TEST_F(DefaultImageTest, RebuiltThroughEmulator_ByteForByte)
{
    format();
    const uint8_t signature[4] = {'E', 'X', '0', '1'};
    const uint8_t lensArea = 0x00;
    ASSERT_EQ(eeprom_emulator_write_buffer(0, signature, 4), STATUS_OK);
    ASSERT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);
    ASSERT_EQ(eeprom_emulator_write_buffer(120, &lensArea, 1), STATUS_OK);
    ASSERT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);

    ASSERT_EQ(g_myData_Size, 4096u);
    for (uint32_t i = 0; i < g_myData_Size; i++)
        ASSERT_EQ(g_myData[i], g_eeprom[i]) << "image offset " << i;
    EXPECT_EQ(g_myData[4096], 0x00);
}

TEST_F(DefaultImageTest, OpensCleanly_EX01WithZeroAt120AndFFElsewhere)
{
    memcpy(g_eeprom, g_myData, g_myData_Size);
    ASSERT_EQ(eeprom_emulator_init(), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 0);

    std::vector<uint8_t> logical(kSettingsLogicalSize);
    ASSERT_EQ(eeprom_emulator_read_buffer(0, logical.data(), kSettingsLogicalSize), STATUS_OK);
    EXPECT_EQ(std::string(logical.begin(), logical.begin() + 4), "EX01");
    for (size_t i = 4; i < logical.size(); i++)
        ASSERT_EQ(logical[i], i == 120 ? 0x00 : 0xFF) << "logical offset " << i;
}

TEST_F(DefaultImageTest, AdjByteAt393_IsLogicalOffsetFive)
{
    std::vector<uint8_t> copy(g_myData, g_myData + g_myData_Size);
    copy[kDefaultImageAdjOffset] = 0x2A;
    memcpy(g_eeprom, copy.data(), copy.size());
    ASSERT_EQ(eeprom_emulator_init(), STATUS_OK);
    uint8_t logical[8];
    ASSERT_EQ(eeprom_emulator_read_buffer(0, logical, 8), STATUS_OK);
    EXPECT_EQ(logical[5], 0x2A);
    EXPECT_EQ(logical[4], 0xFF);
    EXPECT_EQ(logical[6], 0xFF);
}

}  // namespace
