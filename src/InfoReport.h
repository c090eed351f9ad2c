// The information report of `-i`: the boot loader's version text, the
// adapter's serial number and PCB version, and the firmware identity words,
// read through the monitor and printed as read.
#ifndef CORVO_INFOREPORT_H
#define CORVO_INFOREPORT_H

class Samba;

// Prints to standard output. Checks nothing; a failed exchange raises
// SambaError, leaving the lines printed so far on the screen.
void info_report(Samba& samba);

#endif
