// Serves an AdapterSim on a pseudo-terminal for programs that open a real
// serial device: the tool under test, Wine's COM ports, a terminal program.
#ifndef CORVO_SIM_PTYSERVER_H
#define CORVO_SIM_PTYSERVER_H

#include <string>

#include "AdapterSim.h"

struct PtyServerSettings
{
    std::string statePath;  // saved at start, after each flash change and on exit; empty: none
    std::string linkPath;   // symbolic link to the terminal; empty: none
};

// Prints the terminal's path as the first line of standard output and serves
// until SIGTERM, SIGINT or SIGHUP (status 0) or an injected hang-up (status 0).
// Returns 1 when the terminal cannot be set up.
int servePty(AdapterSim& sim, const PtyServerSettings& settings);

#endif
