// Helpers the test suites share: scratch folders and whole-file reads and writes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir()
    {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / ("quillarn-test-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::string readBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Names of the files in folder, sorted.
inline std::string listing(const std::filesystem::path &folder)
{
    std::string names;
    std::vector<std::string> all;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        all.push_back(entry.path().filename().u8string());
    std::sort(all.begin(), all.end());
    for (const auto &name : all)
        names += name + " ";
    return names;
}

} // namespace testing_support
