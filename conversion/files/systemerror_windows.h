// The errors of Windows as std::error_code: their reasons read as on other systems where a common
// failure has one there, and compare equal to std::errc where a caller asks.
#pragma once

#include <system_error>

namespace quillarn {

// Returns the error of the system's error code (GetLastError).
std::error_code windowsError(unsigned long error);

} // namespace quillarn
