// Device road: one client and one port factory for the run, the connection
// (named port or auto-scan), the identity check and the steps in their fixed
// order: clear, settings load, information report, settings save, firmware
// update, reset. A step that fails ends the run; no step is retried or undone.
#include "DeviceRoad.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "AdapterMap.h"
#include "CorvoVexor.h"
#include "FirmwareUpdate.h"
#include "InfoReport.h"
#include "PortFactory.h"
#include "SambaVexor.h"
#include "SettingsOps.h"

namespace
{

const int kConnectBps = 115200;
const int kExitOk = 0;
const int kExitFailed = 1;

// Keeps stdout and stderr in the order they were written when both go to
// one terminal.
void flushBeforeError()
{
    fflush(stdout);
}

bool connectNamedPort(Samba& samba, PortFactoryBase& factory)
{
    flushBeforeError();
    fprintf(stderr, "Try to open USB device ... ");
    SerialPort::Ptr port = factory.create(config.portArg, true);
    bool res = port && samba.connect(std::move(port), kConnectBps);
    if (!res)
    {
        flushBeforeError();
        fprintf(stderr, "No device found on %s\n", config.portArg.c_str());
        return false;
    }
    return true;
}

bool connectByScan(Samba& samba, PortFactoryBase& factory)
{
    flushBeforeError();
    fprintf(stderr, "Try to scan USB devices ... ");
    std::string port;
    if (!autoScan(samba, factory, port))
    {
        flushBeforeError();
        fprintf(stderr, "Auto scan for device failed\n");
        fprintf(stderr, "Try specifying a serial port with the '-p' option\n");
        return false;
    }
    printf("Kestrune adapter found on %s\n", port.c_str());
    return true;
}

// The steps after a connection, in their fixed order.
int runSteps(Samba& samba, const char* file)
{
    uint32_t chipId = samba.chipId();
    if (chipId != kAdapterChipId)
    {
        flushBeforeError();
        fprintf(stderr, "Hardware failuser, ID %08x is not supported\n", chipId);
        return kExitFailed;
    }

    // The clear writes to the adapter, so a settings file that the load would
    // refuse is refused before it.
    if (config.eeprom_clear && config.eeprom_write && !settings_load_file_ok(file))
        return kExitFailed;
    if (config.eeprom_clear && !settings_clear(samba))
        return kExitFailed;
    if (config.eeprom_write && !settings_load(samba, file))
        return kExitFailed;
    if (config.version)
        info_report(samba);
    if (config.eeprom_read && !settings_save(samba, file))
        return kExitFailed;
    if (config.firmware_write && !firmware_update(samba, file, config.force_update))
        return kExitFailed;
    if (config.reset)
        samba.reset();
    return kExitOk;
}

}  // namespace

bool autoScan(Samba& samba, PortFactoryBase& portFactory, std::string& port)
{
    for (port = portFactory.begin(); port != portFactory.end(); port = portFactory.next())
    {
        if (config.debug)
        {
            printf("Trying to connect on %s\n", port.c_str());
            fflush(stdout);
        }
        SerialPort::Ptr candidate = portFactory.create(port);
        if (candidate && samba.connect(std::move(candidate), kConnectBps))
            return true;
    }
    port.clear();
    return false;
}

int device_road(const char* file)
{
    int status = kExitFailed;
    std::string failure;
    bool failed = false;
    std::unique_ptr<Samba> samba;
    std::unique_ptr<PortFactory> portFactory;
    try
    {
        samba.reset(new Samba());
        if (config.debug)
            samba->setDebug(true);
        portFactory.reset(new PortFactory());

        bool connected = config.port ? connectNamedPort(*samba, *portFactory)
                                     : connectByScan(*samba, *portFactory);
        status = connected ? runSteps(*samba, file) : kExitFailed;
    }
    catch (const std::exception& e)
    {
        failure = std::string("\n") + e.what() + "\n";
        failed = true;
    }
    catch (...)
    {
        failure = "\nUnhandled exception\n";
        failed = true;
    }

    // The factory goes first, then the client, whose destruction closes the port.
    portFactory.reset();
    samba.reset();

    if (failed)
    {
        flushBeforeError();
        fputs(failure.c_str(), stderr);
        return kExitFailed;
    }
    fflush(stdout);
    return status;
}
