#include "CorvoVexor.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "DeviceRoad.h"
#include "LensTool.h"

CorvoConfig::CorvoConfig()
    : eeprom_read(false),
      eeprom_clear(false),
      eeprom_write(false),
      firmware_write(false),
      lens_tuning(false),
      lens_display(false),
      version(false),
      reset(false),
      force_update(false),
      help(false),
      port(false),
      debug(false),
      forceUsb(true)
{
}

CorvoConfig::~CorvoConfig() {}

CorvoConfig config;

uint8_t g_eeprom[kEepromImageSize];
uint8_t eeprom_dirty = 0;

static const OptArg kNoArg = {ArgNone, ArgInt, nullptr, {nullptr}};

Option opts[kNumOpts] = {
    {'f', "flash", &config.firmware_write, kNoArg, "Erase and update with firmware file"},
    {'u', "update", &config.eeprom_write, kNoArg, "Update adapter setting from file"},
    {'l', "lens", &config.lens_tuning, kNoArg, "lens params tuning"},
    {'d', "display", &config.lens_display, kNoArg, "lens params displaying"},
    {'s', "save", &config.eeprom_read, kNoArg, "Save current adapter setting into file"},
    {'i', "info", &config.version, kNoArg, "Show the version of adapter"},
    {'I', "force", &config.force_update, kNoArg, "Force firmware update"},
    {'h', "help", &config.help, kNoArg, "Display this help text"},
    {'R', "reset", &config.reset, kNoArg, "Power recycle adapter"},
    {'p', "port", &config.port,
     {ArgRequired, ArgString, "PORT", {&config.portArg}},
     "Use serial PORT to communicate to device;\ndefault behavior is to auto-scan all serial ports"},
    {'c', "clear", &config.eeprom_clear, kNoArg, "Erase current adapter setting"},
    {'D', "debug", &config.debug, kNoArg, "Trace every monitor operation"},
};

static const char kSupportAddress[] = "support@kestrune.com";

static struct timeval start_time;

int help(const char* program)
{
    fprintf(stderr, "Try '%s -h' or '%s --help' for more information\n", program, program);
    return 1;
}

void timer_start()
{
    gettimeofday(&start_time, nullptr);
}

float timer_stop()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<float>((now.tv_usec - start_time.tv_usec) / 1000000.0 +
                              (now.tv_sec - start_time.tv_sec));
}

int get_int(int* value)
{
    char line[2048];
    if (fgets(line, sizeof(line), stdin) == nullptr)
        return kGetIntEnd;

    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n')
        line[--len] = '\0';
    else if (!feof(stdin))
    {
        // An over-long line: drop its tail so it cannot answer the next prompt.
        int c;
        while ((c = getchar()) != EOF && c != '\n')
        {
        }
    }

    const char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f')
        p++;
    if (*p == '\0')
        return kGetIntEmpty;

    // strtol rather than "%d": a huge number saturates instead of being undefined.
    char* end = nullptr;
    errno = 0;
    long number = strtol(p, &end, 10);
    if (end == p)
        return kGetIntNoNumber;
    if (number > INT_MAX)
        number = INT_MAX;
    if (number < INT_MIN)
        number = INT_MIN;
    *value = static_cast<int>(number);
    return kGetIntNumber;
}

static const char* program_name(const char* path)
{
    const char* slash = strrchr(path, '/');
    if (slash != nullptr)
        return slash + 1;
    const char* backslash = strrchr(path, '\\');
    if (backslash != nullptr)
        return backslash + 1;
    return path;
}

static void print_usage(const char* prog, CmdOpts& cmd)
{
    printf("Usage: %s [OPTION...] [FILE]\n", prog);
    printf("Kestrune Halvard and Pellin Smart Adapters Firmware Updater 0.4\n"
           "\n"
           "Examples:\n"
           "  %s -i                     # Display the adapter info,\n"
           "  %s -R                 \t  # Power cycle adapter,\n"
           "  %s -f orla-halvard-1.0.fw       # Erase and update adapter firmware with orla-halvard-1.0.fw file,\n"
           "  %s -u user.dat            # Update adapter setting with user.dat file,\n"
           "  %s -s user.dat            # Save current adapter setting into file user.dat\n"
           "  %s -c            \t\t\t\t  # Erase current adapter setting\n",
           prog, prog, prog, prog, prog, prog);
    printf("\nOptions:\n");
    cmd.usage(stdout);
    printf("\nReport bugs/problems to %s\n", kSupportAddress);
}

int corvo_main(int argc, char* argv[])
{
    CmdOpts cmd(argc, argv, kNumOpts, opts);

    const char* prog = argc > 0 && argv[0] != nullptr ? program_name(argv[0]) : "corvo";

    if (argc <= 1)
    {
        printf("Kestrune Orla/Halvard and Brisk/Halvard Adapter Firmware Updater 0.4\n\n");
        fflush(stdout);
        fprintf(stderr, "You must specify at least one option\n");
        return help(prog);
    }

    int args = cmd.parse();
    if (args < 0)
        return help(prog);

    memset(g_eeprom, 0xFF, sizeof(g_eeprom));

    if (config.eeprom_read && (config.eeprom_write || config.eeprom_clear))
    {
        fprintf(stderr, "%s: eeprom read option is exclusive of write or clear\n", prog);
        return help(prog);
    }

    int used = 0;
    if (config.eeprom_write || config.eeprom_read || config.firmware_write ||
        config.lens_tuning || config.lens_display)
    {
        if (args == argc)
        {
            fprintf(stderr, "%s: missing file\n", prog);
            return help(prog);
        }
        used = 1;
    }
    if (args != argc - used)
    {
        fprintf(stderr, "%s: extra arguments found\n", prog);
        return help(prog);
    }

    if (config.help)
    {
        print_usage(prog, cmd);
        return 1;
    }

    const char* file = used ? argv[args] : nullptr;

    if (config.lens_tuning || config.lens_display)
    {
        lens_tool(file, config.lens_tuning, config.lens_display);
        return 1;
    }

    return device_road(file);
}
