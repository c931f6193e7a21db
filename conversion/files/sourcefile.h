// Reading a source file: its whole content, into memory kept from one source to the next. The
// reading itself is each file system's own (filesystem.h).
#pragma once

#include "catalogue.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quillarn {

class FileSystem;

// The largest source read, in bytes: the translation counts in 32-bit positions.
constexpr long long maxSourceBytes = 2147483647;

// Returns the reason for a source of size bytes, more than maxSourceBytes.
Reason sourceTooLarge(long long size);

// Memory that sources are read into, kept from one source to the next, so that a batch reads every
// record through the same pages. It grows to the largest source read, and is never cleared: a read
// writes each byte before it is looked at.
class ReadBuffer {
public:
    // Returns room for size bytes.
    char *room(std::size_t size)
    {
        if (size > capacity_)
            grow(size);
        return data_.get();
    }

private:
    struct Release {
        void operator()(char *bytes) const;
    };

    void grow(std::size_t size);

    std::unique_ptr<char, Release> data_;
    std::size_t capacity_ = 0;
};

// Reads the whole regular file at path into buffer and returns the bytes read, which stay valid until
// the next read into buffer. Raises CommandFailure with the system's reason when it cannot be opened
// or read, when it is not a regular file (a folder, a FIFO), or when it is too large for a 32-bit
// position (checked before reading).
std::string_view readFileInto(const std::filesystem::path &path, ReadBuffer &buffer);
// The same through system (FileSystem::readFile), with a file that changed while it was read failing
// too; with modified, sets it to the time the file was last written.
std::string_view readFileInto(FileSystem &system, const std::filesystem::path &path, ReadBuffer &buffer,
                              std::chrono::system_clock::time_point *modified = nullptr);

// Returns the whole content of the regular file at path; raises as readFileInto does.
std::string readFileBytes(const std::filesystem::path &path);

} // namespace quillarn
