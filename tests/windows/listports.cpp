// Test-only view of the Windows port factory for the tests under Wine.
//   listports             the names the factory lists, one per line, twice
//                         over (a second begin() must start from the first)
//   listports mark NAME [TARGET]
//                         the USB mark create(NAME) gives, "usb" or "serial";
//                         TARGET first points NAME at that device path
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "PortFactory.h"

namespace
{
void print_listing(PortFactory& factory)
{
    for (std::string name = factory.begin(); name != factory.end(); name = factory.next())
        printf("%s\n", name.c_str());
}
}  // namespace

int main(int argc, char* argv[])
{
    PortFactory factory;
    if (argc == 1)
    {
        print_listing(factory);
        printf("--\n");
        print_listing(factory);
        return 0;
    }
    if (argc >= 3 && argc <= 4 && strcmp(argv[1], "mark") == 0)
    {
        if (argc == 4 && !DefineDosDeviceA(DDD_RAW_TARGET_PATH, argv[2], argv[3]))
        {
            fprintf(stderr, "listports: cannot define %s (%lu)\n", argv[2], GetLastError());
            return 1;
        }
        SerialPort::Ptr port = factory.create(argv[2]);
        printf("%s\n", port->isUsb() ? "usb" : "serial");
        return 0;
    }
    fprintf(stderr, "usage: listports | listports mark NAME [TARGET]\n");
    return 2;
}
