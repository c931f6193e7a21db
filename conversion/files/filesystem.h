// The file system as the program reaches it, on the model of leveldb's Env: reading a source,
// listing and making folders, and the calls through which the writer creates, writes, flushes,
// renames and removes files, which it holds as File and Folder objects that close themselves. Every
// call returns an error code. The system's own (filesystem_posix.cpp, filesystem_windows.cpp) serves
// unless a caller gives another; the tests give one that forgets what was not flushed.
#pragma once

#include "catalogue.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillarn {

class ReadBuffer;
class Folder;
class File;
class FileSystem;

// A file or folder opened through a FileSystem: a descriptor on POSIX systems, a HANDLE on
// Windows, whatever a test's file system gives.
using FileHandle = std::intptr_t;
constexpr FileHandle noFile = -1;

// A name in a folder, or a path, in the system's own characters (bytes on POSIX systems, UTF-16 on
// Windows).
using NameChar = std::filesystem::path::value_type;
using NameText = std::filesystem::path::string_type;

// The user and group a file belongs to (POSIX systems; nobody in particular on Windows).
struct Owner {
    std::uint32_t user = 0;
    std::uint32_t group = 0;
    bool operator==(const Owner &other) const { return user == other.user && group == other.group; }
    bool operator!=(const Owner &other) const { return !(*this == other); }
};

// What a look at a file or folder tells.
struct FileInfo {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    std::uint64_t device = 0; // the file system it is on
    std::uint64_t file = 0;   // its number there (inode; Windows' file index)
    Owner owner;
    bool own = true;   // it belongs to the user who runs the program (always on Windows)
    unsigned mode = 0; // the permission, set-ID and sticky bits (POSIX systems)
    // A folder in the system's file system of processes (Linux's /proc), whose links
    // (/proc/self/fd/1, which /dev/stdout points to) only the system can follow.
    bool processes = false;
    std::uint64_t links = 1; // its names (hard links)
    std::uint64_t size = 0;
    bool readOnly = false; // Windows's read-only attribute
    std::chrono::system_clock::time_point modified;
};

// An entry of a folder, with its type as the listing gives it (symlink for a link, which a walk
// never follows), or the reason it could not be looked at.
struct Listed {
    std::filesystem::path name;
    std::filesystem::file_type type = std::filesystem::file_type::unknown;
    Reason failure; // set when the entry's type could not be told
};

// What a walk of folders looks at: the entries of a folder and what a path is. The system's file
// system is one; a web page's list of the files it was given is another. A name is relative to the
// folder at, or, where at may be null, a path from the current folder; on Windows every path comes
// in the form of systemPath.
class Folders {
public:
    virtual ~Folders() = default;

    // Returns the entries of folder (not "." and ".."; empty: the current folder), each with its
    // type from the listing itself, so that no entry is looked at by itself (but on a file system
    // that does not say). Sets error when the folder cannot be read, with what could be read of it
    // returned.
    virtual std::vector<Listed> listFolder(const std::filesystem::path &folder, std::error_code &error) = 0;
    // Looks at name, at a link itself unless followLinks (Windows: always at the name itself).
    virtual std::error_code look(const Folder *at, const NameChar *name, bool followLinks,
                                 FileInfo &info) = 0;
    // Returns true when a and b are the same file (device and file number), links followed.
    virtual bool sameFile(const std::filesystem::path &a, const std::filesystem::path &b) = 0;
    // Returns the folder that relative paths start from, absolute; empty where there is none.
    virtual std::filesystem::path currentFolder() { return {}; }
};

// Every call that can fail returns the system's error (empty on success): std::errc::file_exists,
// no_such_file_or_directory and the others compare equal to it on every system, and its message is the reason
// a message shows. On Windows listFolder, makeFolder, sameFile and look without a folder take every path in
// the form of systemPath; the others take a name as it is given, so that a device's name (NUL) names the
// device.
class FileSystem : public Folders {
public:
    // Whether flushFileSystem and startWriteBack do what they say here (Linux's syncfs and
    // sync_file_range); elsewhere they fail, and a group writer refuses to be asked for them.
    virtual bool flushesFileSystems() const = 0;
    virtual bool startsWriteBack() const = 0;

