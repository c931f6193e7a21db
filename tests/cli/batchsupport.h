// What the batch suites share: ugi2sgf run in a folder, on a terminal, or as a batch in a child
// process; the data files copied into place.
#pragma once

#include "../support/process.h"
#include "../support/testfiles.h"

#include "batch.h"
#include "batchitem.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace batch_support {

namespace fs = std::filesystem;
using testing_support::ChildSetup;
using testing_support::Outcome;
using testing_support::readBytes;
using testing_support::run;
using testing_support::writeBytes;

// Runs ugi2sgf in folder (so that the paths it prints are relative to it).
inline Outcome ugi2sgf(const fs::path &folder, const std::vector<std::string> &args)
{
    ChildSetup setup;
    setup.workingDirectory = folder.string();
    return run(UGI2SGF, args, setup);
}

// Returns text with the folder separator ugi2sgf uses in the paths it builds: "\\" on Windows.
inline std::string slashes(std::string text)
{
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '/', '\\');
#endif
    return text;
}

#ifndef _WIN32
// Runs ugi2sgf in folder with standard output and standard error on a pseudo-terminal, in the C
// locale; returns what it wrote there. With signal, sends it to ugi2sgf once it has written seen.
inline std::string ugi2sgfOnTerminal(const fs::path &folder, const std::vector<std::string> &args,
                                     int signal = 0, const std::string &seen = {})
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return "(no pseudo-terminal)";
    const std::string terminal = ::ptsname(master);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const int slave = ::open(terminal.c_str(), O_RDWR);
        if (slave < 0 || ::dup2(slave, 2) < 0 || ::dup2(slave, 1) < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            ::unsetenv(name);
        ::setenv("LANG", "C", 1);
        std::vector<char *> argv{const_cast<char *>(UGI2SGF)};
        for (const auto &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(UGI2SGF, argv.data());
        ::_exit(127);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            if (signal != 0 && text.find(seen) != std::string::npos) {
                ::kill(child, signal);
                signal = 0;
            }
        } else if (got == 0 || errno != EINTR)
            break; // EIO once the child has closed the terminal
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    return text;
}

// Starts a child process that converts items as ugi2sgf --force -q does, in groups of a few
// records so that groups are committed throughout the run; returns its process id.
inline pid_t startBatch(const std::vector<quillarn::BatchItem> &items)
{
    const pid_t child = ::fork();
    if (child == 0) {
        quillarn::BatchOptions options;
        options.force = true;
        options.quiet = true;
        options.workers = 4;
        options.groupLimits.files = 8;
        std::ostringstream messages;
        quillarn::runBatch(items, options, messages);
        ::_exit(0);
    }
    return child;
}
#endif

inline std::string dataFile(const std::string &name)
{
    return readBytes(fs::path(QUILLARN_TEST_DATA) / name);
}

inline void copyData(const std::string &name, const fs::path &to)
{
    fs::create_directories(to.parent_path());
    writeBytes(to, dataFile(name));
}

// The basic game as UTF-8: the same bytes as its code page 932 record (it is ASCII), with the
// charset first in the root node.
inline const std::string basicGameUtf8 =
    "(;CA[UTF-8]GN[Match]CP[x]RE[B+R]PB[Kuro]BR[3d]PW[Shiro]WR[2d]PC[Hall]"
    "DT[2000-10-24]SZ[19]HA[0]KM[6.5];B[qd];W[dp])\r\n";

} // namespace batch_support
