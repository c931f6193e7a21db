// The names of the writer's temporary files, and the removal of those that killed writes left
// (LeftoverTemporaries, recordfile.h), through the file system the write goes through.
#include "writerparts.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <thread>
#include <type_traits>

namespace quillarn {

using namespace writer;

namespace {

// A temporary file's name: a fixed part, the hash of its target's name, characters at random, a
// fixed end; the same length whatever the target's name.
constexpr std::string_view temporaryStart = ".quillarn-";
constexpr std::string_view temporaryEnd = ".tmp";
constexpr std::size_t hashLength = 8;
constexpr std::size_t tagLength = 4;    // of the six after the hash: the hold's tag ...
constexpr std::size_t randomLength = 6; // ... and two at random
constexpr std::size_t hashStart = temporaryStart.size();
constexpr std::size_t randomStart = hashStart + hashLength;
constexpr std::size_t temporaryLength = randomStart + randomLength + temporaryEnd.size();
constexpr std::string_view lockEnd = ".lock";

constexpr char randomCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Returns count ASCII letters and digits at random, from a generator of each thread's own.
NameText randomText(std::size_t count)
{
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        std::seed_seq seed{
            static_cast<unsigned>(device()), static_cast<unsigned>(device()),
            static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof randomCharacters - 2);
    NameText text;
    for (std::size_t i = 0; i < count; ++i)
        text += static_cast<NameChar>(randomCharacters[pick(generator)]);
    return text;
}

// Returns the name of the lock of the temporary files whose names carry tag.
NameText lockName(const NameText &tag)
{
    NameText name(temporaryStart.begin(), temporaryStart.end());
    name += tag;
    name.append(lockEnd.begin(), lockEnd.end());
    return name;
}

constexpr char hashDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

template <typename Char> bool isHashDigit(Char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

template <typename Char> bool isAsciiLetterOrDigit(Char c)
{
    return isHashDigit(c) || (c >= 'A' && c <= 'Z');
}

// Returns true when name, of any character type, holds exactly the ASCII text at position at.
template <typename Name> bool holdsAt(const Name &name, std::size_t at, std::string_view text)
{
    return std::equal(text.begin(), text.end(), name.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, auto b) { return static_cast<decltype(b)>(a) == b; });
}

// Returns the hash part of the temporary files of the target name: FNV-1a over its code units, as
// eight digits and lower-case letters (36^8, about 2.8 * 10^12 values). It is the same in every run,
// so that a run finds what a killed one left for the same target.
std::string nameHash(const NameText &name)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const NameChar unit : name) {
        hash ^= static_cast<std::make_unsigned_t<NameChar>>(unit);
        hash *= 1099511628211ull;
    }
    std::string digits(hashLength, '0');
    for (std::size_t i = hashLength; i-- > 0; hash /= 36)
        digits[i] = hashDigits[hash % 36];
    return digits;
}

// Removes name in folder when it is surely a leftover of the writer (LeftoverTemporaries).
void removeIfLeftover(FileSystem &system, const Folder &folder, const NameText &name)
{
    FileInfo info;
    std::string start;
    if (system.lookInto(folder, name.c_str(), info, start, recordFileStart.size()) ||
        info.type != std::filesystem::file_type::regular || info.links != 1 || !info.own ||
        recordFileStart.substr(0, start.size()) != start)
        return;
    system.remove(folder, name.c_str());
}

// Returns true when name is that of a lock of temporary files (lockName).
bool isLockName(const NameText &name)
{
    return name.size() == temporaryStart.size() + tagLength + lockEnd.size() &&
           holdsAt(name, 0, temporaryStart) && holdsAt(name, name.size() - lockEnd.size(), lockEnd) &&
           std::all_of(name.begin() + hashStart, name.begin() + hashStart + tagLength,
                       [](NameChar c) { return isAsciiLetterOrDigit(c); });
}

} // namespace

