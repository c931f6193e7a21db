// The file system of POSIX systems (filesystem.h), declared for the tests that put a failing call
// under it: each member makes the system call that it is named after, or the few that it says.
#pragma once

#include "filesystem.h"

#include <sys/types.h>

namespace quillarn {

class PosixFileSystem : public FileSystem {
public:
    bool flushesFileSystems() const override;
    bool startsWriteBack() const override;
    std::error_code readFile(const std::filesystem::path &path, ReadBuffer &buffer, std::string_view &bytes,
                             std::chrono::system_clock::time_point &modified) override;
    std::vector<Listed> listFolder(const std::filesystem::path &folder, std::error_code &error) override;
    std::error_code makeFolder(const std::filesystem::path &path) override;
    bool sameFile(const std::filesystem::path &a, const std::filesystem::path &b) override;
    std::filesystem::path currentFolder() override;
    std::error_code look(const Folder *at, const char *name, bool followLinks, FileInfo &info) override;
    std::error_code openFolder(const Folder *at, const char *name, FileHandle &folder,
                               bool &flushable) override;
    std::error_code readLink(const Folder &at, const char *name, std::string &to) override;
    std::error_code createFile(const Folder &at, const char *name, unsigned mode, File &file) override;
    std::error_code openToAppend(const Folder &at, const char *name, File &file) override;
    std::error_code lookInto(const Folder &at, const char *name, FileInfo &info, std::string &start,
                             std::size_t most) override;
    std::error_code rename(const Folder &at, const char *from, const char *to, bool replace) override;
    std::error_code remove(const Folder &at, const char *name) override;
    std::error_code createLock(const Folder &at, const char *name, File &lock) override;
    bool isHeld(const Folder &at, const char *name) override;
    std::error_code flushFolder(const Folder &folder) override;

protected:
    std::error_code write(FileHandle file, std::string_view bytes) override;
    std::error_code status(FileHandle file, FileInfo &info) override;
    std::error_code keepOwnerAndMode(FileHandle file, const FileInfo &existing) override;
    std::error_code setModified(FileHandle file, std::chrono::system_clock::time_point modified) override;
    std::error_code flush(FileHandle file) override;
    std::error_code flushFileSystem(FileHandle file) override;
    std::error_code startWriteBack(FileHandle file) override;
    std::error_code truncate(FileHandle file) override;
    std::error_code close(FileHandle file) override;

    // One write(2) of write's loop, which writes the rest after what this took, waits when it took
    // nothing for now (EAGAIN: a full pipe opened without blocking) and fails when it took nothing
    // and said nothing.
    virtual ssize_t writeSome(int descriptor, const char *bytes, std::size_t size);
};

} // namespace quillarn
