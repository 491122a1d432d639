// The log writer on Windows. It holds, in this order: the table of log files
// held open for the run and its lock; writing and deleting through a held
// handle; the temporary folder and the random names of the per-run file; the
// platform under the portable writer (clock, appends, console); the per-run
// file, made on first use and deleted at exit unless kept; the wide-format
// rules of the Windows runtime; the /log file's opening with its link and
// final-path checks; and the entry points of log.h. It stays one file because
// the table is private to it: the per-run file and the /log file put their
// handles in, the appends take them out, and split apart the table would
// become an interface that any code could reach and write through.
#include "log/log.h"
#include "base/win32.h"
#include "log/log_file_win32.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <cstdio>
#include <cwchar>
#include <ctime>
#include <vector>

namespace tde {

namespace {

// The log name is predictable and its folder writable by the unelevated user,
// so whatever stands at the path may have been planted there. A handle opened
// with FILE_FLAG_OPEN_REPARSE_POINT is the name itself, never a link's target;
// it is refused when it is a reparse point or has other names (a hard link).
bool IsLinkedFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info)) {
        return true;  // cannot tell: do not write
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1;
}

// Log files held open for the run, by the path the entry points know them by:
// once checked, a file is never looked up by name again, so nothing planted in
// its folders later can redirect it.
std::mutex heldLock;
std::map<std::string, HANDLE>& HeldFiles() {
    static std::map<std::string, HANDLE> files;
    return files;
}

HANDLE HeldFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(heldLock);
    auto it = HeldFiles().find(path);
    return it == HeldFiles().end() ? INVALID_HANDLE_VALUE : it->second;
}

void Hold(const std::string& path, HANDLE file) {
    std::lock_guard<std::mutex> guard(heldLock);
    HeldFiles()[path] = file;
}

void Release(const std::string& path) {
    std::lock_guard<std::mutex> guard(heldLock);
    HeldFiles().erase(path);
}

// Others may read, write and delete the file while it is held; a handle holding
// DELETE would shut out every reader that does not share deletion.
constexpr DWORD kHeldAccess =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Deletes the file the handle is open on, never a file found by name.
bool DeleteThroughHandle(HANDLE file) {
    HANDLE deleter = ReOpenFile(file, DELETE, kHeldSharing, 0);
    if (deleter == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    const BOOL done =
        SetFileInformationByHandle(deleter, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(deleter);
    return done != FALSE;
}

// Writes line + "\n" at the file's current end; a failure here is not reported.
void WriteAtEnd(HANDLE file, const std::string& line) {
    std::string data;
    data.reserve(line.size() + 1);
    data.append(line);
    data.push_back('\n');
    LARGE_INTEGER zero = {};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    size_t offset = 0;
    while (offset < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - offset, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + offset, chunk, &written, nullptr) || written == 0) {
            break;
        }
        offset += written;
    }
}

// GetTempPath2W where the system has it (for SYSTEM it is C:\Windows\SystemTemp,
// which users cannot write), else GetTempPathW. Empty when neither answers, or
// the answer does not fit 260 characters.
std::wstring TemporaryFolder() {
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
    auto getTempPath2 = SystemFunction<GetTempPath2Fn>(L"kernel32.dll", "GetTempPath2W");
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = getTempPath2 != nullptr ? getTempPath2(MAX_PATH + 1, folder)
                                                 : GetTempPathW(MAX_PATH + 1, folder);
    if (length < 1 || length > MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length);
}

// 16 hex digits from the system's random source; the try's number where there is none.
std::wstring RandomSuffix(int attempt) {
    std::uint64_t bits = 0;
    HCRYPTPROV provider = 0;
    const bool random =
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        CryptGenRandom(provider, sizeof bits, reinterpret_cast<BYTE*>(&bits));
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    if (!random) {
        return std::to_wstring(attempt);
    }
    wchar_t text[17] = {};
    for (int i = 15; i >= 0; --i, bits >>= 4) {
        text[i] = L"0123456789abcdef"[bits & 15];
    }
    return text;
}

