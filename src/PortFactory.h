// Lists the computer's serial ports one name at a time and creates port
// objects for names. `PortFactory` names the platform's implementation.
#ifndef CORVO_PORTFACTORY_H
#define CORVO_PORTFACTORY_H

#include <string>

#include "SerialPort.h"

class PortFactoryBase
{
public:
    PortFactoryBase() {}
    virtual ~PortFactoryBase() {}

    // Iterate with begin()/next() until a name equals end(), the empty string.
    virtual std::string begin() = 0;
    virtual std::string end() = 0;
    virtual std::string next() = 0;

    // A new, closed port; the factory finds out whether it is a USB link.
    virtual SerialPort::Ptr create(const std::string& name) = 0;
    // A new, closed port with the given USB mark. No device is touched.
    virtual SerialPort::Ptr create(const std::string& name, bool isUsb) = 0;
};

// Each platform header declares its class without OS headers, so the code
// above the transport stays platform-free, and names it `PortFactory`.
#if defined(_WIN32)
#include "WinPortFactory.h"
#else
#include "PosixPortFactory.h"
#endif

#endif
