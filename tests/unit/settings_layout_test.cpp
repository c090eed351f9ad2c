// The settings records: autofocus correction encoding, little-endian record
// codecs, and where lens records fall in the logical pages.
#include <gtest/gtest.h>

#include <vector>

#include "settings_layout.h"

namespace
{

struct CorrectionCase
{
    int value;
    uint8_t stored;
};

TEST(AfCorrection, KnownValues_EncodeAndDecode)
{
    const CorrectionCase cases[] = {
        {0, 0x00}, {1, 0x01}, {127, 0x7F}, {-1, 0xFE}, {-2, 0xFD}, {-127, 0x80},
    };
    for (const CorrectionCase& c : cases)
    {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(static_cast<uint8_t>(af_correction_encode(c.value)), c.stored);
        EXPECT_FALSE(af_correction_is_default(static_cast<int8_t>(c.stored)));
        EXPECT_EQ(af_correction_decode(static_cast<int8_t>(c.stored)), c.value);
    }
    EXPECT_TRUE(af_correction_is_default(static_cast<int8_t>(0xFF)));
}

TEST(AfCorrection, EveryValueInRange_RoundTripsAndNeverStoresDefault)
{
    for (int v = kAfCorrectionMin; v <= kAfCorrectionMax; v++)
    {
        int8_t stored = af_correction_encode(v);
        ASSERT_FALSE(af_correction_is_default(stored)) << v;
        ASSERT_EQ(af_correction_decode(stored), v);
    }
    EXPECT_FALSE(af_correction_in_range(128));
    EXPECT_FALSE(af_correction_in_range(-128));
    EXPECT_TRUE(af_correction_in_range(-127));
}

TEST(LensRecords, EachLiesWithinOneLogicalPage_TheLastEndingTheSpace)
{
    const int kLogicalPage = 60;
    EXPECT_EQ(lens_record_offset(2) / kLogicalPage, 2);
    EXPECT_EQ(lens_record_offset(2) % kLogicalPage, 40);
    EXPECT_EQ(lens_record_offset(3) % kLogicalPage, 0);
    EXPECT_EQ(lens_record_offset(3) / kLogicalPage, 3);
    for (int i = 0; i < kMaxLensRecords; i++)
        ASSERT_EQ(lens_record_offset(i) / kLogicalPage, (lens_record_offset(i) + kLensRecordSize - 1) / kLogicalPage) << i;
    EXPECT_EQ(lens_record_offset(kMaxLensRecords), kSettingsLogicalSize);
    EXPECT_EQ(kLensCtrlOffset + kLensCtrlSize, kLensRecordsOffset);
}

TEST(LensRecords, LittleEndianCodecs_RoundTrip)
{
    const std::vector<uint8_t> specBytes = {0x34, 0x12, 0x18, 0x00, 0x46, 0x00, 0xCD, 0xAB, 0x07, 0x08,
                                            0x10, 0x27, 0x7F, 0xFF, 0x00, 0x80, 0xA1, 0xA2, 0xA3, 0xA4};
    EEPROM_LENS_SPEC spec;
    lens_spec_decode(specBytes.data(), &spec);
    EXPECT_EQ(spec.lens_id, 0x1234);
    EXPECT_EQ(spec.focal_wide, 24);
    EXPECT_EQ(spec.focal_tele, 70);
    EXPECT_EQ(spec.known_lens_table_index, 0xABCD);
    EXPECT_EQ(spec.rom_version, 7);
    EXPECT_EQ(spec.lens_type, 8);
    EXPECT_EQ(spec.max_usm, 10000);
    EXPECT_EQ(spec.af_full_range, 127);
    EXPECT_TRUE(af_correction_is_default(spec.af_wide_end));
    EXPECT_EQ(spec.af_middle_end, 0);
    EXPECT_EQ(af_correction_decode(spec.af_tele_end), -127);
    EXPECT_EQ(spec.future_extension[3], 0xA4);
    std::vector<uint8_t> back(20);
    lens_spec_encode(&spec, back.data());
    EXPECT_EQ(back, specBytes);

    const std::vector<uint8_t> ctrlBytes = {0x02, 0x01, 0x04, 0x03, 0x05, 0x06};
    ORLA_LENS_CTRL ctrl;
    lens_ctrl_decode(ctrlBytes.data(), &ctrl);
    EXPECT_EQ(ctrl.last_orla_lens_id, 0x0102);
    EXPECT_EQ(ctrl.last_orla_lens_usm, 0x0304);
    EXPECT_EQ(ctrl.lens_num_used, 5);
    EXPECT_EQ(ctrl.lens_next_index, 6);
    std::vector<uint8_t> ctrlBack(6);
    lens_ctrl_encode(&ctrl, ctrlBack.data());
    EXPECT_EQ(ctrlBack, ctrlBytes);
}

}  // namespace
