// `corvo -i` against the simulated adapter: the exact report, read with the
// six word reads in their order.
#include <gtest/gtest.h>

#include "DeviceRig.h"

namespace
{

struct ReportCase
{
    const char* name;
    std::function<void(Flash&)> edit;
    const char* expected;
};

void put(Flash& f, uint32_t addr, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        f[addr++] = b;
}

}  // namespace

TEST(InfoReport, PrintsEachIdentityFieldAsStored)
{
    const std::vector<ReportCase> cases = {
        {"identity words and a 200 ADJ byte",
         [](Flash& f) {
             put(f, 0xFF4, {0x34, 0x12, 'X', 0x77});  // ring type and 0xFF7 never shown
             put(f, 0xFF8, {'K', 'S', '2', '1', '0', '0', '4', '2'});
             put(f, 0x1EFF0, {0x07, 0x02, 0x03, 0x81, 0xC8, 'O'});
             f[0x1F189] = 200;
         },
         "\nBootloader Version: QZV e2e loader 3\n"
         "Adapter SN: KS210042 , PCB Ver: 0x1234\n"
         "Firmware Version: 0x0207\nROM Version: 0x03\nPre0=129, Pre1=200\nType=O\nADJ=200\n"
         "done in T seconds\n"},
        {"erased firmware area, zero byte inside the serial number",
         [](Flash& f) {
             std::fill(f.begin() + 0x1000, f.begin() + 0x1F000, 0xFF);
             put(f, 0xFF8, {'A', 'B', 0, 'D', 'E', 'F', 'G', 'H'});
             f[0x1F189] = 0xFF;
         },
         "\nBootloader Version: QZV e2e loader 3\n"
         "Adapter SN: AB , PCB Ver: 0x1201\n"
         "Firmware Version: 0xFFFF\nROM Version: 0xFF\nPre0=255, Pre1=255\nType=\xFF\nADJ=255\n"
         "done in T seconds\n"},
    };
    for (const ReportCase& c : cases)
    {
        DeviceRig rig({{"--pcb-version", "0x1201"}, c.edit, {"--version-text", "QZV e2e loader 3"}});
        ASSERT_TRUE(rig.started()) << c.name;
        RunResult r = rig.corvo({"-i"});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(maskTimes(r.out), c.expected) << c.name;

        std::vector<std::string> cmds = rig.commands();
        ASSERT_GE(cmds.size(), 7u) << c.name;
        std::vector<std::string> tail(cmds.end() - 7, cmds.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"V", "w00000FF4,4", "w00000FF8,4", "w00000FFC,4",
                                                  "w0001EFF0,4", "w0001EFF4,4", "w0001F188,4"}))
            << c.name;
    }
}
