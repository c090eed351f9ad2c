// The settings operations on the adapter: load the settings area from a
// settings file (`-u`), save it into one (`-s`), and clear and re-format it
// with the default image (`-c`). The area moves as one raw 4096-byte image;
// none of these interprets its contents.
#ifndef CORVO_SETTINGSOPS_H
#define CORVO_SETTINGSOPS_H

class Samba;

// Each returns true when the step completed; on false it has printed why.
// Monitor failures raise SambaError. All output goes to standard output.

// Refuses a file that cannot be opened or is shorter than the settings area,
// before anything is sent; a longer file gives its first 4096 bytes.
bool settings_load(Samba& samba, const char* file);

// The file checks of settings_load alone, with its messages, for a caller
// that must refuse the file before other steps write to the adapter.
bool settings_load_file_ok(const char* file);

// Reads the whole area first, then replaces FILE through a temporary file,
// so a failed save leaves any earlier FILE intact.
bool settings_save(Samba& samba, const char* file);

// Asks the user for the reset count (it becomes the ADJ byte), then erases
// the area and writes the default settings image.
bool settings_clear(Samba& samba);

#endif
