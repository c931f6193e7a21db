// The system's own calls behind WriterSystem (writersystem.h), which the POSIX writer makes unless
// a test gives it others.
#include "writersystem.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillarn {

int WriterSystem::openat(int folder, const char *name, int flags, mode_t mode)
{
    return ::openat(folder, name, flags, mode);
}

ssize_t WriterSystem::write(int descriptor, const void *bytes, std::size_t size)
{
    return ::write(descriptor, bytes, size);
}

int WriterSystem::fsync(int descriptor)
{
    return ::fsync(descriptor);
}

int WriterSystem::syncfs(int descriptor)
{
#ifdef __linux__
    return ::syncfs(descriptor);
#else
    (void)descriptor;
    errno = ENOSYS;
    return -1;
#endif
}

int WriterSystem::startWriteBack(int descriptor)
{
#ifdef __linux__
    return ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)descriptor;
    return 0;
#endif
}

int WriterSystem::close(int descriptor)
{
    return ::close(descriptor);
}

int WriterSystem::fstat(int descriptor, struct stat *info)
{
    return ::fstat(descriptor, info);
}

int WriterSystem::fstatat(int folder, const char *name, struct stat *info, int flags)
{
    return ::fstatat(folder, name, info, flags);
}

ssize_t WriterSystem::readlinkat(int folder, const char *name, char *buffer, std::size_t size)
{
    return ::readlinkat(folder, name, buffer, size);
}

int WriterSystem::fchown(int descriptor, uid_t owner, gid_t group)
{
    return ::fchown(descriptor, owner, group);
}

int WriterSystem::fchmod(int descriptor, mode_t mode)
{
    return ::fchmod(descriptor, mode);
}

int WriterSystem::renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags)
{
    if (flags == 0)
        return ::renameat(fromFolder, from, toFolder, to);
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    static_assert(RENAME_NOREPLACE == renameNoReplace);
    return ::renameat2(fromFolder, from, toFolder, to, flags);
#else
    errno = EINVAL;
    return -1;
#endif
}

int WriterSystem::unlinkat(int folder, const char *name, int flags)
{
    return ::unlinkat(folder, name, flags);
}

WriterSystem &systemCalls()
{
    static WriterSystem calls;
    return calls;
}

} // namespace quillarn