std::tm LocalTimeOf(std::int64_t unixSeconds) {
    std::tm local = {};
    const __time64_t seconds = unixSeconds;
    if (_localtime64_s(&local, &seconds) != 0) {
        local = {};
    }
    return local;
}

class Win32LogPlatform : public LogPlatform {
  public:
    std::string CurrentTimestamp() override {
        const std::tm local = LocalTimeOf(_time64(nullptr));
        SYSTEMTIME now;
        GetLocalTime(&now);
        return FormatTimestamp(local, now.wMilliseconds);
    }

    // Only through a handle held since the run's start: a file opened by name
    // now would follow whatever was planted in its folders meanwhile.
    AppendOutcome AppendLine(const std::string& path, const std::string& line) override {
        HANDLE held = HeldFile(path);
        if (held == INVALID_HANDLE_VALUE) {
            return AppendOutcome::NotHeld;
        }
        WriteAtEnd(held, line);
        return AppendOutcome::Written;
    }

    void ConsoleWrite(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }

    void ConsoleColour(std::uint16_t attribute) override {
        // Text written so far takes the old colour.
        std::fflush(stdout);
        SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
    }

    void ConsoleFlush() override { std::fflush(stdout); }
};

std::atomic<bool> keepLogFile{false};

// The process's log file: made on first use and held open, deleted through its
// handle at normal exit.
class ProcessLogFile {
  public:
    ProcessLogFile() { Make(); }
    ~ProcessLogFile() {
        if (file_ == INVALID_HANDLE_VALUE) {
            return;
        }
        Release(path_);  // a late entry must not write to a closed handle
        if (!keepLogFile) {
            DeleteThroughHandle(file_);
        }
        CloseHandle(file_);
    }
    const std::string& path() const { return path_; }

  private:
    void Make() {
        path_.clear();
        ProcessLogWriter().SetMinimumLevel(static_cast<int>(LogLevel::Trace));

        const std::wstring folder = TemporaryFolder();
        if (folder.empty()) {
            return;  // no folder, or longer than the buffer: logging off
        }
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const std::uint64_t ticks =
            (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        const std::string name = LogFileNameAt(ticks);
        const std::wstring stem(name.begin(), name.end() - 4);  // without ".txt"
        // The name is predictable: a file already there, whoever made it, is
        // never used. Nor is a counter, whose names anyone could make first: the
        // next tries carry random bits.
        constexpr int kNames = 100;
        for (int attempt = 0; attempt < kNames; ++attempt) {
            const std::wstring path =
                folder + stem + (attempt == 0 ? L"" : L"_" + RandomSuffix(attempt)) + L".txt";
            HANDLE file =
                CreateFileW(path.c_str(), kHeldAccess, kHeldSharing, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                file_ = file;
                path_ = ToAnsi(path);
                Hold(path_, file_);
                return;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                return;
            }
        }
    }

    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Windows printf rules for wide formats: %s is a wide string. The C99 vswprintf
// that mingw maps to reads %s as narrow, so the runtime's own functions are used.
bool FormatWideV(std::wstring& out, const wchar_t* format, va_list args) {
    if (format == nullptr) {
        return false;
    }
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length < 0) {
        return false;
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    va_list write;
    va_copy(write, args);
    const int written = _vsnwprintf(buffer.data(), buffer.size(), format, write);
    va_end(write);
    if (written < 0) {
        return false;
    }
    out.assign(buffer.data(), std::min(static_cast<size_t>(written), buffer.size() - 1));
    return true;
}

constexpr std::string_view kFormatFailedText = "Format log message failed!";

}  // namespace

LogWriter& ProcessLogWriter() {
    static Win32LogPlatform platform;
    static LogWriter writer(platform);
    return writer;
}

std::string LogFileNameAt(std::uint64_t fileTime) {
    return FormatLogFileName(LocalTimeOf(UnixSecondsFromFileTime(fileTime)));
}

std::wstring FinalPathByHandle(void* handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');
    }
    return {};
}

