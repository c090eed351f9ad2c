// The device road: connect to the adapter, check its identity, run the
// requested steps in their fixed order, and map the outcome to an exit status.
// It is the one place where monitor failures are caught and reported.
#ifndef CORVO_DEVICEROAD_H
#define CORVO_DEVICEROAD_H

#include <string>

class Samba;
class PortFactoryBase;

// `file` is the command line's FILE, or null when none was given. Returns 0
// when every requested step completed, else 1.
int device_road(const char* file);

// Tries the factory's ports in enumeration order until the client connects on
// one. True with `port` naming it; false with `port` empty when none did. The
// first port that connects wins; the rest are never opened. A SambaError from
// connect is not caught here.
bool autoScan(Samba& samba, PortFactoryBase& portFactory, std::string& port);

#endif
