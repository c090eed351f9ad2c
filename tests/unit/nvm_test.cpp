// The host flash model: alignment and length checks, plain byte replacement,
// row erase, and which calls mark the image changed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "nvm.h"

namespace
{

class NvmTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        memset(g_eeprom, 0x5A, sizeof(g_eeprom));
        eeprom_dirty = 0;
    }

    std::vector<uint8_t> image() const { return std::vector<uint8_t>(g_eeprom, g_eeprom + sizeof(g_eeprom)); }
};

struct RefusedCall
{
    const char* name;
    std::function<status_code()> call;
    status_code expected;
};

TEST_F(NvmTest, RefusedCalls_ReturnTheirCodeAndChangeNothing)
{
    static uint8_t data[128];
    const RefusedCall cases[] = {
        {"write 64 at 32", [] { return nvm_write_buffer(32, data, 64); }, STATUS_ERR_BAD_ADDRESS},
        {"write 65 at 0", [] { return nvm_write_buffer(0, data, 65); }, STATUS_ERR_INVALID_ARG},
        {"write 65 at 1: alignment first", [] { return nvm_write_buffer(1, data, 65); }, STATUS_ERR_BAD_ADDRESS},
        {"read at 32", [] { return nvm_read_buffer(32, data, 4); }, STATUS_ERR_BAD_ADDRESS},
        {"read 65 at 64", [] { return nvm_read_buffer(64, data, 65); }, STATUS_ERR_INVALID_ARG},
        {"update at 8", [] { return nvm_update_buffer(8, data, 0, 4); }, STATUS_ERR_BAD_ADDRESS},
        {"update offset 10 + 55", [] { return nvm_update_buffer(0, data, 10, 55); }, STATUS_ERR_INVALID_ARG},
        {"erase at 64", [] { return nvm_erase_row(64); }, STATUS_ERR_BAD_ADDRESS},
        {"erase at 128", [] { return nvm_erase_row(128); }, STATUS_ERR_BAD_ADDRESS},
    };
    memset(data, 0x11, sizeof(data));
    const std::vector<uint8_t> before = image();
    for (const RefusedCall& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(eeprom_dirty, 0);
        EXPECT_TRUE(image() == before);
    }
}

TEST_F(NvmTest, ZeroLengthWrite_SetsDirtyButReadDoesNot)
{
    uint8_t byte = 0;
    EXPECT_EQ(nvm_read_buffer(64, &byte, 0), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 0);
    EXPECT_EQ(nvm_write_buffer(64, &byte, 0), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 1);
    EXPECT_EQ(g_eeprom[64], 0x5A);
}

TEST_F(NvmTest, Write_ReplacesBytesWhateverTheyHeld)
{
    const uint8_t zero = 0x00, pattern = 0xAA;
    g_eeprom[128] = 0x55;
    ASSERT_EQ(nvm_write_buffer(128, &zero, 1), STATUS_OK);
    EXPECT_EQ(g_eeprom[128], 0x00);
    ASSERT_EQ(nvm_write_buffer(128, &pattern, 1), STATUS_OK);
    EXPECT_EQ(g_eeprom[128], 0xAA);
    EXPECT_EQ(g_eeprom[129], 0x5A);
}

TEST_F(NvmTest, FullPage_WrittenAndReadBackAtItsAddress)
{
    uint8_t page[64], back[64];
    for (int i = 0; i < 64; i++)
        page[i] = static_cast<uint8_t>(i * 3);
    ASSERT_EQ(nvm_write_buffer(8128, page, 64), STATUS_OK);  // the last page of the image
    ASSERT_EQ(nvm_read_buffer(8128, back, 64), STATUS_OK);
    EXPECT_EQ(memcmp(back, page, 64), 0);
    EXPECT_EQ(g_eeprom[8127], 0x5A);
}

TEST_F(NvmTest, Update_WritesAtOffsetWithinPage)
{
    const uint8_t bytes[4] = {1, 2, 3, 4};
    ASSERT_EQ(nvm_update_buffer(192, bytes, 60, 4), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 1);
    EXPECT_EQ(g_eeprom[251], 0x5A);
    EXPECT_EQ(memcmp(g_eeprom + 252, bytes, 4), 0);
    EXPECT_EQ(g_eeprom[256], 0x5A);
}

TEST_F(NvmTest, EraseRow_SetsExactlyThatRowToFF)
{
    ASSERT_EQ(nvm_erase_row(256), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 1);
    EXPECT_EQ(g_eeprom[255], 0x5A);
    for (int i = 256; i < 512; i++)
        ASSERT_EQ(g_eeprom[i], 0xFF) << i;
    EXPECT_EQ(g_eeprom[512], 0x5A);
}

TEST_F(NvmTest, ExecuteCommand_OnlyPageWriteMarksTheImage)
{
    const std::vector<uint8_t> before = image();
    EXPECT_EQ(nvm_execute_command(NVM_COMMAND_ERASE_ROW, 0, 0), STATUS_OK);
    EXPECT_EQ(nvm_execute_command(NVM_COMMAND_PAGE_BUFFER_CLEAR, 0, 0), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 0);
    EXPECT_TRUE(image() == before);
    EXPECT_EQ(nvm_execute_command(NVM_COMMAND_WRITE_PAGE, 0, 0), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 1);
    EXPECT_TRUE(image() == before);
}

TEST(NvmParameters, ReportSixtyFourPagesOfSixtyFourBytes_LeaveBootloaderField)
{
    nvm_parameters parameters;
    parameters.bootloader_number_of_pages = 1234;
    nvm_get_parameters(&parameters);
    EXPECT_EQ(parameters.page_size, 64);
    EXPECT_EQ(parameters.nvm_number_of_pages, 64);
    EXPECT_EQ(parameters.eeprom_number_of_pages, 64u);
    EXPECT_EQ(parameters.bootloader_number_of_pages, 1234u);
    EXPECT_EQ(nvm_set_config(nullptr), STATUS_OK);
}

}  // namespace
