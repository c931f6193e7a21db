// Where a write goes on POSIX systems (writerparts.h): the file that a name stands for once symbolic
// links are followed under the rule of shared folders, or the FIFO, device or descriptor of a
// process that is written into as it stands.
#include "writerparts.h"

#include <sys/stat.h>

namespace quillarn {

namespace writer {

namespace {

// Links followed in a row before the write fails, as the system's own lookups allow.
constexpr int maxLinks = 40;

constexpr Said anotherUsersLink = Said::AnotherUsersLink;

using Type = std::filesystem::file_type;

[[noreturn]] void failWith(std::errc error)
{
    writer::failWith(std::make_error_code(error));
}

// Returns true when a symbolic link that owner made in folder may be followed: anywhere but in a
// sticky folder that anyone may write to, where only the user's own links and those of the
// folder's owner are (the rule of Linux's fs.protected_symlinks), so that nobody can make another
// user's write land in a file of that user's choosing.
bool mayFollowLink(const FileInfo &link, Folder &folder)
{
    const FileInfo &info = folder.info();
    const bool shared = (info.mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link.own || link.owner.user == info.owner.user;
}

NameText readLink(FileSystem &system, const Folder &folder, const NameText &name)
{
    NameText to;
    if (const std::error_code error = system.readLink(folder, name.c_str(), to))
        writer::failWith(error);
    return to;
}

// Returns the reason a target of the type given is not written, or nothing when it is written
// into: a block device would be a disk, and a socket cannot be opened as a file.
std::optional<Said> refusedSpecial(Type type)
{
    if (type == Type::block)
        return Said::BlockDevice;
    if (type == Type::socket)
        return Said::Socket;
    return std::nullopt;
}

// Returns name in folder as a target written into when it is a FIFO or a character device, or
// reached (info) through a link of the file system of processes; raises for a folder, a block
// device or a socket reached so. Returns nothing for anything else.
std::optional<Target> specialTarget(const FolderPtr &folder, const NameText &name, const FileInfo &info,
                                    bool processLink)
{
    if (info.type != Type::fifo && info.type != Type::character && !processLink)
        return std::nullopt;
    if (info.type == Type::directory)
        failWith(std::errc::is_a_directory);
    if (const std::optional<Said> reason = refusedSpecial(info.type))
        throw CommandFailure(*reason);
    return Target{folder, name, true, info, true};
}

} // namespace

Target resolveTarget(FileSystem &system, FolderPtr folder, NameText name, ExistingTarget existing)
{
    const bool keep = existing == ExistingTarget::Keep;
    bool named = false; // whether name, as given, is there
    try {
        for (int links = 0;; ++links) {
            if (name.empty() || name == "." || name == "..")
                failWith(std::errc::is_a_directory);
            Target target{folder, name};
            const std::error_code looked = system.look(folder.get(), name.c_str(), false, target.info);
            if (!looked)
                target.exists = true;
            else if (looked != std::errc::no_such_file_or_directory)
                writer::failWith(looked);
            named = named || (links == 0 && target.exists);
            if (!target.exists) {
                if (keep && named)
                    throw TargetExists(); // a link to nothing is kept too
                return target;
            }
            if (target.info.type == Type::symlink) {
                if (!mayFollowLink(target.info, *folder)) {
                    if (keep)
                        throw TargetExists();
                    throw CommandFailure(anotherUsersLink);
                }
                // What the system reaches through the link: one written into is opened through it,
                // as only the system can follow a link of the file system of processes.
                FileInfo reached;
                if (!system.look(folder.get(), name.c_str(), true, reached)) {
                    if (auto special = specialTarget(folder, name, reached, folder->info().processes))
                        return *special;
                }
                if (links == maxLinks)
                    failWith(std::errc::too_many_symbolic_link_levels);
                const NameText to = readLink(system, *folder, name);
                const std::size_t slash = to.rfind('/');
                if (slash != NameText::npos) {
                    const NameText part = slash == 0 ? "/" : to.substr(0, slash);
                    const bool absolute = to[0] == '/';
                    folder = openFolder(system, absolute ? nullptr : folder.get(), part.c_str(),
                                        absolute ? std::filesystem::path(part) : folder->path() / part);
                }
                name = to.substr(slash == NameText::npos ? 0 : slash + 1);
                continue;
            }
            if (auto special = specialTarget(folder, name, target.info, false))
                return *special;
            if (keep)
                throw TargetExists();
            if (target.info.type == Type::directory)
                failWith(std::errc::is_a_directory);
            if (const std::optional<Said> reason = refusedSpecial(target.info.type))
                throw CommandFailure(*reason);
            return target;
        }
    } catch (const TargetExists &) {
        throw;
    } catch (const CommandFailure &) {
        // With Keep a name that is there is kept, whatever following it would have met.
        if (keep && named)
            throw TargetExists();
        throw;
    }
}

} // namespace writer

} // namespace quillarn
