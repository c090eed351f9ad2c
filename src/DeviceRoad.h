// The device road: connect to the adapter, check its identity, run the
// requested steps in their fixed order, and map the outcome to an exit status.
#ifndef CORVO_DEVICEROAD_H
#define CORVO_DEVICEROAD_H

// `file` is the command line's FILE, or null when none was given.
int device_road(const char* file);

#endif
