// A file system in memory (filesystem.h) that keeps apart what has reached its disk, and whose
// power can be cut after any call: afterwards every call fails with EIO, and only what was flushed
// is left.
#pragma once

#include "commandfailure.h"
#include "filesystem.h"
#include "sourcefile.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// A file's data reaches the disk when the file is flushed, and a name (made, renamed or removed)
// when its folder is flushed; a flush of the file system puts everything there. What has not
// reached the disk is lost with the power, data surely; names may be lost, or may have been written
// by the system in its own time, which a careless order of flushes and renames would meet as a name
// on a file whose data is gone (afterRestart tells either).
class ForgetfulDisk : public quillarn::FileSystem {
public:
    using Path = std::filesystem::path;
    using Files = std::map<std::string, std::string>; // name or path (generic form) -> content

    // The files there from the start, and their folders, all on the disk and an hour old.
    void addFolder(const Path &path, const Files &files)
    {
        std::shared_ptr<Node> folder = root_;
        for (const Path &part : path.relative_path()) {
            std::shared_ptr<Node> &next = folder->names[part.native()];
            if (!next)
                next = made(true, 0755);
            folder->onDiskNames = folder->names;
            folder = next;
        }
        for (const auto &[name, content] : files) {
            const auto file = made(false, 0640);
            file->data = file->onDisk = content;
            file->modified = std::chrono::system_clock::now() - std::chrono::hours(1);
            folder->names[Path(name).native()] = file;
        }
        folder->onDiskNames = folder->names;
    }

    void cutPowerAfter(long calls) { cutAfter_ = calls; }
    long calls() const { return calls_; }
    bool flushesFileSystems() const override { return ableToFlushFileSystems; }
    bool startsWriteBack() const override { return ableToFlushFileSystems; }
    bool ableToFlushFileSystems = true;

    // Returns every file there once the power is back, by path: the names as last flushed or, when
    // namesWritten, as last changed, and the data as last flushed.
    Files afterRestart(bool namesWritten) const
    {
        Files files;
        addFiles(*root_, Path("/"), namesWritten, files);
        return files;
    }

    std::error_code readFile(const Path &path, quillarn::ReadBuffer &buffer, std::string_view &bytes,
                             std::chrono::system_clock::time_point &modified) override
    {
        std::shared_ptr<Node> file = find(nullptr, path);
        if (!powered() || !file)
            return failure(std::errc::no_such_file_or_directory);
        if (file->folder)
            return failure(std::errc::is_a_directory);
        modified = file->modified;
        std::memcpy(buffer.room(file->data.size()), file->data.data(), file->data.size());
        bytes = {buffer.room(file->data.size()), file->data.size()};
        return {};
    }

    std::vector<quillarn::Listed> listFolder(const Path &path, std::error_code &error) override
    {
        std::vector<quillarn::Listed> entries;
        const std::shared_ptr<Node> folder = find(nullptr, path);
        if (!powered() || !folder || !folder->folder) {
            error = failure(folder ? std::errc::not_a_directory : std::errc::no_such_file_or_directory);
            return entries;
        }
        for (const auto &[name, node] : folder->names) {
            const auto type =
                node->folder ? std::filesystem::file_type::directory : std::filesystem::file_type::regular;
            entries.push_back({Path(name), type, {}});
        }
        return entries;
    }

    std::error_code makeFolder(const Path &given) override
    {
        const Path path = given.filename().empty() ? given.parent_path() : given; // "a/b/" is "a/b"
        const std::shared_ptr<Node> parent = find(nullptr, path.parent_path());
        if (!powered() || !parent || !parent->folder)
            return failure(parent ? std::errc::not_a_directory : std::errc::no_such_file_or_directory);
        std::shared_ptr<Node> &entry = parent->names[path.filename().native()];
        if (entry)
            return failure(std::errc::file_exists);
        entry = made(true, 0755);
        return {};
    }

    bool sameFile(const Path &a, const Path &b) override
    {
        const std::shared_ptr<Node> node = find(nullptr, a);
        return powered() && node && node == find(nullptr, b);
    }

    std::error_code look(const quillarn::Folder *at, const quillarn::NameChar *name, bool,
                         quillarn::FileInfo &info) override
    {
        const std::shared_ptr<Node> node = find(at, name);
        if (!powered() || !node)
            return failure(std::errc::no_such_file_or_directory);
        info = describe(*node);
        return {};
    }

