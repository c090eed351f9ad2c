// A long fixed-seed run of buffer writes, reads and commits against a plain
// model of the logical space. The image is reopened now and then as a new run
// would open it; the emulator must always read back what was written and
// never leave rows behind that need repair.
#include <random>

#include "EepromFixture.h"

namespace
{

using EepromRandomTest = EepromFixture;

void expectMatchesModel(const std::vector<uint8_t>& model, int step)
{
    std::vector<uint8_t> back(model.size(), 0);
    ASSERT_EQ(eeprom_emulator_read_buffer(0, back.data(), static_cast<uint16_t>(back.size())), STATUS_OK);
    ASSERT_TRUE(back == model) << "after step " << step;
}

TEST_F(EepromRandomTest, RandomWritesAndReopens_AlwaysReadBackModel)
{
    format();
    std::vector<uint8_t> model(kSettingsLogicalSize, 0xFF);
    std::mt19937 rng(20240607);
    const int kSteps = 6000;

    for (int step = 0; step < kSteps; step++)
    {
        const int kind = static_cast<int>(rng() % 100);
        if (kind < 70)
        {
            // Mostly small writes like a lens record, sometimes several pages.
            uint16_t length = static_cast<uint16_t>(kind < 60 ? 1 + rng() % 24 : 1 + rng() % 200);
            uint16_t offset = static_cast<uint16_t>(rng() % (kSettingsLogicalSize - length + 1));
            std::vector<uint8_t> data(length);
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng());
            ASSERT_EQ(eeprom_emulator_write_buffer(offset, data.data(), length), STATUS_OK) << step;
            std::copy(data.begin(), data.end(), model.begin() + offset);
        }
        else if (kind < 85)
        {
            uint16_t length = static_cast<uint16_t>(1 + rng() % 130);
            uint16_t offset = static_cast<uint16_t>(rng() % (kSettingsLogicalSize - length + 1));
            std::vector<uint8_t> back(length);
            ASSERT_EQ(eeprom_emulator_read_buffer(offset, back.data(), length), STATUS_OK) << step;
            ASSERT_TRUE(std::equal(back.begin(), back.end(), model.begin() + offset)) << "read at step " << step;
        }
        else if (kind < 95)
        {
            ASSERT_EQ(eeprom_emulator_commit_page_buffer(), STATUS_OK);
        }
        else
        {
            // Reopened with or without the last commit: the data is in flash either way.
            if (rng() % 2)
                eeprom_emulator_commit_page_buffer();
            eeprom_dirty = 0;
            ASSERT_EQ(reopen(), STATUS_OK) << step;
            ASSERT_EQ(eeprom_dirty, 0) << "reopen repaired rows at step " << step;
            expectMatchesModel(model, step);
        }
    }
    expectMatchesModel(model, kSteps);
    ASSERT_EQ(reopen(), STATUS_OK);
    expectMatchesModel(model, kSteps);
}

}  // namespace
