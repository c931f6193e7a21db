// The part of recordfile.h that is the same on every system: the leftovers of killed writes and the
// names of temporary files. Reading and writing files is each system's own (writer_posix.cpp,
// writer_windows.cpp).
#include "recordfile.h"

#include "text.h"
#include "writershared.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <random>
#include <thread>

namespace quillarn {

namespace {

namespace fs = std::filesystem;

static_assert(maxSourceBytes == std::numeric_limits<Int32>::max());

// A temporary file modified after this is not a leftover: a writer running now may be filling it.
// Two seconds before this process started, because a file's time is coarser than the clock's (a
// kernel tick; two seconds on FAT), so a file written just after the start can show an earlier time.
const fs::file_time_type leftoverBefore = fs::file_time_type::clock::now() - std::chrono::seconds(2);

// A temporary file's name: a fixed part, twelve ASCII letters or digits at random, a fixed end.
constexpr std::string_view temporaryStart = ".quillarn-";
constexpr std::string_view temporaryEnd = ".tmp";
constexpr std::size_t randomLength = 12;

template <typename Char> bool isAsciiLetterOrDigit(Char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Returns true when name, of any character type, holds exactly the ASCII text at position at.
template <typename Name> bool holdsAt(const Name &name, std::size_t at, std::string_view text)
{
    return std::equal(text.begin(), text.end(), name.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, auto b) { return static_cast<decltype(b)>(a) == b; });
}

} // namespace

std::string sourceTooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large (at most " +
           std::to_string(maxSourceBytes) + " bytes)";
}

std::string temporaryName()
{
    static const char characters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        std::seed_seq seed{
            static_cast<unsigned>(device()), static_cast<unsigned>(device()),
            static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof characters - 2);
    std::string name(temporaryStart);
    for (std::size_t i = 0; i < randomLength; ++i)
        name += characters[pick(generator)];
    name += temporaryEnd;
    return name;
}

bool startsAsRecordFile(std::string_view first)
{
    return recordFileStart.substr(0, first.size()) == first.substr(0, recordFileStart.size());
}

void writeFileAtomically(const fs::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    writeFileAtomically(path, bytes, leftovers);
}

bool isTemporaryFileName(const fs::path &name)
{
    const fs::path::string_type &text = name.native();
    const std::size_t randomStart = temporaryStart.size();
    const std::size_t randomEnd = randomStart + randomLength;
    return text.size() == randomEnd + temporaryEnd.size() && holdsAt(text, 0, temporaryStart) &&
           holdsAt(text, randomEnd, temporaryEnd) &&
           std::all_of(text.begin() + randomStart, text.begin() + randomEnd,
                       [](auto c) { return isAsciiLetterOrDigit(c); });
}

void LeftoverTemporaries::removeIn(const fs::path &folder)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!listed_.insert(folder.native()).second)
            return;
    }
    // A writer that comes to the folder meanwhile creates a file too recent to be taken for a
    // leftover, so the listing needs no lock.
    std::error_code error; // a folder that cannot be listed has no leftovers to remove
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end; !error && it != end;
         it.increment(error)) {
        if (isTemporaryFileName(it->path().filename()))
            removeLeftover(it->path(), leftoverBefore);
    }
}

std::string readFileBytes(const fs::path &path)
{
    ReadBuffer buffer;
    return std::string(readFileInto(path, buffer));
}

} // namespace quillarn
