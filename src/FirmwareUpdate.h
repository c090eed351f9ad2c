// The firmware update of `-f`: checks that the attached adapter is a supported
// model and that the image file is sound and made for this adapter, then
// erases, streams the payload through the RAM staging area, verifies the
// written window against the image header and resets the adapter.
#ifndef CORVO_FIRMWAREUPDATE_H
#define CORVO_FIRMWAREUPDATE_H

class Samba;

// True when the new firmware verified. False when the adapter or the image
// was refused (nothing written), or when the verification failed (the
// adapter is reset all the same). Monitor failures raise SambaError. Prints
// to standard output.
bool firmware_update(Samba& samba, const char* file, bool force);

#endif
