// Lists the serial ports of a Linux machine from sysfs.
#ifndef CORVO_POSIXPORTFACTORY_H
#define CORVO_POSIXPORTFACTORY_H

#include "PortFactory.h"

class PosixPortFactory : public PortFactoryBase
{
public:
    PosixPortFactory() {}
    ~PosixPortFactory() override {}

    std::string begin() override { return end(); }
    std::string end() override { return std::string(); }
    std::string next() override { return end(); }
    SerialPort::Ptr create(const std::string& name) override { return create(name, false); }
    SerialPort::Ptr create(const std::string&, bool) override { return SerialPort::Ptr(); }
};

typedef PosixPortFactory PortFactory;

#endif
