// The system calls through which the POSIX writer (writerposix.h) changes files and folders. The
// writer makes them through this class so that a test can put a file system of its own under it,
// one that loses what was not flushed when its power is cut (tests/reliability/power_cut_test.cpp).
// Each member has the meaning and the return values of the system call it is named after (-1 and
// errno on failure); the defaults make that system call.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace quillarn {

// The flag of renameat2 that refuses to replace an existing name (Linux's RENAME_NOREPLACE).
constexpr unsigned renameNoReplace = 1;

class WriterSystem {
public:
    virtual ~WriterSystem() = default;

    virtual int openat(int folder, const char *name, int flags, mode_t mode);
    virtual ssize_t write(int descriptor, const void *bytes, std::size_t size);
    virtual int fsync(int descriptor);
    // Linux's syncfs; ENOSYS elsewhere.
    virtual int syncfs(int descriptor);
    // Starts write-back of a file without waiting for it (Linux's sync_file_range); does nothing
    // elsewhere.
    virtual int startWriteBack(int descriptor);
    virtual int close(int descriptor);
    virtual int fstat(int descriptor, struct stat *info);
    virtual int fstatat(int folder, const char *name, struct stat *info, int flags);
    virtual ssize_t readlinkat(int folder, const char *name, char *buffer, std::size_t size);
    virtual int fchown(int descriptor, uid_t owner, gid_t group);
    virtual int fchmod(int descriptor, mode_t mode);
    // Linux's renameat2 with flags 0 or renameNoReplace; elsewhere renameat, and EINVAL for
    // renameNoReplace.
    virtual int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags);
    virtual int unlinkat(int folder, const char *name, int flags);
};

// Returns the system's own calls, which the writer uses unless it is given others.
WriterSystem &systemCalls();

} // namespace quillarn
