// The walk, the target names and the claims of batchplan.h.
#include "batchplan.h"

#include "casefold.h"
#include "recordname.h"
#include "shown.h"

#include <algorithm>
#include <deque>
#include <system_error>

namespace quillarn {

namespace fs = std::filesystem;

namespace {

// Paths as messages and names show them: UTF-8 on every system. (On Windows path.string() is the
// ANSI code page, which cannot hold every name.)
std::string utf8(const fs::path &path)
{
    return path.u8string();
}

// A name as the file system compares names: on Windows, names that differ only in letter case, in
// any script, name one file.
std::string nameKey(std::string name)
{
#ifdef _WIN32
    return foldedCase(name);
#else
    return name;
#endif
}

// A path made absolute, with "." and ".." resolved as far as can be told without touching the disk.
fs::path absolutePath(const fs::path &path, const fs::path &currentFolder)
{
    return (path.is_absolute() ? path : currentFolder / path).lexically_normal();
}

// Where two spellings of a path name the same file as far as can be told without touching the
// disk.
std::string pathKey(const fs::path &path, const fs::path &currentFolder)
{
    return nameKey(utf8(absolutePath(path, currentFolder)));
}

} // namespace

bool isSourceItself(const fs::path &source, const fs::path &target, Folders &folders)
{
    const fs::path currentFolder = folders.currentFolder();
    return pathKey(source, currentFolder) == pathKey(target, currentFolder) ||
           folders.sameFile(source, target);
}

Reason outputIsSourceReason(const std::string &output)
{
    return Reason(Said::OutputIsSource, {output});
}

Reason alsoTheOutputOf(std::string_view target, std::string_view first)
{
    return Reason(Said::AlsoTheOutputOf, {std::string(target), shownText(first)});
}

bool inWalkOrder(std::string_view a, std::string_view b)
{
    return a < b;
}

TargetClaims::Claim TargetClaims::claim(const std::string &target, const std::string &source,
                                        std::string_view shownSource, std::string &first)
{
    const auto owner = owners_.try_emplace(keyOf(target), source, std::string(shownSource));
    if (owner.second)
        return Claim::Kept;
    if (owner.first->second.first == source)
        return Claim::SameRecord;
    first = owner.first->second.second;
    return Claim::Taken;
}

std::string TargetClaims::keyOf(std::string name) const
{
    return foldCase_ ? foldedCase(name) : name;
}

// The walk of a plan: the paths given, one after the other, and for a folder a stack of the
// folders being walked, each listed once, its entries in order.
struct BatchPlan::Walk {
    // An entry of a folder that the walk visits: a subfolder, or a record file.
    struct Entry {
        std::string key; // the order of the walk: the name, and for a folder the name and "/"
        fs::path name;
        bool folder;
        Reason failure; // why the entry could not be looked at
    };
    // A folder being walked, below the path given.
    struct Frame {
        fs::path relative;
        std::vector<Entry> entries; // in order
        std::size_t next = 0;
        // The names in the target folder (nameKey), sorted: one block of memory however many.
        std::vector<std::string> targets;
        TargetClaims own{false}; // the target names of its records (nameKey)
    };
    // A path given that the walk has reached, as later paths' records are compared with its own.
    struct Given {
        bool folder = false;
        std::string base; // a folder's: where its targets go (pathKey), with a separator after it
        // The folder below it looked at last (as the key of a target names it below base), and the
        // record of it that keeps each target name (nameKey), the first in the walk's order.
        std::optional<std::string> looked;
        std::unordered_map<std::string, std::string> records;
    };
    static constexpr char separator = static_cast<char>(fs::path::preferred_separator);
    // The first record that has a target: its path given, source key and source as messages show it.
    struct Owner {
        std::size_t given = 0;
        std::string source;
        std::string shown;
    };

    explicit Walk(Folders &folders) : folders(folders) {}

    Folders &folders;
    std::vector<fs::path> paths;
    std::optional<fs::path> outputFolder;
    bool counting = false; // only counting items: no targets are worked out
    // Told the number of folders listed so far after each; its false stops the walk.
    std::function<bool(std::size_t)> looking;
    std::size_t listed = 0;
    bool stopped = false;
    std::size_t nextPath = 0;
    fs::path currentFolder;
    fs::path root;         // the folder given that is being walked
    bool foundAny = false; // whether its walk has found an item
    std::vector<Frame> stack;
    std::deque<BatchItem> ready; // items found but not yet taken
    // With several paths: those reached, and the targets of the files among them (target key ->
    // owner), which are as many as the paths.
    std::vector<Given> given;
    std::unordered_map<std::string, Owner> fileTargets;

