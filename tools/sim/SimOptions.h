// Command line of corvo-adapter-sim: what it parses into and how the
// identity options land on the simulator after a state file is loaded.
#ifndef CORVO_SIM_SIMOPTIONS_H
#define CORVO_SIM_SIMOPTIONS_H

#include <cstdint>
#include <optional>
#include <string>

#include "AdapterSim.h"

struct SimProgramOptions
{
    SimConfig config;
    std::string statePath;  // empty: none
    std::string logPath;
    std::string linkPath;
    bool saveOnly = false;
    bool help = false;

    // Identity given on the command line wins over a loaded state file.
    bool eraseFirmware = false;
    std::optional<std::string> serialNumber;
    std::optional<uint16_t> pcbVersion;
    std::optional<uint8_t> ringType;
    std::optional<uint16_t> firmwareVersion;
    std::optional<uint8_t> firmwareType;
    std::optional<uint32_t> deviceId;
    std::optional<uint32_t> cpuid;
};

// False with a one-line `error` on a bad command line.
bool parseSimOptions(int argc, char* argv[], SimProgramOptions& options, std::string& error);
void applyIdentityOptions(const SimProgramOptions& options, AdapterSim& sim);
const char* simUsage();

#endif
