// Grouped durable writing for groupwriter.h.
#include "groupwriter.h"

#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillarn {

namespace fs = std::filesystem;

GroupLimits defaultGroupLimits()
{
    GroupLimits limits;
#ifndef __linux__
    // syncfs and sync_file_range are Linux's own: elsewhere each file is flushed by itself, in
    // groups small enough to keep their files open.
    limits.method = FlushMethod::EachFile;
    limits.files = 64;
#endif
    return limits;
}

GroupWriter::GroupWriter(LeftoverTemporaries &leftovers, const GroupLimits &limits)
    : leftovers_(leftovers), limits_(limits)
{
}

GroupWriter::~GroupWriter()
{
    discard();
}

bool GroupWriter::full() const
{
    return members_.size() >= limits_.files || bytes_ >= limits_.bytes;
}

#ifndef _WIN32

namespace {

int syncFileSystem(int descriptor)
{
#ifdef __linux__
    return ::syncfs(descriptor);
#else
    (void)descriptor;
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

void GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes)
{
    StagedFile staged = stageFile(path, bytes, leftovers_);
    int descriptor = staged.descriptor;
    try {
#ifdef __linux__
        if (limits_.startWriteBack)
            ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        if (limits_.method == FlushMethod::FileSystem) {
            // Every file in a folder is on the folder's file system: one look per folder.
            const fs::path::string_type folder = staged.target.parent_path().native();
            auto known = deviceOfFolder_.find(folder);
            if (known == deviceOfFolder_.end()) {
                struct stat info {};
                if (::fstat(descriptor, &info) != 0)
                    throw CommandFailure(std::strerror(errno));
                known = deviceOfFolder_.emplace(folder, static_cast<unsigned long long>(info.st_dev)).first;
            }
            const unsigned long long device = known->second;
            if (std::none_of(devices_.begin(), devices_.end(),
                             [&](const Device &d) { return d.id == device; })) {
                // The first file of the group on this file system was opened before anything else
                // of the group was written there: its descriptor serves for the flush.
                devices_.push_back({device, descriptor});
                descriptor = -1;
            } else {
                const int closed = ::close(descriptor);
                descriptor = -1;
                if (closed != 0)
                    throw CommandFailure(std::strerror(errno));
            }
        }
        members_.push_back({id, staged.target, staged.temporary, descriptor});
    } catch (...) {
        if (descriptor >= 0)
            ::close(descriptor);
        ::unlink(staged.temporary.c_str());
        throw;
    }
    bytes_ += bytes.size();
}

std::string GroupWriter::flushDevices()
{
    const auto sync = limits_.syncFileSystem ? limits_.syncFileSystem : syncFileSystem;
    for (const Device &device : devices_) {
        if (sync(device.descriptor) != 0)
            return std::strerror(errno);
    }
    return {};
}

std::vector<std::pair<std::size_t, std::string>> GroupWriter::commit()
{
    std::vector<std::pair<std::size_t, std::string>> results;
    results.reserve(members_.size());
    for (const Member &member : members_)
        results.emplace_back(member.id, std::string());

    // The data of every file reaches the disk before any of them is renamed into place.
    std::string failure;
    if (limits_.method == FlushMethod::FileSystem) {
        failure = flushDevices();
    } else {
        for (std::size_t i = 0; i < members_.size(); ++i) {
            Member &member = members_[i];
            if (::fsync(member.descriptor) != 0)
                results[i].second = std::strerror(errno);
            if (::close(member.descriptor) != 0 && results[i].second.empty())
                results[i].second = std::strerror(errno);
            member.descriptor = -1;
        }
    }
    std::set<fs::path> folders; // of the files put in place
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const Member &member = members_[i];
        std::string &reason = results[i].second;
        if (!failure.empty())
            reason = failure;
        else if (reason.empty() && ::rename(member.temporary.c_str(), member.target.c_str()) != 0)
            reason = std::strerror(errno);
        if (!reason.empty())
            ::unlink(member.temporary.c_str());
        else
            folders.insert(member.target.parent_path());
    }

    // Then the renames themselves.
    std::string unflushed;
    if (limits_.method == FlushMethod::FileSystem) {
        if (failure.empty())
            unflushed = flushDevices();
    } else {
        for (const fs::path &folder : folders) {
            const int descriptor =
                ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (descriptor < 0 || ::fsync(descriptor) != 0)
                unflushed = std::strerror(errno);
            if (descriptor >= 0)
                ::close(descriptor);
        }
    }
    if (!unflushed.empty()) {
        for (auto &result : results) {
            if (result.second.empty())
                result.second = "written, but its folder could not be flushed to disk: " + unflushed;
        }
    }
    members_.clear();
    discard();
    return results;
}

void GroupWriter::discard()
{
    for (const Member &member : members_) {
        if (member.descriptor >= 0)
            ::close(member.descriptor);
        ::unlink(member.temporary.c_str());
    }
    for (const Device &device : devices_)
        ::close(device.descriptor);
    members_.clear();
    devices_.clear();
    bytes_ = 0;
}

#else

void GroupWriter::add(std::size_t id, const fs::path &path, std::string_view bytes)
{
    writeFileAtomically(path, bytes, leftovers_);
    members_.push_back({id, path, {}, -1});
    bytes_ += bytes.size();
}

std::vector<std::pair<std::size_t, std::string>> GroupWriter::commit()
{
    std::vector<std::pair<std::size_t, std::string>> results;
    for (const Member &member : members_)
        results.emplace_back(member.id, std::string());
    discard();
    return results;
}

void GroupWriter::discard()
{
    members_.clear();
    bytes_ = 0;
}

#endif

} // namespace quillarn
