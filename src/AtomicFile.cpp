// Temporary-file-and-rename writing of whole files (see AtomicFile.h).
#include "AtomicFile.h"

#include <cstdio>

#include "FileOps.h"

std::string atomic_temp_path(const char* path)
{
    return std::string(path) + kAtomicTempSuffix;
}

// Writes, flushes, syncs and closes; the file is closed whatever fails.
static bool write_whole_file(FILE* file, const uint8_t* data, size_t size)
{
    bool ok = size == 0 || fwrite(data, 1, size, file) == size;
    ok = fflush(file) == 0 && ok;
    ok = ok && file_ops_sync(file);
    ok = fclose(file) == 0 && ok;
    return ok;
}

bool atomic_write_file(const char* path, const uint8_t* data, size_t size)
{
    if (!file_ops_may_replace(path))
        return false;

    const std::string temp = atomic_temp_path(path);
    FILE* file = fopen(temp.c_str(), "wb");
    if (file == nullptr)
        return false;

    bool ok = write_whole_file(file, data, size);
    ok = ok && file_ops_copy_permissions(path, temp.c_str());
    ok = ok && file_ops_replace(temp.c_str(), path);
    if (!ok)
        remove(temp.c_str());
    return ok;
}
