// Loaded by bench/run.sh through LD_PRELOAD to model a slow medium (a USB stick, a network share,
// an old disk): every call that waits for the disk -- fsync, fdatasync, syncfs, sync, and
// sync_file_range with a wait flag -- takes 10 ms longer, then does what it always does.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

void waitForTheMedium()
{
    timespec left{0, 10'000'000};
    while (::nanosleep(&left, &left) != 0) {
    }
}

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    waitForTheMedium();
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    waitForTheMedium();
    return real(fd);
}

extern "C" int syncfs(int fd)
{
    static const auto real = next<int (*)(int)>("syncfs");
    waitForTheMedium();
    return real(fd);
}

extern "C" void sync()
{
    static const auto real = next<void (*)()>("sync");
    waitForTheMedium();
    real();
}

extern "C" int sync_file_range(int fd, off64_t offset, off64_t length, unsigned int flags)
{
    static const auto real = next<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
    if (flags & (SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WAIT_AFTER))
        waitForTheMedium();
    return real(fd, offset, length, flags);
}
