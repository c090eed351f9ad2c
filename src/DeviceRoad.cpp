#include "DeviceRoad.h"

#include <cstdio>

int device_road(const char*)
{
    fprintf(stderr, "The device road is not built yet\n");
    return 1;
}
