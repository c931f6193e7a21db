// The helper of bench/run.sh: makes its data and times commands.
//   quillarn_benchtool record FILE MEGABYTES     one record with a data section of that size (in MiB,
//                                                fractions allowed)
//   quillarn_benchtool tree DIR COUNT MOVES      COUNT records of about MOVES moves in folders
//   quillarn_benchtool time RUNS COMMAND...      "WALL CPU": the best wall time and the best CPU
//                                                time (user + system) of RUNS runs, in seconds,
//                                                with the command's standard output discarded
#include "records.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool writeFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        std::cerr << "quillarn_benchtool: cannot write " << path.string() << "\n";
    return static_cast<bool>(out);
}

int makeTree(const std::filesystem::path &root, unsigned count, std::size_t moves)
{
    // 100 records to a folder, in club-NN/year-NNNN folders, as an archive is kept.
    for (unsigned n = 0; n < count; ++n) {
        char folder[64];
        std::snprintf(folder, sizeof folder, "club-%02u/year-%04u", n / 1000, 1990 + n / 100 % 10);
        std::filesystem::create_directories(root / folder);
        char name[32];
        std::snprintf(name, sizeof name, "game-%05u.ugi", n);
        // Lengths vary around the typical count, as real games do.
        const std::size_t length = moves - std::min<std::size_t>(moves, 50) + n % 101;
        if (!writeFile(root / folder / name, benchdata::makeRecord(length, n)))
            return 1;
    }
    return 0;
}

double seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Wall time from the fork to the end of the child; CPU time from the kernel's account of it,
// which other work on the machine does not inflate.
int timeCommand(int runs, char **command)
{
    double bestWall = 0;
    double bestCpu = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child < 0) {
            std::perror("quillarn_benchtool: fork");
            return 1;
        }
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0)
                ::_exit(127);
            ::execvp(command[0], command);
            std::perror(command[0]);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::cerr << "quillarn_benchtool: " << command[0] << " failed\n";
            return 1;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
        bestWall = run == 0 ? wall : std::min(bestWall, wall);
        bestCpu = run == 0 ? cpu : std::min(bestCpu, cpu);
    }
    std::printf("%.4f %.4f\n", bestWall, bestCpu);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 4) {
        const double megabytes = std::strtod(argv[3], nullptr);
        const auto bytes = static_cast<std::size_t>(megabytes * (1 << 20));
        return writeFile(argv[2], benchdata::makeRecordWithData(bytes)) ? 0 : 1;
    }
    if (mode == "tree" && argc == 5)
        return makeTree(argv[2], static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)),
                        std::strtoul(argv[4], nullptr, 10));
    if (mode == "time" && argc >= 4 && std::atoi(argv[2]) > 0)
        return timeCommand(std::atoi(argv[2]), argv + 3);
    std::cerr
        << "usage: quillarn_benchtool record FILE MEGABYTES | tree DIR COUNT MOVES | time RUNS COMMAND...\n";
    return 2;
}
