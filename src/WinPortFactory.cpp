// COM port enumeration through SetupAPI: the present devices of the "Ports"
// class, each named by the "portname" value of its hardware registry key.
// The configuration manager library is loaded at run time.
#include "WinPortFactory.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <vector>

#include "WinSerialPort.h"

namespace
{
const char kPortsClass[] = "Ports";
const char kCfgMgrLibrary[] = "cfgmgr32";
const char kOpenDevNodeKeyEntry[] = "CM_Open_DevNode_Key";
const char kPortNameValue[] = "portname";
const char kComPrefix[] = "COM";
const size_t kComPrefixLength = 3;
const DWORD kPortNameBufferSize = 16;
const DWORD kDosDeviceBufferSize = MAX_PATH;
const char kUsbDevicePrefix[] = "\\Device\\USB";
const size_t kUsbDevicePrefixLength = 11;

// Configuration manager arguments, from its own header.
const uint32_t kCurrentHardwareProfile = 0;
const uint32_t kRegDispositionOpenExisting = 1;
const uint32_t kCmRegistryHardware = 0;
const uint32_t kCmSuccess = 0;

HDEVINFO set_of(void* h)
{
    return static_cast<HDEVINFO>(h);
}

// The device's hardware key, or null. The configuration manager may report
// success and leave no key (Wine does); SetupAPI opens the same key then.
HKEY open_device_key(HDEVINFO set, SP_DEVINFO_DATA& device,
                     WinPortFactory::CM_Open_DevNode_Key devNode, bool& failed)
{
    HKEY key = nullptr;
    failed = false;
    if (devNode != nullptr)
    {
        if (devNode(device.DevInst, KEY_QUERY_VALUE, kCurrentHardwareProfile,
                    kRegDispositionOpenExisting, &key, kCmRegistryHardware) != kCmSuccess)
        {
            failed = true;
            return nullptr;
        }
        if (key != nullptr)
            return key;
    }
    key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE || key == nullptr)
    {
        failed = true;
        return nullptr;
    }
    return key;
}
}  // namespace

WinPortFactory::WinPortFactory()
    : _devInfo(INVALID_HANDLE_VALUE), _cfgMgr(nullptr), _devNode(nullptr), _devNum(0)
{
}

WinPortFactory::~WinPortFactory()
{
    cleanup();
}

std::string WinPortFactory::begin()
{
    if (_devInfo != INVALID_HANDLE_VALUE)
        cleanup();

    DWORD count = 0;
    SetupDiClassGuidsFromNameA(kPortsClass, nullptr, 0, &count);
    if (count == 0)
        return error();

    std::vector<GUID> guids(count);
    if (!SetupDiClassGuidsFromNameA(kPortsClass, guids.data(), count, &count))
        return error();

    _devInfo = SetupDiGetClassDevsA(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    if (_devInfo == INVALID_HANDLE_VALUE)
        return error();

    // Without the library or its entry point, SetupAPI opens the keys.
    _cfgMgr = LoadLibraryA(kCfgMgrLibrary);
    if (_cfgMgr != nullptr)
        _devNode = reinterpret_cast<CM_Open_DevNode_Key>(
            reinterpret_cast<void*>(GetProcAddress(_cfgMgr, kOpenDevNodeKeyEntry)));

    return next();
}

std::string WinPortFactory::end()
{
    return std::string();
}

std::string WinPortFactory::next()
{
    if (_devInfo == INVALID_HANDLE_VALUE)
        return end();

    for (;;)
    {
        SP_DEVINFO_DATA device;
        std::memset(&device, 0, sizeof(device));
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set_of(_devInfo), static_cast<DWORD>(_devNum), &device))
            return error();

        bool failed = false;
        HKEY key = open_device_key(set_of(_devInfo), device, _devNode, failed);
        if (failed)
            return error();

        char value[kPortNameBufferSize];
        DWORD length = kPortNameBufferSize;
        LONG status = RegQueryValueExA(key, kPortNameValue, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(value), &length);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return error();

        _devNum++;

        // Printer ports and the like share the class; only COM ports count.
        if (length >= kComPrefixLength && std::memcmp(value, kComPrefix, kComPrefixLength) == 0)
            return std::string(value, strnlen(value, length));
    }
}

SerialPort::Ptr WinPortFactory::create(const std::string& name)
{
    char target[kDosDeviceBufferSize];
    bool isUsb = QueryDosDeviceA(name.c_str(), target, kDosDeviceBufferSize) != 0 &&
                 std::strncmp(target, kUsbDevicePrefix, kUsbDevicePrefixLength) == 0;
    return create(name, isUsb);
}

SerialPort::Ptr WinPortFactory::create(const std::string& name, bool isUsb)
{
    return SerialPort::Ptr(new WinSerialPort(name, isUsb));
}

std::string WinPortFactory::error()
{
    cleanup();
    return end();
}

void WinPortFactory::cleanup()
{
    _devNum = 0;
    _devNode = nullptr;
    if (_cfgMgr != nullptr)
    {
        FreeLibrary(_cfgMgr);
        _cfgMgr = nullptr;
    }
    if (_devInfo != INVALID_HANDLE_VALUE)
    {
        SetupDiDestroyDeviceInfoList(set_of(_devInfo));
        _devInfo = INVALID_HANDLE_VALUE;
    }
}
