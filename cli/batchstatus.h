// What a batch tells as it runs, and nothing of how it is shown: batch.cpp decides what to say,
// the command line's TerminalStatus (terminal.h) owns the terminal it is said on, and a test can
// listen in between.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace quillarn {

class BatchStatus {
public:
    virtual ~BatchStatus() = default;
    // Says how far the batch is: done of total items (0 when the total is not known), current the
    // source of the item it waits for now.
    virtual void progress(std::size_t done, std::size_t total, const std::filesystem::path &current) = 0;
    // A message about an item: "source: reason" lines, each with its line end.
    virtual void message(const std::string &lines) = 0;
    // Returns true once messages can no longer be shown (the reader went away): the batch then
    // starts no further record, as after an interruption.
    virtual bool closed() const { return false; }
};

} // namespace quillarn
