// Child processes for the tests: ugi2sgf run with its output captured, its peak memory measured and
// a time limit, and (on POSIX systems) library calls made in a child under a file size limit or as
// an unprivileged user (permissions do not stop root, which CI runs as).
#pragma once

#include "../support/testfiles.h"

#include <string>
#include <vector>

namespace testing_support {

struct ChildSetup {
    bool unprivileged = false;    // when root, become the user nobody first
    long long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes, none when negative
    std::string standardOutput;   // a path for standard output instead of the capture
    std::string standardInput;    // a path for standard input instead of an empty one
    std::string workingDirectory; // for ugi2sgf; the test's own when empty
    std::string locale = "C";     // LANG, the only locale variable the program sees: C says English
    int timeoutSeconds = 60;
};

struct Outcome {
    int status = -1; // the exit status; -1 when the process did not exit by itself
    std::string out;
    std::string err;
    long peakMemoryKb = 0;
    bool killed = false;
};

} // namespace testing_support

#ifdef _WIN32

#include <windows.h>

namespace testing_support {

namespace detail {

// Returns text (UTF-8) as UTF-16.
inline std::wstring wide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

// Appends argument quoted so that the child's CommandLineToArgvW gives it back unchanged.
inline void appendQuoted(std::wstring &line, const std::wstring &argument)
{
    line += L" \"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

inline HANDLE inheritable(const std::filesystem::path &path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace detail

// Runs program with args (UTF-8), standard input empty unless set up, and captures both output
// streams as bytes.
inline Outcome run(const std::string &program, const std::vector<std::string> &args,
                   const ChildSetup &setup = {})
{
    const ScratchDir capture;
    const std::filesystem::path outPath =
        setup.standardOutput.empty() ? capture / "out" : std::filesystem::u8path(setup.standardOutput);
    const std::filesystem::path errPath = capture / "err";
    std::wstring line;
    detail::appendQuoted(line, detail::wide(program));
    for (const auto &arg : args)
        detail::appendQuoted(line, detail::wide(arg));
    line.erase(0, 1);

    const HANDLE in =
        detail::inheritable(setup.standardInput.empty() ? std::filesystem::path(L"NUL")
                                                        : std::filesystem::u8path(setup.standardInput),
                            GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = detail::inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = detail::inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // The child inherits the environment: the locale it is given, and no other.
    for (const wchar_t *name : {L"LC_ALL", L"LC_MESSAGES", L"LANGUAGE"})
        SetEnvironmentVariableW(name, nullptr);
    SetEnvironmentVariableW(L"LANG", detail::wide(setup.locale).c_str());
    const std::wstring folder = detail::wide(setup.workingDirectory);
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &process) != 0;
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    Outcome outcome;
    if (!started)
        return outcome;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(setup.timeoutSeconds) * 1000) !=
        WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        outcome.killed = true;
    } else {
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        outcome.status = static_cast<int>(status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (setup.standardOutput.empty())
        outcome.out = readBytes(outPath);
    outcome.err = readBytes(errPath);
    return outcome;
}

} // namespace testing_support

#else

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

// True when the process could drop to nobody, or need not (it is not root).
inline bool canRunUnprivileged()
{
    return ::geteuid() != 0 || ::getpwnam("nobody") != nullptr;
}

namespace detail {

// In the child, before anything else: the limits and the user. Failures end the child with 125.
inline void applySetup(const ChildSetup &setup)
{
    if (setup.fileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit),
                           static_cast<rlim_t>(setup.fileSizeLimit)};
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing the process
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(125);
    }
    if (setup.unprivileged && ::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0)
            ::_exit(125);
    }
}

// Waits for pid at most timeoutSeconds, killing it past that; returns its wait status.
inline int waitFor(pid_t pid, int timeoutSeconds, rusage *usage, bool *killed)
{
    *killed = false;
    int status = 0;
    for (int waited = 0;; ++waited) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, usage);
        if (done == pid)
            return status;
        if (done < 0 && errno != EINTR)
            return -1;
        if (waited >= timeoutSeconds * 100 && !*killed) {
            ::kill(pid, SIGKILL);
            *killed = true;
        }
        ::usleep(10000);
    }
}

} // namespace detail

// Returns what body returned when run in a child process set up as asked, or how the child ended
// when it did not return (a crash, an exception, the time limit).
inline std::string inChild(const std::function<std::string()> &body, const ChildSetup &setup = {})
{
    const ScratchDir folder;
    const std::string resultPath = (folder / "result").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Opened before the user changes, so that nobody can write it too.
        const int result = ::open(resultPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (result < 0)
            ::_exit(126);
        detail::applySetup(setup);
        std::string text;
        try {
            text = body();
        } catch (const std::exception &error) {
            text = std::string("(exception: ") + error.what() + ")";
        }
        const bool written = ::write(result, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 124); // no exit handlers: the test framework's state is the parent's
    }
    rusage usage{};
    bool killed = false;
    const int status = detail::waitFor(pid, setup.timeoutSeconds, &usage, &killed);
    if (killed)
        return "(child killed after " + std::to_string(setup.timeoutSeconds) + " s)";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "(child ended with status " + std::to_string(status) + ")";
    return readBytes(resultPath);
}

// Runs program with args, standard input empty unless set up, and captures both output streams as
// bytes.
inline Outcome run(const std::string &program, const std::vector<std::string> &args,
                   const ChildSetup &setup = {})
{
    const ScratchDir capture;
    std::string executable = program;
    if (setup.unprivileged && ::geteuid() == 0) {
        // The build folder may be closed to other users: nobody runs a copy it can reach.
        executable = (capture / "program").string();
        std::filesystem::copy_file(program, executable);
        ::chmod(capture.path().c_str(), 0755);
        ::chmod(executable.c_str(), 0755);
    }
    const std::string outPath =
        setup.standardOutput.empty() ? (capture / "out").string() : setup.standardOutput;
    const std::string errPath = (capture / "err").string();
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(executable.c_str()));
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Opened before the user changes, so nobody can write the capture files too.
        const int in =
            ::open(setup.standardInput.empty() ? "/dev/null" : setup.standardInput.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        if (!setup.workingDirectory.empty() && ::chdir(setup.workingDirectory.c_str()) != 0)
            ::_exit(126);
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            ::unsetenv(name);
        ::setenv("LANG", setup.locale.c_str(), 1);
        detail::applySetup(setup);
        // ugi2sgf must ignore SIGXFSZ itself: an ignored signal would stay ignored across exec.
        std::signal(SIGXFSZ, SIG_DFL);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    Outcome outcome;
    rusage usage{};
    const int status = detail::waitFor(pid, setup.timeoutSeconds, &usage, &outcome.killed);
    if (WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    outcome.peakMemoryKb = usage.ru_maxrss;
    if (setup.standardOutput.empty())
        outcome.out = readBytes(outPath);
    outcome.err = readBytes(errPath);
    return outcome;
}

} // namespace testing_support

#endif // _WIN32
