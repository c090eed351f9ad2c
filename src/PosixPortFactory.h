// Lists the serial ports of a Linux machine from sysfs, most likely adapter
// links first: USB CDC ACM ports, then USB serial adapters, then on-board
// UARTs. Names are device names under /dev (ttyACM0), in natural order.
#ifndef CORVO_POSIXPORTFACTORY_H
#define CORVO_POSIXPORTFACTORY_H

#include <cstddef>
#include <string>
#include <vector>

#include "PortFactory.h"

class PosixPortFactory : public PortFactoryBase
{
public:
    // The roots are where sysfs and the device nodes live; tests point them
    // at a fake tree.
    explicit PosixPortFactory(const std::string& sysRoot = "/sys",
                              const std::string& devRoot = "/dev");
    ~PosixPortFactory() override {}

    // Reads the listing afresh, so a new begin() sees ports plugged in since.
    std::string begin() override;
    std::string end() override { return std::string(); }
    std::string next() override;
    // USB when the name, or the device a link such as /dev/serial/by-id/...
    // leads to, is a ttyACM/ttyUSB device or has its sysfs device under a USB
    // device. A pseudo-terminal (/dev/pts/3) is never USB.
    SerialPort::Ptr create(const std::string& name) override;
    SerialPort::Ptr create(const std::string& name, bool isUsb) override;

private:
    std::vector<std::string> listPorts() const;
    bool hasUart(const std::string& ttyDir) const;
    bool underUsb(const std::string& ttyName) const;

    std::string _sysRoot;
    std::string _devRoot;
    std::vector<std::string> _names;
    std::size_t _next;
};

typedef PosixPortFactory PortFactory;

#endif
