// Whole-file replacement that never leaves a half-written file: the data goes
// to a temporary file beside the target, is flushed to the disk, and only then
// renamed over the target. Used for every file the tool writes.
#ifndef CORVO_ATOMICFILE_H
#define CORVO_ATOMICFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

// The temporary file is the target's path with this suffix, in the same folder
// so the rename never crosses file systems.
constexpr char kAtomicTempSuffix[] = ".corvo-tmp";

std::string atomic_temp_path(const char* path);

// Makes `path` hold exactly the `size` bytes at `data`, keeping the permission
// bits of an existing file. True only when the whole write, the flush to disk
// and the rename succeeded. On false, `path` is as it was and the temporary
// file is gone. A target this process may not write is refused.
bool atomic_write_file(const char* path, const uint8_t* data, size_t size);

#endif
