#include "log/log.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tde {

namespace {

// FILETIME counts from 1601-01-01; the Unix epoch is this many seconds later.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;

}  // namespace

std::string_view LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Trace:
            return "Trace";
        case LogLevel::Debug:
            return "Debug";
        case LogLevel::Info:
            return "Info";
        case LogLevel::Warn:
            return "Warn";
        case LogLevel::Error:
            return "Error";
    }
    return "Unknown";
}

// Written with snprintf rather than strftime: the Windows C runtime aborts on a
// field out of range, and a log line is never worth that.
std::string FormatTimestamp(const std::tm& localTime, int milliseconds) {
    const int ms = std::clamp(milliseconds, 0, 999);
    char buffer[96];
    const int length =
        std::snprintf(buffer, sizeof(buffer), "[%04d-%02d-%02d %02d:%02d:%02d.%03d]",
                      localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday,
                      localTime.tm_hour, localTime.tm_min, localTime.tm_sec, ms);
    if (length <= 0) {
        return "[]";
    }
    return std::string(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof(buffer) - 1));
}

std::string FormatLogLine(std::string_view timestamp, LogLevel level, std::string_view message) {
    const std::string_view name = LogLevelName(level);
    std::string line;
    line.reserve(timestamp.size() + name.size() + message.size() + 4);
    line.append(timestamp);
    line.append(" [");
    line.append(name);
    line.append("] ");
    line.append(message);
    return line;
}

std::string FormatLogFileName(const std::tm& localTime) {
    char buffer[96];
    const int length =
        std::snprintf(buffer, sizeof(buffer), "file_%04d%02d%02d_%02d%02d%02d.txt",
                      localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday,
                      localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    if (length <= 0) {
        return "file_.txt";
    }
    return std::string(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof(buffer) - 1));
}

std::int64_t UnixSecondsFromFileTime(std::uint64_t fileTime) {
    return static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
}

bool FormatNarrowV(std::string& out, const char* format, va_list args) {
    if (format == nullptr) {
        return false;
    }
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return false;
    }
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    va_list write;
    va_copy(write, args);
    const int written = std::vsnprintf(buffer.data(), buffer.size(), format, write);
    va_end(write);
    if (written < 0) {
        return false;
    }
    out.assign(buffer.data(), std::min(static_cast<size_t>(written), buffer.size() - 1));
    return true;
}

}  // namespace tde
