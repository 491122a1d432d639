// The file and clock pieces of the log writer on Windows, open to its tests.
#pragma once

#include "log/log.h"

#include <cstdint>
#include <string>

namespace tde {

// What became of opening the file a run was asked to log to.
enum class RequestedLogOpen {
    Opened,     // emptied, and every entry for its key goes through the one handle
    Failed,     // could not be opened
    Link,       // the name itself is a link of some kind (reparse point, hard link)
    Elsewhere,  // the opened file is not at the requested path: a link in a parent folder
};

// GetFinalPathNameByHandleW of the handle (a HANDLE); empty when it fails.
std::wstring FinalPathByHandle(void* handle);
using FinalPathLookup = std::wstring (*)(void* handle);

// True when a final path names the requested full path: the \\?\ prefix is
// dropped and \\?\UNC\ becomes \\, short names in the request are expanded,
// and letter case is ignored ordinally.
bool IsRequestedPath(const std::wstring& finalPath, const std::wstring& requested);

// Opens the file at the full path once for the rest of the process: OPEN_ALWAYS,
// nothing written or emptied until the handle's final path is the requested
// one. A file this call created for a path it then refuses is deleted through
// the handle. `key` is the path the entry points are given for it. With `append`
// the file keeps its content and entries follow it.
RequestedLogOpen OpenRequestedLogFile(const std::wstring& fullPath, const std::string& key,
                                      bool append = false,
                                      FinalPathLookup finalPath = FinalPathByHandle);

// "file_YYYYmmdd_HHMMSS.txt" for a FILETIME, in local time.
std::string LogFileNameAt(std::uint64_t fileTime);

// The writer behind the entry points.
LogWriter& ProcessLogWriter();

}  // namespace tde
