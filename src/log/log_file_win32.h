// The file and clock pieces of the log writer on Windows, open to its tests.
#pragma once

#include "log/log.h"

#include <cstdint>
#include <string>

namespace tde {

// Creates the file at path, or empties the one there. False, touching nothing,
// when it cannot be opened or when the path is a link of any kind (reparse
// point or a file with more than one name).
bool CreateLogFile(const std::string& path);

// Appends line + "\n" through a handle opened without following links.
AppendOutcome AppendLineNoFollow(const std::string& path, const std::string& line);

// "file_YYYYmmdd_HHMMSS.txt" for a FILETIME, in local time.
std::string LogFileNameAt(std::uint64_t fileTime);

// The writer behind the entry points.
LogWriter& ProcessLogWriter();

}  // namespace tde
