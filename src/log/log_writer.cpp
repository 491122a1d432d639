#include "log/log.h"

#include <exception>

namespace tde {

void LogWriter::SetMinimumLevel(int level) {
    std::lock_guard<std::mutex> hold(minimumLevelLock_);
    minimumLevel_.store(level);
}

LogWriter::PathState& LogWriter::StateOf(const std::string& path) {
    std::lock_guard<std::mutex> hold(tableLock_);
    std::unique_ptr<PathState>& state = table_[path];
    if (!state) {
        state = std::make_unique<PathState>();
    }
    return *state;
}

bool LogWriter::IsSwitchedOff(const std::string& path) const {
    std::lock_guard<std::mutex> hold(tableLock_);
    auto found = table_.find(path);
    return found != table_.end() && found->second->switchedOff;
}

void LogWriter::SwitchOff(const std::string& path) {
    PathState& state = StateOf(path);
    std::lock_guard<std::mutex> hold(state.lock);
    state.switchedOff = true;
}

void LogWriter::WriteEntry(LogLevel level, const std::string& path,
                           const std::string& message) noexcept {
    try {
        PathState& state = StateOf(path);
        std::lock_guard<std::mutex> hold(state.lock);
        if (state.switchedOff || static_cast<int>(level) < minimumLevel_.load()) {
            return;
        }
        const std::string line = FormatLogLine(platform_.CurrentTimestamp(), level, message);
        switch (platform_.AppendLine(path, line)) {
            case AppendOutcome::Written:
                break;
            case AppendOutcome::OpenFailed:
                ReportOnConsole(kWriteFailedText);
                break;
            case AppendOutcome::NotHeld:
                // Opening it by name now would follow whatever was planted meanwhile.
                state.switchedOff = true;
                ReportOnConsole(kWriteFailedText);
                break;
            case AppendOutcome::RefusedLink:
                // Someone put a link where the log goes; writing through it would let
                // an elevated process overwrite a file of their choice.
                state.switchedOff = true;
                break;
        }
    } catch (const std::exception& error) {
        ReportOnConsole(error.what());
    } catch (...) {
        ReportOnConsole("Unknown exception");
    }
}

void LogWriter::ReportOnConsole(std::string_view text) noexcept {
    try {
        platform_.ConsoleWrite(platform_.CurrentTimestamp());
        platform_.ConsoleWrite(" [");
        platform_.ConsoleColour(kConsoleBrightRed);
        platform_.ConsoleWrite("Error");
        platform_.ConsoleColour(kConsoleGrey);
        platform_.ConsoleWrite("] ");
        platform_.ConsoleWrite(text);
        platform_.ConsoleWrite("\n");
        platform_.ConsoleFlush();
    } catch (...) {
        // Nowhere left to report to.
    }
}

}  // namespace tde