    // Reads the whole regular file at path into buffer and sets bytes to what was read, which stays
    // valid until the next read into buffer (readFileInto, sourcefile.h). FileError::NotRegular
    // for what is not a regular file (is_a_directory for a folder), TooLarge for one over
    // maxSourceBytes (judged before it is read), Changed for one that grows or shrinks meanwhile.
    // Sets modified to the time the file was last written.
    virtual std::error_code readFile(const std::filesystem::path &path, ReadBuffer &buffer,
                                     std::string_view &bytes,
                                     std::chrono::system_clock::time_point &modified) = 0;
    // Makes the folder at path, in a folder that is there (file_exists when a name is there).
    virtual std::error_code makeFolder(const std::filesystem::path &path) = 0;

    // Opens the folder name for the names in it. flushable is set false when it could be opened
    // only for lookups (a folder that may be written to but not listed): renames work there, but
    // flushFolder does not.
    virtual std::error_code openFolder(const Folder *at, const NameChar *name, FileHandle &folder,
                                       bool &flushable) = 0;
    virtual std::error_code readLink(const Folder &at, const NameChar *name, NameText &to) = 0;
    // Creates the file name for writing, with the permission bits mode less the umask (POSIX
    // systems): never a name that is there (file_exists), never through a link.
    virtual std::error_code createFile(const Folder &at, const NameChar *name, unsigned mode, File &file) = 0;
    // Opens name, which is there, for writing at its end (a FIFO, a device), without making it the
    // program's terminal.
    virtual std::error_code openToAppend(const Folder &at, const NameChar *name, File &file) = 0;
    // Looks at name through a handle on it, neither through a link nor waiting on a FIFO, so that
    // what is judged is what is there, and reads up to most of its first bytes into start when it
    // is a regular file.
    virtual std::error_code lookInto(const Folder &at, const NameChar *name, FileInfo &info,
                                     std::string &start, std::size_t most) = 0;
    // Renames from to to in one step; unless replace, only while to is absent (file_exists).
    virtual std::error_code rename(const Folder &at, const NameChar *from, const NameChar *to,
                                   bool replace) = 0;
    virtual std::error_code remove(const Folder &at, const NameChar *name) = 0;
    // Creates the file name (never a name that is there: file_exists, nor through a link) and holds
    // it for this process until lock is closed, or the process ends however it ends (flock; on
    // Windows, opened shared with nobody): isHeld then says so to every other holder of the file.
    // Where the file system cannot lock, the file is made and counts as held while it is there.
    virtual std::error_code createLock(const Folder &at, const NameChar *name, File &lock) = 0;
    // Returns true when a holder of name holds it (createLock), or when it is there but cannot be
    // told (counted as held, so that nothing in use is ever taken for a leftover). A lock that is
    // there and held by nobody is a leftover itself: it is removed.
    virtual bool isHeld(const Folder &at, const NameChar *name) = 0;
    // Puts the names made, renamed and removed in folder on the disk (on Windows each rename already
    // is, and this does nothing).
    virtual std::error_code flushFolder(const Folder &folder) = 0;

protected:
    // What a File or a Folder does with its handle: a caller holds the File or the Folder.
    friend class File;
    friend class Folder;
    // Writes all of bytes.
    virtual std::error_code write(FileHandle file, std::string_view bytes) = 0;
    virtual std::error_code status(FileHandle file, FileInfo &info) = 0;
    // Gives the file the permission bits of existing and, where the system lets (root), its owner,
    // as a file that replaces it must have (nothing on Windows, where a new file takes its folder's).
    virtual std::error_code keepOwnerAndMode(FileHandle file, const FileInfo &existing) = 0;
    // Sets the time the file was last written to modified, once it is written.
    virtual std::error_code setModified(FileHandle file, std::chrono::system_clock::time_point modified) = 0;
    // Puts the file's data on the disk and returns once it is there.
    virtual std::error_code flush(FileHandle file) = 0;
    // Puts everything written to file's file system on the disk, and reports a write-back error of
    // any file there since file was opened.
    virtual std::error_code flushFileSystem(FileHandle file) = 0;
    // Starts putting the file's data on the disk without waiting for it.
    virtual std::error_code startWriteBack(FileHandle file) = 0;
    // Takes away all the file holds; the next write starts at its beginning.
    virtual std::error_code truncate(FileHandle file) = 0;
    // Closes the handle; a failure can mean that the data never reached the disk.
    virtual std::error_code close(FileHandle file) = 0;
};

