// Lists the COM ports of a Windows computer (the present devices of the
// "Ports" class, by their "portname" registry value) and creates WinSerialPort
// objects for names. The header stays free of <windows.h>: handles are kept
// as opaque pointers.
#ifndef CORVO_WINPORTFACTORY_H
#define CORVO_WINPORTFACTORY_H

#include <cstdint>
#include <string>

#include "PortFactory.h"

struct HINSTANCE__;
struct HKEY__;

class WinPortFactory : public PortFactoryBase
{
public:
    WinPortFactory();
    ~WinPortFactory() override;

    std::string begin() override;
    std::string end() override;
    std::string next() override;
    // The USB mark comes from the name's device path: "\Device\USB...".
    SerialPort::Ptr create(const std::string& name) override;
    SerialPort::Ptr create(const std::string& name, bool isUsb) override;

    // The configuration manager's entry point, looked up at run time.
    typedef uint32_t(__stdcall* CM_Open_DevNode_Key)(uint32_t devInst, uint32_t samDesired,
                                                     uint32_t hardwareProfile,
                                                     uint32_t disposition, HKEY__** key,
                                                     uint32_t flags);

private:
    std::string error();
    void cleanup();

    void* _devInfo;  // HDEVINFO; INVALID_HANDLE_VALUE when idle
    HINSTANCE__* _cfgMgr;
    CM_Open_DevNode_Key _devNode;
    int _devNum;
};

typedef WinPortFactory PortFactory;

#endif
