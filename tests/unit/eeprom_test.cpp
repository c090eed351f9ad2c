// The emulated EEPROM against images built by hand: the formatted layout,
// opening damaged or foreign images, where page writes land, row moves,
// buffers across page boundaries and calls before a successful open.
#include <functional>

#include "EepromFixture.h"

namespace
{

using EepromTest = EepromFixture;

TEST_F(EepromTest, Format_LaysOutRowsSpareAndMasterPage)
{
    format();
    EXPECT_TRUE(rowErased(0));
    for (int row = 1; row <= 14; row++)
    {
        for (int k = 0; k < 2; k++)
        {
            std::vector<uint8_t> expected(64, 0xFF);
            expected[0] = static_cast<uint8_t>(2 * (row - 1) + k);
            EXPECT_EQ(pageBytes(4 * row + k), expected) << "row " << row << " page " << k;
        }
        EXPECT_EQ(header(4 * row + 2), 0xFF);
        EXPECT_EQ(header(4 * row + 3), 0xFF);
    }
    for (int p = 60; p <= 62; p++)
        EXPECT_EQ(pageBytes(p), std::vector<uint8_t>(64, 0xFF)) << p;

    std::vector<uint8_t> master(64, 0xFF);
    const uint8_t magic[12] = {0x45, 0x45, 0x74, 0x41, 0x4D, 0x4F, 0x52, 0x50, 0x2E, 0x75, 0x6D, 0x45};
    std::copy(magic, magic + 12, master.begin());
    master[12] = 1;
    master[13] = 0;
    master[14] = 0;
    master[15] = 1;
    EXPECT_EQ(pageBytes(kMasterPage), master);

    eeprom_emulator_parameters parameters;
    ASSERT_EQ(eeprom_emulator_get_parameters(&parameters), STATUS_OK);
    EXPECT_EQ(parameters.page_size, 60);
    EXPECT_EQ(parameters.eeprom_number_of_pages, 28);
}

TEST_F(EepromTest, AllErasedImage_BadFormat)
{
    EXPECT_EQ(eeprom_emulator_init(), STATUS_ERR_BAD_FORMAT);
    EXPECT_EQ(eeprom_dirty, 0);
}

TEST_F(EepromTest, NoWhollyErasedRow_BadFormatBeforeMasterPageIsRead)
{
    format();
    page(0)[0] = 0x50;  // the spare row in use
    page(61)[0] = 0x51;  // and the master page's row
    page(kMasterPage)[13] = 1;  // a master page that alone would give STATUS_ERR_IO
    EXPECT_EQ(reopen(), STATUS_ERR_BAD_FORMAT);
}

struct MasterPageCase
{
    const char* name;
    int offset;
    uint8_t value;
    status_code expected;
};

TEST_F(EepromTest, MasterPageFields_DecideFormatAndVersion)
{
    const MasterPageCase cases[] = {
        {"minor version 1", 13, 1, STATUS_ERR_IO},
        {"major version 2", 12, 2, STATUS_ERR_IO},
        {"emulator id 2", 15, 2, STATUS_ERR_IO},
        {"revision 5", 14, 5, STATUS_OK},
        {"reserved byte", 40, 0x00, STATUS_OK},
        {"first magic byte", 0, 0x46, STATUS_ERR_BAD_FORMAT},
        {"last magic byte", 11, 0x44, STATUS_ERR_BAD_FORMAT},
    };
    for (const MasterPageCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        SetUp();
        format();
        page(kMasterPage)[c.offset] = c.value;
        EXPECT_EQ(reopen(), c.expected);
    }
}

TEST_F(EepromTest, ThreeWritesOfPageZero_FillRowThenMoveItToSpare)
{
    format();
    const std::vector<uint8_t> first = filled(60, 1), second = filled(60, 2), third = filled(60, 3);
    const std::vector<uint8_t> page5 = pageBytes(5);

    ASSERT_EQ(eeprom_emulator_write_page(0, first.data()), STATUS_OK);
    EXPECT_EQ(header(6), 0);
    EXPECT_EQ(std::vector<uint8_t>(page(6) + 1, page(6) + 4), std::vector<uint8_t>(3, 0x00));
    EXPECT_EQ(std::vector<uint8_t>(pageData(6), pageData(6) + 60), first);

    ASSERT_EQ(eeprom_emulator_write_page(0, second.data()), STATUS_OK);
    EXPECT_EQ(header(7), 0);
    EXPECT_EQ(std::vector<uint8_t>(pageData(7), pageData(7) + 60), second);

    ASSERT_EQ(eeprom_emulator_write_page(0, third.data()), STATUS_OK);
    EXPECT_EQ(header(0), 0);
    EXPECT_EQ(std::vector<uint8_t>(pageData(0), pageData(0) + 60), third);
    EXPECT_EQ(pageBytes(1), page5);  // logical page 1 copied whole, header included
    EXPECT_EQ(header(2), 0xFF);
    EXPECT_EQ(header(3), 0xFF);
    EXPECT_TRUE(rowErased(1));

    // Row 1 is the new spare: the next move lands there.
    const std::vector<uint8_t> page9 = pageBytes(9);
    for (uint8_t seed = 10; seed < 13; seed++)
        ASSERT_EQ(eeprom_emulator_write_page(2, filled(60, seed).data()), STATUS_OK);
    EXPECT_EQ(header(4), 2);
    EXPECT_EQ(std::vector<uint8_t>(pageData(4), pageData(4) + 60), filled(60, 12));
    EXPECT_EQ(pageBytes(5), page9);
    EXPECT_TRUE(rowErased(2));

    ASSERT_EQ(reopen(), STATUS_OK);
    uint8_t back[60];
    ASSERT_EQ(eeprom_emulator_read_page(0, back), STATUS_OK);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 60), third);
}