    std::error_code openFolder(const quillarn::Folder *at, const quillarn::NameChar *name,
                               quillarn::FileHandle &folder, bool &flushable) override
    {
        const std::shared_ptr<Node> node = find(at, name);
        if (!powered() || !node || !node->folder)
            return failure(node ? std::errc::not_a_directory : std::errc::no_such_file_or_directory);
        folder = open(node);
        flushable = true;
        return {};
    }

    std::error_code readLink(const quillarn::Folder &, const quillarn::NameChar *,
                             quillarn::NameText &) override
    {
        return failure(std::errc::invalid_argument); // no links here
    }

    std::error_code createFile(const quillarn::Folder &at, const quillarn::NameChar *name, unsigned mode,
                               quillarn::File &file) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        std::shared_ptr<Node> &entry = opened(at.handle())->names[name];
        if (entry)
            return failure(std::errc::file_exists);
        entry = made(false, mode);
        file = quillarn::File(*this, open(entry));
        return {};
    }

    std::error_code openToAppend(const quillarn::Folder &at, const quillarn::NameChar *name,
                                 quillarn::File &file) override
    {
        const std::shared_ptr<Node> node = find(&at, name);
        if (!powered() || !node)
            return failure(std::errc::no_such_file_or_directory);
        file = quillarn::File(*this, open(node));
        return {};
    }

    std::error_code lookInto(const quillarn::Folder &at, const quillarn::NameChar *name,
                             quillarn::FileInfo &info, std::string &start, std::size_t most) override
    {
        if (const std::error_code error = look(&at, name, false, info))
            return error;
        start = find(&at, name)->data.substr(0, most);
        return {};
    }

    std::error_code rename(const quillarn::Folder &at, const quillarn::NameChar *from,
                           const quillarn::NameChar *to, bool replace) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        Names &names = opened(at.handle())->names;
        const auto file = names.find(from);
        if (file == names.end())
            return failure(std::errc::no_such_file_or_directory);
        if (!replace && names.count(to) != 0)
            return failure(std::errc::file_exists);
        const std::shared_ptr<Node> moved = file->second;
        names.erase(file);
        names[to] = moved;
        return {};
    }

    std::error_code remove(const quillarn::Folder &at, const quillarn::NameChar *name) override
    {
        if (isLockName(name))
            return {}; // a lock's name, which is in memory only
        if (!powered())
            return failure(std::errc::io_error);
        return opened(at.handle())->names.erase(name) == 1 ? std::error_code()
                                                           : failure(std::errc::no_such_file_or_directory);
    }

    std::error_code flushFolder(const quillarn::Folder &folder) override { return flush(folder.handle()); }

    // Locks belong to the process and end with it: held in memory, never on the disk, and not
    // counted as calls that the power cut can meet.
    std::error_code createLock(const quillarn::Folder &at, const quillarn::NameChar *name,
                               quillarn::File &lock) override
    {
        const Lock key{opened(at.handle()).get(), name};
        if (!locks_.insert(key).second)
            return failure(std::errc::file_exists);
        const quillarn::FileHandle handle = open(made(false, 0600));
        lockOf_[handle] = key;
        lock = quillarn::File(*this, handle);
        return {};
    }

    bool isHeld(const quillarn::Folder &at, const quillarn::NameChar *name) override
    {
        return locks_.count({opened(at.handle()).get(), name}) != 0;
    }

