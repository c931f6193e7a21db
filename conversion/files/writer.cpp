// The writer (recordfile.h): a record file written through a temporary file created beside its
// target, flushed, renamed over the target and the rename flushed with its folder, or into a FIFO or
// device as it stands. Every call that looks at, changes or flushes a file or a folder goes through
// a FileSystem (filesystem.h): the system's own, or a test's.
#include "writerparts.h"

namespace quillarn {

namespace writer {

namespace {

// The temporary file of a record, beside its target: created with the first bytes written to it,
// with the target's permission bits (for a new file, those the umask leaves of 0666) and, where the
// system allows, its owner, after the leftovers of the target's name in its folder have been
// removed. Raises CommandFailure with the system's reason.
class TemporaryFile : public RecordSink {
public:
    TemporaryFile(FileSystem &system, const Target &target, LeftoverTemporaries &leftovers,
                  TemporaryHold &hold)
        : system_(system), target_(target), leftovers_(leftovers), hold_(hold)
    {
    }
    ~TemporaryFile() override { remove(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    void write(std::string_view bytes) override
    {
        if (!file_.isOpen())
            create();
        if (const std::error_code error = file_.write(bytes))
            failWith(error);
        size_ += bytes.size();
    }

    bool created() const { return file_.isOpen(); }
    std::size_t size() const { return size_; }

    // Returns the file, which the caller now owns.
    Staged release() { return Staged{target_, std::move(temporary_), std::move(file_)}; }

private:
    void create()
    {
        const Folder &folder = *target_.folder;
        leftovers_.removeFor(system_, folder, target_.name);
        const NameText tag = hold_.holdIn(target_.folder);
        // Never readable by more users than the file it replaces, not even for a moment.
        const unsigned mode = target_.exists ? target_.info.mode : 0666;
        for (int attempt = 1;; ++attempt) {
            temporary_ = temporaryName(target_.name, tag);
            const std::error_code error = system_.createFile(folder, temporary_.c_str(), mode, file_);
            if (!error)
                break;
            if (error != std::errc::file_exists || attempt == temporaryNameAttempts)
                failWith(error);
        }
        if (target_.exists) {
            if (const std::error_code error = file_.keepOwnerAndMode(target_.info))
                failWith(error);
        }
    }

    // Closes and removes a file that was not released.
    void remove()
    {
        if (!file_.isOpen())
            return;
        file_.close();
        system_.remove(*target_.folder, temporary_.c_str());
    }

    FileSystem &system_;
    const Target &target_;
    LeftoverTemporaries &leftovers_;
    TemporaryHold &hold_;
    NameText temporary_;
    File file_;
    std::size_t size_ = 0;
};

// A target written into as it stands (Target::special): opened with the first bytes written to it,
// so that nothing is opened for a record that fails (opening a FIFO waits for its reader), and
// appended to, so that a file behind a descriptor (/dev/stdout > log) keeps what it held. Raises
// CommandFailure with the system's reason.
class SpecialFile : public RecordSink {
public:
    SpecialFile(FileSystem &system, const Target &target) : system_(system), target_(target) {}

    void write(std::string_view bytes) override
    {
        if (!file_.isOpen()) {
            if (const std::error_code error =
                    system_.openToAppend(*target_.folder, target_.name.c_str(), file_))
                failWith(error);
        }
        if (const std::error_code error = file_.write(bytes))
            failWith(error);
    }

    // Closes it; returns false when nothing was written.
    bool finish()
    {
        if (!file_.isOpen())
            return false;
        if (const std::error_code error = file_.close())
            failWith(error);
        return true;
    }

private:
    FileSystem &system_;
    const Target &target_;
    File file_;
};

// A file written where it stands (WriteOptions::newOrEmptyInPlace). Raises CommandFailure with the
// system's reason.
class InPlaceFile : public RecordSink {
public:
    explicit InPlaceFile(File &file) : file_(file) {}
    void write(std::string_view bytes) override
    {
        if (const std::error_code error = file_.write(bytes))
            failWith(error);
        written_ = written_ || !bytes.empty();
    }
    bool written() const { return written_; }

private:
    File &file_;
    bool written_ = false;
};

// Writes what produce writes into path where it stands when it is new, or an empty regular file of
// the user's own with one name; returns nothing, having opened nothing, for any other target.
std::optional<bool> writeInPlace(FileSystem &system, const std::filesystem::path &path,
                                 const RecordProducer &produce)
{
    const FolderPtr folder = openFolderOf(system, path);
    const NameText name = path.filename().native();
    FileInfo looked;
    File file;
    bool made = false;
    if (const std::error_code error = system.look(folder.get(), name.c_str(), false, looked)) {
        if (error != std::errc::no_such_file_or_directory)
            failWith(error);
        const std::error_code created = system.createFile(*folder, name.c_str(), 0666, file);
        if (created == std::errc::file_exists)
            return std::nullopt; // one that appeared meanwhile is judged as any other
        if (created)
            failWith(created);
        made = true;
    } else if (looked.type != std::filesystem::file_type::regular || looked.size != 0 || looked.links != 1 ||
               !looked.own) {
        return std::nullopt;
    } else if (const std::error_code error = system.openToAppend(*folder, name.c_str(), file)) {
        failWith(error);
    }
    // What is written into is what was judged: a name put on another file meanwhile (a link, one
    // with something in it) is left to the writer's rules.
    FileInfo opened;
    if (const std::error_code error = file.status(opened))
        failWith(error);
    if (!made && (opened.type != std::filesystem::file_type::regular || opened.device != looked.device ||
                  opened.file != looked.file || opened.size != 0))
        return std::nullopt;
    InPlaceFile sink(file);
    try {
        produce(sink);
        if (const std::error_code error = file.flush())
            failWith(error);
        if (const std::error_code error = file.close())
            failWith(error);
    } catch (...) {
        // No part of it stays: the file made goes while its name still leads to it; the one that
        // was empty is empty again.
        FileInfo now;
        if (!made)
            file.truncate();
        else if (!system.look(folder.get(), name.c_str(), false, now) && now.device == opened.device &&
                 now.file == opened.file)
            system.remove(*folder, name.c_str());
        throw;
    }
    return sink.written();
}

} // namespace

[[noreturn]] void failWith(std::error_code error)
{
    throw CommandFailure(error);
}

Reason unflushedFolder(std::error_code error)
{
    return Reason(Said::FolderNotFlushed, {Reason(error)});
}

std::optional<Staged> writeTemporary(FileSystem &system, const Target &target, const RecordProducer &produce,
                                     LeftoverTemporaries &leftovers, TemporaryHold &hold, std::size_t *size,
                                     const Modified &modified)
{
    TemporaryFile file(system, target, leftovers, hold);
    produce(file);
    if (size != nullptr)
        *size = file.size();
    if (!file.created())
        return std::nullopt;
    Staged staged = file.release();
    // A file system that keeps no such time (or refuses it) still holds the record.
    if (modified)
        staged.file.setModified(*modified);
    return staged;
}

std::error_code putInPlace(FileSystem &system, const Staged &staged, ExistingTarget existing)
{
    return system.rename(*staged.target.folder, staged.temporary.c_str(), staged.target.name.c_str(),
                         existing == ExistingTarget::Replace);
}

} // namespace writer

using namespace writer;

void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes)
{
    LeftoverTemporaries leftovers;
    writeFileAtomically(path, bytes, leftovers);
}

void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes,
                         LeftoverTemporaries &leftovers, const WriteOptions &options)
{
    writeFileAtomically(
        path, [bytes](RecordSink &sink) { sink.write(bytes); }, leftovers, options);
}

bool writeFileAtomically(const std::filesystem::path &path, const RecordProducer &produce,
                         LeftoverTemporaries &leftovers, const WriteOptions &options)
{
    FileSystem &system = options.system ? *options.system : systemFileSystem();
    if (options.newOrEmptyInPlace) {
        if (const std::optional<bool> written = writeInPlace(system, path, produce))
            return *written;
    }
    const Target target =
        resolveTarget(system, openFolderOf(system, path), path.filename().native(), options.existing);
    if (target.special) {
        if (!options.writeIntoSpecialFiles)
            throw CommandFailure(specialTargetInGroup);
        SpecialFile file(system, target);
        produce(file);
        return file.finish();
    }
    TemporaryHold hold(system); // let go of once the temporary file is renamed or removed
    std::optional<Staged> staged =
        writeTemporary(system, target, produce, leftovers, hold, nullptr, options.modified);
    if (!staged)
        return false;
    const Folder &folder = *staged->target.folder;
    // The data reaches the disk before the rename: the system may write a rename before the data of
    // the file renamed, and a power cut between the two would leave the target's name on a file
    // that lost its data.
    std::error_code error = staged->file.flush();
    // A failed close can mean the data never reached the disk.
    const std::error_code closed = staged->file.close();
    if (!error)
        error = closed;
    if (!error)
        error = putInPlace(system, *staged, options.existing);
    if (error) {
        system.remove(folder, staged->temporary.c_str());
        if (error == std::errc::file_exists && options.existing == ExistingTarget::Keep)
            throw TargetExists();
        failWith(error);
    }
    // Then the rename, which reaches the disk with its folder; until then a power cut can undo it,
    // and the write is not done. A folder that cannot be read cannot be flushed by itself: there
    // the system flushes it in its time.
    if (folder.flushable()) {
        if (const std::error_code flushed = system.flushFolder(folder))
            throw CommandFailure(unflushedFolder(flushed));
    }
    return true;
}

Reason refusedTargetReason(const std::filesystem::path &path)
{
    try {
        FileSystem &system = systemFileSystem();
        resolveTarget(system, openFolderOf(system, path), path.filename().native(), ExistingTarget::Replace);
        return {};
    } catch (const CommandFailure &failure) {
        return failure.said();
    }
}

bool isWrittenInto(const std::filesystem::path &path)
{
    try {
        FileSystem &system = systemFileSystem();
        return resolveTarget(system, openFolderOf(system, path), path.filename().native(),
                             ExistingTarget::Replace)
            .special;
    } catch (const CommandFailure &) {
        return false;
    }
}

} // namespace quillarn
