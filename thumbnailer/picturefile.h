// The files of quillarn-thumbnailer: the record it reads, of a bounded size, and the picture it
// writes into OUTPUT itself, where file managers read it (tumbler through the descriptor of the
// file it made, GNOME by its name), never over the record.
#pragma once

#include "commandfailure.h"

#include <cstdint>
#include <string>
#include <string_view>

// The largest record read: a game is a few kilobytes, and a file manager runs the thumbnailer on
// whatever a folder holds.
constexpr long long maxRecordBytes = 16 << 20;

// Which file a path names, links followed.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
};

// Raised by writePicture when OUTPUT is the record: nothing was written.
class OutputIsInput : public quillarn::CommandFailure {
public:
    OutputIsInput() : CommandFailure("the output is the source") {}
};

// Returns the bytes of the regular file at path and sets identity to it. Raises CommandFailure
// with the system's reason, for a file that is not regular (a folder, a FIFO: never waited for), and
// for one over maxRecordBytes, which is judged by its size before it is read.
std::string readRecord(const std::string &path, FileIdentity &identity);

// Writes png into the file at path. Raises OutputIsInput when path names the file input names (by
// their names made absolute and normal, or by the file they lead to, through any link), and
// CommandFailure with the system's reason when the picture could not be written in full: then a
// file this made is removed, a file that was empty is empty again, and a file that held something
// holds it still. How: quillarn::writeFileAtomically, which writes a new file, an empty one of the
// user's own with no other name, and a file that is not regular (a FIFO, a device) where it is, so
// that a reader holding it open reads the picture; it replaces any other regular file with a
// complete new one (so another user's empty file, or a hard link, is not written through), and
// follows a symbolic link only under the rule of shared folders.
void writePicture(const std::string &path, std::string_view png, const std::string &input,
                  const FileIdentity &inputIdentity);
