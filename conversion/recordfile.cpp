// The part of recordfile.h that is the same on every system: the leftovers of killed writes, the
// names of temporary files and the bytes of a record file. Reading and writing files is each
// system's own (writer_posix.cpp, writer_windows.cpp).
#include "recordfile.h"

#include "codepage.h"
#include "sgfoutput.h"
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

// The random part of a temporary file's name: six ASCII letters or digits after the last ".".
constexpr std::size_t suffixLength = 6;

template <typename Char> bool isAsciiLetterOrDigit(Char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isTemporaryNameOf(const fs::path::string_type &entry, const fs::path::string_type &name)
{
    if (name.empty() || entry.size() != name.size() + suffixLength + 2)
        return false;
    if (entry[0] != '.' || entry.compare(1, name.size(), name) != 0 || entry[name.size() + 1] != '.')
        return false;
    return std::all_of(entry.end() - suffixLength, entry.end(),
                       [](auto c) { return isAsciiLetterOrDigit(c); });
}

} // namespace

std::string sourceTooLarge(long long size)
{
    return "file of " + std::to_string(size) + " bytes is too large (at most " +
           std::to_string(maxSourceBytes) + " bytes)";
}

std::string temporarySuffix()
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
    std::string suffix(suffixLength, '0');
    for (char &c : suffix)
        c = characters[pick(generator)];
    return suffix;
}

void writeFileAtomically(const fs::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    writeFileAtomically(path, bytes, leftovers);
}

bool hasExtension(std::string_view name, std::string_view extension)
{
    if (name.size() < extension.size())
        return false;
    const std::string_view end = name.substr(name.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(),
                      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

bool isRecordFileName(std::string_view name)
{
    return name.size() > 4 && hasExtension(name, ".ugi");
}

bool isTemporaryFileOf(const fs::path &entry, const fs::path &name)
{
    return isTemporaryNameOf(entry.native(), name.native());
}

void LeftoverTemporaries::removeFor(const fs::path &path)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const fs::path folder = path.parent_path();
    auto listed = folders_.find(folder.native());
    if (listed == folders_.end()) {
        listed = folders_.emplace(folder.native(), std::unordered_map<Name, std::vector<fs::path>>()).first;
        std::error_code error; // a folder that cannot be listed has no leftovers to remove
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end;
             !error && it != end; it.increment(error)) {
            const Name entry = it->path().filename().native();
            if (entry.size() <= suffixLength + 2)
                continue;
            Name name = entry.substr(1, entry.size() - suffixLength - 2);
            std::error_code ignored;
            if (!isTemporaryNameOf(entry, name) || !fs::is_regular_file(it->symlink_status(ignored)))
                continue;
            const fs::file_time_type modified = it->last_write_time(ignored);
            if (!ignored && modified < leftoverBefore)
                listed->second[std::move(name)].push_back(it->path());
        }
    }
    const auto leftovers = listed->second.find(path.filename().native());
    if (leftovers == listed->second.end())
        return;
    for (const fs::path &leftover : leftovers->second) {
        std::error_code ignored;
        fs::remove(leftover, ignored);
    }
    listed->second.erase(leftovers);
}

std::string readFileBytes(const fs::path &path)
{
    ReadBuffer buffer;
    return std::string(readFileInto(path, buffer));
}

std::u16string readSourceFile(const fs::path &path)
{
    return decodeAnsi(readFileBytes(path));
}

std::string recordFileBytes(std::u16string_view recordText)
{
    constexpr std::u16string_view rootStart = u"(;";
    if (recordText.substr(0, rootStart.size()) != rootStart)
        throw CommandFailure("the record has no root node to carry its charset");
    const std::string body = encodeAnsi(recordText.substr(rootStart.size()));
    std::string bytes(recordStart(RecordEncoding::Ansi, usesCodePage932Extensions(body)));
    bytes += body;
    bytes += "\r\n";
    return bytes;
}

void writeRecordFile(const fs::path &path, std::u16string_view recordText)
{
    writeFileAtomically(path, recordFileBytes(recordText));
}

} // namespace quillarn