    // The entries of a folder, the subfolders and the record files, in the walk's order; one that
    // could not be looked at may be a folder, and fails. Adds the other names to targets (nameKey).
    static std::vector<Entry> entriesOf(std::vector<Listed> listed, std::vector<std::string> *targets)
    {
        std::vector<Entry> entries;
        for (Listed &entry : listed) {
            const std::string name = utf8(entry.name);
            // A link is never walked, even to a folder.
            if (entry.type == fs::file_type::directory || !entry.failure.empty()) {
                // A folder that has a record's target name is there too, and fails that record.
                if (targets)
                    targets->push_back(nameKey(name));
                entries.push_back({name + "/", std::move(entry.name), true, std::move(entry.failure)});
            } else if (isRecordFileName(name))
                entries.push_back({name, std::move(entry.name), false, {}});
            else if (targets)
                targets->push_back(nameKey(name));
        }
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return inWalkOrder(a.key, b.key); });
        return entries;
    }

    // Lists the folder relative below root and pushes it; a folder that cannot be read becomes a
    // failing item, with what could be read of it walked all the same.
    void enter(const fs::path &relative)
    {
        Frame frame;
        frame.relative = relative;
        std::error_code error;
        frame.entries = entriesOf(folders.listFolder(root / relative, error),
                                  !outputFolder && !counting ? &frame.targets : nullptr);
        if (looking && !looking(++listed))
            stopped = true;
        if (error) {
            ready.push_back({root / relative, {}, Reason(error)});
            foundAny = true;
        }
        if (outputFolder && !counting) {
            // The target folder, listed once for all the targets in it; one not made yet holds none.
            std::error_code absent;
            for (const Listed &entry : folders.listFolder(*outputFolder / relative, absent))
                frame.targets.push_back(nameKey(utf8(entry.name)));
        }
        std::sort(frame.targets.begin(), frame.targets.end());
        frame.targets.shrink_to_fit();
        stack.push_back(std::move(frame));
    }

    // Returns the record of the folder path i that has the target whose key (pathKey) is target,
    // if any: its walk would find it in the folder below path i that the target's folder mirrors.
    std::optional<Owner> ownerBelow(std::size_t i, const std::string &target)
    {
        Given &path = given[i];
        if (target.compare(0, path.base.size(), path.base) != 0)
            return std::nullopt;
        const std::size_t last = target.rfind(separator);
        if (last == std::string::npos || last + 1 < path.base.size() || last + 1 == target.size())
            return std::nullopt;
        // The folders below the base, each with a separator after it, then the name.
        const std::string_view relative =
            std::string_view(target).substr(path.base.size(), last + 1 - path.base.size());
        if (!path.looked || *path.looked != relative) {
            path.looked = std::string(relative);
            path.records.clear();
            // The walk goes down through folders only, never through a link.
            const fs::path folder = paths[i] / fs::u8path(*path.looked);
            bool walked = true;
            fs::path below = paths[i];
            for (const fs::path &part : fs::u8path(*path.looked)) {
                if (part.empty())
                    continue;
                below /= part;
                FileInfo info;
                if (folders.look(nullptr, below.c_str(), false, info) ||
                    info.type != fs::file_type::directory) {
                    walked = false;
                    break;
                }
            }
            std::error_code error;
            if (walked) {
                for (const Listed &entry : folders.listFolder(folder, error)) {
                    std::string name = utf8(entry.name);
                    if (entry.type == fs::file_type::directory || !entry.failure.empty() ||
                        !isRecordFileName(name))
                        continue;
                    // The first in the walk's order keeps the target.
                    std::string &first = path.records[nameKey(targetFileName(name))];
                    if (first.empty() || inWalkOrder(name, first))
                        first = std::move(name);
                }
            }
        }
        const auto record = path.records.find(target.substr(last + 1));
        if (record == path.records.end())
            return std::nullopt;
        const fs::path source = paths[i] / fs::u8path(*path.looked) / fs::u8path(record->second);
        return Owner{i, pathKey(source, currentFolder), utf8(source)};
    }

    // Returns the first record of the paths before the one being walked (the last reached) that has
    // target, if any; with the target of a file given remembered for the paths after it.
    std::optional<Owner> earlierOwner(const fs::path &target, const BatchItem &item, bool fileGiven)
    {
        const std::string key = pathKey(target, currentFolder);
        const std::size_t current = given.size() - 1;
        const auto file = fileTargets.find(key);
        std::optional<Owner> owner;
        for (std::size_t i = 0; i < current && !owner; ++i) {
            if (file != fileTargets.end() && file->second.given < i)
                break;
            if (given[i].folder)
                owner = ownerBelow(i, key);
        }
        if (!owner && file != fileTargets.end())
            owner = file->second;
        if (fileGiven && file == fileTargets.end())
            fileTargets.emplace(key, Owner{current, pathKey(item.source, currentFolder), utf8(item.source)});
        return owner;
    }

    // Returns the item of a record, its target worked out and checked; an item without a source
    // for a record that an earlier path has reached already.
    BatchItem record(const fs::path &source, const fs::path &targetFolder, const fs::path &name, Frame *frame)
    {
        BatchItem item{source, targetFolder / fs::u8path(targetFileName(utf8(name))), {}};
        if (counting)
            return item;
        const std::string targetName = nameKey(utf8(item.target.filename()));
        if (frame) {
            item.targetState = std::binary_search(frame->targets.begin(), frame->targets.end(), targetName)
                                   ? TargetState::Present
                                   : TargetState::Absent;
        }
        // Each target is written by one record only: the first in order; a later one fails rather
        // than replace it. The same record reached twice (a file and its folder both given) is one.
        std::string first;
        if (paths.size() > 1) {
            if (const std::optional<Owner> owner = earlierOwner(item.target, item, frame == nullptr)) {
                if (owner->source == pathKey(item.source, currentFolder))
                    return {};
                first = owner->shown;
            }
        }
        if (first.empty() && frame &&
            frame->own.claim(targetName, utf8(name), utf8(item.source), first) != TargetClaims::Claim::Taken)
            first.clear();
        if (!first.empty())
            item.failure = alsoTheOutputOf(shownPath(item.target), first);
        // Only a target that is there can be the source: a record of a folder has a name of its own.
        if (item.failure.empty() &&
            ((frame == nullptr &&
              pathKey(item.source, currentFolder) == pathKey(item.target, currentFolder)) ||
             (item.targetState != TargetState::Absent && folders.sameFile(item.source, item.target))))
            item.failure = outputIsSourceReason(shownPath(item.target));
        if (!item.failure.empty()) {
            item.target.clear();
            item.targetState = TargetState::Unknown;
        }
        return item;
    }

    // Finds the next item and puts it in ready; returns false when there are no more.
    bool find()
    {
        while (ready.empty() && !stopped) {
            if (!stack.empty()) {
                Frame &frame = stack.back();
                if (frame.next == frame.entries.size()) {
                    stack.pop_back();
                    continue;
                }
                const Entry &entry = frame.entries[frame.next++];
                const fs::path relative = frame.relative / entry.name;
                if (!entry.failure.empty()) {
                    ready.push_back({root / relative, {}, entry.failure});
                    foundAny = true;
                    continue;
                }
                if (entry.folder) {
                    enter(relative);
                    continue;
                }
                foundAny = true;
                const fs::path targetFolder =
                    outputFolder ? *outputFolder / frame.relative : root / frame.relative;
                BatchItem item = record(root / relative, targetFolder, entry.name, &frame);
                if (!item.source.empty())
                    ready.push_back(std::move(item));
                continue;
            }
            if (!root.empty()) {
                // A mistyped archive folder must not look like a run that converted everything.
                if (!foundAny)
                    ready.push_back({root, {}, Said::NoUgiRecords});
                root.clear();
                continue;
            }
            if (nextPath == paths.size())
                return false;
            const fs::path &path = paths[nextPath++];
            FileInfo info;
            const std::error_code error = folders.look(nullptr, path.c_str(), true, info);
            if (paths.size() > 1 && !counting) {
                Given reached;
                reached.folder = !error && info.type == fs::file_type::directory;
                if (reached.folder) {
                    reached.base = pathKey(outputFolder ? *outputFolder : path, currentFolder);
                    if (reached.base.empty() || reached.base.back() != separator)
                        reached.base += separator;
                }
                given.push_back(std::move(reached));
            }
            if (error) {
                ready.push_back({path, {}, Reason(error)});
            } else if (info.type == fs::file_type::directory) {
                root = path;
                foundAny = false;
                enter({});
            } else {
                BatchItem item =
                    record(path, outputFolder ? *outputFolder : path.parent_path(), path.filename(), nullptr);
                if (!item.source.empty())
                    ready.push_back(std::move(item));
            }
        }
        return !ready.empty();
    }
};

