// The file-system layer: the system's own and the tests' forgetful one answer every call alike, and
// a group writer refuses a flush that its file system cannot do.
#include "filesystem.h"
#include "groupwriter.h"

#include "../support/forgetfuldisk.h"
#include "../support/testfiles.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quillarn;

namespace {

// Makes, writes, renames and removes in folder base through system; returns what each call gave.
std::string callsIn(FileSystem &system, const fs::path &base)
{
    std::string log;
    const auto note = [&](const std::string &call, std::error_code error) {
        log += call + ": " + (error ? error.message() : "done") + "\n";
    };
    note("make", system.makeFolder(base / "made"));
    note("make again", system.makeFolder(base / "made"));
    note("make in a missing folder", system.makeFolder(base / "missing" / "x"));
    note("make with parents", makeFolders(system, base / "a" / "b", true));
    std::error_code error;
    for (const Listed &entry : system.listFolder(base / "a", error))
        log +=
            "listed " + entry.name.u8string() + (entry.type == fs::file_type::directory ? " folder\n" : "\n");

    const FolderPtr folder = openFolder(system, nullptr, (base / "made").c_str(), base / "made");
    const auto create = [&](const char *name, const std::string &bytes) {
        File file;
        note(std::string("create ") + name, system.createFile(*folder, fs::path(name).c_str(), 0644, file));
        if (file.isOpen()) {
            note("write", file.write("old " + bytes));
            note("truncate", file.truncate());
            note("write", file.write(bytes));
            note("flush", file.flush());
            note("close", file.close());
        }
    };
    create("f", "abc");
    create("f", "abc");
    create("g", "xyz");
    fs::path failed;
    note("make with parents below a file",
         makeFolders(system, base / "made" / "f" / "x" / "y", false, &failed));
    log += "not made: " + failed.lexically_relative(base).generic_string() + "\n";
    FileInfo info;
    std::string start;
    note("look into f", system.lookInto(*folder, fs::path("f").c_str(), info, start, 2));
    log += "f: " + std::to_string(info.size) + " bytes, starts " + start + "\n";
    note("rename without replacing",
         system.rename(*folder, fs::path("g").c_str(), fs::path("f").c_str(), false));
    note("rename", system.rename(*folder, fs::path("g").c_str(), fs::path("f").c_str(), true));
    note("flush folder", system.flushFolder(*folder));
    ReadBuffer buffer;
    log += "f holds " + std::string(readFileInto(system, base / "made" / "f", buffer)) + "\n";
    note("remove", system.remove(*folder, fs::path("f").c_str()));
    note("remove again", system.remove(*folder, fs::path("f").c_str()));
    note("look", system.look(folder.get(), fs::path("f").c_str(), false, info));
    log += "made holds " + std::to_string(system.listFolder(base / "made", error).size()) + "\n";
    return log;
}

} // namespace

TEST(FileSystemLayer, TheSystemsAndTheForgetfulDiskAnswerEveryCallAlike)
{
    testing_support::ScratchDir dir;
    testing_support::ForgetfulDisk disk;
    disk.addFolder("/scratch", {});
    const std::string expected = "make: done\n"
                                 "make again: File exists\n"
                                 "make in a missing folder: No such file or directory\n"
                                 "make with parents: done\n"
                                 "listed b folder\n"
                                 "create f: done\nwrite: done\ntruncate: done\nwrite: done\nflush: done\n"
                                 "close: done\n"
                                 "create f: File exists\n"
                                 "create g: done\nwrite: done\ntruncate: done\nwrite: done\nflush: done\n"
                                 "close: done\n"
                                 "make with parents below a file: Not a directory\n"
                                 "not made: made/f\n"
                                 "look into f: done\n"
                                 "f: 3 bytes, starts ab\n"
                                 "rename without replacing: File exists\n"
                                 "rename: done\n"
                                 "flush folder: done\n"
                                 "f holds xyz\n"
                                 "remove: done\n"
                                 "remove again: No such file or directory\n"
                                 "look: No such file or directory\n"
                                 "made holds 0\n";
    EXPECT_EQ(callsIn(systemFileSystem(), dir.path()), expected);
    EXPECT_EQ(callsIn(disk, "/scratch"), expected);
}

// Asked of a file system that cannot, either would pass for done without being done.
TEST(FileSystemLayer, AGroupWriterRefusesAFlushTheFileSystemCannotDo)
{
    testing_support::ForgetfulDisk disk;
    disk.ableToFlushFileSystems = false;
    LeftoverTemporaries leftovers;
    GroupLimits limits;
    limits.system = &disk;
    for (const auto &[method, startWriteBack, reason] :
         {std::tuple{
              FlushMethod::FileSystem, false,
              "FlushMethod::FileSystem: this system cannot flush a whole file system (FlushMethod::EachFile "
              "can)"},
          {FlushMethod::EachFile, true,
           "GroupLimits::startWriteBack: this system cannot start the write-back of a file without waiting "
           "for "
           "it"},
          {FlushMethod::EachFile, false, ""}}) {
        limits.method = method;
        limits.startWriteBack = startWriteBack;
        std::string refused;
        try {
            GroupWriter group(leftovers, limits);
        } catch (const std::invalid_argument &error) {
            refused = error.what();
        }
        EXPECT_EQ(refused, reason);
    }
#ifdef _WIN32
    EXPECT_THROW(GroupWriter(leftovers, GroupLimits()), std::invalid_argument);
    EXPECT_NO_THROW(GroupWriter(leftovers, defaultGroupLimits()));
#endif
}
