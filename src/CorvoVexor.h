// The program driver: the configuration record filled from the command line,
// the option table, the console helpers shared by the operations, and the
// entry that checks the command line and takes the offline or device road.
#ifndef CORVO_CORVOVEXOR_H
#define CORVO_CORVOVEXOR_H

#include <cstdint>
#include <string>

#include "CmdOpts.h"

class CorvoConfig
{
public:
    CorvoConfig();
    virtual ~CorvoConfig();

    bool eeprom_read;     // -s: save the adapter's settings into FILE
    bool eeprom_clear;    // -c: clear and re-format the adapter's settings
    bool eeprom_write;    // -u: load the adapter's settings from FILE
    bool firmware_write;  // -f: replace the firmware from FILE
    bool lens_tuning;     // -l: offline lens autofocus tuning on FILE
    bool lens_display;    // -d: offline dump of FILE
    bool version;         // -i: information report
    bool reset;           // -R: restart the adapter as the last step
    bool force_update;    // -I: skip the firmware model check
    bool help;            // -h
    bool port;            // -p given
    bool debug;           // -D: trace every monitor operation
    bool forceUsb;        // read by nothing: a named port is always marked USB
    std::string portArg;
};

extern CorvoConfig config;

const int kNumOpts = 12;
extern Option opts[kNumOpts];

// The 8192-byte host image of the adapter's settings flash, and the flag that
// records any write or erase of it.
const int kEepromImageSize = 8192;
extern uint8_t g_eeprom[kEepromImageSize];
extern uint8_t eeprom_dirty;

// Prints the "Try ... -h" hint on stderr; returns 1.
int help(const char* program);

void timer_start();
float timer_stop();

// get_int results. One line of standard input, at most 2047 characters kept,
// the rest of a longer line read and dropped so it cannot answer the next
// prompt.
const int kGetIntNumber = 1;   // a number was read and stored
const int kGetIntNoNumber = 0; // the line does not start with a number
const int kGetIntEmpty = -1;   // empty line, or only white space
const int kGetIntEnd = -2;     // standard input ended before a line began
int get_int(int* value);

// The whole program: command-line stage, then one road. Returns the exit status.
int corvo_main(int argc, char* argv[]);

#endif