namespace writer {

NameText temporaryName(const NameText &name, const NameText &tag)
{
    std::string start(temporaryStart);
    start += nameHash(name);
    NameText text(start.begin(), start.end());
    text += tag;
    text += randomText(randomLength - tagLength);
    text.append(temporaryEnd.begin(), temporaryEnd.end());
    return text;
}

NameText TemporaryHold::holdIn(const FolderPtr &folder)
{
    for (const Held &held : held_) {
        if (held.folder == folder)
            return held.tag;
    }
    for (int attempt = 1;; ++attempt) {
        NameText tag = randomText(tagLength);
        File lock;
        const std::error_code error = system_.createLock(*folder, lockName(tag).c_str(), lock);
        if (!error) {
            held_.push_back({folder, tag, std::move(lock)});
            return tag;
        }
        if (error != std::errc::file_exists || attempt == temporaryNameAttempts)
            failWith(error);
    }
}

void TemporaryHold::release()
{
    for (Held &held : held_) {
        held.lock.close();
        system_.remove(*held.folder, lockName(held.tag).c_str());
    }
    held_.clear();
}

} // namespace writer

bool isTemporaryFileName(const std::filesystem::path &name)
{
    const NameText &text = name.native();
    return text.size() == temporaryLength && holdsAt(text, 0, temporaryStart) &&
           holdsAt(text, temporaryLength - temporaryEnd.size(), temporaryEnd) &&
           std::all_of(text.begin() + hashStart, text.begin() + randomStart,
                       [](NameChar c) { return isHashDigit(c); }) &&
           std::all_of(text.begin() + randomStart, text.begin() + randomStart + randomLength,
                       [](NameChar c) { return isAsciiLetterOrDigit(c); });
}

// Listed once, when a target there is first written: every later write of a target there takes the
// leftovers of its name from what the listing found. Writers in other folders go on meanwhile.
struct LeftoverTemporaries::Found {
    std::mutex mutex; // held while the folder is listed
    bool listed = false;
    std::unordered_map<std::string, std::vector<Name>> byHash;
};

void LeftoverTemporaries::removeFor(FileSystem &system, const Folder &folder, const Name &name)
{
    std::shared_ptr<Found> found;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Found> &slot = folders_[folder.path().native()];
        if (!slot) {
            slot = std::make_shared<Found>();
            found = slot;
            order_.push_back(folder.path().native());
            // Enough for the folders that the workers of a batch write into at one time.
            constexpr std::size_t remembered = 64;
            if (order_.size() > remembered) {
                folders_.erase(order_.front());
                order_.pop_front();
            }
        } else {
            found = slot;
        }
    }
    const std::string hash = nameHash(name);
    std::vector<Name> leftovers;
    {
        const std::lock_guard<std::mutex> lock(found->mutex);
        if (!found->listed) {
            found->listed = true;
            std::error_code error; // a folder that cannot be listed has no leftovers to remove
            for (const Listed &entry : system.listFolder(folder.path(), error)) {
                const Name &entryName = entry.name.native();
                if (isLockName(entryName)) {
                    system.isHeld(folder, entryName.c_str()); // which removes one held by nobody
                    continue;
                }
                if (!isTemporaryFileName(entryName))
                    continue;
                std::string entryHash;
                for (std::size_t i = hashStart; i < randomStart; ++i)
                    entryHash += static_cast<char>(entryName[i]);
                found->byHash[entryHash].push_back(entryName);
            }
        }
        const auto ofName = found->byHash.find(hash);
        if (ofName == found->byHash.end())
            return;
        leftovers = std::move(ofName->second);
        found->byHash.erase(ofName);
    }
    // A temporary file whose lock somebody holds is in use, however old it is.
    std::vector<std::pair<NameText, bool>> held; // by tag, looked at once each
    for (const Name &leftover : leftovers) {
        const NameText tag = leftover.substr(randomStart, tagLength);
        auto known = std::find_if(held.begin(), held.end(), [&](const auto &h) { return h.first == tag; });
        if (known == held.end())
            known = held.insert(held.end(), {tag, system.isHeld(folder, lockName(tag).c_str())});
        if (!known->second)
            removeIfLeftover(system, folder, leftover);
    }
}

void LeftoverTemporaries::removeFor(FileSystem &system, const std::filesystem::path &target)
{
    try {
        const FolderPtr folder = openFolderOf(system, target);
        removeFor(system, *folder, target.filename().native());
    } catch (const CommandFailure &) {
        // A folder that cannot be opened has no leftovers to remove.
    }
}

} // namespace quillarn
