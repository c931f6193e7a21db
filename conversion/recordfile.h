// Reading a UGI source file and writing an SGF record file. Writing goes through a temporary file
// in the target's folder that is renamed over the target, so a failed write never damages what was
// there and leaves no temporary file behind.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillarn {

// Returns the whole content of the regular file at path. Raises CommandFailure with the system's
// reason when it cannot be opened or read, when it is not a regular file (a folder, a FIFO), or
// when it is too large for a 32-bit position (checked before reading).
std::string readFileBytes(const std::filesystem::path &path);

// Returns the decoded text of the file at path (readFileBytes, then decodeAnsi).
std::u16string readSourceFile(const std::filesystem::path &path);

// Returns the bytes the save step writes for a record: the record text in code page 932 with
// CA[Shift_JIS] (CA[CP932] when it holds characters only code page 932 has) as the first property
// of its root node, then one CR LF; no byte-order mark. Raises CommandFailure as encodeAnsi does,
// and when recordText does not start with a root node.
std::string recordFileBytes(std::u16string_view recordText);

// Replaces the file at path with bytes atomically: written to a temporary file beside it, flushed
// to disk and renamed over it. An existing file keeps its permission bits and, where the system
// allows, its owner; through a symbolic link the file it points to is replaced. Raises CommandFailure
// with the system's reason; on failure the existing file is untouched and no temporary file stays.
// On Windows the temporary file is named as elsewhere (".NAME.XXXXXX"), a read-only file or one that
// another program holds open is refused with that reason, and the new file takes its folder's
// permissions.
void writeFileAtomically(const std::filesystem::path &path, std::string_view bytes);

// Writes recordFileBytes(recordText) to path through writeFileAtomically.
void writeRecordFile(const std::filesystem::path &path, std::u16string_view recordText);

} // namespace quillarn
