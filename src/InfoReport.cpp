// Information report: one version query and six word reads, in a fixed order.
#include "InfoReport.h"

#include <cstdio>

#include "AdapterMap.h"
#include "CorvoVexor.h"
#include "SambaVexor.h"

namespace
{

const int kSerialChars = 2 * kWordBytes;
const int kSerialBufSize = 10;

uint8_t byteOf(uint32_t word, int n)
{
    return static_cast<uint8_t>(word >> (8 * n));
}

void putWordBytes(uint32_t word, char* to)
{
    for (int n = 0; n < kWordBytes; n++)
        to[n] = static_cast<char>(byteOf(word, n));
}

}  // namespace

void info_report(Samba& samba)
{
    printf("\n");
    timer_start();

    std::string version = samba.version();
    printf("Bootloader Version: %s\n", version.c_str());

    uint32_t hwver = samba.readWord(kHwVersionWordAddr);
    char sn[kSerialBufSize] = {};
    putWordBytes(samba.readWord(kSerialWord1Addr), sn);
    putWordBytes(samba.readWord(kSerialWord2Addr), sn + kWordBytes);
    sn[kSerialChars] = '\0';
    printf("Adapter SN: %s , PCB Ver: 0x%04X\n", sn, static_cast<unsigned>(hwver & 0xFFFF));
    // Shown before the firmware words are read, so a failure there leaves it on screen.
    fflush(stdout);

    uint32_t dwv1 = samba.readWord(kFirmwareVersionWordAddr);
    uint32_t dwv2 = samba.readWord(kFirmwareTypeWordAddr);
    uint32_t rom_adj = samba.readWord(kAdjWordAddr);
    printf("Firmware Version: 0x%04X\nROM Version: 0x%02X\nPre0=%d, Pre1=%d\nType=%c\nADJ=%d\n",
           static_cast<unsigned>(dwv1 & 0xFFFF), byteOf(dwv1, 2), byteOf(dwv1, 3),
           byteOf(dwv2, 0), static_cast<char>(byteOf(dwv2, 1)), byteOf(rom_adj, 1));
    printf("done in %5.3f seconds\n", timer_stop());
}
