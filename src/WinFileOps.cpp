// File-system calls of FileOps.h on Windows.
#include "FileOps.h"

#include <io.h>
#include <windows.h>

bool file_ops_sync(FILE* file)
{
    return _commit(_fileno(file)) == 0;
}

bool file_ops_may_replace(const char* target)
{
    const int kExists = 0;
    const int kWritable = 2;
    if (_access(target, kExists) != 0)
        return true;
    return _access(target, kWritable) == 0;
}

bool file_ops_copy_permissions(const char*, const char*)
{
    // Access rights come from the folder's inherited ACL; the read-only
    // attribute is honoured by file_ops_may_replace.
    return true;
}

bool file_ops_replace(const char* source, const char* target)
{
    // WRITE_THROUGH returns only once the move is on disk.
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