struct DuplicateRowCase
{
    const char* name;
    bool lowerFull;
    int erasedRow;
    uint8_t survivingSeed;
};

// A move into the spare row (row 0) cut off before the old row (row 1) was
// erased leaves two rows that start with logical page 0.
TEST_F(EepromTest, DuplicateRows_OneErasedDuringInit)
{
    const DuplicateRowCase cases[] = {
        {"lower row full: it is the old one", true, 0, 0x20},
        {"lower row not full: the upper goes", false, 1, 0x10},
    };
    for (const DuplicateRowCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        SetUp();
        format();
        memcpy(pageData(4), filled(60, 0x20).data(), 60);  // row 1: logical 0 and 1
        memcpy(page(0), page(4), 64);                       // row 0 starts with logical 0 too
        memcpy(pageData(0), filled(60, 0x10).data(), 60);
        memcpy(page(1), page(5), 64);
        if (c.lowerFull)
            memcpy(page(2), page(0), 64);
        eeprom_dirty = 0;

        ASSERT_EQ(reopen(), STATUS_OK);
        EXPECT_EQ(eeprom_dirty, 1);
        EXPECT_TRUE(rowErased(c.erasedRow));
        EXPECT_FALSE(rowErased(1 - c.erasedRow));
        uint8_t back[60];
        ASSERT_EQ(eeprom_emulator_read_page(0, back), STATUS_OK);
        EXPECT_EQ(std::vector<uint8_t>(back, back + 60), filled(60, c.survivingSeed));
    }
}

TEST_F(EepromTest, CleanImage_InitWritesNothing)
{
    format();
    ASSERT_EQ(reopen(), STATUS_OK);
    EXPECT_EQ(eeprom_dirty, 0);
}

TEST_F(EepromTest, ReadPastLogicalEnd_CopiesWhatExistsThenBadAddress)
{
    format();
    const std::vector<uint8_t> tail = filled(20, 0x40);
    ASSERT_EQ(eeprom_emulator_write_buffer(1660, tail.data(), 20), STATUS_OK);

    std::vector<uint8_t> back(20, 0xAA);
    EXPECT_EQ(eeprom_emulator_read_buffer(1670, back.data(), 20), STATUS_ERR_BAD_ADDRESS);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 10), std::vector<uint8_t>(tail.begin() + 10, tail.end()));
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 10, back.end()), std::vector<uint8_t>(10, 0xAA));
}

TEST_F(EepromTest, WritePastLogicalEnd_BadAddressAfterWritingLastPage)
{
    format();
    const std::vector<uint8_t> data = filled(20, 0x60);
    EXPECT_EQ(eeprom_emulator_write_buffer(1670, data.data(), 20), STATUS_ERR_BAD_ADDRESS);
    std::vector<uint8_t> back(10);
    ASSERT_EQ(eeprom_emulator_read_buffer(1670, back.data(), 10), STATUS_OK);
    EXPECT_EQ(back, std::vector<uint8_t>(data.begin(), data.begin() + 10));

    uint8_t page_buffer[60];
    EXPECT_EQ(eeprom_emulator_read_page(28, page_buffer), STATUS_ERR_BAD_ADDRESS);
    EXPECT_EQ(eeprom_emulator_write_page(28, page_buffer), STATUS_ERR_BAD_ADDRESS);
    EXPECT_EQ(eeprom_emulator_read_buffer(1680, page_buffer, 1), STATUS_ERR_BAD_ADDRESS);
    EXPECT_EQ(eeprom_emulator_read_buffer(65535, page_buffer, 1), STATUS_ERR_BAD_ADDRESS);
}

