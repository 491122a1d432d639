// The per-run log: one plain-text file in the temporary folder, one timestamped
// line per entry. The file is created on the first entry and held open for the
// run; each entry is written through that handle before the call returns, and
// at a normal exit the file is deleted unless the run asked to keep it. Logging
// never reports a failure to its caller: an entry that cannot be written is
// reported on standard output in colour and is lost.
//
// The formatting of lines and names and the writer's locking are portable; the
// file, clock and console (and the entry points below the _WIN32 guard) are
// Windows code in log_win32.cpp, target tde_log_win32.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tde {

// Severity of an entry; the installer writes every entry at Info.
enum class LogLevel : int { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4 };

// "Trace", "Debug", "Info", "Warn", "Error"; "Unknown" for any other value.
std::string_view LogLevelName(LogLevel level);

// ---- Pure formatting ----

// "[2025-03-06 13:36:14.007]": local date and time to the second, then the
// milliseconds as exactly three digits (values outside 0..999 are clamped).
std::string FormatTimestamp(const std::tm& localTime, int milliseconds);

// timestamp + " [" + level name + "] " + message; the message is kept verbatim,
// line breaks included. The line feed that ends the line is added on writing.
std::string FormatLogLine(std::string_view timestamp, LogLevel level, std::string_view message);

// "file_20250306_133614.txt" for the local time the path was made.
std::string FormatLogFileName(const std::tm& localTime);

// Seconds since 1970-01-01 of a FILETIME count of 100-nanosecond intervals since
// 1601-01-01 (whole seconds, rounded down).
std::int64_t UnixSecondsFromFileTime(std::uint64_t fileTime);

// printf-style formatting with the length measured first, so there is no limit.
// False (and `out` untouched) when the C library rejects the format.
bool FormatNarrowV(std::string& out, const char* format, va_list args);

// ---- The writer ----

// What became of one attempt to append a line.
enum class AppendOutcome {
    Written,      // opened for appending (a later write error is not reported)
    OpenFailed,   // could not be opened: reported on the console, the next entry retries
    RefusedLink,  // the path is a link of some kind: logging to it is off for the run
    NotHeld       // no file is held open for the path: it is never opened by name;
                  // reported on the console, and logging to it is off for the run
};

// Console text attributes of the failure report.
inline constexpr std::uint16_t kConsoleBrightRed = 12;
inline constexpr std::uint16_t kConsoleGrey = 7;

// The services the writer needs from the system; the Win32 one is used by the
// entry points below, tests use their own.
class LogPlatform {
  public:
    virtual ~LogPlatform() = default;
    // The current local time as FormatTimestamp writes it.
    virtual std::string CurrentTimestamp() = 0;
    // Appends line + "\n" to the file at path.
    virtual AppendOutcome AppendLine(const std::string& path, const std::string& line) = 0;
    // Standard output and its text colour.
    virtual void ConsoleWrite(std::string_view text) = 0;
    virtual void ConsoleColour(std::uint16_t attribute) = 0;
    virtual void ConsoleFlush() = 0;
};

// Composes and appends entries, one lock per log file so that whole lines never
// interleave; the table of locks has a lock of its own, so any thread may write.
class LogWriter {
  public:
    explicit LogWriter(LogPlatform& platform) : platform_(platform) {}
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Entries below this level are dropped; 0 (Trace) unless changed.
    void SetMinimumLevel(int level);
    int MinimumLevel() const { return minimumLevel_.load(); }

    // Writes one entry; never throws. A failure to open the file, or anything
    // thrown on the way, is reported on the console and the entry is lost.
    void WriteEntry(LogLevel level, const std::string& path, const std::string& message) noexcept;

    // Timestamp, " [", "Error" in bright red, "] ", text, line feed; never throws.
    void ReportOnConsole(std::string_view text) noexcept;

    // True once a link was found at path: nothing more is written to it.
    bool IsSwitchedOff(const std::string& path) const;
    // Switches logging to path off for the rest of the run.
    void SwitchOff(const std::string& path);

  private:
    struct PathState {
        std::mutex lock;
        bool switchedOff = false;
    };
    PathState& StateOf(const std::string& path);

    LogPlatform& platform_;
    std::mutex minimumLevelLock_;
    std::atomic<int> minimumLevel_{0};
    mutable std::mutex tableLock_;
    std::map<std::string, std::unique_ptr<PathState>> table_;  // byte-wise order
};

// The text reported when an entry's file cannot be opened.
inline constexpr std::string_view kWriteFailedText = "Write log file failed!";

#ifdef _WIN32
// ---- Entry points (log_win32.cpp) ----

// The process's log file path, in the ANSI code page: the temporary folder
// (GetTempPath2W where the system has it) + "file_" + local time
// "%Y%m%d_%H%M%S" + ".txt", or, when a file of that name exists already,
// whoever made it, a free name with "_" and 16 random hex digits before ".txt"
// (a counter could be used up in advance by anyone who can write there). The
// first call creates the file (CREATE_NEW) and holds it open for the process:
// entries go through that handle, and at normal exit the file is deleted
// through it. Safe against concurrent first calls. Empty when logging is off
// for the run: no temporary folder, or no file could be created.
const std::string& GetLogFilePath();

// Keeps the process's log file after a normal exit, for a run that failed
// without anyone watching it.
void KeepLogFileAtExit();

// Formats with C printf rules and writes the text as an Info entry. Returns at
// once when path is empty.
void LogFormatted(const std::string& path, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void LogFormattedV(const std::string& path, const char* format, va_list args);

// Formats with the Windows wide printf rules (%s takes a wide string, %hs a
// narrow one), converts the text to the ANSI code page (characters it cannot
// hold become its default character) and writes it as an Info entry; the text
// is not formatted again. A finished text that may hold "%" goes in as an
// argument, never as the format. Returns at once when path is empty.
void LogFormattedWide(const std::string& path, const wchar_t* format, ...);
void LogFormattedWideV(const std::string& path, const wchar_t* format, va_list args);

// Composes and appends one line through the process's writer.
void WriteLogEntry(LogLevel level, const std::string& path, const std::string& message);

// Appends line + "\n" to path through the handle held for it; others may read
// and write the file meanwhile. False, and nothing opened by name, when no
// handle is held for the path.
bool AppendLineToFile(const std::string& path, const std::string& line);
#endif

}  // namespace tde
