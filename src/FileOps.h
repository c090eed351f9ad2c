// The few file-system calls that standard C++ lacks and that a safe file
// replacement needs. One implementation per platform (PosixFileOps.cpp,
// WinFileOps.cpp), picked by the build, so no OS header reaches the callers.
#ifndef CORVO_FILEOPS_H
#define CORVO_FILEOPS_H

#include <cstdio>

// Pushes the data of `file`, already fflush'ed, to the disk. True on success.
bool file_ops_sync(FILE* file);

// True when `target` does not exist, or exists and this process may write it:
// a file the user made read-only is not replaced behind their back.
bool file_ops_may_replace(const char* target);

// Gives `file` the permission bits of `target`. True when done, and when
// `target` does not exist (nothing to keep). On Windows, where a file has no
// permission bits, always true.
bool file_ops_copy_permissions(const char* target, const char* file);

// Renames `source` over `target` in one step, replacing an existing target,
// and makes the rename itself durable where the platform allows. True on
// success; on failure both files are as they were.
bool file_ops_replace(const char* source, const char* target);

#endif