// A file opened through a file system (createFile, openToAppend, createLock), closed with its last
// holder; close() where a failure to close matters (the data may never have reached the disk).
class File {
public:
    File() = default;
    File(FileSystem &system, FileHandle handle) : system_(&system), handle_(handle) {}
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    ~File() { close(); }

    bool isOpen() const { return handle_ != noFile; }
    FileHandle handle() const { return handle_; }
    std::error_code write(std::string_view bytes);
    std::error_code status(FileInfo &info);
    std::error_code keepOwnerAndMode(const FileInfo &existing);
    std::error_code setModified(std::chrono::system_clock::time_point modified);
    std::error_code flush(); // returns once the data is on the disk
    std::error_code flushFileSystem();
    std::error_code startWriteBack();
    std::error_code truncate();
    std::error_code close();

private:
    FileSystem *system_ = nullptr;
    FileHandle handle_ = noFile;
};

// Returns the system's own file system.
FileSystem &systemFileSystem();

// The program's standard streams, open when it starts.
enum class StandardStream { Input, Output };

// Looks at what stream is open on: a regular file (with its device, number and size) or something
// else (a pipe, a terminal; on Windows all that is not a file on a disk). appending is set for a
// file opened to be added to (">>"; never on Windows, which does not tell).
std::error_code lookAtStream(StandardStream stream, FileInfo &info, bool &appending);

// Returns true when stream is open on the regular file at path (the same file, through links and
// hard links too): a write of path would replace it.
bool streamIsFile(StandardStream stream, const std::filesystem::path &path);

// Returns the form of path that the system takes as it is: the long form on Windows (absolute, with
// "." and ".." taken away as the system would: \\?\C:\...), so that names that end in a dot or a
// space, names of devices (con, nul) and paths over 260 characters all reach what they name; path
// itself elsewhere.
std::filesystem::path systemPath(const std::filesystem::path &path);

// A folder opened through a file system for the names in it, closed with its last holder.
class Folder {
public:
    Folder(FileSystem &system, std::filesystem::path path, FileHandle handle, bool flushable)
        : system_(system), path_(std::move(path)), handle_(handle), flushable_(flushable)
    {
    }
    ~Folder();
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    FileHandle handle() const { return handle_; }
    // The folder as the caller named it (empty: the current folder).
    const std::filesystem::path &path() const { return path_; }
    bool flushable() const { return flushable_; }
    // Returns its status, looked up once; raises CommandFailure with the system's reason.
    const FileInfo &info();

private:
    FileSystem &system_;
    std::filesystem::path path_;
    FileHandle handle_;
    bool flushable_;
    bool looked_ = false;
    FileInfo info_;
};

using FolderPtr = std::shared_ptr<Folder>;

// Opens the folder name (relative to at; a path from the current folder when at is null, empty
// for the current folder itself) and names it path. Raises CommandFailure with the system's reason.
FolderPtr openFolder(FileSystem &system, const Folder *at, const NameChar *name, std::filesystem::path path);

// Returns the folder that path is in, opened.
FolderPtr openFolderOf(FileSystem &system, const std::filesystem::path &path);

// Makes folder and every missing folder above it. With flushParents the name of each folder made
// is put on the disk before this returns, so that a file flushed in it later cannot vanish with it
// (a caller that flushes the whole file system later needs no such flush). Returns the system's
// error: not_a_directory when something else is there. On failure, failed (when given) is set to
// the folder that could not be made: folder or one above it (never one below the first that failed).
std::error_code makeFolders(FileSystem &system, const std::filesystem::path &folder, bool flushParents,
                            std::filesystem::path *failed = nullptr);

} // namespace quillarn