bool IsRequestedPath(const std::wstring& finalPath, const std::wstring& requested) {
    std::wstring found = finalPath;
    if (found.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        found = L"\\\\" + found.substr(8);
    } else if (found.rfind(L"\\\\?\\", 0) == 0) {
        found = found.substr(4);
    }
    // A user's TEMP often holds a short name such as ADMINI~1.
    std::wstring expected = requested;
    const DWORD needed = GetLongPathNameW(requested.c_str(), nullptr, 0);
    if (needed > 0) {
        std::wstring longPath(needed, L'\0');
        const DWORD length = GetLongPathNameW(requested.c_str(), longPath.data(), needed);
        if (length > 0 && length < needed) {
            longPath.resize(length);
            expected = longPath;
        }
    }
    return !found.empty() &&
           CompareStringOrdinal(found.c_str(), static_cast<int>(found.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

RequestedLogOpen OpenRequestedLogFile(const std::wstring& fullPath, const std::string& key,
                                      bool append, FinalPathLookup finalPath) {
    // FILE_FLAG_OPEN_REPARSE_POINT guards the last component only; a junction
    // in a parent folder shows in the final path.
    HANDLE file = CreateFileW(fullPath.c_str(), kHeldAccess, kHeldSharing, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return RequestedLogOpen::Failed;
    }
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    RequestedLogOpen outcome = RequestedLogOpen::Opened;
    if (IsLinkedFile(file)) {
        outcome = RequestedLogOpen::Link;
    } else if (!IsRequestedPath(finalPath(file), fullPath)) {
        outcome = RequestedLogOpen::Elsewhere;
    } else if (!append && !SetEndOfFile(file)) {
        outcome = RequestedLogOpen::Failed;
    }
    if (outcome != RequestedLogOpen::Opened) {
        if (created) {
            DeleteThroughHandle(file);
        }
        CloseHandle(file);
        return outcome;
    }
    Hold(key, file);  // closed when the process ends
    return outcome;
}

const std::string& GetLogFilePath() {
    // Function-local statics are made once, also under concurrent first calls,
    // and destroyed at normal exit, which deletes the file.
    static ProcessLogFile file;
    return file.path();
}

void KeepLogFileAtExit() {
    keepLogFile = true;
}

void WriteLogEntry(LogLevel level, const std::string& path, const std::string& message) {
    ProcessLogWriter().WriteEntry(level, path, message);
}

bool AppendLineToFile(const std::string& path, const std::string& line) {
    HANDLE held = HeldFile(path);
    if (held == INVALID_HANDLE_VALUE) {
        return false;  // never opened by name
    }
    WriteAtEnd(held, line);
    return true;
}

void LogFormattedV(const std::string& path, const char* format, va_list args) {
    if (path.empty()) {
        return;
    }
    try {
        std::string text;
        if (!FormatNarrowV(text, format, args)) {
            ProcessLogWriter().ReportOnConsole(kFormatFailedText);
            return;
        }
        WriteLogEntry(LogLevel::Info, path, text);
    } catch (const std::exception& error) {
        ProcessLogWriter().ReportOnConsole(error.what());
    } catch (...) {
        ProcessLogWriter().ReportOnConsole("Unknown exception");
    }
}

void LogFormatted(const std::string& path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormattedV(path, format, args);
    va_end(args);
}

void LogFormattedWideV(const std::string& path, const wchar_t* format, va_list args) {
    if (path.empty()) {
        return;
    }
    try {
        std::wstring text;
        if (!FormatWideV(text, format, args)) {
            ProcessLogWriter().ReportOnConsole(kFormatFailedText);
            return;
        }
        WriteLogEntry(LogLevel::Info, path, ToAnsi(text));
    } catch (const std::exception& error) {
        ProcessLogWriter().ReportOnConsole(error.what());
    } catch (...) {
        ProcessLogWriter().ReportOnConsole("Unknown exception");
    }
}

void LogFormattedWide(const std::string& path, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormattedWideV(path, format, args);
    va_end(args);
}

}  // namespace tde
