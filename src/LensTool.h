// The offline road: a settings file's lens records listed and tuned, or the
// whole logical settings space dumped, without an adapter.
#ifndef CORVO_LENSTOOL_H
#define CORVO_LENSTOOL_H

// With both flags set the display runs and the tuning does not.
void lens_tool(const char* file, bool tuning, bool display);

#endif
