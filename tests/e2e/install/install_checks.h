// What an installation leaves in Windows, read back independently of the
// installer: the registered driver and its files, the queue, the staging folder,
// the log file and the records of the recording programs. Each check answers
// the list of what it found wrong, empty when all is well, so that the checks
// themselves can be shown to catch a wrong state.
#pragma once

#include "support/text.h"

#include <shlobj.h>
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tde::e2e {

using Problems = std::vector<std::string>;

using test::Narrow;
using test::WideFromUtf8;

inline bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

inline std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

inline std::wstring FolderOfPath(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

inline bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The system folder as this 32-bit process sees it (on 64-bit Windows the file
// system shows it syswow64 under that name).
inline std::wstring SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

// The installer's staging folder, with its trailing backslash.
inline std::wstring StagingFolder() {
    wchar_t programFiles[MAX_PATH] = {};
    if (SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE)) {
        return std::wstring(programFiles) + L"\\ZNWDriver\\DovEzuvar\\";
    }
    return L"C:\\ZNWDriver\\DovEzuvar\\";
}

inline std::wstring PrinterDriverDirectory() {
    wchar_t path[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(path),
                                    sizeof(path), &needed)) {
        return std::wstring();
    }
    return path;
}

// One level-2 enumeration of the local queues, or of the drivers at `level`.
inline std::vector<BYTE> EnumerateQueues(DWORD* count) {
    DWORD needed = 0;
    *count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 ||
        !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, count)) {
        *count = 0;
    }
    return buffer;
}

inline std::vector<BYTE> EnumerateDrivers(DWORD level, DWORD* count) {
    DWORD needed = 0;
    *count = 0;
    EnumPrinterDriversW(nullptr, nullptr, level, nullptr, 0, &needed, count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 ||
        !EnumPrinterDriversW(nullptr, nullptr, level, buffer.data(), needed, &needed, count)) {
        *count = 0;
    }
    return buffer;
}

// The names of the local queues whose driver is `driver`.
inline std::vector<std::wstring> QueuesUsingDriver(const std::wstring& driver) {
    DWORD count = 0;
    std::vector<BYTE> buffer = EnumerateQueues(&count);
    const auto* queues = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < count; ++i) {
        if (queues[i].pDriverName != nullptr && driver == queues[i].pDriverName) {
            names.emplace_back(queues[i].pPrinterName);
        }
    }
    return names;
}

// The driver files a model registers: bare names as the installer hands them over.
struct DriverFiles {
    std::wstring driverFile;
    std::wstring configFile;
    std::wstring dataFile;
    std::wstring helpFile;
    std::vector<std::wstring> dependentFiles;  // in order
};

// The driver `name` is registered, as version 3, with each of its files (and
// every dependent file, in order) in the version-3 folder of the driver directory.
inline Problems CheckDriver(const std::wstring& name, const DriverFiles& files) {
    Problems problems;
    std::wstring directory = PrinterDriverDirectory();
    if (directory.empty()) {
        problems.push_back("the spooler names no driver directory");
        return problems;
    }
    DWORD count = 0;
    std::vector<BYTE> buffer = EnumerateDrivers(3, &count);
    const auto* drivers = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
    const DRIVER_INFO_3W* found = nullptr;
    for (DWORD i = 0; i < count; ++i) {
        if (drivers[i].pName != nullptr && name == drivers[i].pName) {
            found = &drivers[i];
        }
    }
    if (found == nullptr) {
        problems.push_back("no driver named \"" + Narrow(name) + "\" is registered");
        return problems;
    }
    if (found->cVersion != 3) {
        problems.push_back("the driver is version " + std::to_string(found->cVersion));
    }
    std::wstring versionFolder = directory + L"\\3";
    auto checkFile = [&](const char* what, const wchar_t* path, const std::wstring& expected) {
        std::wstring registered = path != nullptr ? path : L"";
        if (!SameText(FileNameOf(registered), expected)) {
            problems.push_back(std::string(what) + " is \"" + Narrow(registered) + "\", not " +
                               Narrow(expected));
        } else if (!SameText(FolderOfPath(registered), versionFolder)) {
            problems.push_back(std::string(what) + " is not in " + Narrow(versionFolder) + ": " +
                               Narrow(registered));
        } else if (!PathExists(registered)) {
            problems.push_back(std::string(what) + " is missing on disk: " + Narrow(registered));
        }
    };
    checkFile("the driver file", found->pDriverPath, files.driverFile);
    checkFile("the configuration file", found->pConfigFile, files.configFile);
    checkFile("the data file", found->pDataFile, files.dataFile);
    checkFile("the help file", found->pHelpFile, files.helpFile);
    std::vector<std::wstring> dependent;
    for (const wchar_t* p = found->pDependentFiles; p != nullptr && *p != 0; p += wcslen(p) + 1) {
        dependent.emplace_back(p);
    }
    if (dependent.size() != files.dependentFiles.size()) {
        problems.push_back(std::to_string(dependent.size()) + " dependent files, not " +
                           std::to_string(files.dependentFiles.size()));
    } else {
        for (size_t i = 0; i < dependent.size(); ++i) {
            std::string what = "dependent file " + std::to_string(i + 1);
            checkFile(what.c_str(), dependent[i].c_str(), files.dependentFiles[i]);
        }
    }
    return problems;
}

