// Test-only registrar for the Windows tests under Wine: adds fake devices of
// the "Ports" class, each with a "PortName" value in its hardware key, so the
// port factory has something to list; or removes every device of the class.
//   regports NAME...   register one device per name, in this order
//   regports --clear   remove every registered "Ports" device
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
const char kPortsClass[] = "Ports";
const char kPortNameValue[] = "PortName";
const char kDeviceName[] = "CORVOTESTPORT";

bool ports_class(GUID* guid)
{
    DWORD count = 0;
    return SetupDiClassGuidsFromNameA(kPortsClass, guid, 1, &count) && count >= 1;
}

int register_port(const GUID& guid, const char* name)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
    {
        fprintf(stderr, "regports: no device list (%lu)\n", GetLastError());
        return 1;
    }
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof(device));
    device.cbSize = sizeof(device);
    int rc = 1;
    if (!SetupDiCreateDeviceInfoA(set, kDeviceName, &guid, nullptr, nullptr, DICD_GENERATE_ID,
                                  &device))
        fprintf(stderr, "regports: create %s failed (%lu)\n", name, GetLastError());
    else if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr))
        fprintf(stderr, "regports: register %s failed (%lu)\n", name, GetLastError());
    else
    {
        HKEY key = SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr,
                                           nullptr);
        if (key == INVALID_HANDLE_VALUE)
            fprintf(stderr, "regports: key of %s failed (%lu)\n", name, GetLastError());
        else
        {
            LONG status = RegSetValueExA(key, kPortNameValue, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(name),
                                         static_cast<DWORD>(strlen(name) + 1));
            RegCloseKey(key);
            if (status != ERROR_SUCCESS)
                fprintf(stderr, "regports: value of %s failed (%ld)\n", name, status);
            else
                rc = 0;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return rc;
}

int clear_ports(const GUID& guid)
{
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE)
        return 1;
    // Collect first: removing while enumerating shifts the indexes.
    std::vector<SP_DEVINFO_DATA> devices;
    for (DWORD i = 0;; i++)
    {
        SP_DEVINFO_DATA device;
        memset(&device, 0, sizeof(device));
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set, i, &device))
            break;
        devices.push_back(device);
    }
    int rc = 0;
    for (SP_DEVINFO_DATA& device : devices)
    {
        if (!SetupDiRemoveDevice(set, &device))
        {
            fprintf(stderr, "regports: remove failed (%lu)\n", GetLastError());
            rc = 1;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return rc;
}
}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: regports NAME... | regports --clear\n");
        return 2;
    }
    GUID guid;
    if (!ports_class(&guid))
    {
        fprintf(stderr, "regports: the \"%s\" class is unknown\n", kPortsClass);
        return 1;
    }
    if (strcmp(argv[1], "--clear") == 0)
        return clear_ports(guid);

    int rc = 0;
    for (int i = 1; i < argc; i++)
        rc |= register_port(guid, argv[i]);
    return rc;
}