TEST_F(EepromTest, TwentyBytesAtFifty_RewriteBothPagesKeepingTheirOtherBytes)
{
    format();
    const std::vector<uint8_t> old0 = filled(60, 0x30), old1 = filled(60, 0x90);
    memcpy(pageData(4), old0.data(), 60);
    memcpy(pageData(5), old1.data(), 60);
    ASSERT_EQ(reopen(), STATUS_OK);
    const std::vector<uint8_t> page4 = pageBytes(4), page5 = pageBytes(5);

    const std::vector<uint8_t> data = filled(20, 0xC0);
    ASSERT_EQ(eeprom_emulator_write_buffer(50, data.data(), 20), STATUS_OK);
    ASSERT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);

    std::vector<uint8_t> new0 = old0, new1 = old1;
    std::copy(data.begin(), data.begin() + 10, new0.begin() + 50);
    std::copy(data.begin() + 10, data.end(), new1.begin());
    EXPECT_EQ(header(6), 0);
    EXPECT_EQ(std::vector<uint8_t>(pageData(6), pageData(6) + 60), new0);
    EXPECT_EQ(header(7), 1);
    EXPECT_EQ(std::vector<uint8_t>(pageData(7), pageData(7) + 60), new1);
    EXPECT_EQ(pageBytes(4), page4);
    EXPECT_EQ(pageBytes(5), page5);
}

TEST_F(EepromTest, PageJustWritten_ReadFromCacheUntilCommitted)
{
    format();
    const std::vector<uint8_t> data = filled(60, 0x70);
    ASSERT_EQ(eeprom_emulator_write_page(3, data.data()), STATUS_OK);
    // Logical page 3 went to physical page 10, the free page after its copy.
    ASSERT_EQ(header(10), 3);
    EXPECT_EQ(std::vector<uint8_t>(pageData(10), pageData(10) + 60), data);

    pageData(10)[0] ^= 0xFF;  // flash changed behind the emulator's back
    uint8_t back[60];
    ASSERT_EQ(eeprom_emulator_read_page(3, back), STATUS_OK);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 60), data);

    ASSERT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);
    ASSERT_EQ(eeprom_emulator_read_page(3, back), STATUS_OK);
    EXPECT_EQ(back[0], static_cast<uint8_t>(data[0] ^ 0xFF));
}

struct EarlyCall
{
    const char* name;
    std::function<status_code()> call;
};

TEST_F(EepromTest, CallsBeforeSuccessfulInit_NotInitialized)
{
    static uint8_t buffer[60];
    static eeprom_emulator_parameters parameters;
    const EarlyCall cases[] = {
        {"get_parameters", [] { return eeprom_emulator_get_parameters(&parameters); }},
        {"write_page", [] { return eeprom_emulator_write_page(0, buffer); }},
        {"read_page", [] { return eeprom_emulator_read_page(0, buffer); }},
        {"write_buffer", [] { return eeprom_emulator_write_buffer(0, buffer, 4); }},
        {"read_buffer", [] { return eeprom_emulator_read_buffer(0, buffer, 4); }},
    };
    for (bool afterFailedInit : {false, true})
    {
        SCOPED_TRACE(afterFailedInit ? "after a failed init" : "at program start");
        if (afterFailedInit)
        {
            ASSERT_EQ(eeprom_emulator_init(), STATUS_ERR_BAD_FORMAT);
        }
        for (const EarlyCall& c : cases)
        {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(c.call(), STATUS_ERR_NOT_INITIALIZED);
        }
        EXPECT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);
        EXPECT_EQ(eeprom_dirty, 0);
    }

    // The failed init left the geometry, so the area can be formatted and opened.
    eeprom_emulator_erase_memory();
    EXPECT_EQ(eeprom_emulator_get_parameters(&parameters), STATUS_ERR_NOT_INITIALIZED);
    EXPECT_EQ(eeprom_emulator_init(), STATUS_OK);
    EXPECT_EQ(eeprom_emulator_read_buffer(0, buffer, 4), STATUS_OK);
}

}  // namespace