// The queue `name` exists locally on `port`, with `driver` and the print processor "WinPrint".
inline Problems CheckQueue(const std::wstring& name, const std::wstring& port,
                           const std::wstring& driver) {
    Problems problems;
    DWORD count = 0;
    std::vector<BYTE> buffer = EnumerateQueues(&count);
    const auto* queues = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (queues[i].pPrinterName == nullptr || name != queues[i].pPrinterName) {
            continue;
        }
        auto expect = [&](const char* what, const wchar_t* value, const std::wstring& wanted) {
            std::wstring actual = value != nullptr ? value : L"";
            if (actual != wanted) {
                problems.push_back(std::string(what) + " is \"" + Narrow(actual) + "\", not \"" +
                                   Narrow(wanted) + "\"");
            }
        };
        expect("the port", queues[i].pPortName, port);
        expect("the driver", queues[i].pDriverName, driver);
        expect("the print processor", queues[i].pPrintProcessor, L"WinPrint");
        return problems;
    }
    problems.push_back("no queue named \"" + Narrow(name) + "\"");
    return problems;
}

inline std::wstring CurrentDefaultPrinter() {
    wchar_t name[512] = {};
    DWORD size = 512;
    return GetDefaultPrinterW(name, &size) ? std::wstring(name) : std::wstring();
}

// --- The log -------------------------------------------------------------------------------
struct LogEntry {
    std::string timestamp;  // "2025-03-06 13:36:14.007"
    int millisecondOfDay = -1;
    std::string level;
    std::string message;  // continuation lines joined with "\n"
};

// The log files ("file_*.txt") in the temporary folder, by full path.
inline std::vector<std::wstring> LogFiles() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(temp) + L"file_*.txt").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            files.push_back(std::wstring(temp) + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return files;
}

// Parses a log file: each entry "[YYYY-MM-DD HH:MM:SS.mmm] [Level] message";
// a line that does not start like that continues the entry before it. Lines
// that fit neither end up in `problems`.
inline std::vector<LogEntry> ReadLog(const std::wstring& path, Problems* problems) {
    std::vector<LogEntry> entries;
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) {
        problems->push_back("the log " + Narrow(path) + " cannot be read");
        return entries;
    }
    std::string line;
    while (std::getline(in, line)) {
        int y, mo, d, h, mi, s, ms;
        char level[16] = {};
        int used = 0;
        if (line.size() > 27 && line[0] == '[' &&
            std::sscanf(line.c_str(), "[%4d-%2d-%2d %2d:%2d:%2d.%3d] [%15[A-Za-z]]%n", &y, &mo, &d,
                        &h, &mi, &s, &ms, level, &used) == 8 &&
            used > 0 && line[24] == ']' && static_cast<size_t>(used) < line.size() &&
            line[used] == ' ') {
            LogEntry entry;
            entry.timestamp = line.substr(1, 23);
            entry.millisecondOfDay = ((h * 60 + mi) * 60 + s) * 1000 + ms;
            entry.level = level;
            entry.message = line.substr(used + 1);
            entries.push_back(entry);
        } else if (!entries.empty()) {
            entries.back().message += "\n" + line;
        } else {
            problems->push_back("a log line without a timestamp: " + line);
        }
    }
    return entries;
}

// --- The recording programs ------------------------------------------------------------------
struct RecordedCall {
    std::string time;        // local time "YYYY-MM-DD HH:MM:SS.mmm"
    int show = -1;           // the show command it was started with; -1 for none
    std::wstring folder;     // its working folder
    std::wstring program;    // the program part of the command line, quotes removed
    std::wstring separator;  // what stood between program and parameters
    std::wstring parameters;
};

// The record a recording program keeps beside itself.
inline std::wstring RecordOf(const std::wstring& program) {
    return program + L".calls";
}

inline std::vector<RecordedCall> ReadRecord(const std::wstring& program) {
    std::vector<RecordedCall> calls;
    std::ifstream in(RecordOf(program).c_str(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        size_t tab3 = tab2 == std::string::npos ? tab2 : line.find('\t', tab2 + 1);
        if (tab3 == std::string::npos) {
            continue;
        }
        RecordedCall call;
        call.time = line.substr(0, tab1);
        call.show = std::atoi(line.substr(tab1 + 1, tab2 - tab1 - 1).c_str());
        call.folder = WideFromUtf8(line.substr(tab2 + 1, tab3 - tab2 - 1));
        std::wstring commandLine = WideFromUtf8(line.substr(tab3 + 1));
        size_t rest = 0;
        if (!commandLine.empty() && commandLine[0] == L'"') {
            size_t close = commandLine.find(L'"', 1);
            close = close == std::wstring::npos ? commandLine.size() : close;
            call.program = commandLine.substr(1, close - 1);
            rest = std::min(close + 1, commandLine.size());
        } else {
            rest = std::min(commandLine.find(L' '), commandLine.size());
            call.program = commandLine.substr(0, rest);
        }
        // One blank separates the program from its parameters.
        size_t separatorEnd = std::min(rest + 1, commandLine.size());
        call.separator = commandLine.substr(rest, separatorEnd - rest);
        call.parameters = commandLine.substr(separatorEnd);
        calls.push_back(call);
    }
    return calls;
}

}  // namespace tde::e2e
