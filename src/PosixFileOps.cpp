// File-system calls of FileOps.h on POSIX systems.
#include "FileOps.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

bool file_ops_sync(FILE* file)
{
    return fsync(fileno(file)) == 0;
}

bool file_ops_may_replace(const char* target)
{
    struct stat info;
    if (stat(target, &info) != 0)
        return errno == ENOENT;
    return access(target, W_OK) == 0;
}

bool file_ops_copy_permissions(const char* target, const char* file)
{
    struct stat info;
    if (stat(target, &info) != 0)
        return errno == ENOENT;
    return chmod(file, info.st_mode & 07777) == 0;
}

// The rename is only durable once the folder's entry is on disk. A folder
// that cannot be opened or synced (some file systems refuse) does not undo
// the replacement, so its failure is not reported.
static void sync_parent_folder(const char* path)
{
    std::string folder(path);
    size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos)
        folder = ".";
    else if (slash == 0)
        folder = "/";
    else
        folder.resize(slash);

    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

bool file_ops_replace(const char* source, const char* target)
{
    if (rename(source, target) != 0)
        return false;
    sync_parent_folder(target);
    return true;
}
