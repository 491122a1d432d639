#include "log/log.h"
#include "log/log_file_win32.h"

#include <windows.h>

#include <algorithm>
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

    AppendOutcome AppendLine(const std::string& path, const std::string& line) override {
        return AppendLineNoFollow(path, line);
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

// The process's log file: made on first use, deleted at normal exit.
class ProcessLogFile {
  public:
    ProcessLogFile() { Make(); }
    ~ProcessLogFile() {
        if (!path_.empty() && !keepLogFile && !ProcessLogWriter().IsSwitchedOff(path_)) {
            DeleteFileA(path_.c_str());
        }
    }
    const std::string& path() const { return path_; }

  private:
    void Make() {
        path_.clear();
        ProcessLogWriter().SetMinimumLevel(static_cast<int>(LogLevel::Trace));

        char folder[MAX_PATH] = {};
        const DWORD length = GetTempPathA(MAX_PATH, folder);
        if (length < 1 || length >= MAX_PATH) {
            return;  // no folder, or longer than the buffer: logging off
        }
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const std::uint64_t ticks =
            (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        std::string path = std::string(folder, length) + LogFileNameAt(ticks);
        if (!CreateLogFile(path)) {
            return;
        }
        path_ = std::move(path);
    }

    std::string path_;
};

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string ansi(static_cast<size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr, nullptr);
    ansi.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return ansi;
}

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

bool CreateLogFile(const std::string& path) {
    // Opened first and emptied only once it is known to be a plain file of its own.
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool usable = !IsLinkedFile(file) && SetEndOfFile(file);
    CloseHandle(file);
    return usable;
}

AppendOutcome AppendLineNoFollow(const std::string& path, const std::string& line) {
    // Append-only access: every write lands at the current end, also when another
    // process appends to the same file.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return AppendOutcome::OpenFailed;
    }
    if (IsLinkedFile(file)) {
        CloseHandle(file);
        return AppendOutcome::RefusedLink;
    }
    std::string data;
    data.reserve(line.size() + 1);
    data.append(line);
    data.push_back('\n');
    // One write for the whole line; a failure here does not change the outcome.
    size_t offset = 0;
    while (offset < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - offset, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + offset, chunk, &written, nullptr) || written == 0) {
            break;
        }
        offset += written;
    }
    CloseHandle(file);
    return AppendOutcome::Written;
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
    return AppendLineNoFollow(path, line) == AppendOutcome::Written;
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
