// Parses the simulator's command line with getopt_long.
#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace
{
enum OptionCode
{
    OptState = 256,
    OptLog,
    OptLink,
    OptUsb,
    OptSerial,
    OptSaveOnly,
    OptSerialNumber,
    OptPcbVersion,
    OptRingType,
    OptFwVersion,
    OptFwType,
    OptEraseFirmware,
    OptVersionText,
    OptNoMarker,
    OptDeviceId,
    OptCpuid,
    OptSilenceAfter,
    OptHangUpAfter,
    OptGarbageAfter,
    OptNakBlock,
    OptNakAlways,
    OptEraseDelay,
    OptReplyDelay,
    OptBaudPace,
};

const option kLongOptions[] = {
    {"state", required_argument, nullptr, OptState},
    {"log", required_argument, nullptr, OptLog},
    {"link", required_argument, nullptr, OptLink},
    {"usb", no_argument, nullptr, OptUsb},
    {"serial", no_argument, nullptr, OptSerial},
    {"save-only", no_argument, nullptr, OptSaveOnly},
    {"serial-number", required_argument, nullptr, OptSerialNumber},
    {"pcb-version", required_argument, nullptr, OptPcbVersion},
    {"ring-type", required_argument, nullptr, OptRingType},
    {"fw-version", required_argument, nullptr, OptFwVersion},
    {"fw-type", required_argument, nullptr, OptFwType},
    {"erase-firmware", no_argument, nullptr, OptEraseFirmware},
    {"version-text", required_argument, nullptr, OptVersionText},
    {"no-marker", no_argument, nullptr, OptNoMarker},
    {"device-id", required_argument, nullptr, OptDeviceId},
    {"cpuid", required_argument, nullptr, OptCpuid},
    {"silence-after", required_argument, nullptr, OptSilenceAfter},
    {"hang-up-after", required_argument, nullptr, OptHangUpAfter},
    {"garbage-after", required_argument, nullptr, OptGarbageAfter},
    {"nak-block", required_argument, nullptr, OptNakBlock},
    {"nak-always", no_argument, nullptr, OptNakAlways},
    {"erase-delay-ms", required_argument, nullptr, OptEraseDelay},
    {"reply-delay-ms", required_argument, nullptr, OptReplyDelay},
    {"baud-pace", required_argument, nullptr, OptBaudPace},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

const char* const kUsage =
    "Usage: corvo-adapter-sim [OPTION]...\n"
    "Serves a simulated Kestrune lens-mount adapter boot loader on a pseudo-terminal.\n"
    "Prints the terminal's path on the first line of standard output and runs until\n"
    "SIGTERM, SIGINT or SIGHUP (exit status 0) or until an injected hang-up.\n"
    "\n"
    "State and files:\n"
    "  --state FILE          load FILE at start if it exists; save it at start, after\n"
    "                        every erase or buffered write, and on exit\n"
    "  --save-only           with --state: apply the options, save, and exit\n"
    "  --log FILE            append one line per command and event to FILE\n"
    "  --link PATH           make PATH a symbolic link to the terminal (removed on exit)\n"
    "\n"
    "Link (default: from the speed the terminal is set to, 921600 = USB link):\n"
    "  --usb                 always the USB link: raw memory data, no auto-baud\n"
    "  --serial              always a serial link: auto-baud, then XMODEM-CRC data\n"
    "\n"
    "Identity (numbers in C notation: 0x1201 or 4609):\n"
    "  --serial-number TEXT  adapter serial number, up to 8 characters\n"
    "  --pcb-version N       PCB version, 16 bits\n"
    "  --ring-type C         ring type: a letter, or a number such as 0xFF\n"
    "  --fw-version N        firmware version word, 16 bits\n"
    "  --fw-type C           firmware type letter, or a number such as 0xFF\n"
    "  --erase-firmware      start with the firmware area erased\n"
    "  --version-text TEXT   boot loader version text\n"
    "  --no-marker           version text without the \"QZV\" marker\n"
    "  --device-id N         device identification register (default 0x1001F30B)\n"
    "  --cpuid N             CPUID register (default 0x410CC601)\n"
    "\n"
    "Faults (commands are counted from 1 as their \"#\" arrives):\n"
    "  --silence-after N     answer N commands, then ignore everything\n"
    "  --hang-up-after N     answer N commands, then close the terminal and exit\n"
    "  --garbage-after N     answer N commands cleanly, then garble every reply byte\n"
    "  --nak-block N         refuse XMODEM block N the first time it arrives\n"
    "  --nak-always          with --nak-block: refuse it every time\n"
    "  --erase-delay-ms MS   delay before the erase reply\n"
    "\n"
    "Timing:\n"
    "  --reply-delay-ms MS   delay before every reply\n"
    "  --baud-pace RATE      pace bytes at RATE bit/s, 10 bits per byte\n"
    "  -h, --help            print this text and exit\n";

bool parseNumber(const char* text, unsigned long max, unsigned long& value)
{
    if (text == nullptr || *text == '\0' || *text == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 0);
    return errno == 0 && *end == '\0' && value <= max;
}

// A single character stands for itself; anything longer is a number.
bool parseLetter(const char* text, uint8_t& value)
{
    unsigned long number;
    if (std::strlen(text) == 1)
        number = static_cast<unsigned char>(text[0]);
    else if (!parseNumber(text, 0xFF, number))
        return false;
    value = static_cast<uint8_t>(number);
    return true;
}
}  // namespace

const char* simUsage()
{
    return kUsage;
}

bool parseSimOptions(int argc, char* argv[], SimProgramOptions& options, std::string& error)
{
    optind = 1;
    opterr = 0;
    SimConfig& config = options.config;
    int code;
    while ((code = getopt_long(argc, argv, "h", kLongOptions, nullptr)) != -1)
    {
        const char* arg = optarg;
        std::string name;
        for (const option* o = kLongOptions; o->name != nullptr; o++)
            if (o->val == code)
                name = std::string("--") + o->name;
        unsigned long number = 0;
        uint8_t letter = 0;
        bool ok = true;
        switch (code)
        {
        case 'h':
            options.help = true;
            break;
        case OptState:
            options.statePath = arg;
            break;
        case OptLog:
            options.logPath = arg;
            break;
        case OptLink:
            options.linkPath = arg;
            break;
        case OptUsb:
            config.link = SimLink::Usb;
            break;
        case OptSerial:
            config.link = SimLink::Serial;
            break;
        case OptSaveOnly:
            options.saveOnly = true;
            break;
        case OptSerialNumber:
            ok = std::strlen(arg) <= simmap::kSerialNumberLength;
            if (ok)
                options.serialNumber = arg;
            break;
        case OptPcbVersion:
            if ((ok = parseNumber(arg, 0xFFFF, number)))
                options.pcbVersion = static_cast<uint16_t>(number);
            break;
        case OptRingType:
            if ((ok = parseLetter(arg, letter)))
                options.ringType = letter;
            break;
        case OptFwVersion:
            if ((ok = parseNumber(arg, 0xFFFF, number)))
                options.firmwareVersion = static_cast<uint16_t>(number);
            break;
        case OptFwType:
            if ((ok = parseLetter(arg, letter)))
                options.firmwareType = letter;
            break;
        case OptEraseFirmware:
            options.eraseFirmware = true;
            break;
        case OptVersionText:
            config.versionText = arg;
            break;
        case OptNoMarker:
            config.versionText = SimConfig::kUnmarkedVersionText;
            break;
        case OptDeviceId:
            if ((ok = parseNumber(arg, 0xFFFFFFFFul, number)))
                options.deviceId = static_cast<uint32_t>(number);
            break;
        case OptCpuid:
            if ((ok = parseNumber(arg, 0xFFFFFFFFul, number)))
                options.cpuid = static_cast<uint32_t>(number);
            break;
        case OptSilenceAfter:
        case OptHangUpAfter:
        case OptGarbageAfter:
            if ((ok = parseNumber(arg, 0x7FFFFFFF, number)))
                (code == OptSilenceAfter  ? config.faults.silenceAfter
                 : code == OptHangUpAfter ? config.faults.hangUpAfter
                                          : config.faults.garbageAfter) = static_cast<long>(number);
            break;
        case OptNakBlock:
            if ((ok = parseNumber(arg, 0xFFFFFFFFul, number) && number > 0))
                config.faults.nakBlock = static_cast<uint32_t>(number);
            break;
        case OptNakAlways:
            config.faults.nakAlways = true;
            break;
        case OptEraseDelay:
        case OptReplyDelay:
            if ((ok = parseNumber(arg, 600000, number)))
                (code == OptEraseDelay ? config.faults.eraseDelayMs : config.timing.replyDelayMs) =
                    static_cast<unsigned>(number);
            break;
        case OptBaudPace:
            if ((ok = parseNumber(arg, 100000000, number) && number > 0))
                config.timing.bitRate = static_cast<unsigned>(number);
            break;
        default:
            error = std::string("unknown option or missing argument: ") + argv[optind - 1];
            return false;
        }
        if (!ok)
        {
            error = "bad value for " + name + ": '" + arg + "'";
            return false;
        }
    }
    if (optind < argc)
    {
        error = std::string("unexpected argument: ") + argv[optind];
        return false;
    }
    if (options.saveOnly && options.statePath.empty())
    {
        error = "--save-only needs --state FILE";
        return false;
    }
    return true;
}

void applyIdentityOptions(const SimProgramOptions& options, AdapterSim& sim)
{
    SimMemory& memory = sim.memory();
    if (options.eraseFirmware)
        memory.eraseFirmwareArea();
    if (options.serialNumber)
        memory.setSerialNumber(*options.serialNumber);
    if (options.pcbVersion)
        memory.setPcbVersion(*options.pcbVersion);
    if (options.ringType)
        memory.setRingType(*options.ringType);
    if (options.firmwareVersion)
        memory.setFirmwareVersion(*options.firmwareVersion);
    if (options.firmwareType)
        memory.setFirmwareType(*options.firmwareType);
    if (options.deviceId)
        sim.config().deviceId = *options.deviceId;
    if (options.cpuid)
        sim.config().cpuid = *options.cpuid;
}
