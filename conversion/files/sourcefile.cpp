// Reading a source file (sourcefile.h) through the system's file system.
#include "sourcefile.h"

#include "filesystem.h"
#include "text.h"

#include <cstdlib>
#include <limits>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace quillarn {

static_assert(maxSourceBytes == std::numeric_limits<Int32>::max());

void ReadBuffer::Release::operator()(char *bytes) const
{
    std::free(bytes);
}

void ReadBuffer::grow(std::size_t size)
{
    data_.reset();
    capacity_ = 0;
    void *bytes = nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Room for a large source is taken in the system's large pages where it has them: the kernel
    // then hands out a few pages, not one for every 4 kB, which took as long as the conversion.
    constexpr std::size_t largePage = std::size_t{2} << 20;
    if (size >= 2 * largePage) {
        const std::size_t rounded = (size + largePage - 1) / largePage * largePage;
        if (posix_memalign(&bytes, largePage, rounded) != 0)
            throw std::bad_alloc();
        ::madvise(bytes, rounded, MADV_HUGEPAGE); // only advice: without large pages all is as before
    }
#endif
    if (bytes == nullptr && (bytes = std::malloc(size)) == nullptr)
        throw std::bad_alloc();
    data_.reset(static_cast<char *>(bytes));
    capacity_ = size;
}

Reason sourceTooLarge(long long size)
{
    return Reason(Said::SourceTooLarge, {std::to_string(size), std::to_string(maxSourceBytes)});
}

std::string_view readFileInto(FileSystem &system, const std::filesystem::path &path, ReadBuffer &buffer,
                              std::chrono::system_clock::time_point *modified)
{
    std::string_view bytes;
    std::chrono::system_clock::time_point written;
    const std::error_code error = system.readFile(path, buffer, bytes, written);
    if (!error) {
        if (modified != nullptr)
            *modified = written;
        return bytes;
    }
    // A reason that says how large: the size as a look finds it.
    FileInfo info;
    if (error == FileError::TooLarge && !system.look(nullptr, path.c_str(), true, info))
        throw CommandFailure(sourceTooLarge(static_cast<long long>(info.size)), error);
    throw CommandFailure(error);
}

std::string_view readFileInto(const std::filesystem::path &path, ReadBuffer &buffer)
{
    return readFileInto(systemFileSystem(), path, buffer);
}

std::string readFileBytes(const std::filesystem::path &path)
{
    ReadBuffer buffer;
    return std::string(readFileInto(path, buffer));
}

} // namespace quillarn
