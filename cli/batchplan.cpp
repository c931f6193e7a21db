// The walk and the target names of batchplan.h.
#include "batchplan.h"

#include "casefold.h"
#include "recordfile.h"
#include "recordname.h"
#include "recordoutput.h"
#include "shown.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

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

// Where two spellings of a path name the same file as far as can be told without touching the
// disk: absolute, with "." and ".." resolved.
std::string pathKey(const fs::path &path, const fs::path &currentFolder)
{
    return nameKey(utf8((path.is_absolute() ? path : currentFolder / path).lexically_normal()));
}

std::string alsoTheOutputOf(const fs::path &target, const std::string &first)
{
    return "its output " + shownPath(target) + " is also the output of " + shownText(first) +
           "; not converted";
}

} // namespace

bool isSourceItself(const fs::path &source, const fs::path &target)
{
    std::error_code error;
    const fs::path currentFolder = fs::current_path(error);
    return pathKey(source, currentFolder) == pathKey(target, currentFolder) ||
           systemFileSystem().sameFile(source, target);
}

// The walk of a plan: the paths given, one after the other, and for a folder a stack of the
// folders being walked, each listed once, its entries in order.
struct BatchPlan::Walk {
    // An entry of a folder that the walk visits: a subfolder, or a record file.
    struct Entry {
        std::string key; // the order of the walk: the name, and for a folder the name and "/"
        fs::path name;
        bool folder;
        std::string failure; // why the entry could not be looked at
    };
    // A folder being walked, below the path given.
    struct Frame {
        fs::path relative;
        std::vector<Entry> entries; // in order
        std::size_t next = 0;
        std::unordered_set<std::string> targets;          // names of the target folder (nameKey)
        std::unordered_map<std::string, std::string> own; // target name key -> the first source
    };

    explicit Walk(FileSystem &system) : system(system) {}

    FileSystem &system;
    std::vector<fs::path> paths;
    std::optional<fs::path> outputFolder;
    bool counting = false; // only counting items: no targets are worked out
    std::size_t nextPath = 0;
    fs::path currentFolder;
    fs::path root;         // the folder given that is being walked
    bool foundAny = false; // whether its walk has found an item
    std::vector<Frame> stack;
    std::deque<BatchItem> ready; // items found but not yet taken
    // With several paths, records of different paths may share a target: target key -> the first
    // record's source key and its name in messages.
    std::unordered_map<std::string, std::pair<std::string, std::string>> ownerOfTarget;

    // Lists the folder relative below root and pushes it; a folder that cannot be read becomes a
    // failing item, with what could be read of it walked all the same.
    void enter(const fs::path &relative)
    {
        Frame frame;
        frame.relative = relative;
        std::error_code error;
        for (Listed &entry : system.listFolder(root / relative, error)) {
            const std::string name = utf8(entry.name);
            // A link is never walked, even to a folder; an entry that could not be looked at may
            // be one, and fails.
            if (entry.type == fs::file_type::directory || !entry.failure.empty()) {
                // A folder that has a record's target name is there too, and fails that record.
                if (!outputFolder && !counting)
                    frame.targets.insert(nameKey(name));
                frame.entries.push_back({name + "/", std::move(entry.name), true, std::move(entry.failure)});
            } else if (isRecordFileName(name))
                frame.entries.push_back({name, std::move(entry.name), false, {}});
            else if (!outputFolder && !counting)
                frame.targets.insert(nameKey(name));
        }
        if (error) {
            ready.push_back({root / relative, {}, error.message()});
            foundAny = true;
        }
        std::sort(frame.entries.begin(), frame.entries.end(),
                  [](const Entry &a, const Entry &b) { return a.key < b.key; });
        if (outputFolder && !counting) {
            // The target folder, listed once for all the targets in it; one not made yet holds none.
            std::error_code absent;
            for (const Listed &entry : system.listFolder(*outputFolder / relative, absent))
                frame.targets.insert(nameKey(utf8(entry.name)));
        }
        stack.push_back(std::move(frame));
    }

    // Returns the item of a record, its target worked out and checked.
    BatchItem record(const fs::path &source, const fs::path &targetFolder, const fs::path &name, Frame *frame)
    {
        BatchItem item{source, targetFolder / fs::u8path(targetFileName(utf8(name))), {}};
        if (counting)
            return item;
        const std::string targetName = nameKey(utf8(item.target.filename()));
        if (frame) {
            item.targetState =
                frame->targets.count(targetName) != 0 ? TargetState::Present : TargetState::Absent;
        }
        // Each target is written by one record only: the first in order; a later one fails rather
        // than replace it. The same record reached twice (a file and its folder both given) is one.
        if (paths.size() > 1) {
            const std::string target = pathKey(item.target, currentFolder);
            const std::string sourceKey = pathKey(item.source, currentFolder);
            const auto owner = ownerOfTarget.find(target);
            if (owner != ownerOfTarget.end()) {
                if (owner->second.first == sourceKey)
                    return {};
                item.failure = alsoTheOutputOf(item.target, owner->second.second);
            } else {
                ownerOfTarget.emplace(target, std::make_pair(sourceKey, utf8(item.source)));
            }
        } else if (frame) {
            const auto owner = frame->own.find(targetName);
            if (owner != frame->own.end())
                item.failure = alsoTheOutputOf(item.target, owner->second);
            else
                frame->own.emplace(targetName, utf8(item.source));
        }
        // Only a target that is there can be the source: a record of a folder has a name of its own.
        if (item.failure.empty() &&
            ((frame == nullptr &&
              pathKey(item.source, currentFolder) == pathKey(item.target, currentFolder)) ||
             (item.targetState != TargetState::Absent && system.sameFile(item.source, item.target))))
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
        while (ready.empty()) {
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
                    ready.push_back({root, {}, "no .ugi records"});
                root.clear();
                continue;
            }
            if (nextPath == paths.size())
                return false;
            const fs::path &path = paths[nextPath++];
            FileInfo info;
            if (const std::error_code error = system.look(nullptr, path.c_str(), true, info)) {
                ready.push_back({path, {}, error.message()});
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
        return true;
    }
};

BatchPlan::BatchPlan(std::vector<fs::path> paths, std::optional<fs::path> outputFolder, FileSystem &system)
    : walk_(new Walk(system))
{
    walk_->paths = std::move(paths);
    walk_->outputFolder = std::move(outputFolder);
    std::error_code error;
    walk_->currentFolder = fs::current_path(error);
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

std::size_t BatchPlan::count() const
{
    BatchPlan counter(walk_->paths, walk_->outputFolder, walk_->system);
    counter.walk_->counting = true;
    std::size_t items = 0;
    for (BatchItem item; counter.next(item);)
        ++items;
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