BatchPlan::BatchPlan(std::vector<fs::path> paths, std::optional<fs::path> outputFolder, Folders &folders)
    : walk_(new Walk(folders))
{
    walk_->paths = std::move(paths);
    walk_->outputFolder = std::move(outputFolder);
    walk_->currentFolder = folders.currentFolder();
}

BatchPlan::~BatchPlan() = default;

bool BatchPlan::next(BatchItem &item)
{
    if (!walk_->find())
        return false;
    item = std::move(walk_->ready.front());
    walk_->ready.pop_front();
    return true;
}

std::optional<std::size_t> BatchPlan::count(const std::function<bool(std::size_t folders)> &looking) const
{
    BatchPlan counter(walk_->paths, walk_->outputFolder, walk_->folders);
    counter.walk_->counting = true;
    counter.walk_->looking = looking;
    std::size_t items = 0;
    for (BatchItem item; counter.next(item);)
        ++items;
    if (counter.walk_->stopped)
        return std::nullopt;
    return items;
}

std::vector<BatchItem> planBatch(const std::vector<fs::path> &paths,
                                 const std::optional<fs::path> &outputFolder)
{
    BatchPlan plan(paths, outputFolder);
    std::vector<BatchItem> items;
    for (BatchItem item; plan.next(item);)
        items.push_back(std::move(item));
    return items;
}

} // namespace quillarn
