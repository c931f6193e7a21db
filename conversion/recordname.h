// The name of the SGF record file that a UGI source's file becomes, for ugi2sgf's batch and the web
// page alike, so that both name every record the same way.
#pragma once

#include <string>

namespace quillarn {

// Returns the SGF file name (UTF-8) for a source file name (UTF-8): NAME.sgf, NAME being the name without its
// extension (without ".ugi" in any letter case).
std::string targetFileName(const std::string &sourceName);

} // namespace quillarn