protected:
    std::error_code write(quillarn::FileHandle file, std::string_view bytes) override
    {
        if (!powered())
            return ioError();
        opened(file)->data.append(bytes);
        opened(file)->modified = std::chrono::system_clock::now();
        return {};
    }

    std::error_code truncate(quillarn::FileHandle file) override
    {
        if (!powered())
            return ioError();
        opened(file)->data.clear();
        return {};
    }

    std::error_code status(quillarn::FileHandle file, quillarn::FileInfo &info) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        info = describe(*opened(file));
        return {};
    }

    std::error_code setModified(quillarn::FileHandle file,
                                std::chrono::system_clock::time_point modified) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        opened(file)->modified = modified;
        return {};
    }

    std::error_code keepOwnerAndMode(quillarn::FileHandle file, const quillarn::FileInfo &existing) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        opened(file)->mode = existing.mode;
        return {};
    }

    std::error_code flush(quillarn::FileHandle file) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        Node &node = *opened(file);
        node.onDisk = node.data;
        node.onDiskNames = node.names;
        return {};
    }

    std::error_code flushFileSystem(quillarn::FileHandle) override
    {
        if (!powered())
            return failure(std::errc::io_error);
        for (const auto &node : everyNode_) {
            node->onDisk = node->data;
            node->onDiskNames = node->names;
        }
        return {};
    }

    std::error_code startWriteBack(quillarn::FileHandle) override
    {
        return powered() ? std::error_code() : failure(std::errc::io_error);
    }

    std::error_code close(quillarn::FileHandle file) override
    {
        if (const auto lock = lockOf_.find(file); lock != lockOf_.end()) {
            locks_.erase(lock->second);
            lockOf_.erase(lock);
            open_.erase(file);
            return {};
        }
        if (!powered())
            return failure(std::errc::io_error);
        open_.erase(file);
        return {};
    }

private:
    struct Node;
    using Names = std::map<quillarn::NameText, std::shared_ptr<Node>>;
    struct Node {
        bool folder = false;
        std::string data, onDisk; // of a file
        Names names, onDiskNames; // of a folder
        unsigned mode = 0;
        std::chrono::system_clock::time_point modified = std::chrono::system_clock::now();
    };

    static std::error_code ioError() { return std::make_error_code(std::errc::io_error); }

    // Counts a call, or fails it once the power is off.
    bool powered()
    {
        lost_ = lost_ || calls_ == cutAfter_;
        if (!lost_)
            ++calls_;
        return !lost_;
    }
    std::error_code failure(std::errc error) const { return lost_ ? ioError() : std::make_error_code(error); }

    std::shared_ptr<Node> made(bool folder, unsigned mode)
    {
        auto node = std::make_shared<Node>();
        node->folder = folder;
        node->mode = mode;
        everyNode_.push_back(node);
        return node;
    }
    quillarn::FileHandle open(std::shared_ptr<Node> node)
    {
        open_[nextHandle_] = std::move(node);
        return nextHandle_++;
    }
    const std::shared_ptr<Node> &opened(quillarn::FileHandle handle) { return open_.at(handle); }

    // Returns what path names from the folder at (from the root when null), or null.
    std::shared_ptr<Node> find(const quillarn::Folder *at, const Path &path)
    {
        std::shared_ptr<Node> node = at && path.is_relative() ? opened(at->handle()) : root_;
        for (const Path &part : path.relative_path()) {
            if (part.empty() || part == ".")
                continue;
            const auto next = node->folder ? node->names.find(part.native()) : node->names.end();
            if (next == node->names.end())
                return nullptr;
            node = next->second;
        }
        return node;
    }

    static quillarn::FileInfo describe(const Node &node)
    {
        quillarn::FileInfo info;
        info.type = node.folder ? std::filesystem::file_type::directory : std::filesystem::file_type::regular;
        info.device = 1;
        info.owner = {1000, 1000};
        info.mode = node.mode;
        info.size = node.data.size();
        info.modified = node.modified;
        return info;
    }

    static void addFiles(const Node &folder, const Path &path, bool namesWritten, Files &files)
    {
        for (const auto &[name, node] : namesWritten ? folder.names : folder.onDiskNames) {
            if (node->folder)
                addFiles(*node, path / name, namesWritten, files);
            else
                files[(path / name).generic_string()] = node->onDisk;
        }
    }

    using Lock = std::pair<const Node *, quillarn::NameText>;
    // Returns true when name is the name of a lock (".lock"), which is never on the disk.
    static bool isLockName(const quillarn::NameChar *name)
    {
        const quillarn::NameText text(name);
        return text.size() > 5 &&
               text.compare(text.size() - 5, 5, quillarn::NameText{'.', 'l', 'o', 'c', 'k'}) == 0;
    }
    std::set<Lock> locks_;
    std::map<quillarn::FileHandle, Lock> lockOf_;

    std::vector<std::shared_ptr<Node>> everyNode_; // before root_, which it holds
    std::shared_ptr<Node> root_ = made(true, 0755);
    std::map<quillarn::FileHandle, std::shared_ptr<Node>> open_;
    quillarn::FileHandle nextHandle_ = 100;
    long calls_ = 0;
    long cutAfter_ = -1;
    bool lost_ = false;
};

} // namespace testing_support
